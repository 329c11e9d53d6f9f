/* A program that includes its VISA installation's visatype.h before the driver's header. */
#include <visatype.h>

#include "vmk40xx/vmk40xx_c.h"

ViStatus ivic_visatype_first(ViPSession vi);

ViStatus ivic_visatype_first(ViPSession vi) {
  return VmK40xx_init("ASRL1::INSTR", VI_FALSE, VI_FALSE, vi);
}
