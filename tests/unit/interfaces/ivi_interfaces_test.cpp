// Binary layout of the IVI Foundation's interfaces as this driver declares them. Including only
// the class header here also proves that it brings everything it needs with it.
#include "vmk40xx/ivi_dcpwr.h"

#include <gtest/gtest.h>

#include <type_traits>

#include "tests/unit/interfaces/vtable_slot.h"

namespace {

using vmk::test::ExpectSlots;
using vmk::test::kIUnknownSlots;
using vmk::test::VtableSlot;

// The decoder is what every other expectation here rests on; check it against a class whose
// layout nobody can argue about.
struct Known {
  virtual int A() = 0;
  virtual int B() = 0;
  int Plain() { return 0; }
};
struct KnownDerived : Known {
  virtual int C() = 0;
};

TEST(VtableSlotDecoder, ReadsSlotsInDeclarationOrderAndRejectsNonVirtuals) {
  EXPECT_EQ(VtableSlot(&Known::A), 0);
  EXPECT_EQ(VtableSlot(&Known::B), 1);
  EXPECT_EQ(VtableSlot(&KnownDerived::C), 2);
  EXPECT_EQ(VtableSlot(&Known::Plain), -1);
  EXPECT_EQ(vmk::test::VtableSize<Known>(), 2);
  EXPECT_EQ(VtableSlot(&IUnknown::Release), 2);
}

TEST(IviInterfaceLayout, EachInterfaceHasThePublishedNumberOfSlots) {
  constexpr std::ptrdiff_t kIviDriver = kIUnknownSlots + 6;
  ExpectSlots({
      VMK_SIZE(IIviDriver, kIviDriver),
      VMK_SIZE(IIviDriverOperation, kIUnknownSlots + 20),
      VMK_SIZE(IIviComponentIdentity, kIUnknownSlots + 3),
      VMK_SIZE(IIviDriverIdentity, kIUnknownSlots + 3 + 8),
      VMK_SIZE(IIviDriverUtility, kIUnknownSlots + 7),
      VMK_SIZE(IIviDCPwr, kIviDriver + 2),
      VMK_SIZE(IIviDCPwrOutputs, kIUnknownSlots + 3),
      VMK_SIZE(IIviDCPwrOutput, kIUnknownSlots + 26),
      VMK_SIZE(IIviDCPwrTrigger, kIUnknownSlots + 3),
  });
}

// Samples where a plausible mistake would move a member: the order of get and put differs
// between the two libraries, the collection is not in the documented order, and two interfaces
// continue another's slots.
TEST(IviInterfaceLayout, MembersSitInThePublishedSlots) {
  ExpectSlots({
      VMK_SLOT(IIviDriver, get_DriverOperation, 3),
      VMK_SLOT(IIviDriver, Initialize, 6),
      VMK_SLOT(IIviDriver, Close, 8),

      // get before put in IviDriverTypeLib.
      VMK_SLOT(IIviDriverOperation, get_Cache, 5),
      VMK_SLOT(IIviDriverOperation, put_Cache, 6),
      VMK_SLOT(IIviDriverOperation, put_Simulate, 16),
      VMK_SLOT(IIviDriverOperation, get_DriverSetup, 17),
      VMK_SLOT(IIviDriverOperation, InvalidateAllAttributes, 18),
      VMK_SLOT(IIviDriverOperation, GetNextCoercionRecord, 22),

      // The identity interface continues after the three component members it inherits, and
      // Identifier is its own, not the component's.
      VMK_SLOT(IIviDriverIdentity, get_Description, 3),
      VMK_SLOT(IIviDriverIdentity, get_Vendor, 5),
      VMK_SLOT(IIviDriverIdentity, get_InstrumentManufacturer, 6),
      VMK_SLOT(IIviDriverIdentity, get_Identifier, 9),
      VMK_SLOT(IIviDriverIdentity, get_SpecificationMinorVersion, 12),
      VMK_SLOT(IIviDriverIdentity, get_GroupCapabilities, 13),

      VMK_SLOT(IIviDriverUtility, SelfTest, 6),
      VMK_SLOT(IIviDriverUtility, ErrorQuery, 7),
      VMK_SLOT(IIviDriverUtility, LockObject, 8),
      VMK_SLOT(IIviDriverUtility, UnlockObject, 9),

      VMK_SLOT(IIviDCPwr, Initialize, 6),
      VMK_SLOT(IIviDCPwr, get_Outputs, 9),
      VMK_SLOT(IIviDCPwr, get_Trigger, 10),

      // Item, Count, Name: not the Count-first order of the collection conventions.
      VMK_SLOT(IIviDCPwrOutputs, get_Item, 3),
      VMK_SLOT(IIviDCPwrOutputs, get_Count, 4),
      VMK_SLOT(IIviDCPwrOutputs, get_Name, 5),

      // Methods first, then properties with put before get.
      VMK_SLOT(IIviDCPwrOutput, ConfigureCurrentLimit, 3),
      VMK_SLOT(IIviDCPwrOutput, Measure, 6),
      VMK_SLOT(IIviDCPwrOutput, ResetOutputProtection, 10),
      VMK_SLOT(IIviDCPwrOutput, put_Enabled, 11),
      VMK_SLOT(IIviDCPwrOutput, get_Enabled, 12),
      VMK_SLOT(IIviDCPwrOutput, put_TriggerSource, 13),
      VMK_SLOT(IIviDCPwrOutput, put_VoltageLevel, 19),
      VMK_SLOT(IIviDCPwrOutput, get_VoltageLevel, 20),
      VMK_SLOT(IIviDCPwrOutput, put_OVPEnabled, 27),
      VMK_SLOT(IIviDCPwrOutput, get_OVPEnabled, 28),

      VMK_SLOT(IIviDCPwrTrigger, Abort, 3),
      VMK_SLOT(IIviDCPwrTrigger, SendSoftwareTrigger, 5),
  });
}

template <class... I>
constexpr bool AllComShaped() {
  // One vtable pointer and nothing else, and no destructor slots COM does not have.
  return ((std::is_polymorphic_v<I> && std::is_abstract_v<I> && !std::has_virtual_destructor_v<I> &&
           sizeof(I) == sizeof(void*)) &&
          ...);
}
static_assert(AllComShaped<IIviDriver, IIviDriverOperation, IIviComponentIdentity,
                           IIviDriverIdentity, IIviDriverUtility, IIviDCPwr, IIviDCPwrOutputs,
                           IIviDCPwrOutput, IIviDCPwrTrigger>());
static_assert(std::is_base_of_v<IIviComponentIdentity, IIviDriverIdentity>);
static_assert(std::is_base_of_v<IIviDriver, IIviDCPwr>);

template <class... E>
constexpr bool AllThirtyTwoBit() {
  return (std::is_same_v<std::underlying_type_t<E>, int32_t> && ...);
}
static_assert(
    AllThirtyTwoBit<IviDCPwrCurrentLimitBehaviorEnum, IviDCPwrMeasurementTypeEnum,
                    IviDCPwrRangeTypeEnum, IviDCPwrTriggerSourceEnum, IviDCPwrOutputStateEnum>());

}  // namespace
