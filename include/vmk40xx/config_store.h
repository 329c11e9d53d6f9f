/* Logical names of the IVI configuration store, for tools that set up a bench: list, add and
   remove the names this driver opens sessions by (VmK40xx_InitWithOptions with a logical name).
   Not IVI-C functions. The store is the one Initialize reads: the file IVICONFIGSERVERDEFAULT
   names, else the registered master store, else /var/lib/ivi/IviConfigurationStore.xml.

   Each function returns 0 on success and -1 on failure, with the reason in `error` (UTF-8,
   cut to errorSize bytes with its NUL; error may be NULL when errorSize is 0). */
#ifndef VMK40XX_CONFIG_STORE_H
#define VMK40XX_CONFIG_STORE_H

#include <stdint.h>

#include "vmk40xx/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The logical names that designate a session of this driver, one line each:
   "<logical name>\t<resource descriptor>\t<option string>\t<description>\n", then a NUL. The
   option string has the session's flags that differ from the defaults and its DriverSetup, as
   VmK40xx_InitWithOptions takes them. No store is an empty list.
   list (out): may be NULL when size is 0. size (in): bytes at list.
   required (out, may be NULL): the bytes the whole list needs, with its NUL.
   Returns 0 when the whole list fits, 1 when it did not (nothing is written then), -1. */
VMK40XX_EXPORT int32_t vmk40xx_config_list(char* list, int32_t size, int32_t* required,
                                          char* error, int32_t errorSize);

/* Adds a logical name with a driver session and a hardware asset of the same name, and the
   driver's software module when the store has none; a logical name that exists is replaced.
   Creates the store when there is none.
   options (in): "Simulate=true, QueryInstrStatus=true, DriverSetup=Model=K4201A": the flags
     RangeCheck, QueryInstrStatus, Cache, Simulate, RecordCoercions, InterchangeCheck and the
     DriverSetup text; NULL or "" for none. An unknown flag or a value that is no boolean fails.
   description (in): may be NULL. */
VMK40XX_EXPORT int32_t vmk40xx_config_add(const char* logicalName, const char* resource,
                                         const char* options, const char* description,
                                         char* error, int32_t errorSize);

/* Removes a logical name, and its driver session and hardware asset when nothing else refers to
   them. A name that is not there fails. */
VMK40XX_EXPORT int32_t vmk40xx_config_remove(const char* logicalName, char* error,
                                            int32_t errorSize);

#ifdef __cplusplus
}
#endif

#endif
