// The COM objects from many threads: one session used at once through its root and through its
// output, trigger and calibration instances (the session's one lock keeps every selection with
// its own command), and many sessions opened, used and closed on many threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/emulator.h"
#include "tests/support/client.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {
namespace {

using com::Bstr;
using com::ComPtr;
using test::Emulator;

void RunThreads(int count, const std::function<void(int)>& body) {
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t) threads.emplace_back(body, t);
  for (std::thread& t : threads) t.join();
}

ComPtr<IVelmoraK40xx> Open(const std::string& resource, const std::string& options) {
  ComPtr<IVelmoraK40xx> driver = test::NewDriver();
  Bstr r(resource), o(options);
  if (!driver || FAILED(driver->Initialize(r.get(), VARIANT_FALSE, VARIANT_FALSE, o.get())))
    return {};
  return driver;
}

template <class Collection, class Item>
ComPtr<Item> ItemOf(Collection* collection, const std::string& name) {
  ComPtr<Item> item;
  Bstr b(name);
  collection->get_Item(b.get(), item.put());
  return item;
}

// Every thread works on objects of its own, all of one session: three on the outputs, three on
// the triggers, one on the root and its identity, one on the calibrations. Each checks that it
// reads back what it wrote, which would fail if another thread's selection came between its
// selection and its command.
void ShareOneSession(IVelmoraK40xx* driver, int rounds, std::atomic<int>* failures,
                     std::string* failed) {
  ComPtr<IVelmoraK40xxOutputs> outputs;
  ComPtr<IVelmoraK40xxTriggers> triggers;
  ComPtr<IVelmoraK40xxCalibrations> calibrations;
  ASSERT_EQ(driver->get_Outputs(outputs.put()), S_OK);
  ASSERT_EQ(driver->get_Triggers(triggers.put()), S_OK);
  ASSERT_EQ(driver->get_Calibrations(calibrations.put()), S_OK);
  ComPtr<IIviDriverIdentity> identity;
  ASSERT_EQ(driver->QueryInterface(IID_IIviDriverIdentity, reinterpret_cast<void**>(identity.put())),
            S_OK);
  std::atomic<int> perThread[8] = {};
  std::string firstError[8];
  RunThreads(8, [&](int t) {
    for (int k = 0; k < rounds; ++k) {
      bool ok = true;
      // The third output of the three-output model is the negative one.
      const double level = (t == 2 || t == 5 ? -1.0 : 1.0) * (1.0 + t * 0.5 + k * 0.001);
      if (t < 3) {
        auto out = ItemOf<IVelmoraK40xxOutputs, IVelmoraK40xxOutput>(
            outputs.get(), "Output" + std::to_string(t + 1));
        double back = -1;
        if (!out || FAILED(out->put_VoltageLevel(level)) ||
            FAILED(out->get_VoltageLevel(&back)) || std::fabs(back - level) > 1e-9)
          ok = false;
      } else if (t < 6) {
        auto trigger = ItemOf<IVelmoraK40xxTriggers, IVelmoraK40xxTrigger>(
            triggers.get(), "Trigger" + std::to_string(t - 2));
        double back = -1;
        if (!trigger || FAILED(trigger->put_VoltageLevel(level)) ||
            FAILED(trigger->get_VoltageLevel(&back)) || std::fabs(back - level) > 1e-9)
          ok = false;
      } else if (t == 6) {
        Bstr model;
        VARIANT_BOOL on = VARIANT_TRUE;
        if (FAILED(identity->get_InstrumentModel(model.put())) || model.utf8() != "K4301A" ||
            FAILED(outputs->get_Enabled(&on)))
          ok = false;
      } else {
        LONG count = 0;
        auto calibration = ItemOf<IVelmoraK40xxCalibrations, IVelmoraK40xxCalibration>(
            calibrations.get(), "Calibration" + std::to_string(k % 3 + 1));
        if (!calibration || FAILED(calibrations->get_Count(&count)) || count != 3) ok = false;
      }
      if (ok) continue;
      ++*failures;
      if (perThread[t]++ == 0) firstError[t] = test::TakeError() + " (round " + std::to_string(k) + ")";
    }
  });
  for (int t = 0; t < 8; ++t)
    if (perThread[t])
      *failed += "\nthread " + std::to_string(t) + ": " + std::to_string(perThread[t]) +
                 " failed rounds, the first with: " + firstError[t];
}

TEST(ComThreads, OneSessionOnTheEmulatorFromRootAndChildObjectsAtOnce) {
  for (const char* polling : {"false", "true"}) {
    Emulator sim({"--model", "K4301A"});
    ASSERT_FALSE(sim.Resource().empty());
    // Cache off, so that every read asks the instrument after its own selection.
    auto driver = Open(sim.Resource(), std::string("Cache=false, QueryInstrStatus=") + polling);
    ASSERT_TRUE(driver) << test::TakeError();
    std::atomic<int> failures{0};
    std::string failed;
    ShareOneSession(driver.get(), 25, &failures, &failed);
    EXPECT_EQ(failures, 0) << "polling " << polling << failed;
    EXPECT_EQ(driver->Close(), S_OK);
  }
}

TEST(ComThreads, OneSimulatedSessionFromRootAndChildObjectsAtOnce) {
  auto driver = Open("GPIB0::5::INSTR", "Simulate=true, DriverSetup=Model=K4301A");
  ASSERT_TRUE(driver) << test::TakeError();
  std::atomic<int> failures{0};
  std::string failed;
  ShareOneSession(driver.get(), 200, &failures, &failed);
  EXPECT_EQ(failures, 0) << failed;
  EXPECT_EQ(driver->Close(), S_OK);
}

// Half the threads on connections of their own to one emulator, half simulated; each opens,
// works and closes its sessions over and over while the others do the same.
TEST(ComThreads, ManySessionsOnManyThreads) {
  Emulator sim({"--model", "K4201A"});
  ASSERT_FALSE(sim.Resource().empty());
  std::atomic<int> failures{0};
  RunThreads(8, [&](int t) {
    const bool simulated = t % 2 == 0;
    for (int round = 0; round < 4; ++round) {
      auto driver = simulated ? Open("GPIB0::5::INSTR", "Simulate=true, DriverSetup=Model=K4102A")
                              : Open(sim.Resource(), "QueryInstrStatus=true");
      if (!driver) {
        ++failures;
        continue;
      }
      ComPtr<IVelmoraK40xxOutputs> outputs;
      if (FAILED(driver->get_Outputs(outputs.put()))) ++failures;
      for (int k = 0; k < 10 && outputs; ++k) {
        auto out = ItemOf<IVelmoraK40xxOutputs, IVelmoraK40xxOutput>(outputs.get(), "Output1");
        double back = -1;
        if (simulated) {
          // A simulated session's values are its own.
          const double level = t + k * 0.01;
          if (!out || FAILED(out->put_VoltageLevel(level)) ||
              FAILED(out->get_VoltageLevel(&back)) || back != level)
            ++failures;
        } else if (!out || FAILED(out->get_VoltageLevel(&back))) {
          ++failures;
        }
      }
      outputs.reset();
      if (FAILED(driver->Close())) ++failures;
    }
  });
  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace vmk
