"""The driver's enumerations, with the values of the C interface's VMK40XX_VAL_ constants."""

from enum import IntEnum


class CurrentLimitBehavior(IntEnum):
    REGULATE = 0
    TRIP = 1


class RangeType(IntEnum):
    CURRENT = 0
    VOLTAGE = 1


class MeasurementType(IntEnum):
    CURRENT = 0
    VOLTAGE = 1


class TriggerSource(IntEnum):
    """The class's trigger sources; the instrument takes IMMEDIATE and SOFTWARE."""

    IMMEDIATE = 0
    EXTERNAL = 1
    SOFTWARE = 2
    TTL0 = 3
    TTL1 = 4
    TTL2 = 5
    TTL3 = 6
    TTL4 = 7
    TTL5 = 8
    TTL6 = 9
    TTL7 = 10
    ECL0 = 11
    ECL1 = 12
    PXI_STAR = 13
    RTSI_0 = 14
    RTSI_1 = 15
    RTSI_2 = 16
    RTSI_3 = 17
    RTSI_4 = 18
    RTSI_5 = 19
    RTSI_6 = 20


class OutputState(IntEnum):
    CONSTANT_VOLTAGE = 0
    CONSTANT_CURRENT = 1
    OVER_VOLTAGE = 2
    OVER_CURRENT = 3
    UNREGULATED = 4
    OFF = 5


class StepDirection(IntEnum):
    VOLTAGE_UP = 0
    VOLTAGE_DOWN = 1
    CURRENT_UP = 2
    CURRENT_DOWN = 3


class Step(IntEnum):
    VOLTAGE = 0
    DEFAULT_VOLTAGE = 1
    CURRENT = 2
    DEFAULT_CURRENT = 3


class VoltageRange(IntEnum):
    LOW = 0
    HIGH = 1


class OutputChannel(IntEnum):
    OUTPUT1 = 1
    OUTPUT2 = 2
    OUTPUT3 = 3


class TriggerCoupling(IntEnum):
    """The pairings exist on the three-output model only."""

    ON = 0
    OFF = 1
    ALL = 2
    NONE = 3
    P6P25 = 4
    P6N25 = 5
    P25N25 = 6


class StatusRegister(IntEnum):
    STATUS_BYTE = 0
    STANDARD_EVENT = 1
    QUESTIONABLE = 2
    INSTRUMENT = 3
    INSTRUMENT1 = 4
    INSTRUMENT2 = 5
    INSTRUMENT3 = 6


class StatusSubRegister(IntEnum):
    EVENT = 0
    ENABLE = 1
    SUMMARY = 2


class DisplayMode(IntEnum):
    VOLT_CURRENT = 0
    VOLT_VOLT = 1
    CURRENT_CURRENT = 2


class CalibrationLevel(IntEnum):
    MIN = 0
    MID = 1
    MAX = 2


class Model(IntEnum):
    NOT_ASSIGNED = 0
    K4301A = 1
    K4101A = 2
    K4102A = 3
    K4103A = 4
    K4104A = 5
    K4105A = 6
    K4106A = 7
    K4107A = 8
    K4108A = 9
    K4109A = 10
    K4201A = 11
    K4202A = 12
    K4203A = 13
    K4204A = 14
    NONE_SUPPORT = 99
