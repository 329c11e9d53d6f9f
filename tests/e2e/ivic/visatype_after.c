/* A program that includes the driver's header first and visatype.h after it. */
#include "vmk40xx/vmk40xx_c.h"

#include <visatype.h>

ViStatus ivic_visatype_after(ViPSession vi);

ViStatus ivic_visatype_after(ViPSession vi) {
  return VmK40xx_init("ASRL1::INSTR", VI_FALSE, VI_FALSE, vi);
}
