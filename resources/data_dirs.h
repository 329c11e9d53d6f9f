// Where the library's shipped data files (the trace style sheet) are found when the registry
// names no IVI installation directory.
#pragma once

#include <string>

namespace vmk {

// The company name of the module's version information: the directory of the driver's own
// files under the IVI root's "Components" directory.
inline constexpr const char* kCompanyName = "Velmora Technologies";
// The toolkit vendor's directory under "Components", taken when the company's is missing.
inline constexpr const char* kToolkitVendorDir = "Orvanti";

// The IVI root directory of this library's own files: its build tree's "share/ivi" when this
// is the library in its build tree, so that tests and the demo need no installation, else the
// installed data directory's "ivi".
std::string DefaultIviRootDir();

}  // namespace vmk
