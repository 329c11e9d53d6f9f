#include <gtest/gtest.h>

#include <string>

#include "counting_unknown.h"
#include "vmk40xx/com.h"

namespace vmk::com {
namespace {

using testing::CountingUnknown;

std::u16string Text(BSTR b) {
  return std::u16string(b, SysStringLen(b));
}

VARIANT Make(VARTYPE vt) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  return v;
}

TEST(Variant, InitIsEmpty) {
  VARIANT v;
  v.vt = VT_R8;
  v.dblVal = 1.0;
  VariantInit(&v);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(VariantClear(&v), S_OK);
}

TEST(Variant, ClearFreesBstr) {
  VARIANT v = Make(VT_BSTR);
  v.bstrVal = SysAllocString(u"leaks if not freed");  // LeakSanitizer would report it
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);
}

TEST(Variant, ClearReleasesInterface) {
  CountingUnknown unk;
  VARIANT v = Make(VT_UNKNOWN);
  unk.AddRef();
  v.punkVal = &unk;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(unk.refs, 1u);
  EXPECT_EQ(v.vt, VT_EMPTY);
}

TEST(Variant, ClearDestroysArrayAndItsInterfaces) {
  CountingUnknown unk;
  SAFEARRAY* sa = SafeArrayCreateVector(VT_UNKNOWN, 0, 2);
  LONG i = 1;
  ASSERT_EQ(SafeArrayPutElement(sa, &i, &unk), S_OK);
  EXPECT_EQ(unk.refs, 2u);
  VARIANT v = Make(VT_ARRAY | VT_UNKNOWN);
  v.parray = sa;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(unk.refs, 1u);
}

TEST(Variant, ClearOfLockedArrayFailsAndKeepsIt) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_R8, 0, 3);
  void* data;
  ASSERT_EQ(SafeArrayAccessData(sa, &data), S_OK);
  VARIANT v = Make(VT_ARRAY | VT_R8);
  v.parray = sa;
  EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(v.vt, VT_ARRAY | VT_R8);
  EXPECT_EQ(v.parray, sa);
  ASSERT_EQ(SafeArrayUnaccessData(sa), S_OK);
  EXPECT_EQ(VariantClear(&v), S_OK);
}

TEST(Variant, ClearLeavesByRefTargetsAlone) {
  CountingUnknown unk;
  IUnknown* p = &unk;
  BSTR s = SysAllocString(u"owned by the caller");
  SAFEARRAY* sa = SafeArrayCreateVector(VT_I4, 0, 1);

  VARIANT v = Make(VT_BYREF | VT_UNKNOWN);
  v.ppunkVal = &p;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(unk.refs, 1u);

  v = Make(VT_BYREF | VT_BSTR);
  v.pbstrVal = &s;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(Text(s), u"owned by the caller");

  v = Make(VT_BYREF | VT_ARRAY | VT_I4);
  v.pparray = &sa;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(SafeArrayGetDim(sa), 1u);

  SysFreeString(s);
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
}

TEST(Variant, UnsupportedTypesAreRefused) {
  for (VARTYPE vt :
       {VARTYPE(6) /*CY*/, VARTYPE(7) /*DATE*/, VARTYPE(9) /*DISPATCH*/, VARTYPE(14) /*DECIMAL*/,
        VARTYPE(15), VARTYPE(VT_VARIANT), VARTYPE(VT_BYREF | VT_EMPTY), VARTYPE(VT_ARRAY | VT_NULL),
        VARTYPE(0x1000 | VT_I4) /*VECTOR*/, VARTYPE(0x8000 | VT_I4)}) {
    VARIANT v = Make(vt);
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE) << vt;
    EXPECT_EQ(v.vt, vt);
    VARIANT d = Make(VT_EMPTY);
    EXPECT_EQ(VariantCopy(&d, &v), DISP_E_BADVARTYPE) << vt;
    EXPECT_EQ(d.vt, VT_EMPTY);
  }
}

TEST(Variant, CopyOfScalarsKeepsTypeAndValue) {
  VARIANT src = Make(VT_I8);
  src.llVal = -1234567890123LL;
  VARIANT dst = Make(VT_EMPTY);
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_EQ(dst.vt, VT_I8);
  EXPECT_EQ(dst.llVal, -1234567890123LL);

  src = Make(VT_BOOL);
  src.boolVal = VARIANT_TRUE;
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_EQ(dst.vt, VT_BOOL);
  EXPECT_EQ(dst.boolVal, VARIANT_TRUE);
}

TEST(Variant, CopyOfBstrIsDeepAndIndependent) {
  VARIANT src = Make(VT_BSTR);
  const OLECHAR text[] = {u'1', 0, u'2'};
  src.bstrVal = SysAllocStringLen(text, 3);
  VARIANT dst = Make(VT_EMPTY);
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  ASSERT_EQ(dst.vt, VT_BSTR);
  EXPECT_NE(dst.bstrVal, src.bstrVal);
  EXPECT_EQ(Text(dst.bstrVal), std::u16string(text, 3));
  src.bstrVal[0] = u'9';
  EXPECT_EQ(dst.bstrVal[0], u'1');
  EXPECT_EQ(VariantClear(&src), S_OK);
  EXPECT_EQ(Text(dst.bstrVal), std::u16string(text, 3));
  EXPECT_EQ(VariantClear(&dst), S_OK);
}

TEST(Variant, CopyOfNullBstrStaysNull) {
  VARIANT src = Make(VT_BSTR);
  VARIANT dst = Make(VT_EMPTY);
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_EQ(dst.vt, VT_BSTR);
  EXPECT_EQ(dst.bstrVal, nullptr);
}

TEST(Variant, CopyClearsTheDestinationFirst) {
  CountingUnknown unk;
  unk.AddRef();
  VARIANT dst = Make(VT_UNKNOWN);
  dst.punkVal = &unk;
  VARIANT src = Make(VT_I4);
  src.lVal = 7;
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_EQ(unk.refs, 1u);
  EXPECT_EQ(dst.vt, VT_I4);
  EXPECT_EQ(dst.lVal, 7);

  dst = Make(VT_BSTR);
  dst.bstrVal = SysAllocString(u"overwritten, and freed");
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_EQ(dst.vt, VT_I4);
}

TEST(Variant, CopyIntoAnInvalidDestinationFails) {
  VARIANT dst = Make(VARTYPE(9));
  VARIANT src = Make(VT_BSTR);
  src.bstrVal = SysAllocString(u"x");
  EXPECT_EQ(VariantCopy(&dst, &src), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantClear(&src), S_OK);
}

TEST(Variant, CopyOfInterfaceAddsAReference) {
  CountingUnknown unk;
  VARIANT src = Make(VT_UNKNOWN);
  src.punkVal = &unk;
  unk.AddRef();
  VARIANT dst = Make(VT_EMPTY);
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_EQ(dst.punkVal, &unk);
  EXPECT_EQ(unk.refs, 3u);
  VariantClear(&dst);
  VariantClear(&src);
  EXPECT_EQ(unk.refs, 1u);
}

TEST(Variant, CopyOfArrayIsDeep) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_BSTR, 1, 2);
  LONG i = 2;
  BSTR s = SysAllocString(u"CH2");
  ASSERT_EQ(SafeArrayPutElement(sa, &i, s), S_OK);
  SysFreeString(s);
  VARIANT src = Make(VT_ARRAY | VT_BSTR);
  src.parray = sa;
  VARIANT dst = Make(VT_EMPTY);
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  ASSERT_NE(dst.parray, sa);
  EXPECT_EQ(VariantClear(&src), S_OK);

  BSTR got = nullptr;
  ASSERT_EQ(SafeArrayGetElement(dst.parray, &i, &got), S_OK);
  EXPECT_EQ(Text(got), u"CH2");
  SysFreeString(got);
  LONG lb = 0;
  EXPECT_EQ(SafeArrayGetLBound(dst.parray, 1, &lb), S_OK);
  EXPECT_EQ(lb, 1);
  EXPECT_EQ(VariantClear(&dst), S_OK);
}

TEST(Variant, CopyOfByRefCopiesThePointerOnly) {
  double value = 2.5;
  VARIANT src = Make(VT_BYREF | VT_R8);
  src.pdblVal = &value;
  VARIANT dst = Make(VT_EMPTY);
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_EQ(dst.vt, VT_BYREF | VT_R8);
  EXPECT_EQ(dst.pdblVal, &value);

  BSTR s = SysAllocString(u"caller's");
  src = Make(VT_BYREF | VT_BSTR);
  src.pbstrVal = &s;
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_EQ(dst.pbstrVal, &s);
  EXPECT_EQ(VariantClear(&dst), S_OK);
  SysFreeString(s);

  VARIANT inner = Make(VT_I2);
  inner.iVal = 3;
  src = Make(VT_BYREF | VT_VARIANT);
  src.pvarVal = &inner;
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_EQ(dst.pvarVal, &inner);
}

TEST(Variant, CopyOntoItselfIsHarmless) {
  VARIANT v = Make(VT_BSTR);
  v.bstrVal = SysAllocString(u"same");
  EXPECT_EQ(VariantCopy(&v, &v), S_OK);
  EXPECT_EQ(Text(v.bstrVal), u"same");
  VariantClear(&v);
}

TEST(Variant, NullArguments) {
  VARIANT v = Make(VT_EMPTY);
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
  EXPECT_EQ(VariantCopy(nullptr, &v), E_INVALIDARG);
  EXPECT_EQ(VariantCopy(&v, nullptr), E_INVALIDARG);
}

}  // namespace
}  // namespace vmk::com
