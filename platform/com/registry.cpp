// The registry as a value, and its text form. Pure: no file is touched here.
#include <algorithm>
#include <cstdio>

#include "platform/com/registry.h"

#include "platform/com/ascii.h"

namespace vmk::com {

namespace {

constexpr struct {
  std::string_view full;
  std::string_view shortName;
} kRoots[] = {
    {"HKEY_CLASSES_ROOT", "HKCR"},
    {"HKEY_LOCAL_MACHINE", "HKLM"},
    {"HKEY_CURRENT_USER", "HKCU"},
};

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return ascii::EqualsNoCase(a, b);
}

std::string Lower(std::string_view s) {
  return ascii::LowerCopy(s);
}

bool HasControl(std::string_view s) {
  return std::any_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

// The ordering key of a canonical path: lower case, with the separator below every other
// character.
std::string OrderKey(std::string_view canonical) {
  std::string k = Lower(canonical);
  std::replace(k.begin(), k.end(), '\\', '\x01');
  return k;
}

std::string_view Parent(std::string_view canonical) {
  size_t slash = canonical.rfind('\\');
  return slash == std::string_view::npos ? std::string_view() : canonical.substr(0, slash);
}

}  // namespace

std::optional<std::string> RegistryTree::CanonicalPath(std::string_view path) {
  size_t slash = path.find('\\');
  std::string_view root = path.substr(0, slash);
  std::string out;
  for (const auto& r : kRoots)
    if (EqualsNoCase(root, r.full) || EqualsNoCase(root, r.shortName)) out = r.full;
  if (out.empty()) return std::nullopt;
  while (slash != std::string_view::npos) {
    size_t next = path.find('\\', slash + 1);
    std::string_view name = path.substr(
        slash + 1, next == std::string_view::npos ? std::string_view::npos : next - slash - 1);
    if (name.empty() || HasControl(name)) return std::nullopt;
    out.push_back('\\');
    out.append(name);
    slash = next;
  }
  return out;
}

RegistryTree::Key* RegistryTree::Find(std::string_view canonical) {
  auto it = keys_.find(OrderKey(canonical));
  return it == keys_.end() ? nullptr : &it->second;
}

const RegistryTree::Key* RegistryTree::Find(std::string_view canonical) const {
  auto it = keys_.find(OrderKey(canonical));
  return it == keys_.end() ? nullptr : &it->second;
}

bool RegistryTree::CreateKey(std::string_view path) {
  std::optional<std::string> canonical = CanonicalPath(path);
  if (!canonical) return false;
  // A root alone is always there and is not written.
  for (std::string_view p = *canonical; p.find('\\') != std::string_view::npos; p = Parent(p)) {
    std::string order = OrderKey(p);
    if (keys_.count(order)) break;
    keys_.emplace(std::move(order), Key{std::string(p), {}});
  }
  return true;
}

bool RegistryTree::SetValue(std::string_view path, std::string_view name, std::string_view data) {
  if (HasControl(name) || !CreateKey(path)) return false;
  Key* key = Find(*CanonicalPath(path));
  if (!key) return false;  // a root: values live in keys only
  key->values[Lower(name)] = {std::string(name), std::string(data)};
  return true;
}

std::optional<std::string> RegistryTree::Value(std::string_view path, std::string_view name) const {
  std::optional<std::string> canonical = CanonicalPath(path);
  if (!canonical) return std::nullopt;
  const Key* key = Find(*canonical);
  if (!key) return std::nullopt;
  auto it = key->values.find(Lower(name));
  if (it == key->values.end()) return std::nullopt;
  return it->second.second;
}

bool RegistryTree::HasKey(std::string_view path) const {
  std::optional<std::string> canonical = CanonicalPath(path);
  if (!canonical) return false;
  return canonical->find('\\') == std::string::npos || Find(*canonical) != nullptr;
}

bool RegistryTree::DeleteKey(std::string_view path) {
  std::optional<std::string> canonical = CanonicalPath(path);
  if (!canonical || canonical->find('\\') == std::string::npos) return false;
  std::string order = OrderKey(*canonical);
  auto first = keys_.find(order);
  if (first == keys_.end()) return false;
  // The subtree: the key, then everything that starts with its path and a separator.
  std::string below = order + '\x01';
  auto last = std::next(first);
  while (last != keys_.end() && last->first.compare(0, below.size(), below) == 0) ++last;
  keys_.erase(first, last);
  return true;
}

bool RegistryTree::DeleteValue(std::string_view path, std::string_view name) {
  std::optional<std::string> canonical = CanonicalPath(path);
  if (!canonical) return false;
  Key* key = Find(*canonical);
  return key && key->values.erase(Lower(name)) > 0;
}

std::vector<std::string> RegistryTree::SubKeys(std::string_view path) const {
  std::vector<std::string> out;
  std::optional<std::string> canonical = CanonicalPath(path);
  if (!canonical) return out;
  std::string below = OrderKey(*canonical) + '\x01';
  for (auto it = keys_.lower_bound(below);
       it != keys_.end() && it->first.compare(0, below.size(), below) == 0; ++it) {
    std::string_view rest = std::string_view(it->second.path).substr(below.size());
    if (rest.find('\\') == std::string_view::npos) out.emplace_back(rest);
  }
  return out;
}

bool RegistryTree::operator==(const RegistryTree& o) const {
  if (keys_.size() != o.keys_.size()) return false;
  for (auto a = keys_.begin(), b = o.keys_.begin(); a != keys_.end(); ++a, ++b) {
    if (a->first != b->first || a->second.values.size() != b->second.values.size()) return false;
    for (auto va = a->second.values.begin(), vb = b->second.values.begin();
         va != a->second.values.end(); ++va, ++vb)
      if (va->first != vb->first || va->second.second != vb->second.second) return false;
  }
  return true;
}

std::vector<const RegistryTree::Key*> RegistryTree::Keys() const {
  std::vector<const Key*> out;
  out.reserve(keys_.size());
  for (const auto& [order, key] : keys_) out.push_back(&key);
  return out;
}

// ---------------------------------------------------------------------------------------------
// Text form

namespace {

void AppendQuoted(std::string& out, std::string_view s) {
  out.push_back('"');
  for (char c : s) {
    unsigned char u = static_cast<unsigned char>(c);
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (u < 0x20 || u == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\x%02X", u);
          out += buf;
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = ascii::Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A quoted string at `s[*pos]`; moves `*pos` past it.
bool ReadQuoted(std::string_view s, size_t* pos, std::string* out, std::string* fault) {
  if (*pos >= s.size() || s[*pos] != '"') return *fault = "a string must start with '\"'", false;
  out->clear();
  for (size_t i = *pos + 1; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c != '\\') {
      out->push_back(c);
      continue;
    }
    if (++i == s.size()) break;
    switch (s[i]) {
      case '\\':
        out->push_back('\\');
        break;
      case '"':
        out->push_back('"');
        break;
      case 'n':
        out->push_back('\n');
        break;
      case 'r':
        out->push_back('\r');
        break;
      case 't':
        out->push_back('\t');
        break;
      case 'x': {
        int hi = i + 1 < s.size() ? HexDigit(s[i + 1]) : -1;
        int lo = i + 2 < s.size() ? HexDigit(s[i + 2]) : -1;
        if (hi < 0 || lo < 0) return *fault = "\\x needs two hexadecimal digits", false;
        out->push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        break;
      }
      default:
        return *fault = std::string("unknown escape \\") + s[i], false;
    }
  }
  return *fault = "the string has no closing '\"'", false;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

}  // namespace

std::optional<RegistryTree> ParseRegistry(std::string_view text, std::string* error) {
  RegistryTree tree;
  std::string current;
  size_t lineNo = 0;
  auto fail = [&](const std::string& fault) -> std::optional<RegistryTree> {
    *error = "line " + std::to_string(lineNo) + ": " + fault;
    return std::nullopt;
  };
  if (text.find('\0') != std::string_view::npos) {
    lineNo =
        static_cast<size_t>(std::count(text.begin(), text.begin() + text.find('\0'), '\n')) + 1;
    return fail("a NUL byte: this is not a registry text file");
  }
  size_t pos = 0;
  while (pos < text.size()) {
    ++lineNo;
    size_t end = text.find('\n', pos);
    std::string_view line = TrimBlanks(
        text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos));
    pos = end == std::string_view::npos ? text.size() : end + 1;
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      if (line.back() != ']') return fail("a key line must end with ']'");
      std::string_view path = line.substr(1, line.size() - 2);
      std::optional<std::string> canonical = RegistryTree::CanonicalPath(path);
      if (!canonical || canonical->find('\\') == std::string::npos)
        // Appended: GCC 12 at -O3 warns falsely (-Wrestrict) on "\"" + std::string(path).
        return fail(std::string("\"").append(path).append("\" is not a key path"));
      tree.CreateKey(*canonical);
      current = *canonical;
      continue;
    }
    if (line.front() != '@' && line.front() != '"') return fail("not a key, a value or a comment");
    if (current.empty()) return fail("a value before the first key");
    std::string name, data, fault;
    size_t at = 0;
    if (line.front() == '@')
      at = 1;
    else if (!ReadQuoted(line, &at, &name, &fault))
      return fail(fault);
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    if (at >= line.size() || line[at] != '=') return fail("'=' expected after the value name");
    ++at;
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    if (!ReadQuoted(line, &at, &data, &fault)) return fail(fault);
    if (!TrimBlanks(line.substr(at)).empty()) return fail("text after the value");
    if (!tree.SetValue(current, name, data)) return fail("the value name has a control character");
  }
  return tree;
}

std::string FormatRegistry(const RegistryTree& tree) {
  std::string out =
      "; The K40xx driver's COM registry: keys and their values, written by registration.\n";
  for (const RegistryTree::Key* key : tree.Keys()) {
    out += "\n[" + key->path + "]\n";
    for (const auto& [lower, value] : key->values) {
      if (value.first.empty())
        out.push_back('@');
      else
        AppendQuoted(out, value.first);
      out.push_back('=');
      AppendQuoted(out, value.second);
      out.push_back('\n');
    }
  }
  return out;
}

}  // namespace vmk::com
