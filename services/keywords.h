// Two-way tables between enumeration values and the keywords the instrument uses for them,
// optionally different per model.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "services/model_table.h"

namespace vmk {

// One pair of a keyword table: `name` is a model, a family or empty (every model).
struct CEnumCommand {
  std::string_view name;
  int32_t value;
  std::string_view keyword;
};

class CEnumCommandTable {
 public:
  // Rows in order: for the same key, a later row replaces an earlier one, so a keyword shared by
  // two values reads back as the later value. A family row fills only the family's models that
  // have no pairs of their own yet; a row naming neither a model nor a family is ignored.
  CEnumCommandTable(std::span<const CEnumCommand> rows, const SupportedModelTable& models);

  // The keyword for the value on this model, else for every model; empty when there is none.
  // The text lives as long as the table.
  std::string_view EnumToKeyword(std::string_view model, int32_t value) const;
  // Exact, case-sensitive match; `value` is left alone when the keyword is unknown.
  bool KeywordToEnum(std::string_view model, std::string_view keyword, int32_t* value) const;

 private:
  struct Pairs {
    std::unordered_map<int32_t, std::string> toKeyword;
    StringMap<int32_t> toValue;
  };
  const Pairs* PairsOf(std::string_view model) const;

  StringMap<Pairs> byName_;
  // Most tables have no model of their own: a lookup then goes straight to the common pairs.
  const Pairs* common_ = nullptr;
  bool perModel_ = false;
};

// The instrument keywords of one enumeration type, as the I/O manager's enumeration query reads
// them.
class KeywordLookup {
 public:
  virtual bool ValueOf(std::string_view keyword, int32_t* value) const = 0;

 protected:
  ~KeywordLookup() = default;
};

// Binds a process-wide table to the session's model for the length of one call.
class CModelKeywordLookup final : public KeywordLookup {
 public:
  CModelKeywordLookup(const CEnumCommandTable& table, std::string_view model)
      : table_(table), model_(model) {}
  bool ValueOf(std::string_view keyword, int32_t* value) const override {
    return table_.KeywordToEnum(model_, keyword, value);
  }

 private:
  const CEnumCommandTable& table_;
  std::string_view model_;
};

}  // namespace vmk
