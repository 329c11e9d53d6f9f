/* Marks the library's entry points. The library is built with hidden visibility, so only what
   carries this mark is exported: the C functions, the COM server entry points and the few data
   objects callers link against. */
#ifndef VMK40XX_EXPORT_H
#define VMK40XX_EXPORT_H

#if defined(__GNUC__) || defined(__clang__)
#define VMK40XX_EXPORT __attribute__((visibility("default")))
#else
#define VMK40XX_EXPORT
#endif

#endif
