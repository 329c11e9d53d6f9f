// Attributes by identifier on simulated sessions: the dispatch checks that come before any
// session lookup, the constant and the versions readable without a session, each type with its
// repeated capability, and bad pointers and buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/unit/ivic/ivic_test_support.h"

namespace {

using vmk::test::OpenSimulated;
using vmk::test::Recorded;
using vmk::test::TakeError;

constexpr ViStatus kUnknown = ViStatus(0xBFFA000Cu);
constexpr ViStatus kReadOnly = ViStatus(0xBFFA000Du);
constexpr ViStatus kWriteOnly = ViStatus(0xBFFA000Eu);
constexpr ViStatus kWrongType = ViStatus(0xBFFA0015u);
constexpr ViStatus kFailure = ViStatus(0x80000000u);

// The status of a call and what it recorded for the thread (the handles here are not sessions).
template <class Call>
Recorded Refused(Call&& call) {
  VmK40xx_ClearError(VI_NULL);
  const ViStatus status = call();
  const Recorded recorded = TakeError(VI_NULL);
  EXPECT_EQ(recorded.first, status);
  return recorded;
}

TEST(Dispatch, IdentifierTypeAndAccessAreCheckedBeforeTheSession) {
  for (ViSession vi : {ViSession(VI_NULL), ViSession(0x5EED5EEDu)}) {
    ViInt32 i = 0;
    ViReal64 r = 0;
    ViBoolean b = 0;
    ViSession s = 0;
    char text[8];
    const Recorded unknown{kUnknown, "Attribute not recognized."};
    // 1150012 is a gap of the instrument-specific range.
    EXPECT_EQ(Refused([&] { return VmK40xx_GetAttributeViInt32(vi, "", 1150012, &i); }), unknown);
    EXPECT_EQ(Refused([&] { return VmK40xx_SetAttributeViInt32(vi, "", 1150012, 1); }), unknown);
    EXPECT_EQ(Refused([&] { return VmK40xx_GetAttributeViReal64(vi, "", 1150012, &r); }), unknown);
    EXPECT_EQ(Refused([&] { return VmK40xx_SetAttributeViReal64(vi, "", 1150012, 1); }), unknown);
    EXPECT_EQ(Refused([&] { return VmK40xx_GetAttributeViBoolean(vi, "", 1150012, &b); }), unknown);
    EXPECT_EQ(Refused([&] { return VmK40xx_SetAttributeViBoolean(vi, "", 1150012, 1); }), unknown);
    EXPECT_EQ(Refused([&] { return VmK40xx_GetAttributeViString(vi, "", 1150012, 8, text); }),
              unknown);
    EXPECT_EQ(Refused([&] { return VmK40xx_SetAttributeViString(vi, "", 1150012, "x"); }), unknown);
    EXPECT_EQ(Refused([&] { return VmK40xx_GetAttributeViSession(vi, "", 1150012, &s); }), unknown);
    EXPECT_EQ(Refused([&] { return VmK40xx_SetAttributeViSession(vi, "", 1150012, 1); }), unknown);
    EXPECT_EQ(Refused([&] { return VmK40xx_GetAttributeViInt32(vi, "", 0, &i); }), unknown);

    const Recorded get_type{kWrongType, "Incorrect GetAttribute for attribute of this type."};
    const Recorded set_type{kWrongType, "Incorrect SetAttribute for attribute of this type."};
    EXPECT_EQ(Refused([&] { return VmK40xx_GetAttributeViReal64(vi, "", 1050203, &r); }), get_type);
    EXPECT_EQ(Refused([&] { return VmK40xx_SetAttributeViInt32(vi, "Output1", 1250001, 5); }),
              set_type);
    EXPECT_EQ(Refused([&] { return VmK40xx_GetAttributeViSession(vi, "", 1050203, &s); }),
              get_type);
    EXPECT_EQ(Refused([&] { return VmK40xx_SetAttributeViSession(vi, "", 1050005, 1); }), set_type);
    EXPECT_EQ(Refused([&] { return VmK40xx_GetAttributeViBoolean(vi, "", 1150007, &b); }),
              get_type);

    EXPECT_EQ(Refused([&] { return VmK40xx_SetAttributeViBoolean(vi, "Output1", 1150021, 1); }),
              (Recorded{kReadOnly, "Attribute is read only."}));
    EXPECT_EQ(Refused([&] { return VmK40xx_SetAttributeViInt32(vi, "", 1050203, 3); }),
              (Recorded{kReadOnly, "Attribute is read only."}));
    EXPECT_EQ(Refused([&] { return VmK40xx_GetAttributeViString(vi, "", 1150002, 8, text); }),
              (Recorded{kWriteOnly, "Attribute is write only."}));
  }
}

TEST(Dispatch, ARefusalIsRecordedWithALiveSession) {
  const ViSession vi = OpenSimulated();
  EXPECT_EQ(VmK40xx_SetAttributeViBoolean(vi, "Output2", VMK40XX_ATTR_OUTPUT_PROTECTION_OVP_TRIPPED,
                                          VI_TRUE),
            kReadOnly);
  EXPECT_EQ(TakeError(vi), (Recorded{kReadOnly, "Attribute is read only."}));
  VmK40xx_close(vi);
}

TEST(Constants, ThePrefixNeedsNoSessionAndTheVersionsNoneEither) {
  const ViSession vi = OpenSimulated();
  for (ViSession h : {ViSession(VI_NULL), vi, ViSession(0xDEADBEEFu)}) {
    char prefix[16] = "";
    EXPECT_EQ(VmK40xx_GetAttributeViString(h, "", VMK40XX_ATTR_SPECIFIC_DRIVER_PREFIX,
                                           sizeof prefix, prefix),
              VI_SUCCESS);
    EXPECT_STREQ(prefix, "VmK40xx");
    EXPECT_EQ(VmK40xx_GetAttributeViString(h, "", VMK40XX_ATTR_SPECIFIC_DRIVER_PREFIX, 0, nullptr),
              8);
  }
  for (ViSession h : {ViSession(VI_NULL), vi}) {
    ViInt32 major = -1, minor = -1;
    EXPECT_EQ(VmK40xx_GetAttributeViInt32(
                  h, "", VMK40XX_ATTR_SPECIFIC_DRIVER_CLASS_SPEC_MAJOR_VERSION, &major),
              VI_SUCCESS);
    EXPECT_EQ(VmK40xx_GetAttributeViInt32(
                  h, "", VMK40XX_ATTR_SPECIFIC_DRIVER_CLASS_SPEC_MINOR_VERSION, &minor),
              VI_SUCCESS);
    EXPECT_EQ(major, 2);
    EXPECT_EQ(minor, 0);
  }
  // Without a session the other attributes have nothing to read.
  ViInt32 count = 0;
  EXPECT_EQ(VmK40xx_GetAttributeViInt32(VI_NULL, "", VMK40XX_ATTR_CHANNEL_COUNT, &count),
            ViStatus(0xBFFA1190u));
  VmK40xx_close(vi);
}

TEST(Values, EachTypeReadsBackPerInstance) {
  const ViSession vi = OpenSimulated("K4301A");
  ViInt32 i = 0;
  EXPECT_EQ(VmK40xx_GetAttributeViInt32(vi, "", VMK40XX_ATTR_CHANNEL_COUNT, &i), VI_SUCCESS);
  EXPECT_EQ(i, 3);
  EXPECT_EQ(VmK40xx_GetAttributeViInt32(vi, "", VMK40XX_ATTR_TRIGGER_COUNT, &i), VI_SUCCESS);
  EXPECT_EQ(i, 3);
  EXPECT_EQ(VmK40xx_GetAttributeViInt32(vi, "", VMK40XX_ATTR_SYSTEM_MODEL, &i), VI_SUCCESS);
  EXPECT_EQ(i, VMK40XX_VAL_MODEL_K4301A);

  EXPECT_EQ(VmK40xx_SetAttributeViReal64(vi, "Output1", VMK40XX_ATTR_VOLTAGE_LEVEL, 1.5),
            VI_SUCCESS);
  EXPECT_EQ(VmK40xx_SetAttributeViReal64(vi, "output2", VMK40XX_ATTR_VOLTAGE_LEVEL, 2.5),
            VI_SUCCESS);
  ViReal64 r = 0;
  EXPECT_EQ(VmK40xx_GetAttributeViReal64(vi, "Output1", VMK40XX_ATTR_VOLTAGE_LEVEL, &r),
            VI_SUCCESS);
  EXPECT_EQ(r, 1.5);
  EXPECT_EQ(VmK40xx_GetAttributeViReal64(vi, "OUTPUT2", VMK40XX_ATTR_VOLTAGE_LEVEL, &r),
            VI_SUCCESS);
  EXPECT_EQ(r, 2.5);

  EXPECT_EQ(VmK40xx_SetAttributeViReal64(vi, "Trigger3", VMK40XX_ATTR_TRIGGER_DELAY, 0.25),
            VI_SUCCESS);
  EXPECT_EQ(VmK40xx_GetAttributeViReal64(vi, "Trigger3", VMK40XX_ATTR_TRIGGER_DELAY, &r),
            VI_SUCCESS);
  EXPECT_EQ(r, 0.25);
  EXPECT_EQ(VmK40xx_GetAttributeViReal64(vi, "Output3", VMK40XX_ATTR_TRIGGER_DELAY, &r),
            ViStatus(0xBFFA0067u));
  TakeError(vi);

  ViBoolean b = VI_FALSE;
  EXPECT_EQ(VmK40xx_SetAttributeViBoolean(vi, "Output3", VMK40XX_ATTR_OUTPUT_ENABLED, VI_TRUE),
            VI_SUCCESS);
  EXPECT_EQ(VmK40xx_GetAttributeViBoolean(vi, "Output3", VMK40XX_ATTR_OUTPUT_ENABLED, &b),
            VI_SUCCESS);
  EXPECT_EQ(b, VI_TRUE);
  EXPECT_EQ(VmK40xx_GetAttributeViBoolean(vi, "", VMK40XX_ATTR_SIMULATE, &b), VI_SUCCESS);
  EXPECT_EQ(b, VI_TRUE);

  char text[64];
  EXPECT_EQ(VmK40xx_GetAttributeViString(vi, "", VMK40XX_ATTR_INSTRUMENT_FIRMWARE_REVISION,
                                         sizeof text, text),
            VI_SUCCESS);
  EXPECT_STREQ(text, "Sim1.1.5.0");
  EXPECT_EQ(
      VmK40xx_GetAttributeViString(vi, "", VMK40XX_ATTR_INSTRUMENT_MANUFACTURER, sizeof text, text),
      VI_SUCCESS);
  EXPECT_STREQ(text, "Velmora Technologies");
  EXPECT_EQ(VmK40xx_GetAttributeViString(vi, "", VMK40XX_ATTR_DRIVER_SETUP, sizeof text, text),
            VI_SUCCESS);
  EXPECT_STREQ(text, "Model=K4301A");

  // The model cannot be set; the driver says why.
  EXPECT_EQ(
      VmK40xx_SetAttributeViInt32(vi, "", VMK40XX_ATTR_SYSTEM_MODEL, VMK40XX_VAL_MODEL_K4102A),
      ViStatus(0xBFFA0012u));
  EXPECT_EQ(TakeError(vi).second,
            "VelmoraK40xx: Does not support this class-compliant feature: property put_Model - "
            "for simulation use Initialize() option.");
  VmK40xx_close(vi);
}

TEST(Values, EnumerationsPassThroughUnchanged) {
  const ViSession vi = OpenSimulated("K4201A");
  EXPECT_EQ(VmK40xx_SetAttributeViInt32(vi, "", VMK40XX_ATTR_DISPLAY_MODE,
                                        VMK40XX_VAL_DISPLAY_MODE_CURRENT_CURRENT),
            VI_SUCCESS);
  ViInt32 mode = -1;
  EXPECT_EQ(VmK40xx_GetAttributeViInt32(vi, "", VMK40XX_ATTR_DISPLAY_MODE, &mode), VI_SUCCESS);
  EXPECT_EQ(mode, 2);
  EXPECT_EQ(VmK40xx_SetAttributeViInt32(vi, "Output2", VMK40XX_ATTR_TRIGGER_SOURCE,
                                        VMK40XX_VAL_SOFTWARE_TRIG),
            VI_SUCCESS);
  EXPECT_EQ(VmK40xx_GetAttributeViInt32(vi, "Output2", VMK40XX_ATTR_TRIGGER_SOURCE, &mode),
            VI_SUCCESS);
  EXPECT_EQ(mode, 2);
  // A class value the instrument lacks is the driver's to refuse.
  EXPECT_EQ(VmK40xx_SetAttributeViInt32(vi, "Output1", VMK40XX_ATTR_TRIGGER_SOURCE,
                                        VMK40XX_VAL_TRIG_TTL3),
            ViStatus(0xBFFA0013u));
  VmK40xx_close(vi);
}

TEST(ChannelNames, TheEmptyNameIsTheOnlyOutputOfASingleModelOnly) {
  const ViSession single = OpenSimulated("K4102A");
  ViReal64 level = -1;
  EXPECT_EQ(VmK40xx_GetAttributeViReal64(single, "", VMK40XX_ATTR_VOLTAGE_LEVEL, &level),
            VI_SUCCESS);
  EXPECT_EQ(VmK40xx_ConfigureVoltageLevel(single, nullptr, 3.25), VI_SUCCESS);
  EXPECT_EQ(VmK40xx_GetAttributeViReal64(single, "Output1", VMK40XX_ATTR_VOLTAGE_LEVEL, &level),
            VI_SUCCESS);
  EXPECT_EQ(level, 3.25);
  VmK40xx_close(single);

  const ViSession dual = OpenSimulated("K4201A");
  EXPECT_EQ(VmK40xx_GetAttributeViReal64(dual, "", VMK40XX_ATTR_VOLTAGE_LEVEL, &level),
            ViStatus(0xBFFA0067u));
  EXPECT_EQ(TakeError(dual), (Recorded{ViStatus(0xBFFA0067u),
                                       "VelmoraK40xx: Unknown physical repeated capability "
                                       "selector."}));
  EXPECT_EQ(VmK40xx_ConfigureVoltageLevel(dual, "::Output2:ignored", 4.5), VI_SUCCESS);
  EXPECT_EQ(VmK40xx_GetAttributeViReal64(dual, "Output2", VMK40XX_ATTR_VOLTAGE_LEVEL, &level),
            VI_SUCCESS);
  EXPECT_EQ(level, 4.5);
  VmK40xx_close(dual);
}

TEST(BadInput, NullResultPointersAndTextBuffers) {
  const ViSession vi = OpenSimulated();
  EXPECT_EQ(VmK40xx_GetAttributeViInt32(vi, "", VMK40XX_ATTR_CHANNEL_COUNT, nullptr), kFailure);
  EXPECT_EQ(TakeError(vi), (Recorded{kFailure, "Null pointer passed for a result parameter."}));
  EXPECT_EQ(VmK40xx_GetAttributeViReal64(vi, "Output1", VMK40XX_ATTR_VOLTAGE_LEVEL, nullptr),
            kFailure);
  EXPECT_EQ(VmK40xx_GetAttributeViBoolean(vi, "", VMK40XX_ATTR_CACHE, nullptr), kFailure);
  // A null text buffer asks for the size: "K4201A" and its zero.
  EXPECT_EQ(VmK40xx_GetAttributeViString(vi, "", VMK40XX_ATTR_INSTRUMENT_MODEL, 64, nullptr), 7);
  EXPECT_EQ(VmK40xx_GetAttributeViString(vi, "", VMK40XX_ATTR_INSTRUMENT_MODEL, -3, nullptr), 7);
  char model[8];
  EXPECT_EQ(VmK40xx_GetAttributeViString(vi, "", VMK40XX_ATTR_INSTRUMENT_MODEL, 4, model), 7);
  EXPECT_STREQ(model, "K42");
  // A null string value is the empty string.
  EXPECT_EQ(VmK40xx_SetAttributeViString(vi, "", VMK40XX_ATTR_DISPLAY_TEXT, nullptr), VI_SUCCESS);
  EXPECT_EQ(VmK40xx_GetAttributeViString(vi, "", VMK40XX_ATTR_DISPLAY_TEXT, sizeof model, model),
            VI_SUCCESS);
  EXPECT_STREQ(model, "");
  VmK40xx_close(vi);
}

TEST(Utf8, ADisplayTextSurvivesTheRoundTrip) {
  const ViSession vi = OpenSimulated();
  const char text[] = "\xCE\xA9 \xE2\x82\xAC \xF0\x9F\x94\x8C";  // omega, euro sign, a plug
  EXPECT_EQ(VmK40xx_SetAttributeViString(vi, "", VMK40XX_ATTR_DISPLAY_TEXT, text), VI_SUCCESS);
  char back[32];
  EXPECT_EQ(VmK40xx_GetAttributeViString(vi, "", VMK40XX_ATTR_DISPLAY_TEXT, sizeof back, back),
            VI_SUCCESS);
  EXPECT_STREQ(back, text);
  EXPECT_EQ(VmK40xx_GetAttributeViString(vi, "", VMK40XX_ATTR_DISPLAY_TEXT, 0, nullptr),
            ViStatus(sizeof text));
  VmK40xx_close(vi);
}

}  // namespace
