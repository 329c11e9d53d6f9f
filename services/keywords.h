// Two-way tables between enumeration values and the keywords the instrument uses for them,
// optionally different per model.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "io/io_seams.h"
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
  explicit CEnumCommandTable(std::span<const CEnumCommand> rows,
                             const SupportedModelTable& models = Models());

  // The keyword for the value on this model, else for every model; empty when there is none.
  std::string EnumToKeyword(std::string_view model, int32_t value) const;
  // Exact, case-sensitive match; `value` is left alone when the keyword is unknown.
  bool KeywordToEnum(std::string_view model, std::string_view keyword, int32_t* value) const;

 private:
  struct Pairs {
    std::unordered_map<int32_t, std::string> toKeyword;
    StringMap<int32_t> toValue;
  };
  const Pairs* PairsOf(std::string_view name) const;

  StringMap<Pairs> byName_;
};

// Binds a table to the session's model for the I/O layer's enumeration query. The model is
// copied, because the session hands it out by value; the table is process-wide.
class CModelKeywordLookup final : public KeywordLookup {
 public:
  CModelKeywordLookup(const CEnumCommandTable& table, std::string model)
      : table_(table), model_(std::move(model)) {}
  bool ValueOf(std::string_view keyword, int32_t* value) const override {
    return table_.KeywordToEnum(model_, keyword, value);
  }

 private:
  const CEnumCommandTable& table_;
  std::string model_;
};

}  // namespace vmk
