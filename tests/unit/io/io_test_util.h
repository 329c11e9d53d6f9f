// A provider and a manager opened on a script, as a node of the driver holds them.
#pragma once

#include <gtest/gtest.h>

#include "io/driver_io_manager.h"
#include "io/visa_com_io_provider.h"
#include "services/errors.h"
#include "tests/support/script.h"
#include "tests/unit/platform_visa/visa_test_util.h"

namespace vmk::test {

struct TestHost final : IoHost {
  bool QueryInstrumentStatus() const override { return queryStatus; }
  bool queryStatus = false;
};

class ScriptedIo : public ::testing::Test {
 protected:
  void SetUp() override {
    script_ = visa::Script::Install("io");
    ASSERT_EQ(provider_.InitializeIO(&host_, &errors_, this, "SCRIPT::io::INSTR"), S_OK)
        << TakeErrorDescription();
    io_.SetProvider(&provider_);
    io_.SetErrorManager(&errors_);
  }
  void TearDown() override {
    EXPECT_TRUE(script_->Done()) << script_->Report();
    provider_.CloseIO();
    visa::Script::Uninstall("io");
  }

  std::shared_ptr<visa::Script> script_;
  TestHost host_;
  CErrorManager errors_;
  CVisaComIOProvider provider_;
  CDriverIOManager io_;
};

}  // namespace vmk::test
