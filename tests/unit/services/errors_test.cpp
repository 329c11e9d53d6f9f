#include "services/errors.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/com/com_ptr.h"
#include "vmk40xx/errors.h"

namespace vmk {
namespace {

struct Taken {
  bool present = false;
  std::string description;
  std::string source;
  GUID guid{};
};

// Takes the thread's error information off it, as a caller would.
Taken TakeErrorInfo() {
  Taken t;
  com::ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return t;
  t.present = true;
  com::Bstr d, s;
  info->GetDescription(d.put());
  info->GetSource(s.put());
  info->GetGUID(&t.guid);
  t.description = d.utf8();
  t.source = s.utf8();
  return t;
}

constexpr GUID kSomeInterface{0x12345678, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};

TEST(ErrorManager, ComposesInsertsWithoutTrailingLineBreak) {
  CErrorManager errors;
  errors.SetInterfaceId(&kSomeInterface);
  EXPECT_EQ(errors.ReportError(Msg::E_IVI_INVALID_VALUE, {"5000", "put_Delay", "val"}),
            E_IVI_INVALID_VALUE);
  Taken t = TakeErrorInfo();
  ASSERT_TRUE(t.present);
  EXPECT_EQ(t.description,
            "VelmoraK40xx: Invalid value (5000) for method put_Delay, parameter val.");
  EXPECT_EQ(t.source, "VelmoraK40xx.VelmoraK40xx.1");
  EXPECT_TRUE(t.guid == kSomeInterface);
}

TEST(ErrorManager, AppendedTextFollowsALineBreak) {
  CErrorManager errors;
  EXPECT_EQ(errors.ReportErrorWithText(Msg::E_IVI_ID_QUERY_FAILED, "Unrecognized model: X1."),
            E_IVI_ID_QUERY_FAILED);
  EXPECT_EQ(TakeErrorInfo().description,
            "VelmoraK40xx: Instrument ID query failed.\r\nUnrecognized model: X1.");
}

TEST(ErrorManager, KeepsTheExactTextsThatDifferInPunctuation) {
  CErrorManager errors;
  errors.ReportError(Msg::E_IVI_METHOD_NOT_SUPPORTED, {"LockObject"});
  EXPECT_EQ(TakeErrorInfo().description,
            "VelmoraK40xx: Does not support this class-compliant feature: method LockObject");
  errors.ReportError(Msg::E_IVI_INSTRUMENT_STATUS);
  EXPECT_EQ(TakeErrorInfo().description,
            "VelmoraK40xx: Instrument error detected.  Use ErrorQuery() to determine the "
            "error(s).");
  EXPECT_EQ(errors.ReportError(Msg::E_VELMORAK40XX_WRAPPED_DRIVER_ERROR, {"-1"}),
            HRESULT(0x80044218u));
  EXPECT_EQ(errors.ReportError(Msg::E_VELMORAK40XX_MAX_TIME_EXCEEDED), HRESULT(0x80044217u));
}

TEST(ErrorManager, WarningsAreSuccessCodesWithErrorInformation) {
  CErrorManager errors;
  HRESULT hr = errors.ReportError(Msg::S_IVI_NSUP_SELF_TEST);
  EXPECT_EQ(hr, HRESULT(0x00047067));
  EXPECT_TRUE(SUCCEEDED(hr));
  EXPECT_EQ(TakeErrorInfo().description,
            "VelmoraK40xx: Self test is not supported by this instrument.");
}

TEST(ErrorManager, SuccessMessageAndUnknownIdsAnswerDispException) {
  CErrorManager errors;
  EXPECT_EQ(errors.ReportError(Msg::S_IVI_SUCCESS), DISP_E_EXCEPTION);
  EXPECT_EQ(TakeErrorInfo().description, "VelmoraK40xx: Success.");

  EXPECT_EQ(errors.ReportErrorById(3), DISP_E_EXCEPTION);
  Taken t = TakeErrorInfo();
  EXPECT_EQ(t.description.rfind("Internal Error: Unable to retrieve and format error message "
                                "from message table.\nResource ID = 3\nLanguage ID = 0\nReason = '",
                                0),
            0u);
  EXPECT_TRUE(t.guid == GUID_NULL);
}

TEST(ErrorManager, InvalidValueFormatsEachType) {
  CErrorManager errors;
  errors.ReportInvalidValue("put_Enabled", "val", VARIANT_TRUE);
  EXPECT_EQ(TakeErrorInfo().description,
            "VelmoraK40xx: Invalid value (-1) for method put_Enabled, parameter val.");
  errors.ReportInvalidValue("m", "p", uint8_t{255});
  EXPECT_EQ(TakeErrorInfo().description,
            "VelmoraK40xx: Invalid value (255) for method m, parameter p.");
  errors.ReportInvalidValue("m", "p", 0.1);
  EXPECT_EQ(TakeErrorInfo().description,
            "VelmoraK40xx: Invalid value (0.1) for method m, parameter p.");
  errors.ReportInvalidValue("m", "p", 0.1f);  // widened: the float's own digits show
  EXPECT_EQ(TakeErrorInfo().description,
            "VelmoraK40xx: Invalid value (0.100000001490116) for method m, parameter p.");
  com::Bstr value(u"\u00e9t\u00e9");
  errors.ReportInvalidValue("m", "p", static_cast<const OLECHAR*>(value.get()));
  EXPECT_EQ(TakeErrorInfo().description,
            "VelmoraK40xx: Invalid value (\xc3\xa9t\xc3\xa9) for method m, parameter p.");
}

TEST(ErrorManager, IoErrorsCarryThePendingDescription) {
  CErrorManager errors;
  EXPECT_EQ(errors.ReportIoError(), E_VELMORAK40XX_IO_GENERAL);
  EXPECT_EQ(TakeErrorInfo().description, "VelmoraK40xx: IO error: .");

  SetComErrorInfo(GUID_NULL, "VISA", "Connection refused");
  EXPECT_EQ(errors.ReportIoTimeout(), E_VELMORAK40XX_IO_TIMEOUT);
  EXPECT_EQ(TakeErrorInfo().description, "VelmoraK40xx: IO timeout error: Connection refused.");
}

TEST(ErrorManager, ErrorInformationBelongsToItsThread) {
  CErrorManager errors;
  errors.ReportError(Msg::E_IVI_NOT_INITIALIZED);
  bool seenElsewhere = true;
  std::thread([&] { seenElsewhere = TakeErrorInfo().present; }).join();
  EXPECT_FALSE(seenElsewhere);
  EXPECT_TRUE(TakeErrorInfo().present);
  EXPECT_FALSE(TakeErrorInfo().present);  // handed over and cleared
}

TEST(ErrorManager, FrameworkIdentifiersTranslate) {
  EXPECT_EQ(TranslateFrameworkId(40013), 4);
  EXPECT_EQ(TranslateFrameworkId(40015), 6);
  EXPECT_EQ(TranslateFrameworkId(40017), 7);
  EXPECT_EQ(TranslateFrameworkId(40016), 0);
}

}  // namespace
}  // namespace vmk
