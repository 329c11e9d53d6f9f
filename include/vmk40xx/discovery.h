/* Which instruments this machine can reach. Not an IVI-C function: the I/O library's own search,
   for the command-line tool's list and for any program that wants to offer a choice. */
#ifndef VMK40XX_DISCOVERY_H
#define VMK40XX_DISCOVERY_H

#include <stdint.h>

#include "vmk40xx/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* vmk40xx_find_resources
   Purpose: finds the instruments whose VISA resource strings match `expression`: serial ports
     (from sysfs, USB adapters with their identifiers, and the devices named in the environment
     variable VMK40XX_ASRL_DEVICES, colon-separated), USB instruments bound to the usbtmc driver,
     and VXI-11 instruments that answer a portmapper broadcast on the local networks (or on the
     addresses in VMK40XX_VXI11_BROADCAST, comma-separated). Takes about half a second, more for
     each instrument asked "*IDN?".
   expression (in): VISA's grammar, without regard to case: "?*" everything, "TCPIP?*::INSTR",
     "ASRL?*", "USB?*INSTR"; '?' is one character, '*' and '+' repeat what precedes them,
     [list], [^list], (group) and a|b as usual.
   list (out): one line per instrument, "<resource>\t<*IDN? reply or empty>\t<description>\n",
     then a NUL. Whole lines only: what does not fit is left out. May be NULL when size is 0.
   size (in): the bytes at `list`.
   count (out, may be NULL): the instruments in `list`.
   required (out, may be NULL): the bytes the whole list needs, with its NUL.
   Returns: 0 when the whole list fits; 0x00040006 (S_VISA_MAX_CNT) when lines were left out;
     0x80040011 (E_VISA_RSRC_NFOUND) when nothing matches; 0x80040010 (E_VISA_INV_EXPR) for an
     expression that is not one; 0x80070057 (E_INVALIDARG) for a null expression or buffer. */
VMK40XX_EXPORT int32_t vmk40xx_find_resources(const char* expression, char* list, int32_t size,
                                             int32_t* count, int32_t* required);

#ifdef __cplusplus
}
#endif

#endif
