// The keys that registering the driver's COM server writes, as changes to a registry value: the
// AppID script's keys, the class with its ProgIDs and component categories, and the type library.
#pragma once

#include <string>

#include "platform/com/registry.h"
#include "vmk40xx/com.h"

namespace vmk {

// {7648A1B1-7963-4593-8DCF-363FBC107580}
inline constexpr GUID APPID_VelmoraK40xx{
    0x7648a1b1, 0x7963, 0x4593, {0x8d, 0xcf, 0x36, 0x3f, 0xbc, 0x10, 0x75, 0x80}};

// Writes every key of the server for the library at `libraryPath`. Keys of an earlier
// registration are replaced whole, so registering again leaves one consistent set.
void RegisterServerKeys(com::RegistryTree& tree, const std::string& libraryPath);
// Removes the server's keys and nothing else: the shared parents (CLSID, AppID, TypeLib,
// Interface) stay, and a ProgID or interface key that now belongs to another class is kept.
void UnregisterServerKeys(com::RegistryTree& tree);

}  // namespace vmk
