// The demo: starts the emulator as a dual-output K4201A with a load on each output, opens a
// driver session on it through the public interfaces, sets up both outputs, switches them on,
// reads back settings and measurements, trips and clears an over-voltage protection, and prints
// what a person at the bench would want to see. The session is traced; the demo turns the trace
// into its HTML report and says where both are.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "vmk40xx/server.h"
#include "vmk40xx/vmk40xx.h"

extern char** environ;

namespace {

std::string Narrow(BSTR s) {
  std::string out;
  for (UINT i = 0, n = SysStringLen(s); i < n; ++i)
    out.push_back(s[i] < 0x80 ? static_cast<char>(s[i]) : '?');
  return out;
}

struct Text {
  explicit Text(const char* s) {
    std::u16string w(s, s + std::char_traits<char>::length(s));
    b = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
  }
  ~Text() { SysFreeString(b); }
  BSTR b;
};

std::string LastError() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || !info) return "(no description)";
  BSTR d = nullptr;
  info->GetDescription(&d);
  std::string text = Narrow(d);
  SysFreeString(d);
  info->Release();
  return text;
}

// Runs a driver call; on failure prints its description and stops the demo.
void Check(HRESULT hr, const char* what) {
  if (SUCCEEDED(hr)) return;
  std::fprintf(stderr, "%s failed (0x%08X): %s\n", what, static_cast<unsigned>(hr),
               LastError().c_str());
  std::exit(1);
}

// The emulator as a child process; its first line of output is the port it listens on.
struct Emulator {
  pid_t pid = -1;
  int port = 0;
  ~Emulator() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
  bool Start(const std::string& path, const std::vector<std::string>& args) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid = fork();
    if (pid == 0) {
      dup2(fds[1], STDOUT_FILENO);
      close(fds[0]);
      close(fds[1]);
      std::vector<char*> argv{const_cast<char*>(path.c_str())};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(path.c_str(), argv.data());
      _exit(127);
    }
    close(fds[1]);
    FILE* out = fdopen(fds[0], "r");
    if (!out || std::fscanf(out, "%d", &port) != 1) port = 0;
    if (out) std::fclose(out);
    return port > 0;
  }
};

std::string SiblingPath(const char* name) {
  char self[PATH_MAX] = {};
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
  dir = dir.substr(0, dir.find_last_of('/') + 1);
  return dir + name;
}

template <class T>
T* Query(IUnknown* u, REFIID iid) {
  T* p = nullptr;
  Check(u->QueryInterface(iid, reinterpret_cast<void**>(&p)), "QueryInterface");
  return p;
}

void Row(const char* label, const std::string& value) {
  std::printf("  %-28s %s\n", label, value.c_str());
}

std::string Fixed(double v, const char* unit) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%9.4f %s", v, unit);
  return buf;
}

const char* YesNo(VARIANT_BOOL b) {
  return b ? "yes" : "no";
}

constexpr const char* kUsage =
    "Usage: vmk40xx-demo [--trace-dir DIR] [EMULATOR]\n"
    "\n"
    "Runs a short session of the K40xx driver against the emulator (EMULATOR, by default the\n"
    "vmk40xx-sim beside this program) and prints what it set and measured.\n"
    "\n"
    "The session is traced: every call with its parameters and the instrument commands it sent\n"
    "goes to DIR/VelmoraK40xx-demo_<date>_<time>.xml (DIR is the current directory by default).\n"
    "When xsltproc is installed, the demo also writes the trace's HTML report beside it.\n";

// The trace turned into HTML beside it, with the style sheet the trace names. False when there is
// no xsltproc or it failed (it says why on standard error).
bool WriteReport(const std::string& trace, const std::string& report) {
  std::vector<std::string> args = {"xsltproc", "--nonet", "-o", report, trace};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, "xsltproc", nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string AbsoluteDirectory(const std::string& dir) {
  char real[PATH_MAX];
  return realpath(dir.c_str(), real) ? std::string(real) : dir;
}

}  // namespace

int main(int argc, char** argv) {
  std::string simulator = SiblingPath("vmk40xx-sim");
  std::string traceDir = ".";
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (!std::strcmp(argv[i], "--trace-dir") && i + 1 < argc) {
      traceDir = argv[++i];
    } else if (argv[i][0] == '-') {
      std::fprintf(stderr, "vmk40xx-demo: unknown option %s\n\n%s", argv[i], kUsage);
      return 2;
    } else {
      simulator = argv[i];
    }
  }
  char stamp[32];
  const time_t started = time(nullptr);
  struct tm local {};
  localtime_r(&started, &local);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H-%M-%S", &local);
  const std::string traceBase = AbsoluteDirectory(traceDir) + "/VelmoraK40xx-demo_" + stamp;
  // Static, so that it is stopped also when a failed step ends the demo through std::exit.
  static Emulator emulator;
  if (!emulator.Start(simulator, {"--model", "K4201A", "--listen", "127.0.0.1:0", "--load", "1=4",
                                  "--load", "2=50"})) {
    std::fprintf(stderr, "could not start the emulator %s\n", simulator.c_str());
    return 1;
  }
  const std::string resource = "TCPIP0::127.0.0.1::" + std::to_string(emulator.port) + "::SOCKET";

  IClassFactory* factory = nullptr;
  Check(
      DllGetClassObject(CLSID_VelmoraK40xx, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
      "DllGetClassObject");
  IVelmoraK40xx* driver = nullptr;
  Check(factory->CreateInstance(nullptr, IID_IVelmoraK40xx, reinterpret_cast<void**>(&driver)),
        "CreateInstance");
  factory->Release();

  const std::string optionText =
      "QueryInstrStatus=true, DriverSetup=Trace=true, TraceName=" + traceBase + ".xml";
  Text rsrc(resource.c_str()), options(optionText.c_str());
  Check(driver->Initialize(rsrc.b, VARIANT_TRUE, VARIANT_TRUE, options.b), "Initialize");

  IIviDriverIdentity* identity = Query<IIviDriverIdentity>(driver, IID_IIviDriverIdentity);
  auto text = [&](HRESULT (IIviDriverIdentity::*getter)(BSTR*), const char* what) {
    BSTR b = nullptr;
    Check((identity->*getter)(&b), what);
    std::string s = Narrow(b);
    SysFreeString(b);
    return s;
  };
  std::printf("\nK40xx driver demo on the emulator at %s\n\n", resource.c_str());
  std::printf("Driver\n");
  Row("Identifier", text(&IIviDriverIdentity::get_Identifier, "Identifier"));
  Row("Revision", text(&IIviDriverIdentity::get_Revision, "Revision"));
  Row("Vendor", text(&IIviDriverIdentity::get_Vendor, "Vendor"));
  std::printf("Instrument\n");
  Row("Manufacturer", text(&IIviDriverIdentity::get_InstrumentManufacturer, "Manufacturer"));
  Row("Model", text(&IIviDriverIdentity::get_InstrumentModel, "Model"));
  Row("Firmware", text(&IIviDriverIdentity::get_InstrumentFirmwareRevision, "Firmware"));

  IVelmoraK40xxOutputs* outputs = nullptr;
  Check(driver->get_Outputs(&outputs), "Outputs");
  LONG count = 0;
  Check(outputs->get_Count(&count), "Outputs.Count");
  Row("Outputs", std::to_string(count));

  // Output 1 into a 4-ohm load limits at 1 A; output 2 into 50 ohms regulates its voltage.
  const double volts[] = {5.0, 12.0};
  const double amps[] = {1.0, 0.5};
  std::vector<IVelmoraK40xxOutput*> channels;
  for (LONG i = 1; i <= count; ++i) {
    BSTR name = nullptr;
    Check(outputs->get_Name(i, &name), "Outputs.Name");
    IVelmoraK40xxOutput* out = nullptr;
    Check(outputs->get_Item(name, &out), "Outputs.Item");
    SysFreeString(name);
    Check(out->ApplyVoltageCurrent(volts[i - 1], amps[i - 1]), "ApplyVoltageCurrent");
    channels.push_back(out);
  }
  Check(outputs->put_Enabled(VARIANT_TRUE), "Outputs.Enabled");

  std::printf("\n  %-8s %12s %12s %12s %12s  %s\n", "Output", "set V", "limit A", "measured V",
              "measured A", "state");
  for (size_t i = 0; i < channels.size(); ++i) {
    double v = 0, a = 0, mv = 0, ma = 0;
    VARIANT_BOOL cc = VARIANT_FALSE;
    Check(channels[i]->get_VoltageLevel(&v), "VoltageLevel");
    Check(channels[i]->get_CurrentLimit(&a), "CurrentLimit");
    Check(channels[i]->Measure(VelmoraK40xxMeasurementVoltage, &mv), "Measure voltage");
    Check(channels[i]->Measure(VelmoraK40xxMeasurementCurrent, &ma), "Measure current");
    Check(channels[i]->QueryState(VelmoraK40xxOutputConstantCurrent, &cc), "QueryState");
    std::printf("  Output%-2zu %12s %12s %12s %12s  %s\n", i + 1, Fixed(v, "V").c_str(),
                Fixed(a, "A").c_str(), Fixed(mv, "V").c_str(), Fixed(ma, "A").c_str(),
                cc ? "constant current" : "constant voltage");
  }

  // Over-voltage protection on output 2: a limit below its level trips it and cuts the output.
  IVelmoraK40xxProtection* protection = nullptr;
  Check(channels[1]->get_Protection(&protection), "Protection");
  Check(protection->ConfigureOVP(VARIANT_TRUE, 10.0), "ConfigureOVP");
  VARIANT_BOOL tripped = VARIANT_FALSE;
  Check(protection->get_OVPTripped(&tripped), "OVPTripped");
  std::printf("\nOver-voltage protection on Output2 (limit 10 V, level 12 V)\n");
  Row("Tripped", YesNo(tripped));
  double mv = 0;
  Check(channels[1]->Measure(VelmoraK40xxMeasurementVoltage, &mv), "Measure voltage");
  Row("Measured voltage", Fixed(mv, "V"));
  Check(protection->ConfigureOVP(VARIANT_TRUE, 15.0), "ConfigureOVP");
  Check(protection->ResetOVP(), "ResetOVP");
  Check(outputs->put_Enabled(VARIANT_TRUE), "Outputs.Enabled");
  Check(protection->get_OVPTripped(&tripped), "OVPTripped");
  Check(channels[1]->Measure(VelmoraK40xxMeasurementVoltage, &mv), "Measure voltage");
  std::printf("After raising the limit to 15 V and clearing\n");
  Row("Tripped", YesNo(tripped));
  Row("Measured voltage", Fixed(mv, "V"));

  IIviDriverUtility* utility = Query<IIviDriverUtility>(driver, IID_IIviDriverUtility);
  LONG code = 0;
  BSTR message = nullptr;
  Check(utility->ErrorQuery(&code, &message), "ErrorQuery");
  std::printf("\nInstrument error queue: %ld, \"%s\"\n\n", static_cast<long>(code),
              Narrow(message).c_str());
  SysFreeString(message);

  utility->Release();
  protection->Release();
  for (IVelmoraK40xxOutput* out : channels) out->Release();
  outputs->Release();
  identity->Release();
  Check(driver->Close(), "Close");
  driver->Release();

  const std::string trace = traceBase + ".xml", report = traceBase + ".html";
  std::printf("Call trace\n");
  Row("Trace file", trace);
  if (WriteReport(trace, report))
    Row("Report", report + " (open it in a browser)");
  else
    Row("Report", "not written: xsltproc is missing or failed; with it installed, run\n" +
                      std::string(31, ' ') + "xsltproc -o report.html " + trace);
  std::printf("\n");
  return 0;
}
