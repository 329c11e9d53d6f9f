"""The driver's C library through ctypes: loading it and the signatures of its functions."""

import ctypes
import os
from typing import Any, Dict, Optional, Tuple

ViSession = ctypes.c_uint32
ViStatus = ctypes.c_int32
ViInt32 = ctypes.c_int32
ViInt16 = ctypes.c_int16
ViAttr = ctypes.c_uint32
ViReal64 = ctypes.c_double
ViBoolean = ctypes.c_uint16
ViString = ctypes.c_char_p

_S, _I, _A, _R, _B, _C, _P = ViSession, ViInt32, ViAttr, ViReal64, ViBoolean, ctypes.c_char_p, ctypes.POINTER

# name: argument types (every function returns a ViStatus)
_SIGNATURES: Dict[str, Tuple[Any, ...]] = {
    "VmK40xx_InitWithOptions": (_C, _B, _B, _C, _P(_S)),
    "VmK40xx_close": (_S,),
    "VmK40xx_GetError": (_S, _P(ViStatus), _I, _C),
    "VmK40xx_ClearError": (_S,),
    "VmK40xx_GetAttributeViInt32": (_S, _C, _A, _P(_I)),
    "VmK40xx_SetAttributeViInt32": (_S, _C, _A, _I),
    "VmK40xx_GetAttributeViReal64": (_S, _C, _A, _P(_R)),
    "VmK40xx_SetAttributeViReal64": (_S, _C, _A, _R),
    "VmK40xx_GetAttributeViBoolean": (_S, _C, _A, _P(_B)),
    "VmK40xx_SetAttributeViBoolean": (_S, _C, _A, _B),
    "VmK40xx_GetAttributeViString": (_S, _C, _A, _I, _C),
    "VmK40xx_SetAttributeViString": (_S, _C, _A, _C),
    "VmK40xx_reset": (_S,),
    "VmK40xx_ResetWithDefaults": (_S,),
    "VmK40xx_Disable": (_S,),
    "VmK40xx_self_test": (_S, _P(ViInt16), _C),
    "VmK40xx_error_query": (_S, _P(_I), _C),
    "VmK40xx_revision_query": (_S, _C, _C),
    "VmK40xx_InvalidateAllAttributes": (_S,),
    "VmK40xx_GetNextCoercionRecord": (_S, _I, _C),
    "VmK40xx_GetOutputName": (_S, _I, _I, _C),
    "VmK40xx_GetTriggerName": (_S, _I, _I, _C),
    "VmK40xx_GetCalibrationName": (_S, _I, _I, _C),
    "VmK40xx_ConfigureCurrentLimit": (_S, _C, _I, _R),
    "VmK40xx_ConfigureOutputRange": (_S, _C, _I, _R),
    "VmK40xx_ConfigureTriggerSource": (_S, _C, _I),
    "VmK40xx_ConfigureTriggeredVoltageLevel": (_S, _C, _R),
    "VmK40xx_ConfigureTriggeredCurrentLimit": (_S, _C, _R),
    "VmK40xx_QueryMaxVoltageLevel": (_S, _C, _R, _P(_R)),
    "VmK40xx_QueryMaxCurrentLimit": (_S, _C, _R, _P(_R)),
    "VmK40xx_Measure": (_S, _C, _I, _P(_R)),
    "VmK40xx_Initiate": (_S,),
    "VmK40xx_Abort": (_S,),
    "VmK40xx_SendSoftwareTrigger": (_S,),
    "VmK40xx_OutputApplyVoltageCurrent": (_S, _C, _R, _R),
    "VmK40xx_OutputQueryState": (_S, _C, _I, _P(_B)),
    "VmK40xx_OutputRunStep": (_S, _C, _I),
    "VmK40xx_OutputGetStep": (_S, _C, _I, _P(_R)),
    "VmK40xx_OutputSetStep": (_S, _C, _I, _R),
    "VmK40xx_OutputProtectionConfigureOCP": (_S, _C, _B, _R),
    "VmK40xx_OutputProtectionConfigureOVP": (_S, _C, _B, _R),
    "VmK40xx_OutputProtectionQueryOCPLimitMax": (_S, _C, _P(_R)),
    "VmK40xx_OutputProtectionQueryOVPLimitMax": (_S, _C, _P(_R)),
    "VmK40xx_OutputProtectionResetOCP": (_S, _C),
    "VmK40xx_OutputProtectionResetOVP": (_S, _C),
    "VmK40xx_OutputProtectionResetOutputProtection": (_S, _C),
    "VmK40xx_CalibrationCurrentData": (_S, _C, _R),
    "VmK40xx_CalibrationCurrentLevel": (_S, _C, _I),
    "VmK40xx_CalibrationCurrentProtection": (_S, _C),
    "VmK40xx_CalibrationVoltageData": (_S, _C, _R),
    "VmK40xx_CalibrationVoltageLevel": (_S, _C, _I),
    "VmK40xx_CalibrationVoltageProtection": (_S, _C),
    "VmK40xx_CalibrationsDACError": (_S,),
    "VmK40xx_CalibrationsSetState": (_S, _B, _C),
    "VmK40xx_DisplayClear": (_S,),
    "VmK40xx_StatusClear": (_S,),
    "VmK40xx_StatusConfigureRegister": (_S, _I, _I, _I),
    "VmK40xx_StatusGetRegister": (_S, _I, _I, _P(_I)),
    "VmK40xx_StatusSetRegister": (_S, _I, _I, _I),
    "VmK40xx_StatusQueryRegister": (_S, _I, _I, _P(_I)),
    "VmK40xx_SystemBeep": (_S,),
    "VmK40xx_SystemEnableLocalControls": (_S,),
    "VmK40xx_SystemDisableLocalControls": (_S,),
    "VmK40xx_SystemGetMemoryName": (_S, _I, _I, _C),
    "VmK40xx_SystemSetMemoryName": (_S, _I, _C),
    "VmK40xx_SystemSaveState": (_S, _C),
    "VmK40xx_SystemRecallState": (_S, _C),
    "VmK40xx_SystemWaitForOperationComplete": (_S, _I),
    "VmK40xx_SystemWrite": (_S, _C),
    "VmK40xx_SystemRead": (_S, _I, _C, _P(_I)),
}


def _library_path() -> str:
    """The library to load: VMK40XX_LIBRARY when set, else the one this package was built or
    installed with, else the dynamic loader's search for the soname."""
    explicit = os.environ.get("VMK40XX_LIBRARY")
    if explicit:
        return explicit
    try:
        from vmk40xx import _paths  # written by the build and by the installation

        if os.path.exists(_paths.LIBRARY):
            return _paths.LIBRARY
    except ImportError:
        pass
    return "libvmk40xx.so.1"


_lib: Optional[ctypes.CDLL] = None


def library() -> Any:
    """The loaded library, its functions with their signatures."""
    global _lib
    if _lib is None:
        lib = ctypes.CDLL(_library_path())
        for name, args in _SIGNATURES.items():
            f = getattr(lib, name)
            f.argtypes = list(args)
            f.restype = ViStatus
        _lib = lib
    return _lib
