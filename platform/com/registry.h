// The registry stand-in: keys and their values as a plain value, the text form it is kept in on
// disk, and the files it lives in.
//
// A key path is a root and key names separated by backslashes: "HKEY_CLASSES_ROOT\CLSID\{...}".
// The roots are HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER (or HKCR, HKLM,
// HKCU). As in the Windows registry, key and value names compare without regard to letter case
// and keep the spelling they were created with; the value named "" is the key's default value.
// Every value is a string.
//
// The text form, one key per section, values below it:
//
//   [HKEY_CLASSES_ROOT\VelmoraK40xx.VelmoraK40xx]
//   @="VelmoraK40xx Object"
//   "AppID"="{...}"
//
// Strings are in double quotes with \\, \", \n, \r, \t and \xHH escapes; lines starting with ';'
// or '#' are comments.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vmk40xx/com.h"

namespace vmk::com {

class RegistryTree {
 public:
  // `path` with its root spelled out in full, or nothing when it is not a valid key path (no
  // known root, an empty key name, a control character).
  static std::optional<std::string> CanonicalPath(std::string_view path);

  // Creates the key and its missing parents; false for an invalid path.
  bool CreateKey(std::string_view path);
  // Sets a value, creating the key as needed; false for an invalid path or value name.
  bool SetValue(std::string_view path, std::string_view name, std::string_view data);
  std::optional<std::string> Value(std::string_view path, std::string_view name) const;
  bool HasKey(std::string_view path) const;
  // Removes the key with every key below it; false when there was none.
  bool DeleteKey(std::string_view path);
  bool DeleteValue(std::string_view path, std::string_view name);
  // The names of the keys directly below `path`, as spelled.
  std::vector<std::string> SubKeys(std::string_view path) const;
  size_t KeyCount() const { return keys_.size(); }
  bool operator==(const RegistryTree& o) const;

  struct Key {
    std::string path;  // canonical, as spelled
    // lower-case name -> (name as spelled, data)
    std::map<std::string, std::pair<std::string, std::string>> values;
  };
  // Every key, parents before their children.
  std::vector<const Key*> Keys() const;

 private:
  Key* Find(std::string_view canonical);
  const Key* Find(std::string_view canonical) const;
  // Keys are ordered by their lower-case path with the separator sorting first, so that a key's
  // subtree is one contiguous run after it.
  std::map<std::string, Key> keys_;
};

// Parses the text form. On failure the result is empty and `error` names the line and the fault.
std::optional<RegistryTree> ParseRegistry(std::string_view text, std::string* error);
// The text form of `tree`; ParseRegistry reads it back to an equal tree.
std::string FormatRegistry(const RegistryTree& tree);

// Where the registry lives: the file VMK40XX_REGISTRY names, alone; otherwise the per-user file
// $XDG_CONFIG_HOME/vmk40xx/registry.reg (XDG_CONFIG_HOME defaults to ~/.config), written by
// registration, over the system-wide /etc/vmk40xx/registry.reg, which is only read.
struct RegistryFiles {
  std::string writable;
  std::vector<std::string> readOnly;
};
RegistryFiles LocateRegistry();
inline constexpr const char* kSystemRegistryFile = "/etc/vmk40xx/registry.reg";

// One value as the registry files give it: the writable file's value when it has one, else the
// system file's. Nothing when no file has it; a missing, unreadable or damaged file has nothing.
std::optional<std::string> ReadRegistryValue(std::string_view key, std::string_view name);

// Changes the writable registry file as one step: under an exclusive lock on the file (other
// processes registering at the same time wait), reads it, applies `change`, and replaces the
// file atomically. A file that cannot be read or parsed is left as it is and the update fails
// with REGDB_E_READREGDB; a failed write with REGDB_E_WRITEREGDB. `error` says why.
HRESULT UpdateRegistry(const std::function<void(RegistryTree&)>& change, std::string* error);

}  // namespace vmk::com
