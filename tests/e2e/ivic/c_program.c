/* A C program that drives the driver as any C program would, with nothing but the public C
   header: open a session on a dual-output supply, set up and enable Output2, measure it, read an
   attribute of each type, round-trip a non-ASCII display text, query the instrument's error
   queue, close.

     ivic_c_program RESOURCE [OPTIONS]

   Prints one "name: value" line per result and exits with 0; on the first failure it prints the
   function, its status and the recorded description, and exits with 1. */
#include <stdio.h>
#include <string.h>

#include "vmk40xx/vmk40xx_c.h"

static ViSession session = VI_NULL;

static int Check(const char* what, ViStatus status) {
  ViStatus code = VI_SUCCESS;
  ViChar description[512];
  if (status >= VI_SUCCESS) return 1;
  description[0] = '\0';
  VmK40xx_GetError(session, &code, (ViInt32)sizeof description, description);
  printf("FAILED %s: status 0x%08X: %s\n", what, (unsigned)status, description);
  return 0;
}

#define CHECK(call)                   \
  do {                                \
    if (!Check(#call, (call))) {      \
      if (session) VmK40xx_close(session); \
      return 1;                       \
    }                                 \
  } while (0)

int main(int argc, char** argv) {
  const char* resource = argc > 1 ? argv[1] : "";
  const char* options = argc > 2 ? argv[2] : "";
  /* An omega and a plus-minus sign, two-byte UTF-8 sequences; 9 bytes, within the 12 the
     front panel shows. */
  const ViChar text[] = "\xCE\xA9 \xC2\xB1" "5 V";
  ViReal64 volts = 0, amps = 0, level = 0;
  ViInt32 channels = 0, errorCode = -1;
  ViBoolean enabled = VI_FALSE;
  ViChar model[64], shown[64], errorMessage[1024], prefix[16];

  CHECK(VmK40xx_InitWithOptions(resource, VI_TRUE, VI_TRUE, options, &session));
  CHECK(VmK40xx_ConfigureVoltageLevel(session, "Output2", 5.0));
  CHECK(VmK40xx_ConfigureCurrentLimit(session, "Output2", VMK40XX_VAL_CURRENT_REGULATE, 1.0));
  CHECK(VmK40xx_ConfigureOutputEnabled(session, "Output2", VI_TRUE));
  CHECK(VmK40xx_Measure(session, "Output2", VMK40XX_VAL_MEASURE_VOLTAGE, &volts));
  CHECK(VmK40xx_Measure(session, "Output2", VMK40XX_VAL_MEASURE_CURRENT, &amps));
  printf("measured voltage: %.4f\n", volts);
  printf("measured current: %.4f\n", amps);

  CHECK(VmK40xx_GetAttributeViInt32(session, "", VMK40XX_ATTR_CHANNEL_COUNT, &channels));
  CHECK(VmK40xx_GetAttributeViReal64(session, "Output2", VMK40XX_ATTR_VOLTAGE_LEVEL, &level));
  CHECK(VmK40xx_GetAttributeViBoolean(session, "Output2", VMK40XX_ATTR_OUTPUT_ENABLED, &enabled));
  CHECK(VmK40xx_GetAttributeViString(session, "", VMK40XX_ATTR_INSTRUMENT_MODEL,
                                     (ViInt32)sizeof model, model));
  CHECK(VmK40xx_GetAttributeViString(VI_NULL, "", VMK40XX_ATTR_SPECIFIC_DRIVER_PREFIX,
                                     (ViInt32)sizeof prefix, prefix));
  printf("channel count: %d\n", (int)channels);
  printf("voltage level: %g\n", level);
  printf("output enabled: %d\n", (int)enabled);
  printf("instrument model: %s\n", model);
  printf("driver prefix: %s\n", prefix);

  CHECK(VmK40xx_SetAttributeViString(session, "", VMK40XX_ATTR_DISPLAY_TEXT, text));
  CHECK(VmK40xx_GetAttributeViString(session, "", VMK40XX_ATTR_DISPLAY_TEXT,
                                     (ViInt32)sizeof shown, shown));
  printf("display text intact: %s\n", strcmp(shown, text) == 0 ? "yes" : "no");

  CHECK(VmK40xx_error_query(session, &errorCode, errorMessage));
  printf("error query: %d, %s\n", (int)errorCode, errorMessage);

  CHECK(VmK40xx_close(session));
  printf("closed\n");
  return 0;
}
