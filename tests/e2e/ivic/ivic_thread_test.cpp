// The C interface from many threads: each with its own session, all sharing one session under
// VmK40xx_LockSession (checked on the emulator's transcript: every output selection is followed
// by that thread's own command), and a session closed while other threads are calling on it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/emulator.h"
#include "vmk40xx/vmk40xx_c.h"

namespace {

constexpr int kThreads = 8;

template <class Body>
void RunThreads(int count, Body body) {
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t) threads.emplace_back(body, t);
  for (std::thread& t : threads) t.join();
}

TEST(Threads, EachWithItsOwnSession) {
  const char* models[] = {"K4102A", "K4201A", "K4301A", "K4105A"};
  std::atomic<int> failures{0};
  RunThreads(kThreads, [&](int t) {
    for (int round = 0; round < 5; ++round) {
      ViSession vi = VI_NULL;
      const std::string options = std::string("Simulate=true, DriverSetup=Model=") + models[t % 4];
      if (VmK40xx_InitWithOptions("TCPIP0::192.0.2.1::5025::SOCKET", VI_FALSE, VI_FALSE,
                                  options.c_str(), &vi) != VI_SUCCESS) {
        ++failures;
        continue;
      }
      for (int k = 0; k < 50; ++k) {
        const double level = 1.0 + t * 0.25 + k * 0.001;
        ViReal64 back = 0;
        char model[16] = "";
        if (VmK40xx_ConfigureVoltageLevel(vi, "Output1", level) != VI_SUCCESS ||
            VmK40xx_GetAttributeViReal64(vi, "Output1", VMK40XX_ATTR_VOLTAGE_LEVEL, &back) !=
                VI_SUCCESS ||
            back != level ||
            VmK40xx_GetAttributeViString(vi, "", VMK40XX_ATTR_INSTRUMENT_MODEL, sizeof model,
                                         model) != VI_SUCCESS ||
            std::string(model) != models[t % 4])
          ++failures;
      }
      if (VmK40xx_close(vi) != VI_SUCCESS) ++failures;
    }
  });
  EXPECT_EQ(failures, 0);
}

TEST(Threads, SharingOneSessionUnderTheLockNeverInterleaveASelection) {
  const auto transcript =
      std::filesystem::temp_directory_path() / ("ivic_thread_" + std::to_string(getpid()) + ".log");
  std::filesystem::remove(transcript);
  constexpr int kRounds = 40;
  std::atomic<int> failures{0};
  {
    vmk::test::Emulator emulator({"--model", "K4201A", "--transcript", transcript.string()});
    ASSERT_FALSE(emulator.Resource().empty()) << "the emulator did not start";
    ViSession vi = VI_NULL;
    // Cache off, so that each read asks the instrument after its own selection.
    ASSERT_EQ(VmK40xx_InitWithOptions(emulator.Resource().c_str(), VI_FALSE, VI_FALSE,
                                      "Cache=false", &vi),
              VI_SUCCESS);
    RunThreads(kThreads, [&](int t) {
      const std::string output = t % 2 ? "Output2" : "Output1";
      for (int k = 0; k < kRounds; ++k) {
        // The thread and round can be read back from the level on the wire.
        const double level = 1.0 + t * 0.1 + k * 0.001;
        ViBoolean has = VI_FALSE;
        ViReal64 back = 0;
        if (VmK40xx_LockSession(vi, &has) != VI_SUCCESS) ++failures;
        if (VmK40xx_ConfigureVoltageLevel(vi, output.c_str(), level) != VI_SUCCESS) ++failures;
        if (VmK40xx_GetAttributeViReal64(vi, output.c_str(), VMK40XX_ATTR_VOLTAGE_LEVEL, &back) !=
                VI_SUCCESS ||
            std::fabs(back - level) > 1e-9)
          ++failures;
        if (VmK40xx_UnlockSession(vi, &has) != VI_SUCCESS) ++failures;
      }
    });
    EXPECT_EQ(VmK40xx_close(vi), VI_SUCCESS);
  }
  EXPECT_EQ(failures, 0);

  std::ifstream in(transcript);
  const std::regex select(R"( < INST:NSEL (\d)$)"), set(R"( < VOLT ([0-9.]+)$)");
  int selected = 0, sets = 0, misplaced = 0;
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_search(line, m, select)) {
      selected = std::stoi(m[1]);
    } else if (std::regex_search(line, m, set)) {
      ++sets;
      const int thread = static_cast<int>(std::floor((std::stod(m[1]) - 1.0) * 10.0 + 1e-6));
      if (selected != thread % 2 + 1) ++misplaced;
      selected = 0;  // each command comes after a selection of its own
    }
  }
  std::filesystem::remove(transcript);
  EXPECT_EQ(sets, kThreads * kRounds);
  EXPECT_EQ(misplaced, 0);
}

TEST(Threads, ClosingASessionWhileOthersCallOnIt) {
  for (int round = 0; round < 20; ++round) {
    ViSession vi = VI_NULL;
    ASSERT_EQ(VmK40xx_InitWithOptions("TCPIP0::192.0.2.1::5025::SOCKET", VI_FALSE, VI_FALSE,
                                      "Simulate=true", &vi),
              VI_SUCCESS);
    std::atomic<bool> go{false};
    std::atomic<int> unexpected{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t)
      callers.emplace_back([&] {
        while (!go) std::this_thread::yield();
        for (int k = 0; k < 200; ++k) {
          char model[16];
          const ViStatus s = VmK40xx_GetAttributeViString(vi, "", VMK40XX_ATTR_INSTRUMENT_MODEL,
                                                          sizeof model, model);
          // Before the close, during it (the object is already closed), or after it.
          if (s != VI_SUCCESS && s != ViStatus(0xBFFA001Du) && s != ViStatus(0xBFFA1190u))
            ++unexpected;
        }
      });
    go = true;
    const ViStatus closed = VmK40xx_close(vi);
    for (std::thread& t : callers) t.join();
    EXPECT_EQ(closed, VI_SUCCESS);
    EXPECT_EQ(unexpected, 0);
  }
}

}  // namespace
