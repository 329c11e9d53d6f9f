#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

#include "platform/com/com_ptr.h"
#include "vmk40xx/com.h"

namespace vmk::com {
namespace {

double Round(double value, int decimals) {
  double out = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(VarR8Round(value, decimals, &out), S_OK);
  return out;
}

TEST(VarR8Round, HalvesGoToEven) {
  EXPECT_EQ(Round(0.5, 0), 0.0);
  EXPECT_EQ(Round(1.5, 0), 2.0);
  EXPECT_EQ(Round(2.5, 0), 2.0);
  EXPECT_EQ(Round(3.5, 0), 4.0);
  EXPECT_EQ(Round(-0.5, 0), 0.0);
  EXPECT_EQ(Round(-1.5, 0), -2.0);
  EXPECT_EQ(Round(-2.5, 0), -2.0);
  EXPECT_EQ(Round(0.125, 2), 0.12);  // exactly half-way in binary too
  EXPECT_EQ(Round(0.375, 2), 0.38);
  EXPECT_EQ(Round(-0.375, 2), -0.38);
}

TEST(VarR8Round, NotHalfwayRoundsToNearest) {
  EXPECT_EQ(Round(2.4999, 0), 2.0);
  EXPECT_EQ(Round(2.5001, 0), 3.0);
  EXPECT_EQ(Round(-2.5001, 0), -3.0);
  EXPECT_EQ(Round(1.23456, 3), 1.235);
  EXPECT_EQ(Round(-1.23449, 3), -1.234);
  EXPECT_EQ(Round(12.0, 2), 12.0);
  // The tie is judged after scaling: 2.675 is stored below 2.675, 267.5 after scaling is exact.
  EXPECT_EQ(Round(2.675, 2), 2.68);
  EXPECT_EQ(Round(2.665, 2), 2.66);
}

TEST(VarR8Round, LargeAndSpecialValuesPassThrough) {
  EXPECT_EQ(Round(1e300, 5), 1e300);
  EXPECT_EQ(Round(123.456, 400), 123.456);
  EXPECT_EQ(Round(9007199254740993.0, 0), 9007199254740993.0);
  EXPECT_TRUE(std::isinf(Round(std::numeric_limits<double>::infinity(), 2)));
  EXPECT_TRUE(std::isnan(Round(std::numeric_limits<double>::quiet_NaN(), 2)));
}

TEST(VarR8Round, RefusesNegativeDecimalsAndNullResult) {
  double out = 7;
  EXPECT_EQ(VarR8Round(15.0, -1, &out), E_INVALIDARG);
  EXPECT_EQ(out, 7);
  EXPECT_EQ(VarR8Round(1.0, 0, nullptr), E_INVALIDARG);
}

TEST(VarBstrCmp, OrdersAndEquals) {
  Bstr a("K4301A"), b("K4302A"), a2("K4301A"), prefix("K430");
  EXPECT_EQ(VarBstrCmp(a.get(), a2.get(), 0, 0), VARCMP_EQ);
  EXPECT_EQ(VarBstrCmp(a.get(), b.get(), 0, 0), VARCMP_LT);
  EXPECT_EQ(VarBstrCmp(b.get(), a.get(), 0, 0), VARCMP_GT);
  EXPECT_EQ(VarBstrCmp(prefix.get(), a.get(), 0, 0), VARCMP_LT);
  EXPECT_EQ(VarBstrCmp(a.get(), prefix.get(), 0, 0), VARCMP_GT);
}

TEST(VarBstrCmp, NullAndEmptyAreEqual) {
  Bstr empty("");
  Bstr text("x");
  EXPECT_EQ(VarBstrCmp(nullptr, nullptr, 0, 0), VARCMP_EQ);
  EXPECT_EQ(VarBstrCmp(nullptr, empty.get(), 0, 0), VARCMP_EQ);
  EXPECT_EQ(VarBstrCmp(empty.get(), nullptr, 0, 0), VARCMP_EQ);
  EXPECT_EQ(VarBstrCmp(nullptr, text.get(), 0, 0), VARCMP_LT);
  EXPECT_EQ(VarBstrCmp(text.get(), nullptr, 0, 0), VARCMP_GT);
}

TEST(VarBstrCmp, IgnoreCaseFoldsBeyondAscii) {
  Bstr upper("SIMULATE"), lower("simulate"), mixed("SiMuLaTe");
  EXPECT_NE(VarBstrCmp(upper.get(), lower.get(), 0, 0), VARCMP_EQ);
  EXPECT_EQ(VarBstrCmp(upper.get(), lower.get(), 0, NORM_IGNORECASE), VARCMP_EQ);
  EXPECT_EQ(VarBstrCmp(mixed.get(), lower.get(), 0, NORM_IGNORECASE), VARCMP_EQ);
  Bstr e_acute_upper("ÉTAT Ω"), e_acute_lower("état ω");
  EXPECT_EQ(VarBstrCmp(e_acute_upper.get(), e_acute_lower.get(), 0, NORM_IGNORECASE), VARCMP_EQ);
  Bstr cyr_upper("ВЫХОД"), cyr_lower("выход");
  EXPECT_EQ(VarBstrCmp(cyr_upper.get(), cyr_lower.get(), 0, NORM_IGNORECASE), VARCMP_EQ);
  Bstr ext_upper("ŁÓDŹ"), ext_lower("łódź");
  EXPECT_EQ(VarBstrCmp(ext_upper.get(), ext_lower.get(), 0, NORM_IGNORECASE), VARCMP_EQ);
  // Folding must not make different letters equal, nor change the order of the rest.
  Bstr a("a"), B("B");
  EXPECT_EQ(VarBstrCmp(a.get(), B.get(), 0, NORM_IGNORECASE), VARCMP_LT);
  Bstr x("×"), multiply_lower("÷");  // U+00D7 and U+00F7 are not a case pair
  EXPECT_NE(VarBstrCmp(x.get(), multiply_lower.get(), 0, NORM_IGNORECASE), VARCMP_EQ);
}

TEST(VarBstrCmp, EmbeddedNulsAndAstralOrder) {
  BSTR a = SysAllocStringLen(u"a\0b", 3);
  BSTR b = SysAllocStringLen(u"a\0c", 3);
  EXPECT_EQ(VarBstrCmp(a, b, 0, 0), VARCMP_LT);
  SysFreeString(a);
  SysFreeString(b);
  // U+1F50C (surrogates D83D DD0C) is above U+FFFD in code point order.
  Bstr astral("\U0001F50C"), bmp("\uFFFD");
  EXPECT_EQ(VarBstrCmp(astral.get(), bmp.get(), 0, 0), VARCMP_GT);
}

TEST(CoInitializeEx, CountsPerThreadAndRefusesAnotherModel) {
  std::thread([] {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    // Fully uninitialised: a new model may be chosen.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    CoUninitialize();
    CoUninitialize();  // one too many is harmless
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
  }).join();
}

TEST(CoInitializeEx, ThreadsAreIndependent) {
  std::thread([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    std::thread([] {
      EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
      CoUninitialize();
    }).join();
    CoUninitialize();
  }).join();
}

TEST(CoInitializeEx, ReservedMustBeNull) {
  int reserved = 0;
  EXPECT_EQ(CoInitializeEx(&reserved, COINIT_MULTITHREADED), E_INVALIDARG);
}

}  // namespace
}  // namespace vmk::com
