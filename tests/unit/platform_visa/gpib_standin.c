/* A stand-in for linux-gpib's libgpib.so.0 with the calls the I/O library uses: one instrument
   at primary address 5 of board 0 that answers "*IDN?" and keeps a log of what it was told. */
#include <stdio.h>
#include <string.h>

static char log_text[4096];
static char last_write[256];
static int status, error_code;
static long count;

static void note(const char* text) {
  strncat(log_text, text, sizeof log_text - strlen(log_text) - 1);
}

const char* standin_log(void) { return log_text; }

int ThreadIberr(void) { return error_code; }
long ThreadIbcntl(void) { return count; }

int ibdev(int board, int pad, int sad, int timo, int eot, int eos) {
  char line[96];
  snprintf(line, sizeof line, "ibdev %d %d %d %d %d %d;", board, pad, sad, timo, eot, eos);
  note(line);
  if (board != 0 || pad != 5) {
    error_code = 2; /* ENOL */
    return -1;
  }
  return 3;
}

int ibwrt(int ud, const void* buf, long n) {
  (void)ud;
  snprintf(last_write, sizeof last_write, "%.*s", (int)n, (const char*)buf);
  note("ibwrt;");
  count = n;
  return status = 0x0100; /* CMPL */
}

int ibrd(int ud, void* buf, long n) {
  (void)ud;
  if (strcmp(last_write, "*IDN?\n") != 0) {
    error_code = 6; /* EABO */
    count = 0;
    return status = 0x8000 | 0x4000;
  }
  const char* reply = "STANDIN,GPIB,0,1\n";
  count = (long)strlen(reply) < n ? (long)strlen(reply) : n;
  memcpy(buf, reply, (size_t)count);
  last_write[0] = '\0';
  return status = 0x2000 | 0x0100; /* END | CMPL */
}

int ibclr(int ud) { (void)ud; note("ibclr;"); return 0; }
int ibrsp(int ud, char* spr) { (void)ud; *spr = 0x42; return 0; }
int ibtmo(int ud, int v) { char l[32]; (void)ud; snprintf(l, sizeof l, "ibtmo %d;", v); note(l); return 0; }
int ibeos(int ud, int v) { char l[32]; (void)ud; snprintf(l, sizeof l, "ibeos 0x%x;", v); note(l); return 0; }
int ibeot(int ud, int v) { char l[32]; (void)ud; snprintf(l, sizeof l, "ibeot %d;", v); note(l); return 0; }
int ibonl(int ud, int v) { char l[32]; (void)ud; snprintf(l, sizeof l, "ibonl %d;", v); note(l); return 0; }
