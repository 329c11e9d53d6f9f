// The C program of this folder, run as a user runs it: once on a simulated session, once against
// the emulator over TCP. What it prints is checked line by line.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/e2e/emulator.h"

namespace {

struct ProgramRun {
  int exit_code = -1;
  std::string output;
};

ProgramRun RunProgram(const std::string& resource, const std::string& options) {
  const std::string command =
      std::string("'") + IVIC_C_PROGRAM + "' '" + resource + "' '" + options + "' 2>&1";
  ProgramRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char chunk[256];
  while (std::fgets(chunk, sizeof chunk, pipe)) run.output += chunk;
  const int status = pclose(pipe);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

double Reading(const std::string& output, const std::string& name) {
  const size_t at = output.find(name + ": ");
  return at == std::string::npos ? -1.0 : std::stod(output.substr(at + name.size() + 2));
}

void ExpectCommonLines(const ProgramRun& run) {
  EXPECT_NE(run.output.find("channel count: 2\n"), std::string::npos);
  EXPECT_NE(run.output.find("voltage level: 5\n"), std::string::npos);
  EXPECT_NE(run.output.find("output enabled: 1\n"), std::string::npos);
  EXPECT_NE(run.output.find("instrument model: K4201A\n"), std::string::npos);
  EXPECT_NE(run.output.find("driver prefix: VmK40xx\n"), std::string::npos);
  EXPECT_NE(run.output.find("display text intact: yes\n"), std::string::npos);
  EXPECT_NE(run.output.find("closed\n"), std::string::npos);
}

TEST(CProgram, DrivesASimulatedDualSupply) {
  const ProgramRun run =
      RunProgram("TCPIP0::192.0.2.1::5025::SOCKET", "Simulate=true, DriverSetup=Model=K4201A");
  ASSERT_EQ(run.exit_code, 0) << run.output;
  ExpectCommonLines(run);
  EXPECT_NE(run.output.find("error query: 0, No error.\n"), std::string::npos) << run.output;
}

TEST(CProgram, DrivesTheEmulatorOverTcp) {
  // A 10 ohm load on output 2: 5 V drives 0.5 A, inside the 1 A limit.
  vmk::test::Emulator emulator({"--model", "K4201A", "--load", "2=10"});
  ASSERT_FALSE(emulator.Resource().empty()) << "the emulator did not start";
  const ProgramRun run = RunProgram(emulator.Resource(), "QueryInstrStatus=true");
  ASSERT_EQ(run.exit_code, 0) << run.output;
  ExpectCommonLines(run);
  EXPECT_NEAR(Reading(run.output, "measured voltage"), 5.0, 0.01) << run.output;
  EXPECT_NEAR(Reading(run.output, "measured current"), 0.5, 0.01) << run.output;
  EXPECT_NE(run.output.find("error query: 0, No error\n"), std::string::npos) << run.output;
}

TEST(CProgram, ReportsAFailedInitWithItsDescription) {
  const ProgramRun run = RunProgram("TCPIP0::127.0.0.1::1::SOCKET", "Simulate=maybe");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.output.find("FAILED VmK40xx_InitWithOptions"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("status 0xBFFA004C: VelmoraK40xx: The maybe value in the option "
                            "string is unknown."),
            std::string::npos)
      << run.output;
}

}  // namespace
