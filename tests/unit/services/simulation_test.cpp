#include "services/simulation.h"

#include <gtest/gtest.h>

#include "platform/com/com_ptr.h"
#include "tests/unit/services/test_models.h"

namespace vmk {
namespace {

using com::Bstr;

const CSimulationRegistry& Registry() {
  static const SimulationRow rows[] = {
      {"I.Delay", 0.0},
      {"I.Limit", 20.0},
      {"I.Enabled", VARIANT_BOOL(VARIANT_TRUE)},
      {"I.Text", std::string_view("")},
      {"I.Banner", std::string_view("FACTORY CAL")},
      {"I.Register", int32_t{0}, true},
  };
  static const CSimulationRegistry registry(rows, test::TestModels());
  return registry;
}

template <class T>
T Read(CCacheManager& cache, std::string_view key, std::string_view model = "A1") {
  T out{};
  EXPECT_EQ(SimulatedRead<T>(cache, key, model, &out, Registry()), S_OK) << key;
  return out;
}

std::string ReadText(CCacheManager& cache, std::string_view key) {
  Bstr out;
  EXPECT_EQ(SimulatedRead<BSTR>(cache, key, "A1", out.put(), Registry()), S_OK);
  EXPECT_NE(out.get(), nullptr);
  return out.utf8();
}

TEST(SimulatedPropertyTest, DefaultUntilWrittenAndAgainAfterInvalidateAll) {
  CCacheManager cache;
  EXPECT_EQ(Read<double>(cache, "I.Limit"), 20.0);
  EXPECT_EQ(Read<VARIANT_BOOL>(cache, "I.Enabled"), VARIANT_TRUE);

  ASSERT_EQ(SimulatedWrite<double>(cache, "I.Delay", 2.5, Registry()), S_OK);
  EXPECT_EQ(Read<double>(cache, "I.Delay"), 2.5);

  cache.InvalidateAll();
  EXPECT_EQ(Read<double>(cache, "I.Delay"), 0.0);
  ASSERT_EQ(SimulatedWrite<double>(cache, "I.Delay", 1.0, Registry()), S_OK);
  EXPECT_EQ(Read<double>(cache, "I.Delay"), 1.0);
}

TEST(SimulatedPropertyTest, ValuesAreKeptPerNode) {
  CCacheManager output1, output2;
  ASSERT_EQ(SimulatedWrite<double>(output1, "I.Limit", 5.0, Registry()), S_OK);
  EXPECT_EQ(Read<double>(output1, "I.Limit"), 5.0);
  EXPECT_EQ(Read<double>(output2, "I.Limit"), 20.0);
}

TEST(SimulatedPropertyTest, StringsAreNeverNullAndAlwaysFreshCopies) {
  CCacheManager cache;
  EXPECT_EQ(ReadText(cache, "I.Text"), "");
  EXPECT_EQ(ReadText(cache, "I.Banner"), "FACTORY CAL");
  EXPECT_EQ(ReadText(cache, "I.Banner"), "FACTORY CAL");  // the first copy was the caller's

  ASSERT_EQ(SimulatedWrite<BSTR>(cache, "I.Text", Bstr("HELLO").get(), Registry()), S_OK);
  EXPECT_EQ(ReadText(cache, "I.Text"), "HELLO");
}

TEST(SimulatedPropertyTest, FixedPropertyIgnoresWhatWasWritten) {
  CCacheManager cache;
  EXPECT_EQ(SimulatedWrite<int32_t>(cache, "I.Register", 255, Registry()), S_OK);
  cache.GetEntry<int32_t>("I.Register").SetValue(255);
  EXPECT_EQ(Read<int32_t>(cache, "I.Register"), 0);
}

TEST(SimulatedPropertyTest, UnknownKeyOrTypeFailsInsteadOfReadingZero) {
  CCacheManager cache;
  double out = 3.0;
  EXPECT_EQ(SimulatedRead<double>(cache, "I.Dealy", "A1", &out, Registry()), E_UNEXPECTED);
  EXPECT_EQ(SimulatedRead<double>(cache, "I.Enabled", "A1", &out, Registry()), E_UNEXPECTED);
  EXPECT_EQ(out, 3.0);
  EXPECT_EQ(SimulatedWrite<int32_t>(cache, "I.Delay", 1, Registry()), E_UNEXPECTED);
  // A member declared without a key, as its descriptor holds it.
  const char* noKey = nullptr;
  EXPECT_EQ(SimulatedRead(cache, noKey, "A1", &out, Registry()), E_UNEXPECTED);
  EXPECT_EQ(SimulatedWrite(cache, noKey, 1.0, Registry()), E_UNEXPECTED);
  EXPECT_EQ(out, 3.0);
  EXPECT_EQ(cache.Size(), 0u);
}

TEST(SimulatedValueTest, NoEntryForTheModelGivesZeroFalseOrEmpty) {
  ModelBasedEntries<CSimulationInfo<double>> reals;
  reals.push_back(std::make_unique<CSimulationInfo<double>>("B1", 66.0));
  SimulationTable<double> realTable(std::move(reals), test::TestModels());
  EXPECT_EQ(SimulatedValue(realTable, "B1"), 66.0);
  EXPECT_EQ(SimulatedValue(realTable, "A1"), 0.0);

  ModelBasedEntries<CSimulationInfo<BSTR>> texts;
  Bstr value("only B1");
  texts.push_back(std::make_unique<CSimulationInfo<BSTR>>("B1", value.get()));
  SimulationTable<BSTR> textTable(std::move(texts), test::TestModels());
  Bstr missing;
  *missing.put() = SimulatedValue(textTable, "A1");
  ASSERT_NE(missing.get(), nullptr);
  EXPECT_EQ(missing.size(), 0u);
  Bstr found;
  *found.put() = SimulatedValue(textTable, "B1");
  EXPECT_EQ(found.utf8(), "only B1");

  ModelBasedEntries<CSimulationInfo<VARIANT_BOOL>> none;
  SimulationTable<VARIANT_BOOL> boolTable(std::move(none), test::TestModels());
  EXPECT_EQ(SimulatedValue(boolTable, "A1"), VARIANT_FALSE);
}

}  // namespace
}  // namespace vmk
