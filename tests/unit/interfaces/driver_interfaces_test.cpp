// Binary layout and identifiers of the driver's own interfaces.
#include "vmk40xx/vmk40xx.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "tests/unit/interfaces/vtable_slot.h"

namespace {

using vmk::test::ExpectSlots;
using vmk::test::kIUnknownSlots;
using vmk::test::Own;

constexpr std::ptrdiff_t kIviDriverSlots = kIUnknownSlots + 6;

TEST(DriverInterfaceLayout, EachInterfaceHasItsNumberOfMembers) {
  ExpectSlots({
      VMK_SIZE(IVelmoraK40xx, kIviDriverSlots + 7),
      VMK_SIZE(IVelmoraK40xxOutputs, kIUnknownSlots + 11),
      VMK_SIZE(IVelmoraK40xxOutput, kIUnknownSlots + 19),
      VMK_SIZE(IVelmoraK40xxProtection, kIUnknownSlots + 17),
      VMK_SIZE(IVelmoraK40xxDisplay, kIUnknownSlots + 7),
      VMK_SIZE(IVelmoraK40xxStatus, kIUnknownSlots + 6),
      VMK_SIZE(IVelmoraK40xxSystem, kIUnknownSlots + 17),
      VMK_SIZE(IVelmoraK40xxCalibrations, kIUnknownSlots + 10),
      VMK_SIZE(IVelmoraK40xxCalibration, kIUnknownSlots + 6),
      VMK_SIZE(IVelmoraK40xxTriggers, kIUnknownSlots + 8),
      VMK_SIZE(IVelmoraK40xxTrigger, kIUnknownSlots + 8),
  });
}

// Own(n) is the n-th member after the base interface, counted from 1.
TEST(DriverInterfaceLayout, MembersSitInTheirSlots) {
  ExpectSlots({
      // The root answers IIviDriver first, its own getters after.
      VMK_SLOT(IVelmoraK40xx, Initialize, 6),
      VMK_SLOT(IVelmoraK40xx, Close, 8),
      VMK_SLOT(IVelmoraK40xx, get_Outputs, Own(1, kIviDriverSlots)),
      VMK_SLOT(IVelmoraK40xx, get_IviDCPwr, Own(5, kIviDriverSlots)),
      VMK_SLOT(IVelmoraK40xx, get_Triggers, Own(7, kIviDriverSlots)),

      // Count first in the driver's own collections, unlike the class collection.
      VMK_SLOT(IVelmoraK40xxOutputs, get_Count, Own(1)),
      VMK_SLOT(IVelmoraK40xxOutputs, get_Item, Own(2)),
      VMK_SLOT(IVelmoraK40xxOutputs, get_Name, Own(3)),
      VMK_SLOT(IVelmoraK40xxOutputs, get_Channel, Own(4)),
      VMK_SLOT(IVelmoraK40xxOutputs, put_Channel, Own(5)),
      VMK_SLOT(IVelmoraK40xxOutputs, put_TrackingEnabled, Own(11)),

      VMK_SLOT(IVelmoraK40xxOutput, ApplyVoltageCurrent, Own(1)),
      VMK_SLOT(IVelmoraK40xxOutput, RunStep, Own(8)),
      VMK_SLOT(IVelmoraK40xxOutput, get_CurrentLimit, Own(9)),
      VMK_SLOT(IVelmoraK40xxOutput, put_CurrentLimit, Own(10)),
      VMK_SLOT(IVelmoraK40xxOutput, get_Step, Own(13)),
      VMK_SLOT(IVelmoraK40xxOutput, put_Step, Own(14)),
      VMK_SLOT(IVelmoraK40xxOutput, get_VoltageRange, Own(17)),
      VMK_SLOT(IVelmoraK40xxOutput, get_Protection, Own(19)),

      // Read-only Tripped getters break the get/put rhythm.
      VMK_SLOT(IVelmoraK40xxProtection, ResetOCP, Own(3)),
      VMK_SLOT(IVelmoraK40xxProtection, ConfigureOCP, Own(7)),
      VMK_SLOT(IVelmoraK40xxProtection, get_OCPEnabled, Own(8)),
      VMK_SLOT(IVelmoraK40xxProtection, get_OCPTripped, Own(12)),
      VMK_SLOT(IVelmoraK40xxProtection, get_OVPEnabled, Own(13)),
      VMK_SLOT(IVelmoraK40xxProtection, put_OVPLimit, Own(16)),
      VMK_SLOT(IVelmoraK40xxProtection, get_OVPTripped, Own(17)),

      VMK_SLOT(IVelmoraK40xxDisplay, Clear, Own(1)),
      VMK_SLOT(IVelmoraK40xxDisplay, get_Mode, Own(4)),
      VMK_SLOT(IVelmoraK40xxDisplay, put_Text, Own(7)),

      VMK_SLOT(IVelmoraK40xxStatus, ConfigureRegister, Own(2)),
      VMK_SLOT(IVelmoraK40xxStatus, get_Register, Own(4)),
      VMK_SLOT(IVelmoraK40xxStatus, put_Register, Own(5)),
      VMK_SLOT(IVelmoraK40xxStatus, get_SerialPoll, Own(6)),

      VMK_SLOT(IVelmoraK40xxSystem, Beep, Own(6)),
      VMK_SLOT(IVelmoraK40xxSystem, get_IO, Own(9)),
      VMK_SLOT(IVelmoraK40xxSystem, get_MemoryName, Own(10)),
      VMK_SLOT(IVelmoraK40xxSystem, put_MemoryName, Own(11)),
      VMK_SLOT(IVelmoraK40xxSystem, get_Model, Own(12)),
      VMK_SLOT(IVelmoraK40xxSystem, put_TraceEnabled, Own(17)),

      // Methods before the collection members; Password has no getter.
      VMK_SLOT(IVelmoraK40xxCalibrations, SetState, Own(2)),
      VMK_SLOT(IVelmoraK40xxCalibrations, get_Count, Own(3)),
      VMK_SLOT(IVelmoraK40xxCalibrations, get_Enabled, Own(6)),
      VMK_SLOT(IVelmoraK40xxCalibrations, put_Password, Own(7)),
      VMK_SLOT(IVelmoraK40xxCalibrations, get_String, Own(8)),
      VMK_SLOT(IVelmoraK40xxCalibrations, get_Times, Own(10)),

      VMK_SLOT(IVelmoraK40xxCalibration, CurrentProtection, Own(3)),
      VMK_SLOT(IVelmoraK40xxCalibration, VoltageData, Own(4)),
      VMK_SLOT(IVelmoraK40xxCalibration, VoltageProtection, Own(6)),

      VMK_SLOT(IVelmoraK40xxTriggers, SendSoftwareTrigger, Own(3)),
      VMK_SLOT(IVelmoraK40xxTriggers, get_Count, Own(4)),
      VMK_SLOT(IVelmoraK40xxTriggers, get_Name, Own(6)),
      VMK_SLOT(IVelmoraK40xxTriggers, put_Coupling, Own(8)),

      VMK_SLOT(IVelmoraK40xxTrigger, get_CurrentLimit, Own(1)),
      VMK_SLOT(IVelmoraK40xxTrigger, put_Delay, Own(4)),
      VMK_SLOT(IVelmoraK40xxTrigger, get_Source, Own(5)),
      VMK_SLOT(IVelmoraK40xxTrigger, put_VoltageLevel, Own(8)),
  });
}

std::string Text(const GUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", g.Data1,
                g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

// QueryInterface answers from a table keyed by these: two equal identifiers would hand a client
// the wrong vtable without any error. The class and library identifiers share the registry with
// them, so they must not collide either.
TEST(DriverIdentifiers, AreAllDistinctAndNotNull) {
  const std::vector<std::pair<const char*, GUID>> ids = {
      {"IID_IUnknown", IID_IUnknown},
      {"IID_IIviDriver", IID_IIviDriver},
      {"IID_IIviDriverOperation", IID_IIviDriverOperation},
      {"IID_IIviComponentIdentity", IID_IIviComponentIdentity},
      {"IID_IIviDriverIdentity", IID_IIviDriverIdentity},
      {"IID_IIviDriverUtility", IID_IIviDriverUtility},
      {"IID_IIviDCPwr", IID_IIviDCPwr},
      {"IID_IIviDCPwrOutputs", IID_IIviDCPwrOutputs},
      {"IID_IIviDCPwrOutput", IID_IIviDCPwrOutput},
      {"IID_IIviDCPwrTrigger", IID_IIviDCPwrTrigger},
      {"IID_IVelmoraK40xx", IID_IVelmoraK40xx},
      {"IID_IVelmoraK40xxOutputs", IID_IVelmoraK40xxOutputs},
      {"IID_IVelmoraK40xxOutput", IID_IVelmoraK40xxOutput},
      {"IID_IVelmoraK40xxProtection", IID_IVelmoraK40xxProtection},
      {"IID_IVelmoraK40xxDisplay", IID_IVelmoraK40xxDisplay},
      {"IID_IVelmoraK40xxStatus", IID_IVelmoraK40xxStatus},
      {"IID_IVelmoraK40xxSystem", IID_IVelmoraK40xxSystem},
      {"IID_IVelmoraK40xxCalibrations", IID_IVelmoraK40xxCalibrations},
      {"IID_IVelmoraK40xxCalibration", IID_IVelmoraK40xxCalibration},
      {"IID_IVelmoraK40xxTriggers", IID_IVelmoraK40xxTriggers},
      {"IID_IVelmoraK40xxTrigger", IID_IVelmoraK40xxTrigger},
      {"CLSID_VelmoraK40xx", CLSID_VelmoraK40xx},
      {"LIBID_VelmoraK40xxLib", LIBID_VelmoraK40xxLib},
      {"LIBID_IviDriverLib", LIBID_IviDriverLib},
      {"LIBID_IviDCPwrLib", LIBID_IviDCPwrLib},
  };
  for (std::size_t i = 0; i < ids.size(); ++i) {
    EXPECT_FALSE(ids[i].second == GUID_NULL) << ids[i].first;
    for (std::size_t j = i + 1; j < ids.size(); ++j)
      EXPECT_FALSE(ids[i].second == ids[j].second)
          << ids[i].first << " and " << ids[j].first << " are both " << Text(ids[i].second);
  }
}

template <class... I>
constexpr bool AllComShaped() {
  return ((std::is_polymorphic_v<I> && std::is_abstract_v<I> && !std::has_virtual_destructor_v<I> &&
           sizeof(I) == sizeof(void*)) &&
          ...);
}
static_assert(AllComShaped<IVelmoraK40xx, IVelmoraK40xxOutputs, IVelmoraK40xxOutput,
                           IVelmoraK40xxProtection, IVelmoraK40xxDisplay, IVelmoraK40xxStatus,
                           IVelmoraK40xxSystem, IVelmoraK40xxCalibrations, IVelmoraK40xxCalibration,
                           IVelmoraK40xxTriggers, IVelmoraK40xxTrigger>());
static_assert(std::is_base_of_v<IIviDriver, IVelmoraK40xx>);
// The root must not pick up the class interface as a base: IIviDCPwr is reached by its getter.
static_assert(!std::is_base_of_v<IIviDCPwr, IVelmoraK40xx>);

template <class... E>
constexpr bool AllThirtyTwoBit() {
  return (std::is_same_v<std::underlying_type_t<E>, int32_t> && ...);
}
static_assert(AllThirtyTwoBit<
              VelmoraK40xxModelEnum, VelmoraK40xxOutputEnum, VelmoraK40xxCurrentLimitBehaviorEnum,
              VelmoraK40xxRangeTypeEnum, VelmoraK40xxMeasurementTypeEnum,
              VelmoraK40xxOutputStateEnum, VelmoraK40xxStepDirectionEnum, VelmoraK40xxStepEnum,
              VelmoraK40xxVoltageRangeEnum, VelmoraK40xxTriggerSourceEnum, VelmoraK40xxCouplingEnum,
              VelmoraK40xxStatusRegisterEnum, VelmoraK40xxStatusSubRegisterEnum,
              VelmoraK40xxDisplayModeEnum, VelmoraK40xxCalibrationLevelEnum>());

// The class interface hands these values to the driver's own members unconverted.
static_assert(int32_t{IviDCPwrCurrentLimitRegulate} == VelmoraK40xxCurrentLimitRegulate &&
              int32_t{IviDCPwrCurrentLimitTrip} == VelmoraK40xxCurrentLimitTrip);
static_assert(int32_t{IviDCPwrRangeCurrent} == VelmoraK40xxRangeCurrent &&
              int32_t{IviDCPwrRangeVoltage} == VelmoraK40xxRangeVoltage);
static_assert(int32_t{IviDCPwrMeasurementCurrent} == VelmoraK40xxMeasurementCurrent &&
              int32_t{IviDCPwrMeasurementVoltage} == VelmoraK40xxMeasurementVoltage);
static_assert(int32_t{IviDCPwrOutputConstantVoltage} == VelmoraK40xxOutputConstantVoltage &&
              int32_t{IviDCPwrOutputConstantCurrent} == VelmoraK40xxOutputConstantCurrent &&
              int32_t{IviDCPwrOutputOverVoltage} == VelmoraK40xxOutputOverVoltage &&
              int32_t{IviDCPwrOutputOverCurrent} == VelmoraK40xxOutputOverCurrent &&
              int32_t{IviDCPwrOutputUnregulated} == VelmoraK40xxOutputUnregulated);

}  // namespace
