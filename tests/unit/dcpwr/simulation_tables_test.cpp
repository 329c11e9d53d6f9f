#include <gtest/gtest.h>

#include "platform/com/com_ptr.h"
#include "services/simulation.h"

namespace vmk {
namespace {

template <class T>
T Read(CCacheManager& cache, std::string_view key) {
  T out{};
  EXPECT_EQ(SimulatedRead<T>(cache, key, "K4102A", &out), S_OK) << key;
  return out;
}

std::string ReadText(CCacheManager& cache, std::string_view key) {
  com::Bstr out;
  EXPECT_EQ(SimulatedRead<BSTR>(cache, key, "K4102A", out.put()), S_OK) << key;
  return out.utf8();
}

TEST(DriverSimulationTablesTest, DefaultsThatDifferFromZero) {
  CCacheManager cache;
  EXPECT_EQ(Read<double>(cache, "IVelmoraK40xxOutput.CurrentLimit"), 20.0);
  EXPECT_EQ(Read<double>(cache, "IVelmoraK40xxTrigger.CurrentLimit"), 20.0);
  EXPECT_EQ(Read<double>(cache, "IVelmoraK40xxOutput.Step"), 0.001);
  EXPECT_EQ(Read<double>(cache, "IVelmoraK40xxProtection.OVPLimit"), 66.0);
  EXPECT_EQ(Read<double>(cache, "IVelmoraK40xxProtection.OCPLimit"), 22.0);
  EXPECT_EQ(Read<VARIANT_BOOL>(cache, "IVelmoraK40xxProtection.OVPEnabled"), VARIANT_TRUE);
  EXPECT_EQ(Read<VARIANT_BOOL>(cache, "IVelmoraK40xxDisplay.Enabled"), VARIANT_TRUE);
  EXPECT_EQ(Read<VARIANT_BOOL>(cache, "IVelmoraK40xxCalibrations.Enabled"), VARIANT_TRUE);
  EXPECT_EQ(Read<int32_t>(cache, "IVelmoraK40xxOutputs.Channel"), 1);
  EXPECT_EQ(Read<int32_t>(cache, "IVelmoraK40xxOutput.CurrentLimitBehavior"), 1);
  EXPECT_EQ(Read<int32_t>(cache, "IVelmoraK40xxSystem.TimeoutMilliseconds"), 2000);
  EXPECT_EQ(Read<int32_t>(cache, "IVelmoraK40xxCalibrations.Times"), 1);
  EXPECT_EQ(ReadText(cache, "IVelmoraK40xxSystem.MemoryName"), "1");
  EXPECT_EQ(ReadText(cache, "IVelmoraK40xxCalibrations.String"), "FACTORY CAL 09/Aug/2002");
  EXPECT_EQ(ReadText(cache, "IVelmoraK40xxDisplay.Text"), "");
}

TEST(DriverSimulationTablesTest, TriggerDelayRoundTripAndReset) {
  CCacheManager trigger;
  EXPECT_EQ(Read<double>(trigger, "IVelmoraK40xxTrigger.Delay"), 0.0);
  ASSERT_EQ(SimulatedWrite<double>(trigger, "IVelmoraK40xxTrigger.Delay", 2.5), S_OK);
  EXPECT_EQ(Read<double>(trigger, "IVelmoraK40xxTrigger.Delay"), 2.5);
  trigger.InvalidateAll();
  EXPECT_EQ(Read<double>(trigger, "IVelmoraK40xxTrigger.Delay"), 0.0);
}

TEST(DriverSimulationTablesTest, OnlyTheStatusRegisterIsFixed) {
  const auto& tables = SimulationTables();
  EXPECT_TRUE(tables.IsFixed("IVelmoraK40xxStatus.Register"));
  EXPECT_FALSE(tables.IsFixed("IVelmoraK40xxStatus.SerialPoll"));
  CCacheManager root;
  ASSERT_EQ(SimulatedWrite<int32_t>(root, "IVelmoraK40xxStatus.Register", 56), S_OK);
  EXPECT_EQ(Read<int32_t>(root, "IVelmoraK40xxStatus.Register"), 0);
  ASSERT_EQ(SimulatedWrite<int32_t>(root, "IVelmoraK40xxStatus.SerialPoll", 64), S_OK);
  EXPECT_EQ(Read<int32_t>(root, "IVelmoraK40xxStatus.SerialPoll"), 64);
}

}  // namespace
}  // namespace vmk
