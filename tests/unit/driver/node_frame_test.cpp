// The method entry frame on a node of the tests' own, with descriptors of the tests' own: what
// follows from a descriptor alone, whatever driver declares it.
#include <gtest/gtest.h>

#include <string>

#include "driver/node.h"
#include "platform/com/com_ptr.h"
#include "tests/support/client.h"

namespace vmk {
namespace {

using com::Bstr;
using test::TakeError;

class TestNode final : public CNode {
 public:
  TestNode() : CNode("TestClass", "TestNode") {
    state_ = &session;
    lock_ = std::make_shared<com::CriticalSection>();
    session.initialized = true;
    session.flags.simulate = true;
    session.modelBit = 0b01;
  }
  ~TestNode() override = default;
  SessionState session;
};

constexpr Interface kItf{&IID_IUnknown, "ITest", kPowerSupply};
constexpr Property Level =
    kItf.Prop("Level", Double, {.get = "LEV?", .put = "LEV %.15g", .sim = 20.0});
constexpr Property Banner = kItf.Prop("Banner", String, {.sim = u"FACTORY CAL"});
constexpr Property Text = kItf.Prop("Text", String);
constexpr Property Register = kItf.Prop("Register", Long, {.sim = 0.0, .fixed = true});
constexpr Property On = kItf.Prop("On", Bool, {.sim = VARIANT_TRUE, .models = 0b10});
constexpr Member Go =
    kItf.Method("Go", {In("Speed", Double), Out("val", Long)}, {.command = "GO %.15g"});

template <class T>
HRESULT Read(TestNode& n, const Property& p, T* v) {
  return n.Get(p, v, [] { return E_FAIL; });
}
template <class T>
HRESULT Write(TestNode& n, const Property& p, T v) {
  return n.Put(p, v, NoCheck, [] { return E_FAIL; });
}

TEST(NodeFrame, ASimulatedPropertyReadsItsDefaultUntilWrittenAndAgainAfterInvalidation) {
  TestNode node, other;
  double v = 0;
  ASSERT_EQ(Read(node, Level, &v), S_OK);
  EXPECT_EQ(v, 20.0);
  ASSERT_EQ(Write(node, Level, 2.5), S_OK);
  ASSERT_EQ(Read(node, Level, &v), S_OK);
  EXPECT_EQ(v, 2.5);
  // Each node keeps its own values.
  ASSERT_EQ(Read(other, Level, &v), S_OK);
  EXPECT_EQ(v, 20.0);
  node.InvalidateAll();
  ASSERT_EQ(Read(node, Level, &v), S_OK);
  EXPECT_EQ(v, 20.0);
  // Reads alone make no entry.
  EXPECT_EQ(other.Cache().Size(), 0u);
}

TEST(NodeFrame, SimulatedStringsAreNeverNullAndAlwaysTheCallersOwnCopy) {
  TestNode node;
  Bstr text, banner, again;
  ASSERT_EQ(Read(node, Text, text.put()), S_OK);
  ASSERT_NE(text.get(), nullptr);
  EXPECT_EQ(text.utf8(), "");
  ASSERT_EQ(Read(node, Banner, banner.put()), S_OK);
  ASSERT_EQ(Read(node, Banner, again.put()), S_OK);
  EXPECT_EQ(again.utf8(), "FACTORY CAL");
  EXPECT_NE(banner.get(), again.get());
  ASSERT_EQ(Write(node, Text, Bstr("HELLO").get()), S_OK);
  Bstr hello;
  ASSERT_EQ(Read(node, Text, hello.put()), S_OK);
  EXPECT_EQ(hello.utf8(), "HELLO");
}

TEST(NodeFrame, AFixedPropertyIgnoresWhatIsWrittenAndAWrongTypeReadsNoZero) {
  TestNode node;
  ASSERT_EQ(Write(node, Register, LONG{56}), S_OK);
  LONG r = 7;
  ASSERT_EQ(Read(node, Register, &r), S_OK);
  EXPECT_EQ(r, 0);
  // A descriptor of another type than the member's fails instead of reading a plausible value.
  LONG wrong = 3;
  EXPECT_EQ(node.LoadSimulated(Level, &wrong), E_UNEXPECTED);
  EXPECT_EQ(wrong, 3);
  EXPECT_EQ(node.StoreSimulated(Level, LONG{1}), E_UNEXPECTED);
  EXPECT_EQ(node.Cache().Size(), 0u);
}

TEST(NodeFrame, ChecksComeInOrderAndNameTheMemberAndItsParameter) {
  TestNode node;
  VARIANT_BOOL b = VARIANT_FALSE;
  // Only the models of the descriptor's set have the member.
  EXPECT_EQ(Read(node, On, &b), E_VELMORAK40XX_MODEL_NOT_SUPPORTED);
  EXPECT_EQ(TakeError(), "VelmoraK40xx: Instrument model does not support this feature: get_On.");
  EXPECT_EQ(Write(node, On, VARIANT_FALSE), E_VELMORAK40XX_MODEL_NOT_SUPPORTED);
  EXPECT_NE(TakeError().find("put_On"), std::string::npos);
  node.session.modelBit = 0b10;
  EXPECT_EQ(Read(node, On, &b), S_OK);
  EXPECT_EQ(b, VARIANT_TRUE);
  // An unknown model has no bit: members of every model still work on it.
  node.session.modelBit = 0;
  double v = 0;
  EXPECT_EQ(Read(node, Level, &v), S_OK);

  auto go = [&](LONG* result) {
    return node.Act(Go, With(2.5, result), NoCheck, [] { return S_OK; });
  };
  EXPECT_EQ(go(nullptr), E_IVI_NULL_POINTER);
  EXPECT_NE(TakeError().find("method Go, parameter val"), std::string::npos);
  // A closed session is refused before its pointers are looked at.
  node.session.initialized = false;
  EXPECT_EQ(go(nullptr), E_IVI_NOT_INITIALIZED);
  TakeError();
}

TEST(NodeFrame, ThePreparedCommandIsTheNodesCurrentCommandForTheBodyOnly) {
  TestNode node;
  node.session.flags.simulate = false;
  std::string seen;
  LONG result = 0;
  EXPECT_EQ(node.Act(Go, With(2.5, &result), NoCheck,
                     [&] {
                       seen = node.IO().CurrentCommand();
                       return S_OK;
                     }),
            S_OK);
  EXPECT_EQ(seen, "GO 2.5");
  EXPECT_EQ(node.IO().CurrentCommand(), "");
  EXPECT_EQ(node.Put(Level, 0.125, NoCheck,
                     [&] {
                       seen = node.IO().CurrentCommand();
                       return S_OK;
                     }),
            S_OK);
  EXPECT_EQ(seen, "LEV 0.125");
  // A failed check stops the call before its command is used or a value stored.
  EXPECT_EQ(node.Put(
                Level, 9.0, [] { return E_INVALIDARG; }, [] { return S_OK; }),
            E_INVALIDARG);
}

}  // namespace
}  // namespace vmk
