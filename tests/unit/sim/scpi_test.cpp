#include "scpi.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vmk40xx::sim::scpi {
namespace {

std::vector<std::string> units(std::string_view line) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  std::string_view u;
  while (next_unit(line, pos, u)) out.emplace_back(u);
  return out;
}

TEST(ScpiSplit, SemicolonsInsideStringsDoNotSplit) {
  EXPECT_EQ(units("VOLT 5;CURR 1"), (std::vector<std::string>{"VOLT 5", "CURR 1"}));
  EXPECT_EQ(units("DISP:TEXT \"A;B\";*OPC?"),
            (std::vector<std::string>{"DISP:TEXT \"A;B\"", "*OPC?"}));
  EXPECT_EQ(units("DISP:TEXT 'it''s;x'"), (std::vector<std::string>{"DISP:TEXT 'it''s;x'"}));
}

TEST(ScpiLex, HeaderShapes) {
  Unit u;
  ASSERT_EQ(lex_unit("  :volt:prot:stat?  ", u), kNoError);
  EXPECT_TRUE(u.absolute);
  EXPECT_TRUE(u.query);
  EXPECT_FALSE(u.common);
  ASSERT_EQ(u.mnemonic_count, 3u);
  EXPECT_EQ(u.mnemonics[2], "stat");
  EXPECT_EQ(u.param_count, 0u);

  ASSERT_EQ(lex_unit("*IDN?", u), kNoError);
  EXPECT_TRUE(u.common);
  EXPECT_TRUE(u.query);
  EXPECT_EQ(u.mnemonics[0], "*IDN");

  EXPECT_EQ(lex_unit("VOLT:", u), kSyntaxError);
  EXPECT_EQ(lex_unit("VOLT::PROT", u), kSyntaxError);
  EXPECT_EQ(lex_unit("VOLT,5", u), kSyntaxError);
  EXPECT_EQ(lex_unit("*", u), kSyntaxError);
}

TEST(ScpiLex, ParameterKinds) {
  Unit u;
  ASSERT_EQ(lex_unit("APPL P6V, +5.5, 1.5E-1,\"say \"\"hi\"\"\", #H1F", u), kNoError);
  ASSERT_EQ(u.param_count, 5u);
  EXPECT_EQ(u.params[0].kind, ParamKind::Chars);
  EXPECT_TRUE(u.params[0].is("p6v"));
  EXPECT_EQ(u.params[1].kind, ParamKind::Number);
  EXPECT_DOUBLE_EQ(u.params[1].number, 5.5);
  EXPECT_DOUBLE_EQ(u.params[2].number, 0.15);
  EXPECT_EQ(u.params[3].kind, ParamKind::String);
  EXPECT_EQ(u.params[3].unquoted(), "say \"hi\"");
  EXPECT_DOUBLE_EQ(u.params[4].number, 31);

  ASSERT_EQ(lex_unit("VOLT 500 mV", u), kNoError);
  EXPECT_DOUBLE_EQ(u.params[0].number, 0.5);
  ASSERT_EQ(lex_unit("VOLT -10", u), kNoError);
  EXPECT_DOUBLE_EQ(u.params[0].number, -10);
  ASSERT_EQ(lex_unit("VOLT .5", u), kNoError);
  EXPECT_DOUBLE_EQ(u.params[0].number, 0.5);
}

TEST(ScpiLex, ParameterErrors) {
  Unit u;
  EXPECT_EQ(lex_unit("DISP:TEXT \"open", u), kInvalidStringData);
  EXPECT_EQ(lex_unit("VOLT 5 furlongs", u), kInvalidSuffix);
  EXPECT_EQ(lex_unit("VOLT 5.2.1", u), kInvalidCharInNumber);
  EXPECT_EQ(lex_unit("VOLT -", u), kNumericDataError);
  EXPECT_EQ(lex_unit("VOLT 5E", u), kNumericDataError);
  EXPECT_EQ(lex_unit("VOLT 5,", u), kSyntaxError);
  EXPECT_EQ(lex_unit("VOLT ab$c", u), kInvalidCharacterData);
  EXPECT_EQ(lex_unit("X 1,2,3,4,5,6,7,8,9", u), kParameterNotAllowed);
}

TEST(ScpiPattern, ShortLongOptionalAndSuffix) {
  const Pattern volt("[SOURce:]VOLTage[:LEVel][:IMMediate][:AMPLitude]");
  std::array<int, 3> sfx{};
  auto match = [&](const Pattern& p, std::vector<std::string_view> m) {
    return p.match(m.data(), m.size(), sfx);
  };
  EXPECT_TRUE(match(volt, {"VOLT"}));
  EXPECT_TRUE(match(volt, {"voltage"}));
  EXPECT_TRUE(match(volt, {"SOUR", "VOLT", "LEV", "IMM", "AMPL"}));
  EXPECT_TRUE(match(volt, {"source", "Volt", "amplitude"}));
  EXPECT_FALSE(match(volt, {"VOLTA"}));  // neither the short nor the long form
  EXPECT_FALSE(match(volt, {"VOLT", "PROT"}));
  EXPECT_FALSE(match(volt, {"VOLT1"}));

  const Pattern isum("STATus:QUEStionable:INSTrument:ISUMmary#[:EVENt]");
  EXPECT_TRUE(match(isum, {"STAT", "QUES", "INST", "ISUM2"}));
  EXPECT_EQ(sfx[0], 2);
  EXPECT_TRUE(match(isum, {"stat", "ques", "inst", "isummary", "even"}));
  EXPECT_EQ(sfx[0], -1);

  const Pattern trig("[SOURce:]VOLTage[:LEVel]:TRIGgered[:AMPLitude]");
  EXPECT_TRUE(match(trig, {"VOLT", "TRIG"}));
  EXPECT_FALSE(match(trig, {"VOLT"}));
}

TEST(ScpiFormat, ReplyForms) {
  std::string s;
  append_number(s, 5);
  EXPECT_EQ(s, "+5.00000000E+00");
  s.clear();
  append_number(s, -0.0);
  EXPECT_EQ(s, "+0.00000000E+00");
  s.clear();
  append_number(s, -25.75);
  EXPECT_EQ(s, "-2.57500000E+01");
  s.clear();
  append_quoted(s, "a\"b");
  EXPECT_EQ(s, "\"a\"\"b\"");
  s.clear();
  append_int(s, -113);
  EXPECT_EQ(s, "-113");
}

}  // namespace
}  // namespace vmk40xx::sim::scpi
