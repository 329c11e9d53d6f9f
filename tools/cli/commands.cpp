#include "commands.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <thread>

#include "vmk40xx/config_store.h"
#include "vmk40xx/discovery.h"

extern char** environ;

namespace vmkcli {
namespace {

volatile sig_atomic_t gInterrupted = 0;

void OnInterrupt(int) { gInterrupted = 1; }

// Options every command takes, bound per command line.
struct Common {
  std::string resource, options;
  bool json = false;
};

struct Reading {
  std::string output;
  double voltage = 0, current = 0;
  std::string state;
};

// Whether the model has a protection: its maximum limit comes from the model's table, without
// asking the instrument, and a model without it refuses the question. Asking a trip state the
// instrument lacks would cost a time-out and an entry in its error queue.
bool HasProtection(const Session& s, const std::string& output, bool current) {
  ViReal64 max = 0;
  const ViStatus st =
      current ? VmK40xx_OutputProtectionQueryOCPLimitMax(s.vi(), output.c_str(), &max)
              : VmK40xx_OutputProtectionQueryOVPLimitMax(s.vi(), output.c_str(), &max);
  if (st >= 0) return true;
  VmK40xx_ClearError(s.vi());  // the refusal must not stand in for a later, real error
  return false;
}

// The state the output is in: protection trips before "off", since a tripped output is off too,
// then the regulation the instrument reports.
std::string OutputState(const Session& s, const std::string& output) {
  struct State {
    ViInt32 state;
    const char* name;
  };
  std::vector<State> states;
  if (HasProtection(s, output, false)) states.push_back({VMK40XX_VAL_OUTPUT_OVER_VOLTAGE, "OV"});
  if (HasProtection(s, output, true)) states.push_back({VMK40XX_VAL_OUTPUT_OVER_CURRENT, "OC"});
  for (State st : {State{VMK40XX_VAL_OUTPUT_OFF, "OFF"},
                   State{VMK40XX_VAL_OUTPUT_CONSTANT_VOLTAGE, "CV"},
                   State{VMK40XX_VAL_OUTPUT_CONSTANT_CURRENT, "CC"},
                   State{VMK40XX_VAL_OUTPUT_UNREGULATED, "UNREG"}})
    states.push_back(st);
  for (const State& st : states) {
    ViBoolean in = VI_FALSE;
    s.Check(VmK40xx_OutputQueryState(s.vi(), output.c_str(), st.state, &in));
    if (in) return st.name;
  }
  return "UNKNOWN";
}

Reading Measure(const Session& s, const std::string& output) {
  Reading r;
  r.output = output;
  s.Check(VmK40xx_Measure(s.vi(), output.c_str(), VMK40XX_VAL_MEASURE_VOLTAGE, &r.voltage));
  s.Check(VmK40xx_Measure(s.vi(), output.c_str(), VMK40XX_VAL_MEASURE_CURRENT, &r.current));
  r.state = OutputState(s, output);
  return r;
}

std::string ReadingJson(const Reading& r) {
  return "{\"output\": " + JsonString(r.output) + ", \"voltage\": " + JsonValue(r.voltage) +
         ", \"current\": " + JsonValue(r.current) + ", \"state\": " + JsonString(r.state) + "}";
}

std::vector<std::string> OutputsOrAll(const Session& s, const std::string& output) {
  if (!output.empty()) return {output};
  return s.OutputNames();
}

// The whole text of a query's reply: direct reads give at most a buffer at a time.
std::string ReadReply(const Session& s) {
  std::string reply;
  for (;;) {
    ViChar chunk[4096];
    ViInt32 got = 0;
    s.Check(VmK40xx_SystemRead(s.vi(), sizeof chunk, chunk, &got));
    reply.append(chunk, static_cast<size_t>(got));
    if (got < static_cast<ViInt32>(sizeof chunk) - 1 || (!reply.empty() && reply.back() == '\n'))
      break;
  }
  while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.pop_back();
  return reply;
}

void PrintList(const Common& c, const std::string& expression) {
  int32_t required = 0, count = 0;
  int32_t status = vmk40xx_find_resources(expression.c_str(), nullptr, 0, &count, &required);
  std::string list;
  if (status >= 0 && required > 0) {
    list.resize(static_cast<size_t>(required));
    status = vmk40xx_find_resources(expression.c_str(), list.data(), required, &count, &required);
  }
  if (status == static_cast<int32_t>(0x80040010))
    throw UsageError("'" + expression + "' is not a resource expression");
  if (status < 0 && status != static_cast<int32_t>(0x80040011))
    throw DriverError(status, "the resource search failed");
  list.resize(list.find('\0') == std::string::npos ? list.size() : list.find('\0'));
  std::vector<std::vector<std::string>> rows;
  size_t start = 0;
  while (start < list.size()) {
    const size_t end = list.find('\n', start);
    const std::string line = list.substr(start, end - start);
    std::vector<std::string> fields;
    size_t f = 0;
    for (;;) {
      const size_t tab = line.find('\t', f);
      fields.push_back(line.substr(f, tab - f));
      if (tab == std::string::npos) break;
      f = tab + 1;
    }
    fields.resize(3);
    rows.push_back(fields);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (c.json) {
    std::string out = "[";
    for (size_t i = 0; i < rows.size(); ++i)
      out += std::string(i ? ", " : "") + "{\"resource\": " + JsonString(rows[i][0]) +
             ", \"identity\": " + JsonString(rows[i][1]) +
             ", \"description\": " + JsonString(rows[i][2]) + "}";
    std::cout << out << "]\n";
    return;
  }
  for (const auto& r : rows)
    std::cout << r[0] << "\t" << (r[1].empty() ? r[2] : r[1]) << "\n";
}

void Identify(const Common& c, const Session& s) {
  const std::string manufacturer = s.StringAttribute(VMK40XX_ATTR_INSTRUMENT_MANUFACTURER);
  const std::string model = s.StringAttribute(VMK40XX_ATTR_INSTRUMENT_MODEL);
  const std::string firmware = s.StringAttribute(VMK40XX_ATTR_INSTRUMENT_FIRMWARE_REVISION);
  const std::string driver = s.StringAttribute(VMK40XX_ATTR_SPECIFIC_DRIVER_REVISION);
  const std::string resource = s.StringAttribute(VMK40XX_ATTR_IO_RESOURCE_DESCRIPTOR);
  const std::vector<std::string> outputs = s.OutputNames();
  if (c.json) {
    std::string list;
    for (const std::string& o : outputs) list += (list.empty() ? "" : ", ") + JsonString(o);
    std::cout << "{\"manufacturer\": " << JsonString(manufacturer)
              << ", \"model\": " << JsonString(model) << ", \"firmware\": " << JsonString(firmware)
              << ", \"driver_revision\": " << JsonString(driver)
              << ", \"resource\": " << JsonString(resource) << ", \"outputs\": [" << list
              << "]}\n";
    return;
  }
  std::string list;
  for (const std::string& o : outputs) list += (list.empty() ? "" : " ") + o;
  std::cout << "manufacturer  " << manufacturer << "\nmodel         " << model
            << "\nfirmware      " << firmware << "\ndriver        " << driver
            << "\nresource      " << resource << "\noutputs       " << list << "\n";
}

void ListAttributes(const Common& c) {
  if (c.json) {
    std::string out = "[";
    bool first = true;
    for (const Attribute& a : Attributes()) {
      out += std::string(first ? "" : ",\n ") + "{\"name\": " + JsonString(ListName(a)) +
             ", \"id\": " + std::to_string(a.id) + ", \"type\": " + JsonString(TypeName(a.type)) +
             ", \"access\": " + JsonString(AccessName(a.access)) + "}";
      first = false;
    }
    std::cout << out << "]\n";
    return;
  }
  for (const Attribute& a : Attributes())
    std::printf("%-40s %-10s %s\n", ListName(a).c_str(), TypeName(a.type), AccessName(a.access));
}

Resolved ResolveOrThrow(const std::string& name) {
  std::optional<Resolved> r = Resolve(name);
  if (!r) throw UsageError("no attribute is named '" + name + "' (vmk40xx get --list)");
  return *r;
}

void Monitor(const Common& c, const Session& s, const std::string& output, double interval,
             int count) {
  const bool live = isatty(STDOUT_FILENO) && !c.json;
  const std::vector<std::string> outputs = OutputsOrAll(s, output);
  gInterrupted = 0;
  struct sigaction sa {}, old {};
  sa.sa_handler = OnInterrupt;
  sigaction(SIGINT, &sa, &old);
  if (!live && !c.json) std::cout << "time,output,voltage,current,state\n";
  for (int n = 0; !gInterrupted && (count <= 0 || n < count); ++n) {
    if (n) {
      const auto until = std::chrono::steady_clock::now() +
                         std::chrono::duration<double>(std::max(interval, 0.0));
      while (!gInterrupted && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (gInterrupted) break;
    }
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", std::localtime(&now));
    std::vector<Reading> readings;
    for (const std::string& o : outputs) readings.push_back(Measure(s, o));
    if (live) {
      std::printf("\x1b[H\x1b[J%s  (Ctrl-C ends)\n%-10s %12s %12s  %s\n", stamp, "output",
                  "voltage/V", "current/A", "state");
      for (const Reading& r : readings)
        std::printf("%-10s %12.4f %12.4f  %s\n", r.output.c_str(), r.voltage, r.current,
                    r.state.c_str());
    } else if (c.json) {
      for (const Reading& r : readings) {
        std::string j = ReadingJson(r);
        std::printf("{\"time\": %s, %s\n", JsonString(stamp).c_str(), j.c_str() + 1);
      }
    } else {
      for (const Reading& r : readings)
        std::printf("%s,%s,%s,%s,%s\n", stamp, r.output.c_str(), FormatReal(r.voltage).c_str(),
                    FormatReal(r.current).c_str(), r.state.c_str());
    }
    std::fflush(stdout);
  }
  sigaction(SIGINT, &old, nullptr);
}

void Errors(const Common& c, const Session& s) {
  std::vector<std::pair<ViInt32, std::string>> errors;
  // A queue that never empties (a reply that always reads as an error) must not hang the tool.
  for (int i = 0; i < 256; ++i) {
    ViInt32 code = 0;
    ViChar message[1024] = "";
    s.Check(VmK40xx_error_query(s.vi(), &code, message));
    if (code == 0) break;
    errors.emplace_back(code, message);
  }
  if (c.json) {
    std::string out = "[";
    for (size_t i = 0; i < errors.size(); ++i)
      out += std::string(i ? ", " : "") + "{\"code\": " + std::to_string(errors[i].first) +
             ", \"message\": " + JsonString(errors[i].second) + "}";
    std::cout << out << "]\n";
    return;
  }
  if (errors.empty()) std::cout << "no errors\n";
  for (const auto& [code, message] : errors) std::cout << code << "\t" << message << "\n";
}

void Scpi(const Common& c, const Session& s, const std::string& command) {
  s.Check(VmK40xx_SystemWrite(s.vi(), (command + "\n").c_str()));
  // A query is a command with a '?' in its header; only then does the instrument answer.
  const std::string header = command.substr(0, command.find_first_of(" \t"));
  if (header.find('?') == std::string::npos) {
    if (c.json) std::cout << "{\"command\": " << JsonString(command) << ", \"reply\": null}\n";
    return;
  }
  const std::string reply = ReadReply(s);
  if (c.json)
    std::cout << "{\"command\": " << JsonString(command) << ", \"reply\": " << JsonString(reply)
              << "}\n";
  else
    std::cout << reply << "\n";
}

// Buffers of the store functions: the size question first, then the text.
std::string StoreError(const char* text) { return text[0] ? text : "the store could not be read"; }

void ConfigList(const Common& c) {
  char error[512] = "";
  int32_t required = 0;
  if (vmk40xx_config_list(nullptr, 0, &required, error, sizeof error) < 0)
    throw DriverError(-1, StoreError(error));
  std::string list(static_cast<size_t>(std::max(required, 1)), '\0');
  if (vmk40xx_config_list(list.data(), static_cast<int32_t>(list.size()), &required, error,
                          sizeof error) < 0)
    throw DriverError(-1, StoreError(error));
  list.resize(list.find('\0'));
  std::vector<std::vector<std::string>> rows;
  for (size_t start = 0; start < list.size();) {
    size_t end = list.find('\n', start);
    if (end == std::string::npos) end = list.size();
    std::vector<std::string> fields;
    const std::string line = list.substr(start, end - start);
    for (size_t f = 0;;) {
      const size_t tab = line.find('\t', f);
      fields.push_back(line.substr(f, tab - f));
      if (tab == std::string::npos) break;
      f = tab + 1;
    }
    fields.resize(4);
    rows.push_back(fields);
    start = end + 1;
  }
  if (c.json) {
    std::string out = "[";
    for (size_t i = 0; i < rows.size(); ++i)
      out += std::string(i ? ", " : "") + "{\"name\": " + JsonString(rows[i][0]) +
             ", \"resource\": " + JsonString(rows[i][1]) +
             ", \"options\": " + JsonString(rows[i][2]) +
             ", \"description\": " + JsonString(rows[i][3]) + "}";
    std::cout << out << "]\n";
    return;
  }
  for (const auto& r : rows)
    std::cout << r[0] << "\t" << r[1] << (r[2].empty() ? "" : "\t" + r[2]) << "\n";
}

// The report is the trace file under the style sheet it names, as a browser would show it.
int TraceReport(const std::string& file, std::string out) {
  if (access(file.c_str(), R_OK) != 0) throw DriverError(-1, "cannot read " + file);
  if (out.empty()) {
    const size_t dot = file.rfind('.');
    const size_t slash = file.rfind('/');
    out = (dot != std::string::npos && (slash == std::string::npos || dot > slash)
               ? file.substr(0, dot)
               : file) +
          ".html";
  }
  std::vector<std::string> args{"xsltproc", "--nonet", "-o", out, file};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, "xsltproc", nullptr, nullptr, argv.data(), environ) != 0)
    throw DriverError(-1, "the report needs xsltproc, which is not installed");
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw DriverError(-1, "xsltproc could not turn " + file +
                              " into a report (does it name its style sheet, trace.xslt?)");
  std::cout << out << "\n";
  return 0;
}

// -r, -o and --json go before or after the command word: both places bind the same values.
void AddCommon(CLI::App* cmd, Common& c, bool data) {
  cmd->add_option("-r,--resource", c.resource,
                  "VISA resource or logical name (default: $VMK40XX_RESOURCE)");
  cmd->add_option("-o,--options", c.options,
                  "option string, e.g. \"Simulate=true, DriverSetup=Model=K4201A\" "
                  "(default: $VMK40XX_OPTIONS)");
  if (data) cmd->add_flag("--json", c.json, "print JSON");
}

std::string Environment(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

}  // namespace

Session& Context::Open(const std::string& r, const std::string& o) {
  if (!session || r != sessionResource || o != sessionOptions) {
    session.reset();
    session = std::make_unique<Session>(r, o);
    sessionResource = r;
    sessionOptions = o;
  }
  return *session;
}

const std::vector<std::string>& CommandNames() {
  static const std::vector<std::string> names{
      "list", "identify", "get",   "set",  "apply", "on",     "off", "measure",
      "monitor", "errors", "scpi", "shell", "config", "trace"};
  return names;
}

int Run(Context& ctx, const std::vector<std::string>& args) {
  CLI::App app{"Drive a Velmora K40xx DC power supply from a shell or a script.", "vmk40xx"};
  app.require_subcommand(1);
  app.footer(
      "Exit codes: 0 success, 1 driver error (its text on stderr), 2 usage.\n"
      "Attribute names: vmk40xx get --list. Manual: man vmk40xx.");
  // In the shell the defaults are the shell's own -r and -o, which took the environment in.
  Common c{ctx.inShell ? ctx.resource : Environment("VMK40XX_RESOURCE"),
           ctx.inShell ? ctx.options : Environment("VMK40XX_OPTIONS"), false};
  AddCommon(&app, c, true);
  std::function<void()> action;
  auto session = [&]() -> Session& { return ctx.Open(c.resource, c.options); };

  auto* list = app.add_subcommand("list", "the instruments the transports can find");
  std::string expression = "?*";
  list->add_option("expression", expression, "VISA resource expression")->capture_default_str();
  AddCommon(list, c, true);
  list->callback([&] { action = [&] { PrintList(c, expression); }; });

  auto* identify = app.add_subcommand("identify", "identity, model, firmware and outputs");
  AddCommon(identify, c, true);
  identify->callback([&] { action = [&] { Identify(c, session()); }; });

  auto* get = app.add_subcommand("get", "read an attribute, e.g. Output2.VoltageLevel");
  std::string name, value;
  bool listNames = false;
  get->add_option("name", name, "attribute name");
  get->add_flag("-l,--list", listNames, "list the attribute names with type and access");
  AddCommon(get, c, true);
  get->callback([&] {
    action = [&] {
      if (listNames) return ListAttributes(c);
      if (name.empty()) throw UsageError("get: give an attribute name, or --list");
      const Resolved r = ResolveOrThrow(name);
      const Value v = session().Get(r);
      if (c.json)
        std::cout << "{\"name\": " << JsonString(name) << ", \"value\": " << JsonValue(v) << "}\n";
      else
        std::cout << FormatValue(v) << "\n";
    };
  });

  auto* set = app.add_subcommand("set", "set an attribute, e.g. Display.Text \"Ready\"");
  set->add_option("name", name, "attribute name")->required();
  set->add_option("value", value, "the value")->required();
  AddCommon(set, c, false);
  set->callback([&] {
    action = [&] { session().Set(ResolveOrThrow(name), value); };
  });

  auto* apply = app.add_subcommand("apply", "set an output's voltage level and current limit");
  std::string output;
  double volts = 0, amps = 0;
  apply->add_option("output", output, "the output, e.g. Output2")->required();
  apply->add_option("volts", volts, "voltage level")->required();
  apply->add_option("amps", amps, "current limit")->required();
  AddCommon(apply, c, false);
  apply->callback([&] {
    action = [&] {
      Session& s = session();
      s.Check(VmK40xx_OutputApplyVoltageCurrent(s.vi(), output.c_str(), volts, amps));
    };
  });

  for (const bool enable : {true, false}) {
    auto* sw = app.add_subcommand(enable ? "on" : "off",
                                  enable ? "switch the outputs on (the switch is instrument-wide)"
                                         : "switch the outputs off");
    sw->add_option("output", output, "an output (default: the first)");
    AddCommon(sw, c, false);
    sw->callback([&, enable] {
      action = [&, enable] {
        Session& s = session();
        const std::string o = output.empty() ? s.OutputNames().at(0) : output;
        s.Check(VmK40xx_ConfigureOutputEnabled(s.vi(), o.c_str(), enable ? VI_TRUE : VI_FALSE));
      };
    });
  }

  auto* measure = app.add_subcommand("measure", "voltage, current and CV/CC state");
  measure->add_option("output", output, "an output (default: all)");
  AddCommon(measure, c, true);
  measure->callback([&] {
    action = [&] {
      Session& s = session();
      std::vector<Reading> readings;
      for (const std::string& o : OutputsOrAll(s, output)) readings.push_back(Measure(s, o));
      if (c.json) {
        if (!output.empty()) {
          std::cout << ReadingJson(readings.at(0)) << "\n";
          return;
        }
        std::string out = "[";
        for (size_t i = 0; i < readings.size(); ++i)
          out += (i ? ", " : "") + ReadingJson(readings[i]);
        std::cout << out << "]\n";
        return;
      }
      for (const Reading& r : readings)
        std::cout << r.output << "\t" << FormatReal(r.voltage) << " V\t" << FormatReal(r.current)
                  << " A\t" << r.state << "\n";
    };
  });

  auto* monitor = app.add_subcommand(
      "monitor", "measure again and again: a live table on a terminal, CSV lines otherwise");
  double interval = 1.0;
  int count = 0;
  monitor->add_option("output", output, "an output (default: all)");
  monitor->add_option("-i,--interval", interval, "seconds between readings")
      ->capture_default_str();
  monitor->add_option("-n,--count", count, "stop after this many readings (0: until Ctrl-C)")
      ->capture_default_str();
  AddCommon(monitor, c, true);
  monitor->callback([&] { action = [&] { Monitor(c, session(), output, interval, count); }; });

  auto* errors = app.add_subcommand("errors", "drain the instrument's error queue");
  AddCommon(errors, c, true);
  errors->callback([&] { action = [&] { Errors(c, session()); }; });

  auto* scpi = app.add_subcommand("scpi", "send a command; a query's reply is printed");
  std::string command;
  scpi->add_option("command", command, "e.g. '*IDN?'")->required();
  AddCommon(scpi, c, true);
  scpi->callback([&] { action = [&] { Scpi(c, session(), command); }; });

  auto* shell = app.add_subcommand("shell", "interactive shell: history, completion, the same "
                                            "commands");
  AddCommon(shell, c, false);
  shell->callback([&] {
    action = [&] {
      if (ctx.inShell) throw UsageError("already in the shell");
      ctx.resource = c.resource;
      ctx.options = c.options;
      RunShell(ctx);
    };
  });

  auto* config = app.add_subcommand("config", "logical names of the IVI configuration store");
  config->require_subcommand(1);
  AddCommon(config, c, false);
  auto* configList = config->add_subcommand("list", "the logical names");
  AddCommon(configList, c, true);
  configList->callback([&] { action = [&] { ConfigList(c); }; });
  auto* configAdd = config->add_subcommand(
      "add", "add a logical name (a name that exists is replaced)");
  std::string logical, resource, storeOptions, description;
  configAdd->add_option("name", logical, "the logical name")->required();
  configAdd->add_option("resource", resource, "its VISA resource")->required();
  configAdd->add_option("--settings", storeOptions,
                        "its option string, e.g. \"Simulate=true, DriverSetup=Model=K4201A\"");
  configAdd->add_option("--description", description, "a description");
  AddCommon(configAdd, c, false);
  configAdd->callback([&] {
    action = [&] {
      char error[512] = "";
      if (vmk40xx_config_add(logical.c_str(), resource.c_str(), storeOptions.c_str(),
                             description.c_str(), error, sizeof error) < 0)
        throw DriverError(-1, StoreError(error));
    };
  });
  auto* configRemove = config->add_subcommand("remove", "remove a logical name");
  configRemove->add_option("name", logical, "the logical name")->required();
  AddCommon(configRemove, c, false);
  configRemove->callback([&] {
    action = [&] {
      char error[512] = "";
      if (vmk40xx_config_remove(logical.c_str(), error, sizeof error) < 0)
        throw DriverError(-1, StoreError(error));
    };
  });

  auto* trace = app.add_subcommand("trace", "call traces");
  trace->require_subcommand(1);
  AddCommon(trace, c, false);
  auto* report = trace->add_subcommand("report", "turn a trace file into its HTML report");
  std::string traceFile, reportFile;
  report->add_option("file", traceFile, "the trace (XML)")->required();
  report->add_option("--out", reportFile, "the report (default: FILE with .html)");
  AddCommon(report, c, false);
  report->callback([&] { action = [&] { TraceReport(traceFile, reportFile); }; });

  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  }
  try {
    if (action) action();
    std::cout.flush();
    return 0;
  } catch (const UsageError& e) {
    std::cerr << "vmk40xx: " << e.what() << "\n";
    return 2;
  } catch (const DriverError& e) {
    std::cerr << "vmk40xx: " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "vmk40xx: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace vmkcli
