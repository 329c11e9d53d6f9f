// What the library shows the world: the dynamic symbol table holds exactly the 87 functions and the
// other entry points of the public headers, and the public header's attribute and status macros
// are the rows of the tables the library dispatches from.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The names of the symbols the library defines and exports: its functions, or every kind.
std::set<std::string> ExportedSymbols(const char* path, bool functionsOnly) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<char> image((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
  std::set<std::string> names;
  if (image.size() < sizeof(Elf64_Ehdr)) return names;
  Elf64_Ehdr header;
  std::memcpy(&header, image.data(), sizeof header);
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64)
    return names;
  std::vector<Elf64_Shdr> sections(header.e_shnum);
  std::memcpy(sections.data(), image.data() + header.e_shoff, sections.size() * sizeof(Elf64_Shdr));
  for (const Elf64_Shdr& s : sections) {
    if (s.sh_type != SHT_DYNSYM) continue;
    const char* strings = image.data() + sections[s.sh_link].sh_offset;
    for (size_t i = 0; i < s.sh_size / sizeof(Elf64_Sym); ++i) {
      Elf64_Sym sym;
      std::memcpy(&sym, image.data() + s.sh_offset + i * sizeof sym, sizeof sym);
      const int bind = ELF64_ST_BIND(sym.st_info);
      const int type = ELF64_ST_TYPE(sym.st_info);
      if (sym.st_shndx != SHN_UNDEF && (type == STT_FUNC || !functionsOnly) &&
          (bind == STB_GLOBAL || bind == STB_WEAK || bind == STB_GNU_UNIQUE))
        names.insert(strings + sym.st_name);
    }
  }
  return names;
}

std::set<std::string> ExportedFunctions(const char* path) {
  return ExportedSymbols(path, true);
}

TEST(Surface, TheDynamicSymbolTableHoldsThe87Functions) {
  const std::set<std::string> expected{"VmK40xx_init",
                                       "VmK40xx_InitWithOptions",
                                       "VmK40xx_close",
                                       "VmK40xx_GetNativeIUnknownPtr",
                                       "VmK40xx_AttachToExistingCOMSession",
                                       "VmK40xx_LockSession",
                                       "VmK40xx_UnlockSession",
                                       "VmK40xx_GetError",
                                       "VmK40xx_ClearError",
                                       "VmK40xx_error_message",
                                       "VmK40xx_GetAttributeViInt32",
                                       "VmK40xx_SetAttributeViInt32",
                                       "VmK40xx_GetAttributeViReal64",
                                       "VmK40xx_SetAttributeViReal64",
                                       "VmK40xx_GetAttributeViBoolean",
                                       "VmK40xx_SetAttributeViBoolean",
                                       "VmK40xx_GetAttributeViString",
                                       "VmK40xx_SetAttributeViString",
                                       "VmK40xx_GetAttributeViSession",
                                       "VmK40xx_SetAttributeViSession",
                                       "VmK40xx_reset",
                                       "VmK40xx_ResetWithDefaults",
                                       "VmK40xx_Disable",
                                       "VmK40xx_self_test",
                                       "VmK40xx_error_query",
                                       "VmK40xx_revision_query",
                                       "VmK40xx_InvalidateAllAttributes",
                                       "VmK40xx_ResetInterchangeCheck",
                                       "VmK40xx_ClearInterchangeWarnings",
                                       "VmK40xx_GetNextCoercionRecord",
                                       "VmK40xx_GetNextInterchangeWarning",
                                       "VmK40xx_GetChannelName",
                                       "VmK40xx_GetOutputName",
                                       "VmK40xx_GetTriggerName",
                                       "VmK40xx_GetCalibrationName",
                                       "VmK40xx_ConfigureVoltageLevel",
                                       "VmK40xx_ConfigureCurrentLimit",
                                       "VmK40xx_ConfigureOVP",
                                       "VmK40xx_ConfigureOutputRange",
                                       "VmK40xx_ConfigureOutputEnabled",
                                       "VmK40xx_ConfigureTriggerSource",
                                       "VmK40xx_ConfigureTriggeredVoltageLevel",
                                       "VmK40xx_ConfigureTriggeredCurrentLimit",
                                       "VmK40xx_QueryMaxVoltageLevel",
                                       "VmK40xx_QueryMaxCurrentLimit",
                                       "VmK40xx_QueryOutputState",
                                       "VmK40xx_Measure",
                                       "VmK40xx_ResetOutputProtection",
                                       "VmK40xx_Initiate",
                                       "VmK40xx_Abort",
                                       "VmK40xx_SendSoftwareTrigger",
                                       "VmK40xx_OutputApplyVoltageCurrent",
                                       "VmK40xx_OutputQueryState",
                                       "VmK40xx_OutputRunStep",
                                       "VmK40xx_OutputGetStep",
                                       "VmK40xx_OutputSetStep",
                                       "VmK40xx_OutputProtectionConfigureOCP",
                                       "VmK40xx_OutputProtectionConfigureOVP",
                                       "VmK40xx_OutputProtectionQueryOCPLimitMax",
                                       "VmK40xx_OutputProtectionQueryOVPLimitMax",
                                       "VmK40xx_OutputProtectionResetOCP",
                                       "VmK40xx_OutputProtectionResetOVP",
                                       "VmK40xx_OutputProtectionResetOutputProtection",
                                       "VmK40xx_CalibrationCurrentData",
                                       "VmK40xx_CalibrationCurrentLevel",
                                       "VmK40xx_CalibrationCurrentProtection",
                                       "VmK40xx_CalibrationVoltageData",
                                       "VmK40xx_CalibrationVoltageLevel",
                                       "VmK40xx_CalibrationVoltageProtection",
                                       "VmK40xx_CalibrationsDACError",
                                       "VmK40xx_CalibrationsSetState",
                                       "VmK40xx_DisplayClear",
                                       "VmK40xx_StatusClear",
                                       "VmK40xx_StatusConfigureRegister",
                                       "VmK40xx_StatusGetRegister",
                                       "VmK40xx_StatusSetRegister",
                                       "VmK40xx_StatusQueryRegister",
                                       "VmK40xx_SystemBeep",
                                       "VmK40xx_SystemEnableLocalControls",
                                       "VmK40xx_SystemDisableLocalControls",
                                       "VmK40xx_SystemGetMemoryName",
                                       "VmK40xx_SystemSetMemoryName",
                                       "VmK40xx_SystemSaveState",
                                       "VmK40xx_SystemRecallState",
                                       "VmK40xx_SystemWaitForOperationComplete",
                                       "VmK40xx_SystemWrite",
                                       "VmK40xx_SystemRead"};
  ASSERT_EQ(expected.size(), 87u);
  // Only the IVI-C functions carry the IVI-C prefix; the library's other C entry points
  // (vmk40xx_find_resources of vmk40xx/discovery.h) are spelled in lower case so that a caller
  // listing the driver's functions by prefix finds exactly these.
  std::set<std::string> ivic;
  for (const std::string& name : ExportedFunctions(VMK40XX_LIBRARY))
    if (name.rfind("VmK40xx_", 0) == 0) ivic.insert(name);
  EXPECT_EQ(ivic, expected);
}

// Beside the 87, only the entry points a COM client, a VISA-style search and the tool's logical
// names need, all C: no C++
// symbol of the driver's layers, nor of a standard-library template they instantiate, is seen
// (a program linking another copy of either would otherwise bind to ours).
TEST(Surface, NothingButTheEntryPointsOfThePublicHeadersIsExported) {
  const std::set<std::string> expected{"CLSIDFromProgID",
                                       "CLSIDFromString",
                                       "CoCreateInstance",
                                       "CoInitializeEx",
                                       "CoUninitialize",
                                       "CreateErrorInfo",
                                       "DllCanUnloadNow",
                                       "DllGetClassObject",
                                       "DllRegisterServer",
                                       "DllUnregisterServer",
                                       "GetErrorInfo",
                                       "SafeArrayAccessData",
                                       "SafeArrayCopy",
                                       "SafeArrayCreateVector",
                                       "SafeArrayDestroy",
                                       "SafeArrayGetDim",
                                       "SafeArrayGetElement",
                                       "SafeArrayGetElemsize",
                                       "SafeArrayGetLBound",
                                       "SafeArrayGetUBound",
                                       "SafeArrayGetVartype",
                                       "SafeArrayPutElement",
                                       "SafeArrayUnaccessData",
                                       "SetErrorInfo",
                                       "StringFromGUID2",
                                       "SysAllocString",
                                       "SysAllocStringLen",
                                       "SysFreeString",
                                       "SysReAllocString",
                                       "SysStringByteLen",
                                       "SysStringLen",
                                       "VarBstrCmp",
                                       "VarR8Round",
                                       "VariantClear",
                                       "VariantCopy",
                                       "VariantInit",
                                       "vmk40xx_config_add",
                                       "vmk40xx_config_list",
                                       "vmk40xx_config_remove",
                                       "vmk40xx_find_resources"};
  std::set<std::string> others;
  for (const std::string& name : ExportedSymbols(VMK40XX_LIBRARY, false))
    if (name.rfind("VmK40xx_", 0) != 0) others.insert(name);
  EXPECT_EQ(others, expected);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// NAME -> value of every "#define VMK40XX_<prefix>NAME value" line of the public header.
std::map<std::string, std::string> HeaderMacros(const std::string& pattern) {
  const std::string header =
      ReadFile(std::string(VMK40XX_SOURCE_DIR) + "/include/vmk40xx/vmk40xx_c.h");
  std::map<std::string, std::string> macros;
  const std::regex define("#define VMK40XX_(" + pattern + ")\\s+(\\S+)");
  for (auto it = std::sregex_iterator(header.begin(), header.end(), define);
       it != std::sregex_iterator(); ++it)
    macros[(*it)[1]] = (*it)[2];
  return macros;
}

TEST(Surface, TheAttributeMacrosAreTheRowsOfTheAttributeTable) {
  std::map<std::string, std::string> rows;
  std::map<std::string, int> types, access;
#define ATTR(id, name, type, acc, repcap) \
  rows["ATTR_" #name] = #id;              \
  ++types[#type];                         \
  ++access[#acc];
#include "vmk40xx/vmk40xx_attributes.def"
  EXPECT_EQ(rows.size(), 59u);
  EXPECT_EQ(types, (std::map<std::string, int>{
                       {"ViBoolean", 18}, {"ViInt32", 16}, {"ViReal64", 10}, {"ViString", 15}}));
  EXPECT_EQ(access, (std::map<std::string, int>{{"RW", 35}, {"RO", 23}, {"WO", 1}}));
  EXPECT_EQ(HeaderMacros("ATTR_\\w+"), rows);
}

TEST(Surface, TheStatusMacrosAreTheRowsOfTheStatusTable) {
  std::map<std::string, std::string> rows;
  int mapped = 0;
#define STATUS(name, vistatus, hresult, text) \
  rows[#name] = "((ViStatus)" #vistatus ")";  \
  ++mapped;
#define OWN_STATUS(name, vistatus) rows[#name] = "((ViStatus)" #vistatus ")";
#include "ivic/statuses.def"
  EXPECT_EQ(mapped, 47);
  EXPECT_EQ(HeaderMacros("SUCCESS|(?:ERROR|WARN)_\\w+"), rows);
}

}  // namespace
