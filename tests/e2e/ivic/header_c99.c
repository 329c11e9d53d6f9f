/* The public C header alone, compiled as C99 with every warning an error. */
#include "vmk40xx/vmk40xx_c.h"

ViStatus ivic_header_c99(ViSession vi);

ViStatus ivic_header_c99(ViSession vi) {
  ViReal64 level = 0;
  return VmK40xx_GetAttributeViReal64(vi, "Output1", VMK40XX_ATTR_VOLTAGE_LEVEL, &level);
}
