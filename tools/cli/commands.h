// The tool's commands, run from the command line or from a line of the shell.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "driver.h"

namespace vmkcli {

// What outlives one command: in the shell, the session stays open between lines.
struct Context {
  bool inShell = false;
  std::unique_ptr<Session> session;
  std::string sessionResource, sessionOptions;
  // The shell's own -r/-o, the defaults of its lines.
  std::string resource, options;

  Session& Open(const std::string& resource, const std::string& options);
};

// Runs one command line (without the program name) and gives its exit code: 0 success,
// 1 driver error (its text on stderr), 2 usage.
int Run(Context& ctx, const std::vector<std::string>& args);

// The command words, for the shell's completion.
const std::vector<std::string>& CommandNames();

// The interactive shell (shell.cpp).
int RunShell(Context& ctx);

}  // namespace vmkcli
