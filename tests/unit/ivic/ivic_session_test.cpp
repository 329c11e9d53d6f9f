// Sessions through the C interface: opening and failing to open, closing, handles that are stale,
// zero or made up, many sessions, the session lock, the driver object behind a session, and the
// recorded errors with their statuses.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "ivic/frame.h"
#include "tests/unit/ivic/ivic_test_support.h"
#include "vmk40xx/server.h"
#include "vmk40xx/vmk40xx.h"

namespace {

using vmk::test::OpenSimulated;
using vmk::test::Recorded;
using vmk::test::StandInSession;
using vmk::test::TakeError;

constexpr ViStatus kInvalidHandle = ViStatus(0xBFFA1190u);
constexpr ViStatus kFailure = ViStatus(0x80000000u);

TEST(Init, AFailureLeavesNoSessionAndTheThreadHasItsDescription) {
  VmK40xx_ClearError(VI_NULL);
  ViSession vi = 77;
  EXPECT_EQ(
      VmK40xx_InitWithOptions(vmk::test::kResource, VI_FALSE, VI_FALSE, "Simulate=maybe", &vi),
      ViStatus(0xBFFA004Cu));
  EXPECT_EQ(vi, VI_NULL);
  EXPECT_EQ(TakeError(VI_NULL),
            (Recorded{ViStatus(0xBFFA004Cu),
                      "VelmoraK40xx: The maybe value in the option string is unknown."}));

  // Nothing listens on port 1 of the loopback.
  vi = 77;
  EXPECT_LT(VmK40xx_init("TCPIP0::127.0.0.1::1::SOCKET", VI_FALSE, VI_FALSE, &vi), 0);
  EXPECT_EQ(vi, VI_NULL);
  EXPECT_NE(TakeError(VI_NULL).second, "");

  EXPECT_EQ(
      VmK40xx_InitWithOptions(vmk::test::kResource, VI_FALSE, VI_FALSE, "Simulate=true", nullptr),
      kFailure);
}

TEST(Init, NullTextsCountAsEmpty) {
  ViSession vi = VI_NULL;
  // An empty resource cannot be opened; the call says so rather than crashing.
  EXPECT_LT(VmK40xx_InitWithOptions(nullptr, VI_FALSE, VI_FALSE, nullptr, &vi), 0);
  EXPECT_EQ(vi, VI_NULL);
  TakeError(VI_NULL);
}

TEST(Handles, StaleZeroAndMadeUpHandlesGetTheServiceStatusOnly) {
  const ViSession live = OpenSimulated();
  const ViSession stale = OpenSimulated();
  ASSERT_EQ(VmK40xx_close(stale), VI_SUCCESS);
  std::mt19937 random(20240601);
  std::vector<ViSession> bad{stale, VI_NULL};
  while (bad.size() < 6) {
    const ViSession h = random();
    if (h != live && h != VI_NULL) bad.push_back(h);
  }
  for (ViSession h : bad) {
    ViInt32 count = -1;
    ViReal64 level = -1;
    ViBoolean has = VI_FALSE;
    EXPECT_EQ(VmK40xx_reset(h), kInvalidHandle) << h;
    EXPECT_EQ(VmK40xx_GetAttributeViInt32(h, "", VMK40XX_ATTR_CHANNEL_COUNT, &count),
              kInvalidHandle);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(VmK40xx_ConfigureVoltageLevel(h, "Output1", 1.0), kInvalidHandle);
    EXPECT_EQ(VmK40xx_Measure(h, "Output1", VMK40XX_VAL_MEASURE_VOLTAGE, &level), kInvalidHandle);
    EXPECT_EQ(VmK40xx_LockSession(h, &has), kInvalidHandle);
    EXPECT_EQ(has, VI_FALSE);
    EXPECT_EQ(VmK40xx_close(h), kInvalidHandle);
  }
  // Error records: VI_NULL is the thread's, any other bad handle is refused.
  for (ViSession h : std::vector<ViSession>(bad.begin() + 2, bad.end())) {
    ViStatus code = 0;
    char text[16];
    EXPECT_EQ(VmK40xx_GetError(h, &code, sizeof text, text), kInvalidHandle);
    EXPECT_EQ(VmK40xx_ClearError(h), kInvalidHandle);
  }
  EXPECT_EQ(VmK40xx_close(live), VI_SUCCESS);
}

TEST(Handles, TenThousandClosedSessionsNeverReachALiveOne) {
  std::set<ViSession> closed;
  for (int i = 0; i < 10000; ++i) {
    ViSession vi = VI_NULL;
    ASSERT_EQ(
        VmK40xx_InitWithOptions(vmk::test::kResource, VI_FALSE, VI_FALSE, "Simulate=true", &vi),
        VI_SUCCESS);
    ASSERT_TRUE(closed.insert(vi).second) << "handle " << vi << " issued twice";
    ASSERT_EQ(VmK40xx_close(vi), VI_SUCCESS);
  }
  const ViSession dual = OpenSimulated("K4201A");
  const ViSession triple = OpenSimulated("K4301A");
  EXPECT_FALSE(closed.contains(dual));
  EXPECT_FALSE(closed.contains(triple));
  for (ViSession h : closed) {
    char model[32] = "";
    ASSERT_EQ(
        VmK40xx_GetAttributeViString(h, "", VMK40XX_ATTR_INSTRUMENT_MODEL, sizeof model, model),
        kInvalidHandle);
    ASSERT_STREQ(model, "");
  }
  char model[32];
  EXPECT_EQ(
      VmK40xx_GetAttributeViString(triple, "", VMK40XX_ATTR_INSTRUMENT_MODEL, sizeof model, model),
      VI_SUCCESS);
  EXPECT_STREQ(model, "K4301A");
  VmK40xx_close(dual);
  VmK40xx_close(triple);
}

TEST(Close, EndsTheSessionOnceAndClosesTheDriver) {
  const ViSession vi = OpenSimulated();
  IUnknown* unknown = nullptr;
  ASSERT_EQ(VmK40xx_GetNativeIUnknownPtr(vi, &unknown), VI_SUCCESS);
  vmk::com::ComPtr<IIviDriver> driver;
  ASSERT_EQ(unknown->QueryInterface(IID_IIviDriver, reinterpret_cast<void**>(driver.put())), S_OK);
  unknown->Release();
  VARIANT_BOOL initialized = VARIANT_FALSE;
  driver->get_Initialized(&initialized);
  EXPECT_EQ(initialized, VARIANT_TRUE);

  EXPECT_EQ(VmK40xx_close(vi), VI_SUCCESS);
  driver->get_Initialized(&initialized);
  EXPECT_EQ(initialized, VARIANT_FALSE);
  EXPECT_EQ(VmK40xx_close(vi), kInvalidHandle);
  EXPECT_EQ(VmK40xx_GetNativeIUnknownPtr(vi, &unknown), kInvalidHandle);
}

TEST(Attach, ASessionOverADriverObjectTheCallerInitialized) {
  vmk::com::ComPtr<IClassFactory> factory;
  ASSERT_EQ(DllGetClassObject(CLSID_VelmoraK40xx, IID_IClassFactory,
                              reinterpret_cast<void**>(factory.put())),
            S_OK);
  vmk::com::ComPtr<IVelmoraK40xx> driver;
  ASSERT_EQ(
      factory->CreateInstance(nullptr, IID_IVelmoraK40xx, reinterpret_cast<void**>(driver.put())),
      S_OK);
  vmk::com::Bstr resource(std::string_view("TCPIP0::192.0.2.1::5025::SOCKET"));
  vmk::com::Bstr options(std::string_view("Simulate=true, DriverSetup=Model=K4105A"));
  ASSERT_EQ(driver->Initialize(resource.get(), VARIANT_FALSE, VARIANT_FALSE, options.get()), S_OK);

  ViSession vi = VI_NULL;
  ASSERT_EQ(VmK40xx_AttachToExistingCOMSession(driver.get(), &vi), VI_SUCCESS);
  char model[16];
  EXPECT_EQ(
      VmK40xx_GetAttributeViString(vi, "", VMK40XX_ATTR_INSTRUMENT_MODEL, sizeof model, model),
      VI_SUCCESS);
  EXPECT_STREQ(model, "K4105A");
  EXPECT_EQ(VmK40xx_close(vi), VI_SUCCESS);
  VARIANT_BOOL initialized = VARIANT_TRUE;
  driver->get_Initialized(&initialized);
  EXPECT_EQ(initialized, VARIANT_FALSE);

  EXPECT_EQ(VmK40xx_AttachToExistingCOMSession(nullptr, &vi), kFailure);
  EXPECT_EQ(vi, VI_NULL);
  EXPECT_EQ(VmK40xx_AttachToExistingCOMSession(driver.get(), nullptr), kFailure);
  EXPECT_EQ(VmK40xx_GetNativeIUnknownPtr(vi, nullptr), kInvalidHandle);
}

TEST(Lock, CallerHasLockAndAnUnlockWithoutTheLock) {
  const ViSession vi = OpenSimulated();
  ViBoolean has = VI_FALSE;
  EXPECT_EQ(VmK40xx_LockSession(vi, &has), VI_SUCCESS);
  EXPECT_EQ(has, VI_TRUE);
  EXPECT_EQ(VmK40xx_LockSession(vi, &has), VI_SUCCESS);
  EXPECT_EQ(VmK40xx_UnlockSession(vi, &has), VI_SUCCESS);
  EXPECT_EQ(has, VI_FALSE);
  EXPECT_EQ(VmK40xx_UnlockSession(vi, &has), VI_SUCCESS);
  EXPECT_EQ(VmK40xx_UnlockSession(vi, nullptr), kFailure);
  EXPECT_EQ(TakeError(vi),
            (Recorded{kFailure, "The session lock is not held by the calling thread."}));
  VmK40xx_close(vi);
}

TEST(Errors, TheFirstFailureIsKeptUntilRead) {
  const ViSession vi = OpenSimulated();
  EXPECT_EQ(TakeError(vi), (Recorded{VI_SUCCESS, ""}));
  EXPECT_EQ(VmK40xx_GetOutputName(vi, 3, 0, nullptr), ViStatus(0xBFFA0010u));
  EXPECT_EQ(VmK40xx_ConfigureVoltageLevel(vi, ":", 1.0), ViStatus(0xBFFA0066u));
  // Asking for the size, with or without a buffer, keeps the error.
  ViStatus code = 0;
  EXPECT_EQ(VmK40xx_GetError(vi, &code, 0, nullptr), 70);
  EXPECT_EQ(VmK40xx_GetError(vi, nullptr, 100, nullptr), 70);
  EXPECT_EQ(code, ViStatus(0xBFFA0010u));
  EXPECT_EQ(TakeError(vi),
            (Recorded{ViStatus(0xBFFA0010u),
                      "VelmoraK40xx: Invalid value (3) for method get_Name, parameter Index."}));
  EXPECT_EQ(TakeError(vi), (Recorded{VI_SUCCESS, ""}));
  // A success records nothing and leaves an earlier error alone.
  EXPECT_EQ(VmK40xx_ConfigureVoltageLevel(vi, ":::", 1.0), ViStatus(0xBFFA0066u));
  EXPECT_EQ(VmK40xx_ConfigureVoltageLevel(vi, "Output1", 1.0), VI_SUCCESS);
  EXPECT_EQ(TakeError(vi),
            (Recorded{ViStatus(0xBFFA0066u), "The repeated capability selector is badly-formed."}));
  EXPECT_EQ(VmK40xx_ClearError(vi), VI_SUCCESS);
  VmK40xx_close(vi);
}

TEST(Statuses, HresultsMapToIviCStatuses) {
  using vmk::ivic::MapStatus;
  EXPECT_EQ(MapStatus(S_OK), VI_SUCCESS);
  EXPECT_EQ(MapStatus(HRESULT(0x80047010u)), ViStatus(0xBFFA0010u));
  EXPECT_EQ(MapStatus(HRESULT(0x80047000u)), ViStatus(0xBFFA0000u));
  EXPECT_EQ(MapStatus(HRESULT(0x80047067u)), ViStatus(0xBFFA0067u));
  EXPECT_EQ(MapStatus(HRESULT(0x80041001u)), ViStatus(0xBFFA1001u));
  EXPECT_EQ(MapStatus(HRESULT(0x80044214u)), ViStatus(0xBFFA4214u));
  EXPECT_EQ(MapStatus(HRESULT(0x80044218u)), ViStatus(0xBFFA4218u));
  EXPECT_EQ(MapStatus(HRESULT(0x00047065u)), ViStatus(0x3FFA0065u));
  EXPECT_EQ(MapStatus(HRESULT(0x00047069u)), ViStatus(0x3FFA0069u));
  // Not in the map: failures become the generic failure, successes and warnings success.
  EXPECT_EQ(MapStatus(HRESULT(0x80040604u)), kFailure);  // the I/O time-out status
  EXPECT_EQ(MapStatus(HRESULT(0x80047005u)), kFailure);  // an inherent offset with no row
  EXPECT_EQ(MapStatus(HRESULT(0x8004700Cu)), kFailure);
  EXPECT_EQ(MapStatus(E_POINTER), kFailure);
  EXPECT_EQ(MapStatus(HRESULT(0x00040005u)), VI_SUCCESS);  // VISA's termination warning
  EXPECT_EQ(MapStatus(HRESULT(0x00047064u)), VI_SUCCESS);
  EXPECT_EQ(MapStatus(S_FALSE), VI_SUCCESS);
}

TEST(Statuses, ErrorMessageNeedsNoSession) {
  char message[256] = "not written";
  EXPECT_EQ(VmK40xx_error_message(VI_NULL, ViStatus(0xBFFA4214u), message), VI_SUCCESS);
  EXPECT_STREQ(message, "IO error: %1.");
  EXPECT_EQ(VmK40xx_error_message(VI_NULL, VI_SUCCESS, message), VI_SUCCESS);
  EXPECT_STREQ(message, "Success.");
  EXPECT_EQ(VmK40xx_error_message(12345, ViStatus(0x3FFA0066u), message), VI_SUCCESS);
  EXPECT_STREQ(message, "Reset is not supported by this instrument.");
  EXPECT_EQ(VmK40xx_error_message(VI_NULL, ViStatus(0xBFFA0001u), message), VI_SUCCESS);
  EXPECT_STREQ(message, "Instrument error detected.  Use ErrorQuery() to determine the error(s).");
  // The C layer's own statuses and unknown codes have no text here.
  for (ViStatus own : {ViStatus(0xBFFA000Cu), ViStatus(0xBFFA0015u), kFailure,
                       ViStatus(0xBFFA1190u), ViStatus(0xBFFF0015u), ViStatus(7)}) {
    std::strcpy(message, "not written");
    EXPECT_EQ(VmK40xx_error_message(VI_NULL, own, message), VI_SUCCESS);
    EXPECT_STREQ(message, "") << std::hex << own;
  }
  EXPECT_EQ(VmK40xx_error_message(VI_NULL, VI_SUCCESS, nullptr), kFailure);
}

TEST(Statuses, ACallRecordsTheCOMDescriptionUnderTheMappedStatus) {
  StandInSession s;
  ViBoolean value = VI_FALSE;
  s.object->result = E_IVI_INVALID_VALUE;
  s.object->description = u"VelmoraK40xx: Invalid value (9) for method put_Simulate.";
  EXPECT_EQ(VmK40xx_SetAttributeViBoolean(s.vi, "", VMK40XX_ATTR_SIMULATE, VI_TRUE),
            ViStatus(0xBFFA0010u));
  EXPECT_EQ(TakeError(s.vi),
            (Recorded{ViStatus(0xBFFA0010u),
                      "VelmoraK40xx: Invalid value (9) for method put_Simulate."}));

  s.object->result = HRESULT(0x80040604u);
  s.object->description = u"VelmoraK40xx: time-out \u00b5s";
  EXPECT_EQ(VmK40xx_GetAttributeViBoolean(s.vi, "", VMK40XX_ATTR_SIMULATE, &value), kFailure);
  EXPECT_EQ(TakeError(s.vi), (Recorded{kFailure, "VelmoraK40xx: time-out \xC2\xB5s"}));

  // A warning the map has is returned; one it lacks is success; the value is stored either way.
  s.object->description.clear();
  s.object->simulate = VARIANT_TRUE;
  s.object->result = S_IVI_NSUP_RESET;
  EXPECT_EQ(VmK40xx_GetAttributeViBoolean(s.vi, "", VMK40XX_ATTR_SIMULATE, &value),
            ViStatus(0x3FFA0066u));
  EXPECT_EQ(value, VI_TRUE);
  s.object->result = HRESULT(0x00040005u);
  value = VI_FALSE;
  EXPECT_EQ(VmK40xx_GetAttributeViBoolean(s.vi, "", VMK40XX_ATTR_SIMULATE, &value), VI_SUCCESS);
  EXPECT_EQ(value, VI_TRUE);

  // A failure without error information records nothing.
  s.object->result = E_IVI_INVALID_VALUE;
  EXPECT_EQ(VmK40xx_GetAttributeViBoolean(s.vi, "", VMK40XX_ATTR_SIMULATE, &value),
            ViStatus(0xBFFA0010u));
  EXPECT_EQ(TakeError(s.vi), (Recorded{VI_SUCCESS, ""}));

  // A function whose interface the object lacks: E_NOINTERFACE has no IVI-C code.
  EXPECT_EQ(VmK40xx_reset(s.vi), kFailure);
}

TEST(Booleans, AnyNonZeroIsTrueBothWays) {
  StandInSession s;
  EXPECT_EQ(VmK40xx_SetAttributeViBoolean(s.vi, "", VMK40XX_ATTR_SIMULATE, 7), VI_SUCCESS);
  EXPECT_EQ(s.object->simulate, VARIANT_TRUE);
  EXPECT_EQ(VmK40xx_SetAttributeViBoolean(s.vi, "", VMK40XX_ATTR_SIMULATE, VI_FALSE), VI_SUCCESS);
  EXPECT_EQ(s.object->simulate, VARIANT_FALSE);
  for (VARIANT_BOOL stored : {VARIANT_BOOL(1), VARIANT_BOOL(-1), VARIANT_BOOL(0x100)}) {
    s.object->simulate = stored;
    ViBoolean value = 99;
    EXPECT_EQ(VmK40xx_GetAttributeViBoolean(s.vi, "", VMK40XX_ATTR_SIMULATE, &value), VI_SUCCESS);
    EXPECT_EQ(value, VI_TRUE);
  }
}

TEST(ChannelNames, TheFirstLevelGoesToTheCollectionUnchanged) {
  StandInSession s;
  const struct {
    const char* channel;
    std::u16string item;
  } cases[] = {
      {"Output2", u"Output2"},
      {"::Output2:Sub", u"Output2"},
      {"", u""},
      {nullptr, u""},
      {" output1 ", u" output1 "},
      {"a:b:c", u"a"},
      {"Sortie \xC3\xA9", u"Sortie \u00e9"},
      {"Sortie \xC3\xA9:2", u"Sortie \u00e9"},
      // Around the length a name is converted in place up to, and past it.
      {"ThirtyOneCharactersLongNameXYZ1", u"ThirtyOneCharactersLongNameXYZ1"},
      {"ThirtyTwoCharactersLongNameXYZ12:x", u"ThirtyTwoCharactersLongNameXYZ12"},
      {"AVeryLongVirtualNameOfAnOutputFromTheStore:1",
       u"AVeryLongVirtualNameOfAnOutputFromTheStore"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(VmK40xx_ConfigureVoltageLevel(s.vi, c.channel, 1.0), ViStatus(0xBFFA0067u));
    EXPECT_EQ(s.object->item_name, c.item) << (c.channel ? c.channel : "(null)");
  }
  s.object->item_calls = 0;
  for (const char* only_colons : {":", "::::"}) {
    EXPECT_EQ(VmK40xx_ConfigureVoltageLevel(s.vi, only_colons, 1.0), ViStatus(0xBFFA0066u));
    EXPECT_EQ(VmK40xx_GetAttributeViReal64(s.vi, only_colons, VMK40XX_ATTR_VOLTAGE_LEVEL, nullptr),
              ViStatus(0xBFFA0066u));
  }
  EXPECT_EQ(s.object->item_calls, 0);
  EXPECT_EQ(TakeError(s.vi),
            (Recorded{ViStatus(0xBFFA0066u), "The repeated capability selector is badly-formed."}));
}

}  // namespace
