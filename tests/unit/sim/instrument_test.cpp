#include "instrument.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace vmk40xx::sim {
namespace {

class Sim {
 public:
  explicit Sim(std::string_view model = "K4102A", InstrumentOptions o = {})
      : inst_(with_model(model, o)) {
    inst_.set_clock([this] { return now_us_; });
  }
  // Sends a line and returns what the instrument answered (empty when nothing).
  std::string operator()(std::string_view line) {
    std::string r;
    inst_.execute(line, r);
    return r;
  }
  double num(std::string_view query) { return std::strtod((*this)(query).c_str(), nullptr); }
  int code() { return std::atoi((*this)("SYST:ERR?").c_str()); }
  void wait_ms(int ms) {
    now_us_ += ms * 1000LL;
    inst_.advance(now_us_);
  }
  Instrument& inst() { return inst_; }

 private:
  static InstrumentOptions with_model(std::string_view model, InstrumentOptions o) {
    o.model = find_model(model);
    return o;
  }
  std::int64_t now_us_ = 1'000'000;
  Instrument inst_;
};

TEST(SimIdentity, ModelIsTheSecondField) {
  for (const ModelInfo* m = models_begin(); m != models_end(); ++m) {
    Sim s(m->name);
    EXPECT_EQ(s("*IDN?"), "Velmora," + std::string(m->name) + ",0,1.2-5.0-1.0");
  }
  EXPECT_EQ(models_end() - models_begin(), 14);
  EXPECT_EQ(find_model("k4301a"), nullptr);
}

TEST(SimErrors, QueueAndEventBits) {
  Sim s;
  EXPECT_EQ(s("SYST:ERR?"), "+0,\"No error\"");
  EXPECT_EQ(s("FOO:BAR"), "");
  EXPECT_EQ(s("SYST:ERR?"), "-113,\"Undefined header\"");
  EXPECT_EQ(s("*ESR?"), "32");
  EXPECT_EQ(s("*ESR?"), "0");
  s("VOLT 99");
  EXPECT_EQ(s("SYST:ERR?"), "-222,\"Data out of range\"");
  EXPECT_EQ(s("*ESR?"), "16");
  s("*IDN");  // a query-only header used as a command
  s("*ESE 300");
  EXPECT_EQ(s("SYST:ERR:COUN?"), "2");
  EXPECT_EQ(s("*STB?"), "4");  // error queue not empty
  s("*CLS");
  EXPECT_EQ(s("SYST:ERR:COUN?"), "0");
  EXPECT_EQ(s("*ESR?"), "0");
  for (int i = 0; i < 30; ++i) s("NOPE");
  EXPECT_EQ(s("SYST:ERR:COUN?"), "20");
  for (int i = 0; i < 19; ++i) EXPECT_EQ(s.code(), -113);
  EXPECT_EQ(s("SYST:ERR?"), "-350,\"Queue overflow\"");
}

TEST(SimErrors, StatusByteSummaries) {
  Sim s;
  s("*ESE 16;*SRE 32");
  s("VOLT 99");
  EXPECT_EQ(s("*STB?"), std::to_string(4 | 32 | 64));
  s("*CLS");
  EXPECT_EQ(s("*STB?"), "0");
  s("SIM:FAUL:ESR 8");
  EXPECT_EQ(s("*ESR?"), "8");
}

TEST(SimParser, CompoundLinesFollowTheHeaderPath) {
  Sim s;
  // Relative to the SOURce node of the first header.
  s("SOUR:VOLT 5;CURR 1.5");
  EXPECT_EQ(s("VOLT?;CURR?"), "+5.00000000E+00;+1.50000000E+00");
  // The form the driver sends to configure protection in one write.
  s("VOLT:PROT:STAT 1; :VOLT:PROT 18.5");
  EXPECT_EQ(s("VOLT:PROT:STAT?;:VOLT:PROT?"), "1;+1.85000000E+01");
  EXPECT_EQ(s("*RST;*OPC?"), "1");
  EXPECT_EQ(s("voltage:level:immediate:amplitude?"), "+0.00000000E+00");
  // A header error abandons the rest of the line; earlier replies still go out.
  EXPECT_EQ(s("*OPC?;BOGUS;*IDN?"), "1");
  EXPECT_EQ(s.code(), -113);
  EXPECT_EQ(s("VOLT 1,2"), "");
  EXPECT_EQ(s.code(), -108);
  EXPECT_EQ(s("VOLT"), "");
  EXPECT_EQ(s.code(), -109);
  EXPECT_EQ(s("OUTP MAYBE"), "");
  EXPECT_EQ(s.code(), -224);
}

TEST(SimModels, FeaturesTheModelLacksAreUndefinedHeaders) {
  struct Case {
    const char* model;
    const char* line;
    bool defined;
  } cases[] = {
      {"K4301A", "VOLT:RANG?", false},       {"K4301A", "VOLT:PROT?", false},
      {"K4301A", "OUTP:REL?", false},        {"K4301A", "INST:COUP?", true},
      {"K4104A", "CURR:PROT?", false},       {"K4103A", "CURR:PROT?", true},
      {"K4101A", "MEM:STAT:NAME? 1", false}, {"K4105A", "MEM:STAT:NAME? 1", true},
      {"K4201A", "DISP:MODE?", true},        {"K4102A", "DISP:MODE?", false},
      {"K4102A", "INST:NSEL?", false},       {"K4202A", "INST:NSEL?", true},
      {"K4102A", "OUTP:TRAC?", false},       {"K4102A", "STAT:QUES:INST?", false},
      {"K4104A", "CAL:DAC:ERR", false},      {"K4301A", "CAL:VOLT:PROT", false},
      {"K4301A", "VOLT:STEP?", false},       {"K4203A", "VOLT:STEP?", true},
  };
  for (const auto& c : cases) {
    Sim s(c.model);
    s("CAL:SEC:STAT 0,VMK40XX");
    s(c.line);
    EXPECT_EQ(s.code() == -113, !c.defined) << c.model << " " << c.line;
  }
}

TEST(SimModels, RangeNamesAndLimits) {
  struct Case {
    const char* model;
    const char* low;
    const char* high;
    double vlow, vhigh, ilow, ihigh, ovp;
  } cases[] = {
      {"K4101A", "P15V", "P30V", 15.45, 30.9, 7.21, 4.12, 32.0},
      {"K4102A", "P8V", "P20V", 8.24, 20.6, 20.64, 10.3, 22.0},
      {"K4103A", "P25V", "P50V", 25.75, 51.5, 7.21, 4.12, 55.0},
      {"K4109A", "P35V", "P60V", 36.05, 61.8, 2.266, 1.339, 66.0},
      {"K4204A", "P35V", "P60V", 36.05, 61.8, 1.442, 0.824, 66.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model);
    Sim s(c.model);
    EXPECT_EQ(s("VOLT:RANG?"), c.low);
    EXPECT_DOUBLE_EQ(s.num("VOLT? MAX"), c.vlow);
    EXPECT_DOUBLE_EQ(s.num("CURR? MAX"), c.ilow);
    EXPECT_DOUBLE_EQ(s.num("VOLT:PROT? MAX"), c.ovp);
    s(std::string("VOLT ") + std::to_string(c.vlow + 0.01));
    EXPECT_EQ(s.code(), -222);
    s("VOLT:RANG HIGH");
    EXPECT_EQ(s("VOLT:RANG?"), c.high);
    EXPECT_DOUBLE_EQ(s.num("VOLT? MAX"), c.vhigh);
    EXPECT_DOUBLE_EQ(s.num("CURR? MAX"), c.ihigh);
    s(std::string("VOLT ") + std::to_string(c.vhigh));
    EXPECT_EQ(s.code(), 0);
    s(std::string("VOLT:RANG ") + c.low);      // range names are accepted as well as LOW/HIGH
    EXPECT_DOUBLE_EQ(s.num("VOLT?"), c.vlow);  // brought down to the new range
  }
}

TEST(SimModels, ApplyChoosesTheRangeThatCanDeliver) {
  Sim s("K4102A");
  s("APPL 15, 1");
  EXPECT_EQ(s("VOLT:RANG?"), "P20V");
  s("APPL 5, 15");  // 15 A only in the low range
  EXPECT_EQ(s("VOLT:RANG?"), "P8V");
  s("APPL 15, 15");
  EXPECT_EQ(s.code(), -222);
  EXPECT_DOUBLE_EQ(s.num("VOLT?"), 5);
}

TEST(SimModels, ThreeOutputModelNamesItsOutputs) {
  Sim s("K4301A");
  s("APPL N25V, -10, 0.5");
  s("INST:NSEL 3");
  EXPECT_EQ(s("VOLT?;CURR?"), "-1.00000000E+01;+5.00000000E-01");
  EXPECT_EQ(s("INST?"), "N25V");
  s("VOLT -26");
  EXPECT_EQ(s.code(), -222);
  s("VOLT 1");
  EXPECT_EQ(s.code(), -222);
  EXPECT_DOUBLE_EQ(s.num("VOLT? MAX"), -25.75);
  s("APPL P6V, 7, 1");
  EXPECT_EQ(s.code(), -222);
  s("INST P6V");
  EXPECT_DOUBLE_EQ(s.num("CURR? MAX"), 5.15);
  s("INST:NSEL 4");
  EXPECT_EQ(s.code(), -222);
}

TEST(SimModels, CouplingReplies) {
  Sim t("K4301A");
  EXPECT_EQ(t("INST:COUP?"), "NONE");
  t("INST:COUP P6V, N25V");
  EXPECT_EQ(t("INST:COUP?"), "P6V, N25V");
  t("INST:COUP N25V,P25V");
  EXPECT_EQ(t("INST:COUP?"), "P25V, N25V");
  t("INST:COUP ALL");
  EXPECT_EQ(t("INST:COUP?"), "ALL");
  t("INST:COUP P6V");
  EXPECT_EQ(t.code(), -221);
  t("INST:COUP ON");
  EXPECT_EQ(t.code(), -224);

  Sim d("K4201A");
  d("INST:COUP ON");
  EXPECT_EQ(d("INST:COUP?"), "1");
  d("INST:COUP OFF");
  EXPECT_EQ(d("INST:COUP?"), "0");
}

TEST(SimLoad, ConstantVoltageAndConstantCurrent) {
  Sim s("K4102A");
  EXPECT_EQ(s("STAT:QUES:COND?"), "0");
  s("VOLT 5;CURR 1;:OUTP ON");  // 10 ohm default load: 0.5 A
  EXPECT_EQ(s("STAT:QUES:COND?"), "2");
  EXPECT_DOUBLE_EQ(s.num("MEAS:CURR?"), 0.5);
  s("SIM:LOAD 2");  // 2.5 A wanted, 1 A allowed
  EXPECT_EQ(s("STAT:QUES:COND?"), "1");
  EXPECT_DOUBLE_EQ(s.num("MEAS:VOLT?"), 2);
  EXPECT_DOUBLE_EQ(s.num("MEAS:CURR?"), 1);
  EXPECT_EQ(s("STAT:QUES?"), "3");  // both modes were entered since the last read
  EXPECT_EQ(s("STAT:QUES?"), "0");
  s("SIM:LOAD OPEN");
  EXPECT_DOUBLE_EQ(s.num("MEAS:VOLT?"), 5);
  EXPECT_DOUBLE_EQ(s.num("MEAS:CURR?"), 0);
  s("OUTP OFF");
  EXPECT_DOUBLE_EQ(s.num("MEAS:VOLT?"), 0);
}

TEST(SimLoad, LoadsArePerOutput) {
  Sim s("K4201A");
  s("INST:NSEL 1;:VOLT 2;CURR 1;:INST:NSEL 2;:VOLT 2;CURR 1;:OUTP 1");
  s("SIM:LOAD2 1");  // 2 A wanted from output 2 only
  EXPECT_EQ(s("SIM:LOAD1?;:SIM:LOAD2?"), "+1.00000000E+01;+1.00000000E+00");
  EXPECT_EQ(s("STAT:QUES:INST:ISUM1:COND?;:STAT:QUES:INST:ISUM2:COND?"), "2;1");
  s("INST:NSEL 1");
  EXPECT_DOUBLE_EQ(s.num("MEAS:CURR?"), 0.2);
  s("SIM:LOAD 0");  // a short on the selected output
  EXPECT_DOUBLE_EQ(s.num("MEAS:VOLT?"), 0);
  EXPECT_DOUBLE_EQ(s.num("MEAS:CURR?"), 1);
}

TEST(SimLoad, NoiseStaysWithinItsAmplitude) {
  InstrumentOptions o;
  o.noise = 0.01;
  Sim s("K4102A", o);
  s("VOLT 5;:OUTP 1");
  bool varied = false;
  for (int i = 0; i < 50; ++i) {
    const double v = s.num("MEAS:VOLT?");
    EXPECT_NEAR(v, 5, 0.05);
    varied |= v != 5;
  }
  EXPECT_TRUE(varied);
}

TEST(SimProtection, OverVoltageTripsUntilCleared) {
  Sim s("K4102A");
  s("VOLT 5;:OUTP 1;:VOLT:PROT 4;:VOLT:PROT:STAT 1");
  EXPECT_EQ(s("VOLT:PROT:TRIP?"), "1");
  EXPECT_EQ(s("STAT:QUES:COND?"), "0");
  EXPECT_DOUBLE_EQ(s.num("MEAS:VOLT?"), 0);
  s("VOLT 3");
  EXPECT_EQ(s("VOLT:PROT:TRIP?"), "1");  // latched
  s("VOLT:PROT:CLE");
  EXPECT_EQ(s("VOLT:PROT:TRIP?"), "0");
  EXPECT_DOUBLE_EQ(s.num("MEAS:VOLT?"), 3);
  s("VOLT:PROT 50");
  EXPECT_EQ(s.code(), -222);
}

TEST(SimProtection, OverCurrentTripsOnlyWhereTheModelHasIt) {
  Sim s("K4101A");
  s("VOLT 5;CURR 2;:CURR:PROT 0.4;:CURR:PROT:STAT 1;:OUTP 1");  // 0.5 A into 10 ohm
  EXPECT_EQ(s("CURR:PROT:TRIP?"), "1");
  s("CURR:PROT MAX;:CURR:PROT:CLE");
  EXPECT_EQ(s("CURR:PROT:TRIP?"), "0");
  EXPECT_DOUBLE_EQ(s.num("CURR:PROT?"), 7.5);
  EXPECT_DOUBLE_EQ(s.num("MEAS:CURR?"), 0.5);
}

TEST(SimTriggers, ImmediateAfterDelayAndBus) {
  Sim s("K4102A");
  s("VOLT:TRIG 3;CURR:TRIG 2;:TRIG:DEL 0.5;:INIT");
  EXPECT_DOUBLE_EQ(s.num("VOLT?"), 0);
  EXPECT_EQ(s.inst().hold_reply_until_us(), 0);
  EXPECT_EQ(s("*OPC?"), "1");
  EXPECT_EQ(s.inst().hold_reply_until_us(), s.inst().next_deadline_us());  // answer after firing
  EXPECT_GT(s.inst().hold_reply_until_us(), 0);
  s.wait_ms(400);
  EXPECT_DOUBLE_EQ(s.num("VOLT?"), 0);
  s.wait_ms(100);
  EXPECT_DOUBLE_EQ(s.num("VOLT?"), 3);
  EXPECT_DOUBLE_EQ(s.num("CURR?"), 2);

  s("TRIG:DEL 0;SOUR BUS;:VOLT:TRIG 4;:INIT");
  EXPECT_EQ(s("TRIG:SOUR?"), "BUS");
  EXPECT_DOUBLE_EQ(s.num("VOLT?"), 3);
  s("INIT");
  EXPECT_EQ(s.code(), -213);
  s("*TRG");
  EXPECT_DOUBLE_EQ(s.num("VOLT?"), 4);
  s("*TRG");
  EXPECT_EQ(s.code(), -211);

  s("INIT;:ABOR;*TRG");
  EXPECT_EQ(s.code(), -211);
}

TEST(SimTriggers, CoupledOutputsInitiateTogether) {
  Sim s("K4201A");
  s("INST:NSEL 1;:VOLT:TRIG 1;:INST:NSEL 2;:VOLT:TRIG 2;:INST:COUP ON;:INIT");
  s("INST:NSEL 1");
  EXPECT_DOUBLE_EQ(s.num("VOLT?"), 1);
  s("INST:NSEL 2");
  EXPECT_DOUBLE_EQ(s.num("VOLT?"), 2);
}

TEST(SimStatus, InstrumentSummariesOfMultiOutputModels) {
  Sim s("K4201A");
  s("STAT:QUES:INST:ISUM2:ENAB 3;:STAT:QUES:INST:ENAB 4;:STAT:QUES:ENAB 8192;*SRE 8");
  s("INST:NSEL 2;:VOLT 5;CURR 0.1;:OUTP 1");  // output 2 in constant current
  EXPECT_EQ(s("STAT:QUES:INST:ISUM2:COND?"), "1");
  EXPECT_EQ(s("STAT:QUES:INST:ISUM1:COND?"), "2");
  EXPECT_EQ(s("STAT:QUES:INST:COND?"), "4");
  EXPECT_EQ(s("STAT:QUES:COND?"), "8192");
  EXPECT_EQ(s("*STB?"), std::to_string(8 | 64));
  EXPECT_EQ(s("STAT:QUES:INST:ISUM2?"), "1");
  EXPECT_EQ(s("STAT:QUES:INST:COND?"), "0");  // its summary follows the event register
  s("STAT:QUES:INST:ISUM3?");
  EXPECT_EQ(s.code(), -114);
}

TEST(SimState, ResetDefaultsAndMemories) {
  Sim s("K4203A");
  s("INST:NSEL 2;:VOLT 7;:OUTP 1;:DISP:TEXT \"HI\";:MEM:STAT:NAME 2, \"BENCH\"");
  s("*SAV 2");
  s("*RST");
  EXPECT_EQ(s("INST:NSEL?;:VOLT?;:OUTP?;:DISP:TEXT?"), "1;+0.00000000E+00;0;\"\"");
  EXPECT_DOUBLE_EQ(s.num("CURR?"), 5.15);
  EXPECT_DOUBLE_EQ(s.num("VOLT:PROT?"), 22);
  EXPECT_EQ(s("VOLT:PROT:STAT?"), "0");
  s("*RCL 2");
  EXPECT_EQ(s("INST:NSEL?;:VOLT?;:OUTP?"), "2;+7.00000000E+00;1");
  EXPECT_EQ(s("MEM:STAT:NAME? 2"), "\"BENCH\"");
  s("*RCL 3");
  EXPECT_EQ(s.code(), -221);
  s("*SAV 6");
  EXPECT_EQ(s.code(), -222);
  s("MEM:STAT:NAME 1, \"THIRTEEN CHRS\"");
  EXPECT_EQ(s.code(), -223);
}

TEST(SimState, DisplayStepsAndTracking) {
  Sim s("K4202A");
  s("DISP:TEXT 'HELLO'");
  EXPECT_EQ(s("DISP:TEXT?"), "\"HELLO\"");
  s("DISP:TEXT:CLE");
  EXPECT_EQ(s("DISP:TEXT?"), "\"\"");
  s("DISP:TEXT \"MUCH TOO LONG TEXT\"");
  EXPECT_EQ(s.code(), -223);
  s("DISP:MODE VV");
  EXPECT_EQ(s("DISP:MODE?"), "VV");

  s("VOLT 1;VOLT:STEP 0.25;:VOLT UP;VOLT UP");
  EXPECT_DOUBLE_EQ(s.num("VOLT?"), 1.5);
  s("VOLT:STEP DEF;:VOLT DOWN");
  EXPECT_NEAR(s.num("VOLT?"), 1.499, 1e-12);
  s("VOLT 0;VOLT DOWN");
  EXPECT_EQ(s.code(), -222);

  s("OUTP:TRAC ON;:INST:NSEL 1;:VOLT 3");
  s("INST:NSEL 2");
  EXPECT_DOUBLE_EQ(s.num("VOLT?"), 3);
}

TEST(SimCalibration, SecuredByCodeAndCounted) {
  Sim s("K4102A");
  EXPECT_EQ(s("CAL:SEC:STAT?;:CAL:COUN?;:CAL:STR?"), "1;1;\"FACTORY CAL 09/Aug/2002\"");
  s("CAL:VOLT:LEV MIN");
  EXPECT_EQ(s.code(), -203);
  s("*CLS");
  s("CAL:SEC:STAT 0,WRONG");
  EXPECT_EQ(s("SYST:ERR?"), "+703,\"Invalid secure code\"");
  EXPECT_EQ(s("*ESR?"), "8");
  s("CAL:SEC:STAT 0, vmk40xx");
  EXPECT_EQ(s("CAL:SEC:STAT?"), "0");
  s("CAL:VOLT 1");
  EXPECT_EQ(s.code(), -221);  // data without a calibration point
  s("CAL:VOLT:LEV MIN;:CAL:VOLT 0.05;:CAL:VOLT:LEV MAX;:CAL:VOLT 8.2");
  EXPECT_EQ(s("CAL:COUN?"), "1");  // MID still missing
  s("CAL:VOLT:LEV MID;:CAL:VOLT 4.1");
  EXPECT_EQ(s("CAL:COUN?"), "2");
  s("CAL:DAC:ERR;:CAL:CURR:PROT;:CAL:VOLT:PROT");
  EXPECT_EQ(s("CAL:COUN?"), "5");
  s("CAL:STR \"BENCH 7\";:CAL:SEC:CODE NEWCODE;:CAL:SEC:STAT 1,NEWCODE");
  EXPECT_EQ(s("CAL:SEC:STAT?;:CAL:STR?"), "1;\"BENCH 7\"");
  s("CAL:SEC:STAT 0,VMK40XX");
  EXPECT_EQ(s.code(), 703);

  Sim t("K4301A");
  t("CAL:SEC:STAT 0,VMK40XX;:INST:NSEL 3;:CAL:CURR:LEV MID");
  EXPECT_EQ(t.code(), -224);
  t("CAL:CURR:LEV MIN;:CAL:CURR 0.01;:CAL:CURR:LEV MAX;:CAL:CURR 1");
  EXPECT_EQ(t("CAL:COUN?"), "2");
}

TEST(SimFaults, GarbageAndEventBitsFromCommands) {
  Sim s;
  s("SIM:FAUL:GARB");
  const std::string junk = s("*IDN?");
  EXPECT_NE(junk.find("GARBAGE"), std::string::npos);
  EXPECT_EQ(s("*IDN?").substr(0, 8), "Velmora,");
  s("SIM:FAUL:DEL 250;CLOS 3");
  EXPECT_EQ(s("SIM:FAUL:DEL?;CLOS?"), "250;3");
  s("SIM:FAUL:CLE");
  EXPECT_EQ(s("SIM:FAUL:DEL?;CLOS?"), "0;0");
  s("SIM:LOAD3 5");
  EXPECT_EQ(s.code(), -114);  // the K4102A has one output
}

}  // namespace
}  // namespace vmk40xx::sim
