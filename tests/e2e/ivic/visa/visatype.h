/* A stand-in for a VISA installation's visatype.h, written from the type table of the VISA
   specification: the same include guard, types and constants, so that the driver's C header is
   compiled here as it would be beside the real one. */
#ifndef __VISATYPE_HEADER__
#define __VISATYPE_HEADER__

#define _VI_FAR
#define _VI_FUNC
#define _VI_FUNCC
#define _VI_FUNCH
#define _VI_SIGNED signed
#define _VI_PTR *

#include <limits.h>
#if ULONG_MAX > 0xFFFFFFFFUL
typedef unsigned int ViUInt32;
typedef _VI_SIGNED int ViInt32;
#else
typedef unsigned long ViUInt32;
typedef _VI_SIGNED long ViInt32;
#endif
typedef ViUInt32 _VI_PTR ViPUInt32;
typedef ViInt32 _VI_PTR ViPInt32;
typedef unsigned short ViUInt16;
typedef _VI_SIGNED short ViInt16;
typedef unsigned char ViUInt8;
typedef _VI_SIGNED char ViInt8;
typedef char ViChar;
typedef ViChar _VI_PTR ViPChar;
typedef unsigned char ViByte;
typedef void _VI_PTR ViAddr;
typedef float ViReal32;
typedef double ViReal64;
typedef ViUInt8 _VI_PTR ViBuf;
typedef const ViChar* ViConstBuf;
typedef ViChar _VI_PTR ViString;
typedef const ViChar* ViConstString;
#define _VI_CONST_STRING_DEFINED
typedef ViString ViRsrc;
typedef ViConstString ViConstRsrc;
typedef ViUInt16 ViBoolean;
typedef ViBoolean _VI_PTR ViPBoolean;
typedef ViInt32 ViStatus;
typedef ViStatus _VI_PTR ViPStatus;
typedef ViUInt32 ViVersion;
typedef ViUInt32 ViObject;
typedef ViObject ViSession;
typedef ViSession _VI_PTR ViPSession;
typedef ViUInt32 ViAttr;

#define VI_NULL (0)
#define VI_TRUE (1)
#define VI_FALSE (0)
#define VI_SUCCESS (0L)
#define _VI_ERROR (-2147483647L-1)

#endif
