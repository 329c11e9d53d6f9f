"""The Velmora K40xx DC power supply driver for Python, over the driver's C library.

    from vmk40xx import VelmoraK40xx, MeasurementType
    with VelmoraK40xx("TCPIP0::192.0.2.7::5025::SOCKET") as psu:
        psu.outputs["Output2"].apply_voltage_current(5.0, 1.0)
        psu.outputs.enabled = True
        print(psu.outputs["Output2"].measure(MeasurementType.VOLTAGE))
"""

from vmk40xx.driver import (
    Calibration,
    Calibrations,
    DirectIO,
    Display,
    ErrorQueryResult,
    IviUtility,
    Output,
    Outputs,
    Protection,
    Status,
    System,
    Trigger,
    Triggers,
    VelmoraK40xx,
)
from vmk40xx.enums import (
    CalibrationLevel,
    CurrentLimitBehavior,
    DisplayMode,
    MeasurementType,
    Model,
    OutputChannel,
    OutputState,
    RangeType,
    StatusRegister,
    StatusSubRegister,
    Step,
    StepDirection,
    TriggerCoupling,
    TriggerSource,
    VoltageRange,
)
from vmk40xx.errors import DriverError
from vmk40xx.options import Options

__version__ = "1.0.0"

__all__ = [
    "Calibration", "CalibrationLevel", "Calibrations", "CurrentLimitBehavior", "DirectIO",
    "Display", "DisplayMode", "DriverError", "ErrorQueryResult", "IviUtility", "MeasurementType",
    "Model", "Options", "Output", "OutputChannel", "OutputState", "Outputs", "Protection",
    "RangeType", "Status", "StatusRegister", "StatusSubRegister", "Step", "StepDirection",
    "System", "Trigger", "TriggerCoupling", "TriggerSource", "Triggers", "VelmoraK40xx",
    "VoltageRange",
]
