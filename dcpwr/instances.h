// Creation of the repeated-capability instances of a session.
#pragma once

#include <string>

#include "driver/rep_cap.h"

namespace vmk {

class VelmoraK40xx;

CRepCap* NewVelmoraK40xxOutput(VelmoraK40xx* root, std::string physicalName, int32_t index);
CRepCap* NewVelmoraK40xxTrigger(VelmoraK40xx* root, std::string physicalName, int32_t index);
CRepCap* NewVelmoraK40xxCalibration(VelmoraK40xx* root, std::string physicalName, int32_t index);

// One instance of the repeated capability `repCap`, with one reference owned by the caller.
HRESULT CreateRepCapInstance(VelmoraK40xx* root, const char* repCap,
                             const std::string& physicalName, int32_t index, CComObject** object,
                             CNode** node);

}  // namespace vmk
