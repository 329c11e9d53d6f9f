#include "dcpwr/instances.h"

#include <cstring>

namespace vmk {

HRESULT CreateRepCapInstance(VelmoraK40xx* root, const char* repCap,
                             const std::string& physicalName, int32_t index, CComObject** object,
                             CNode** node) {
  static constexpr struct {
    const char* repCap;
    CRepCap* (*create)(VelmoraK40xx*, std::string, int32_t);
  } kFactories[] = {
      {"VelmoraK40xxOutput", NewVelmoraK40xxOutput},
      {"VelmoraK40xxCalibration", NewVelmoraK40xxCalibration},
      {"VelmoraK40xxTrigger", NewVelmoraK40xxTrigger},
  };
  for (const auto& f : kFactories) {
    if (std::strcmp(f.repCap, repCap) != 0) continue;
    CRepCap* instance = f.create(root, physicalName, index);
    *object = instance;
    *node = instance;
    return S_OK;
  }
  return E_UNEXPECTED;
}

}  // namespace vmk
