// SCPI message lexing and header matching, without any knowledge of the instrument.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vmk40xx::sim::scpi {

// SCPI error numbers the lexer and the instrument report.
enum Error : int {
  kNoError = 0,
  kSyntaxError = -102,
  kDataTypeError = -104,
  kParameterNotAllowed = -108,
  kMissingParameter = -109,
  kMnemonicTooLong = -112,
  kUndefinedHeader = -113,
  kHeaderSuffixOutOfRange = -114,
  kNumericDataError = -120,
  kInvalidCharInNumber = -121,
  kInvalidSuffix = -131,
  kInvalidCharacterData = -141,
  kInvalidStringData = -151,
  kCommandProtected = -203,
  kTriggerIgnored = -211,
  kInitIgnored = -213,
  kSettingsConflict = -221,
  kDataOutOfRange = -222,
  kTooMuchData = -223,
  kIllegalParameterValue = -224,
  kQueueOverflow = -350,
};

std::string_view error_text(int code);

enum class ParamKind : std::uint8_t { Number, Chars, String };

struct Param {
  ParamKind kind = ParamKind::Chars;
  std::string_view text;  // characters as sent; for strings the part between the quotes
  double number = 0;      // Number only, unit multiplier applied
  char quote = 0;         // String only: the quote character, so "" can be undone

  bool is(std::string_view keyword) const;  // case-insensitive Chars match
  std::string unquoted() const;             // string value with doubled quotes undone
};

constexpr std::size_t kMaxMnemonics = 8;
constexpr std::size_t kMaxParams = 8;

// One program message unit: a header and its parameters.
struct Unit {
  bool common = false;    // "*IDN?" and friends
  bool absolute = false;  // leading ':' returns to the root
  bool query = false;
  std::size_t mnemonic_count = 0;
  std::array<std::string_view, kMaxMnemonics> mnemonics{};
  std::size_t param_count = 0;
  std::array<Param, kMaxParams> params{};
};

// Splits a line into units at ';' outside quoted strings. Returns false when the line is done.
// `pos` advances past the separator.
bool next_unit(std::string_view line, std::size_t& pos, std::string_view& unit);

// Lexes one unit (already cut at ';'). Returns 0 or a negative SCPI error.
int lex_unit(std::string_view text, Unit& out);

// A header pattern such as "[SOURce:]VOLTage[:LEVel]:TRIGgered" or "STATus:...:ISUMmary#".
// Upper-case letters are the short form; '#' marks a numeric suffix.
class Pattern {
 public:
  explicit Pattern(std::string_view text);
  // Matches a mnemonic path. `suffixes` receives the numeric suffixes in order (-1 when a
  // suffix-taking node was written without one).
  bool match(const std::string_view* mnemonics, std::size_t count,
             std::array<int, 3>& suffixes) const;
  std::string_view text() const { return text_; }

 private:
  struct Node {
    std::string short_form;  // upper case
    std::string long_form;   // upper case
    bool optional = false;
    bool suffix = false;
  };
  bool match_from(std::size_t node, const std::string_view* m, std::size_t count,
                  std::array<int, 3>& suffixes, std::size_t suffix_slot) const;
  std::string_view text_;
  std::vector<Node> nodes_;
};

bool iequals(std::string_view a, std::string_view b);

// Reply formatting in the instrument's style.
void append_number(std::string& out, double v);            // +5.00000000E+00
void append_int(std::string& out, long long v);            // 12, -3
void append_quoted(std::string& out, std::string_view s);  // "text", with " doubled

}  // namespace vmk40xx::sim::scpi
