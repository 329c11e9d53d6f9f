// The interactive shell: the tool's commands on a session that stays open, with readline's line
// editing, a history kept between runs and completion of commands and attribute names.
#include <readline/history.h>
#include <readline/readline.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"

namespace vmkcli {
namespace {

Context* gShell = nullptr;
std::vector<std::string> gCandidates;

std::string HistoryFile() {
  if (const char* f = std::getenv("VMK40XX_HISTORY"); f && *f) return f;
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.vmk40xx_history";
}

// Words of a line as a shell splits them: quotes group, a backslash escapes the next character.
std::vector<std::string> SplitLine(const std::string& line, bool* open) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    const char ch = line[i];
    if (quote) {
      if (ch == quote) quote = 0;
      else if (ch == '\\' && quote == '"' && i + 1 < line.size()) word += line[++i];
      else word += ch;
    } else if (ch == '\'' || ch == '"') {
      quote = ch;
      inWord = true;
    } else if (ch == '\\' && i + 1 < line.size()) {
      word += line[++i];
      inWord = true;
    } else if (ch == ' ' || ch == '\t') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += ch;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  *open = quote != 0;
  return words;
}

// Attribute names with the instances of the open session, or of the largest model when there
// is none yet.
std::vector<std::string> AttributeNames() {
  std::vector<std::string> outputs{"Output1", "Output2", "Output3"};
  std::vector<std::string> triggers{"Trigger1", "Trigger2", "Trigger3"};
  if (gShell && gShell->session) {
    try {
      outputs = gShell->session->OutputNames();
      triggers = gShell->session->TriggerNames();
    } catch (const std::exception&) {
    }
  }
  std::vector<std::string> names;
  for (const Attribute& a : Attributes()) {
    switch (a.repcap) {
      case Repcap::None: names.push_back(a.path); break;
      case Repcap::Output:
        for (const std::string& o : outputs) names.push_back(o + "." + a.path);
        break;
      case Repcap::Trigger:
        for (const std::string& t : triggers) names.push_back(t + "." + a.path);
        break;
    }
  }
  return names;
}

char* NextCandidate(const char* text, int state) {
  static size_t next;
  if (state == 0) next = 0;
  const size_t len = std::strlen(text);
  while (next < gCandidates.size()) {
    const std::string& c = gCandidates[next++];
    if (c.compare(0, len, text) == 0) return strdup(c.c_str());
  }
  return nullptr;
}

char** Complete(const char* text, int start, int) {
  rl_attempted_completion_over = 1;  // no file names
  bool open = false;
  const std::vector<std::string> before = SplitLine(std::string(rl_line_buffer, start), &open);
  gCandidates.clear();
  if (before.empty()) {
    gCandidates = CommandNames();
    for (const char* extra : {"help", "exit", "quit"}) gCandidates.push_back(extra);
  } else if ((before[0] == "get" || before[0] == "set") && before.size() == 1) {
    gCandidates = AttributeNames();
    // Completing "Output2.Vol" must not stop at the dot as at a word break.
  } else if (before[0] == "config" && before.size() == 1) {
    gCandidates = {"list", "add", "remove"};
  } else if (before[0] == "trace" && before.size() == 1) {
    gCandidates = {"report"};
  } else {
    return nullptr;
  }
  return rl_completion_matches(text, NextCandidate);
}

// Ctrl-C drops the line being typed, as in a shell, instead of ending the session.
void OnInterrupt(int) {
  rl_crlf();
  rl_on_new_line();
  rl_replace_line("", 0);
  rl_redisplay();
}

}  // namespace

int RunShell(Context& ctx) {
  ctx.inShell = true;
  gShell = &ctx;
  const std::string history = HistoryFile();
  rl_readline_name = "vmk40xx";
  rl_attempted_completion_function = Complete;
  rl_basic_word_break_characters = const_cast<char*>(" \t\n\"'");
  using_history();
  struct sigaction sa {}, old {};
  sa.sa_handler = OnInterrupt;
  sigaction(SIGINT, &sa, &old);
  read_history(history.c_str());
  for (;;) {
    char* raw = readline("vmk40xx> ");
    if (!raw) break;  // end of input
    std::string line(raw);
    std::free(raw);
    bool open = false;
    std::vector<std::string> words = SplitLine(line, &open);
    if (words.empty()) continue;
    // As typed, without the space a completion leaves at the end.
    const std::string entry = line.substr(0, line.find_last_not_of(" \t") + 1);
    add_history(entry.c_str());
    // Appended at once, so that the history survives a shell that is killed.
    if (append_history(1, history.c_str()) != 0) write_history(history.c_str());
    if (open) {
      std::cerr << "vmk40xx: unclosed quote\n";
      continue;
    }
    if (words[0] == "exit" || words[0] == "quit") break;
    if (words[0] == "help") words = {"--help"};
    Run(ctx, words);
    std::cout.flush();
  }
  sigaction(SIGINT, &old, nullptr);
  gShell = nullptr;
  ctx.inShell = false;
  return 0;
}

}  // namespace vmkcli
