#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "counting_unknown.h"
#include "vmk40xx/com.h"

namespace vmk::com {
namespace {

using testing::CountingUnknown;

std::u16string Text(BSTR b) {
  return std::u16string(b, SysStringLen(b));
}

TEST(SafeArray, VectorShapeAndElementSizes) {
  struct Case {
    VARTYPE vt;
    UINT size;
  };
  for (Case c :
       {Case{VT_I2, 2}, Case{VT_I4, 4}, Case{VT_R4, 4}, Case{VT_R8, 8}, Case{VT_BSTR, sizeof(BSTR)},
        Case{VT_BOOL, 2}, Case{VT_VARIANT, sizeof(VARIANT)}, Case{VT_UNKNOWN, sizeof(IUnknown*)},
        Case{VT_UI1, 1}, Case{VT_I8, 8}, Case{VT_ERROR, 4}, Case{VT_UI4, 4}}) {
    SAFEARRAY* sa = SafeArrayCreateVector(c.vt, 0, 3);
    ASSERT_NE(sa, nullptr) << c.vt;
    EXPECT_EQ(SafeArrayGetDim(sa), 1u);
    EXPECT_EQ(SafeArrayGetElemsize(sa), c.size) << c.vt;
    VARTYPE vt = 0;
    EXPECT_EQ(SafeArrayGetVartype(sa, &vt), S_OK);
    EXPECT_EQ(vt, c.vt);
    EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
  }
}

TEST(SafeArray, TypesThatCannotBeElementsAreRefused) {
  EXPECT_EQ(SafeArrayCreateVector(VT_EMPTY, 0, 1), nullptr);
  EXPECT_EQ(SafeArrayCreateVector(VT_NULL, 0, 1), nullptr);
  EXPECT_EQ(SafeArrayCreateVector(VARTYPE(VT_ARRAY | VT_I4), 0, 1), nullptr);
  EXPECT_EQ(SafeArrayCreateVector(VARTYPE(7), 0, 1), nullptr);
}

TEST(SafeArray, SizesThatOverflowAreRefused) {
  EXPECT_EQ(SafeArrayCreateVector(VT_VARIANT, 0, 0xFFFFFFFFu), nullptr);
  EXPECT_EQ(SafeArrayCreateVector(VT_R8, 0, 0x10000000u), nullptr);  // 2 GiB of data
  EXPECT_EQ(SafeArrayCreateVector(VT_I4, INT32_MAX, 2), nullptr);    // upper bound past LONG
  SAFEARRAY* last = SafeArrayCreateVector(VT_I4, INT32_MAX, 1);
  ASSERT_NE(last, nullptr);
  LONG ub = 0;
  EXPECT_EQ(SafeArrayGetUBound(last, 1, &ub), S_OK);
  EXPECT_EQ(ub, INT32_MAX);
  EXPECT_EQ(SafeArrayDestroy(last), S_OK);
}

TEST(SafeArray, BoundsFollowTheLowerBound) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_I4, -2, 5);
  LONG lb = 0, ub = 0;
  EXPECT_EQ(SafeArrayGetLBound(sa, 1, &lb), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(sa, 1, &ub), S_OK);
  EXPECT_EQ(lb, -2);
  EXPECT_EQ(ub, 2);
  EXPECT_EQ(SafeArrayGetLBound(sa, 0, &lb), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(sa, 2, &ub), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetLBound(nullptr, 1, &lb), E_INVALIDARG);
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
}

TEST(SafeArray, EmptyArrayHasUpperBoundBelowLower) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_R8, 1, 0);
  ASSERT_NE(sa, nullptr);
  LONG ub = 99;
  EXPECT_EQ(SafeArrayGetUBound(sa, 1, &ub), S_OK);
  EXPECT_EQ(ub, 0);
  LONG i = 1;
  double d = 0;
  EXPECT_EQ(SafeArrayGetElement(sa, &i, &d), DISP_E_BADINDEX);
  void* data = nullptr;
  EXPECT_EQ(SafeArrayAccessData(sa, &data), S_OK);
  EXPECT_NE(data, nullptr);
  EXPECT_EQ(SafeArrayUnaccessData(sa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
}

TEST(SafeArray, ElementsAreBoundsChecked) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_R8, 1, 3);
  for (LONG i = 1; i <= 3; ++i) {
    double d = i * 1.5;
    EXPECT_EQ(SafeArrayPutElement(sa, &i, &d), S_OK);
  }
  for (LONG bad : {LONG(0), LONG(4), LONG(-1), LONG(INT32_MIN), LONG(INT32_MAX)}) {
    double d = 9;
    EXPECT_EQ(SafeArrayPutElement(sa, &bad, &d), DISP_E_BADINDEX) << bad;
    EXPECT_EQ(SafeArrayGetElement(sa, &bad, &d), DISP_E_BADINDEX) << bad;
    EXPECT_EQ(d, 9);
  }
  double* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(sa, reinterpret_cast<void**>(&data)), S_OK);
  EXPECT_EQ(data[0], 1.5);
  EXPECT_EQ(data[2], 4.5);
  EXPECT_EQ(SafeArrayUnaccessData(sa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
}

TEST(SafeArray, NullArguments) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_I4, 0, 1);
  LONG i = 0;
  LONG v = 0;
  EXPECT_EQ(SafeArrayGetElement(nullptr, &i, &v), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetElement(sa, nullptr, &v), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetElement(sa, &i, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayPutElement(sa, &i, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayAccessData(sa, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetVartype(sa, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
  EXPECT_EQ(SafeArrayGetElemsize(nullptr), 0u);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
  SAFEARRAY* out = sa;
  EXPECT_EQ(SafeArrayCopy(nullptr, &out), S_OK);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(SafeArrayCopy(sa, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
}

TEST(SafeArray, BstrElementsAreCopiedInAndOut) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_BSTR, 0, 2);
  LONG i = 0;
  BSTR in = SysAllocString(u"K4302B");
  ASSERT_EQ(SafeArrayPutElement(sa, &i, in), S_OK);
  in[0] = u'X';  // the array holds its own copy
  SysFreeString(in);

  // Replacing an element frees the old one (LeakSanitizer checks).
  BSTR again = SysAllocString(u"K4303C");
  ASSERT_EQ(SafeArrayPutElement(sa, &i, again), S_OK);
  SysFreeString(again);

  BSTR out = nullptr;
  ASSERT_EQ(SafeArrayGetElement(sa, &i, &out), S_OK);
  EXPECT_EQ(Text(out), u"K4303C");
  out[0] = u'Z';
  SysFreeString(out);
  ASSERT_EQ(SafeArrayGetElement(sa, &i, &out), S_OK);
  EXPECT_EQ(Text(out), u"K4303C");
  SysFreeString(out);

  // An untouched element is a null BSTR, and a null BSTR may be put.
  i = 1;
  ASSERT_EQ(SafeArrayGetElement(sa, &i, &out), S_OK);
  EXPECT_EQ(out, nullptr);
  i = 0;
  EXPECT_EQ(SafeArrayPutElement(sa, &i, nullptr), S_OK);
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
}

TEST(SafeArray, InterfaceElementsHoldTheirOwnReference) {
  CountingUnknown a, b;
  SAFEARRAY* sa = SafeArrayCreateVector(VT_UNKNOWN, 0, 2);
  LONG i = 0;
  ASSERT_EQ(SafeArrayPutElement(sa, &i, &a), S_OK);
  EXPECT_EQ(a.refs, 2u);
  ASSERT_EQ(SafeArrayPutElement(sa, &i, &b), S_OK);  // replaces a
  EXPECT_EQ(a.refs, 1u);
  EXPECT_EQ(b.refs, 2u);
  IUnknown* got = nullptr;
  ASSERT_EQ(SafeArrayGetElement(sa, &i, &got), S_OK);
  EXPECT_EQ(got, &b);
  EXPECT_EQ(b.refs, 3u);
  got->Release();
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
  EXPECT_EQ(b.refs, 1u);
}

TEST(SafeArray, VariantElementsAreDeepCopies) {
  CountingUnknown unk;
  SAFEARRAY* sa = SafeArrayCreateVector(VT_VARIANT, 0, 3);
  LONG i = 0;
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"12.5");
  ASSERT_EQ(SafeArrayPutElement(sa, &i, &v), S_OK);
  VariantClear(&v);
  i = 1;
  v.vt = VT_UNKNOWN;
  v.punkVal = &unk;
  ASSERT_EQ(SafeArrayPutElement(sa, &i, &v), S_OK);
  EXPECT_EQ(unk.refs, 2u);

  // GetElement treats the destination as uninitialised: no clear of what is there.
  VARIANT out;
  out.vt = 0xFFFF;
  i = 0;
  ASSERT_EQ(SafeArrayGetElement(sa, &i, &out), S_OK);
  ASSERT_EQ(out.vt, VT_BSTR);
  EXPECT_EQ(Text(out.bstrVal), u"12.5");
  VariantClear(&out);

  i = 2;
  ASSERT_EQ(SafeArrayGetElement(sa, &i, &out), S_OK);
  EXPECT_EQ(out.vt, VT_EMPTY);

  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(sa, &copy), S_OK);
  EXPECT_EQ(unk.refs, 3u);
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
  EXPECT_EQ(unk.refs, 2u);
  i = 0;
  ASSERT_EQ(SafeArrayGetElement(copy, &i, &out), S_OK);
  EXPECT_EQ(Text(out.bstrVal), u"12.5");
  VariantClear(&out);
  EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
  EXPECT_EQ(unk.refs, 1u);
}

TEST(SafeArray, CopyIsIndependent) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_I2, 5, 2);
  LONG i = 6;
  SHORT s = 42;
  ASSERT_EQ(SafeArrayPutElement(sa, &i, &s), S_OK);
  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(sa, &copy), S_OK);
  s = -1;
  ASSERT_EQ(SafeArrayPutElement(sa, &i, &s), S_OK);
  SHORT got = 0;
  ASSERT_EQ(SafeArrayGetElement(copy, &i, &got), S_OK);
  EXPECT_EQ(got, 42);
  VARTYPE vt = 0;
  EXPECT_EQ(SafeArrayGetVartype(copy, &vt), S_OK);
  EXPECT_EQ(vt, VT_I2);
  EXPECT_EQ(copy->cLocks, 0u);
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
}

TEST(SafeArray, LockedArrayCannotBeDestroyed) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_BSTR, 0, 1);
  void* d1 = nullptr;
  void* d2 = nullptr;
  ASSERT_EQ(SafeArrayAccessData(sa, &d1), S_OK);
  ASSERT_EQ(SafeArrayAccessData(sa, &d2), S_OK);
  EXPECT_EQ(d1, d2);
  EXPECT_EQ(sa->cLocks, 2u);
  EXPECT_EQ(SafeArrayDestroy(sa), DISP_E_ARRAYISLOCKED);
  // Elements can still be written while the data is accessed.
  LONG i = 0;
  BSTR s = SysAllocString(u"kept");
  EXPECT_EQ(SafeArrayPutElement(sa, &i, s), S_OK);
  SysFreeString(s);
  EXPECT_EQ(SafeArrayUnaccessData(sa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(sa), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnaccessData(sa), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(sa), E_UNEXPECTED);
  EXPECT_EQ(sa->cLocks, 0u);
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
}

TEST(SafeArray, LockCountIsBounded) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_UI1, 0, 1);
  void* d = nullptr;
  ULONG taken = 0;
  while (SafeArrayAccessData(sa, &d) == S_OK) ++taken;
  EXPECT_EQ(taken, 0xFFFFu);
  EXPECT_EQ(SafeArrayAccessData(sa, &d), E_UNEXPECTED);
  LONG i = 0;
  BYTE b = 1;
  EXPECT_EQ(SafeArrayPutElement(sa, &i, &b), E_UNEXPECTED);
  while (taken--) ASSERT_EQ(SafeArrayUnaccessData(sa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
}

}  // namespace
}  // namespace vmk::com
