/* Sets 5 V and 1 A on Output2, switches the outputs on and prints what Output2 measures.

     set_output [RESOURCE [OPTIONS]]

   Without a resource it runs in simulation as a K4201A. Build against an installation with
     cc set_output.c $(pkg-config --cflags --libs vmk40xx) */
#include <stdio.h>

#include "vmk40xx/vmk40xx_c.h"

/* Prints the description of a failure; 1 when there was one. */
static int Failed(ViSession vi, ViStatus status, const char* what) {
  ViChar text[512];
  if (status >= 0) return 0;
  VmK40xx_GetError(vi, &status, sizeof text, text);
  fprintf(stderr, "%s failed (0x%08X): %s\n", what, (unsigned)status, text);
  return 1;
}

int main(int argc, char** argv) {
  const char* resource = argc > 1 ? argv[1] : "PSU";
  const char* options = argc > 2 ? argv[2] : argc > 1 ? "" : "Simulate=true, DriverSetup=Model=K4201A";
  ViSession vi = VI_NULL;
  ViReal64 volts = 0, amps = 0;
  int failed = 0;

  if (Failed(VI_NULL, VmK40xx_InitWithOptions(resource, VI_TRUE, VI_FALSE, options, &vi), "init"))
    return 1;
  failed = Failed(vi, VmK40xx_OutputApplyVoltageCurrent(vi, "Output2", 5.0, 1.0), "apply") ||
           Failed(vi, VmK40xx_ConfigureOutputEnabled(vi, "Output2", VI_TRUE), "enable") ||
           Failed(vi, VmK40xx_Measure(vi, "Output2", VMK40XX_VAL_MEASURE_VOLTAGE, &volts),
                  "measure voltage") ||
           Failed(vi, VmK40xx_Measure(vi, "Output2", VMK40XX_VAL_MEASURE_CURRENT, &amps),
                  "measure current");
  if (!failed) printf("Output2: %.3f V, %.3f A\n", volts, amps);
  if (Failed(vi, VmK40xx_close(vi), "close")) failed = 1;
  return failed;
}
