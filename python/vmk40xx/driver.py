"""The driver's classes: the root VelmoraK40xx and what hangs from it."""

import ctypes
from typing import Callable, Dict, Generic, Iterator, List, NamedTuple, Optional, Tuple, TypeVar, Union

from vmk40xx._attributes import (
    CalibrationsAttributes,
    DisplayAttributes,
    DriverOperationAttributes,
    IdentityAttributes,
    OutputAttributes,
    OutputsAttributes,
    ProtectionAttributes,
    StatusAttributes,
    SystemAttributes,
    TriggerAttributes,
    TriggersAttributes,
)
from vmk40xx._library import ViInt16, ViInt32, ViSession, library
from vmk40xx._node import Node, Session, _encode, check
from vmk40xx.enums import (
    CalibrationLevel,
    CurrentLimitBehavior,
    MeasurementType,
    OutputState,
    RangeType,
    StatusRegister,
    StatusSubRegister,
    Step,
    StepDirection,
    TriggerSource,
)
from vmk40xx.errors import DriverError
from vmk40xx.options import Options, option_string

# VMK40XX_ERROR_INSTRUMENT_STATUS: what raise_on_device_error reports an instrument error as.
_INSTRUMENT_STATUS = -1074135039


class ErrorQueryResult(NamedTuple):
    """An entry of the instrument's error queue."""

    code: int
    message: str


class Protection(ProtectionAttributes):
    """An output's over-voltage and over-current protection."""

    def configure_ovp(self, enabled: bool, limit: float) -> None:
        self._call("VmK40xx_OutputProtectionConfigureOVP", self._channel_bytes, int(enabled), limit)

    def configure_ocp(self, enabled: bool, limit: float) -> None:
        self._call("VmK40xx_OutputProtectionConfigureOCP", self._channel_bytes, int(enabled), limit)

    def query_ovp_limit_max(self) -> float:
        return self._real_out("VmK40xx_OutputProtectionQueryOVPLimitMax", self._channel_bytes)

    def query_ocp_limit_max(self) -> float:
        return self._real_out("VmK40xx_OutputProtectionQueryOCPLimitMax", self._channel_bytes)

    def reset_ovp(self) -> None:
        self._call("VmK40xx_OutputProtectionResetOVP", self._channel_bytes)

    def reset_ocp(self) -> None:
        self._call("VmK40xx_OutputProtectionResetOCP", self._channel_bytes)

    def reset_output_protection(self) -> None:
        self._call("VmK40xx_OutputProtectionResetOutputProtection", self._channel_bytes)


class Output(OutputAttributes):
    """One output: "Output1", "Output2", ... or a virtual name of the configuration store."""

    @property
    def name(self) -> str:
        return self._channel

    @property
    def protection(self) -> Protection:
        return Protection(self._session, self._channel)

    def apply_voltage_current(self, voltage_level: float, current_limit: float) -> None:
        self._call("VmK40xx_OutputApplyVoltageCurrent", self._channel_bytes, voltage_level,
                   current_limit)

    def configure_current_limit(self, behavior: CurrentLimitBehavior, limit: float) -> None:
        self._call("VmK40xx_ConfigureCurrentLimit", self._channel_bytes, int(behavior), limit)

    def configure_range(self, range_type: RangeType, range: float) -> None:
        self._call("VmK40xx_ConfigureOutputRange", self._channel_bytes, int(range_type), range)

    def configure_trigger_source(self, source: TriggerSource) -> None:
        self._call("VmK40xx_ConfigureTriggerSource", self._channel_bytes, int(source))

    def configure_triggered_voltage_level(self, level: float) -> None:
        self._call("VmK40xx_ConfigureTriggeredVoltageLevel", self._channel_bytes, level)

    def configure_triggered_current_limit(self, limit: float) -> None:
        self._call("VmK40xx_ConfigureTriggeredCurrentLimit", self._channel_bytes, limit)

    def measure(self, measurement_type: MeasurementType) -> float:
        return self._real_out("VmK40xx_Measure", self._channel_bytes, int(measurement_type))

    def query_state(self, state: OutputState) -> bool:
        return self._bool_out("VmK40xx_OutputQueryState", self._channel_bytes, int(state))

    def query_voltage_level_max(self, current_limit: float) -> float:
        return self._real_out("VmK40xx_QueryMaxVoltageLevel", self._channel_bytes, current_limit)

    def query_current_limit_max(self, voltage_level: float) -> float:
        return self._real_out("VmK40xx_QueryMaxCurrentLimit", self._channel_bytes, voltage_level)

    def run_step(self, direction: StepDirection) -> None:
        self._call("VmK40xx_OutputRunStep", self._channel_bytes, int(direction))

    def get_step(self, step: Step) -> float:
        return self._real_out("VmK40xx_OutputGetStep", self._channel_bytes, int(step))

    def set_step(self, step: Step, value: float) -> None:
        self._call("VmK40xx_OutputSetStep", self._channel_bytes, int(step), value)

    def reset_output_protection(self) -> None:
        self._call("VmK40xx_ResetOutputProtection", self._channel_bytes)


class Trigger(TriggerAttributes):
    """The triggered levels and delay of one output."""

    @property
    def name(self) -> str:
        return self._channel


class Calibration(Node):
    """The calibration steps of one output. The instrument must be unsecured first
    (Calibrations.set_state)."""

    @property
    def name(self) -> str:
        return self._channel

    def current_data(self, current: float) -> None:
        self._call("VmK40xx_CalibrationCurrentData", self._channel_bytes, current)

    def current_level(self, level: CalibrationLevel) -> None:
        self._call("VmK40xx_CalibrationCurrentLevel", self._channel_bytes, int(level))

    def current_protection(self) -> None:
        self._call("VmK40xx_CalibrationCurrentProtection", self._channel_bytes)

    def voltage_data(self, voltage: float) -> None:
        self._call("VmK40xx_CalibrationVoltageData", self._channel_bytes, voltage)

    def voltage_level(self, level: CalibrationLevel) -> None:
        self._call("VmK40xx_CalibrationVoltageLevel", self._channel_bytes, int(level))

    def voltage_protection(self) -> None:
        self._call("VmK40xx_CalibrationVoltageProtection", self._channel_bytes)


T = TypeVar("T", bound=Node)


class _Collection(Generic[T]):
    """Items by name (as the driver matches names: letter case aside, virtual names too) or by
    1-based index."""

    _count_attribute = 0
    _name_function = ""

    def __init__(self, session: Session, make: Callable[[Session, str], T]) -> None:
        self._session = session
        self._make = make

    def __len__(self) -> int:
        value = ViInt32()
        self._session.call("VmK40xx_GetAttributeViInt32", b"", self._count_attribute,
                           ctypes.byref(value))
        return int(value.value)

    def name(self, index: int) -> str:
        """The name of the item at a 1-based index."""
        vi = self._session.vi
        return self._session.text(lambda buf, size: check(vi, getattr(library(), self._name_function)(
            vi, index, size, buf)))

    def __getitem__(self, key: Union[str, int]) -> T:
        if isinstance(key, bool):
            raise TypeError("an item is chosen by name or by 1-based index")
        if isinstance(key, int):
            if not 1 <= key <= len(self):
                raise IndexError(f"index {key} is not between 1 and {len(self)}")
            key = self.name(key)
        if not isinstance(key, str):
            raise TypeError("an item is chosen by name or by 1-based index")
        return self._make(self._session, key)

    def __iter__(self) -> Iterator[T]:
        for i in range(1, len(self) + 1):
            yield self[i]

    def names(self) -> Tuple[str, ...]:
        return tuple(self.name(i) for i in range(1, len(self) + 1))


class Outputs(_Collection[Output], OutputsAttributes):
    """The outputs, and the settings that are instrument-wide (enabled: one switch for all)."""

    _count_attribute = 1150105
    _name_function = "VmK40xx_GetOutputName"

    def __init__(self, session: Session) -> None:
        _Collection.__init__(self, session, Output)
        OutputsAttributes.__init__(self, session)


class Triggers(_Collection[Trigger], TriggersAttributes):
    _count_attribute = 1150106
    _name_function = "VmK40xx_GetTriggerName"

    def __init__(self, session: Session) -> None:
        _Collection.__init__(self, session, Trigger)
        TriggersAttributes.__init__(self, session)

    def initiate(self) -> None:
        """Arms the trigger system."""
        self._call("VmK40xx_Initiate")

    def abort(self) -> None:
        self._call("VmK40xx_Abort")

    def send_software_trigger(self) -> None:
        self._call("VmK40xx_SendSoftwareTrigger")


class Calibrations(_Collection[Calibration], CalibrationsAttributes):
    _count_attribute = 1150104
    _name_function = "VmK40xx_GetCalibrationName"

    def __init__(self, session: Session) -> None:
        _Collection.__init__(self, session, Calibration)
        CalibrationsAttributes.__init__(self, session)

    def set_state(self, enabled: bool, password: str) -> None:
        """Unsecures (True) or secures (False) calibration with the instrument's code."""
        self._call("VmK40xx_CalibrationsSetState", int(enabled), _encode(password))

    def dac_error(self) -> None:
        self._call("VmK40xx_CalibrationsDACError")


class Display(DisplayAttributes):
    def clear(self) -> None:
        self._call("VmK40xx_DisplayClear")


class Status(StatusAttributes):
    def clear(self) -> None:
        self._call("VmK40xx_StatusClear")

    def configure_register(self, register: StatusRegister, sub_register: StatusSubRegister,
                           data: int) -> None:
        self._call("VmK40xx_StatusConfigureRegister", int(register), int(sub_register), data)

    def query_register(self, register: StatusRegister, sub_register: StatusSubRegister) -> int:
        return self._int_out("VmK40xx_StatusQueryRegister", int(register), int(sub_register))


class System(SystemAttributes):
    def beep(self) -> None:
        self._call("VmK40xx_SystemBeep")

    def enable_local_controls(self) -> None:
        self._call("VmK40xx_SystemEnableLocalControls")

    def disable_local_controls(self) -> None:
        self._call("VmK40xx_SystemDisableLocalControls")

    def get_memory_name(self, index: int) -> str:
        vi = self._session.vi
        return self._session.text(lambda buf, size: check(vi, library().VmK40xx_SystemGetMemoryName(
            vi, index, size, buf)))

    def set_memory_name(self, index: int, name: str) -> None:
        self._call("VmK40xx_SystemSetMemoryName", index, _encode(name))

    def save_state(self, identifier: str) -> None:
        self._call("VmK40xx_SystemSaveState", _encode(identifier))

    def recall_state(self, identifier: str) -> None:
        self._call("VmK40xx_SystemRecallState", _encode(identifier))

    def wait_for_operation_complete(self, max_time_ms: int) -> None:
        self._call("VmK40xx_SystemWaitForOperationComplete", max_time_ms)


class IviUtility(Node):
    """The inherent capabilities every IVI driver offers."""

    def __init__(self, session: Session) -> None:
        super().__init__(session)
        self._identity = IdentityAttributes(session)
        self._operation = DriverOperationAttributes(session)

    @property
    def driver_version(self) -> str:
        return self._identity.revision

    @property
    def driver_vendor(self) -> str:
        return self._identity.vendor

    @property
    def instrument_manufacturer(self) -> str:
        return self._identity.instrument_manufacturer

    @property
    def instrument_model(self) -> str:
        return self._identity.instrument_model

    @property
    def instrument_firmware_revision(self) -> str:
        return self._identity.instrument_firmware_revision

    @property
    def supported_instrument_models(self) -> Tuple[str, ...]:
        return tuple(m.strip() for m in self._identity.supported_instrument_models.split(",")
                     if m.strip())

    @property
    def query_instrument_status_enabled(self) -> bool:
        return self._operation.query_instrument_status

    @query_instrument_status_enabled.setter
    def query_instrument_status_enabled(self, value: bool) -> None:
        self._operation.query_instrument_status = value

    @property
    def simulation_enabled(self) -> bool:
        return self._operation.simulate

    def reset(self) -> None:
        self._call("VmK40xx_reset")

    def reset_with_defaults(self) -> None:
        self._call("VmK40xx_ResetWithDefaults")

    def disable(self) -> None:
        self._call("VmK40xx_Disable")

    def self_test(self) -> Tuple[int, str]:
        code = ViInt16()
        message = ctypes.create_string_buffer(1024)
        self._call("VmK40xx_self_test", ctypes.byref(code), message)
        return int(code.value), message.value.decode("utf-8", "replace")

    def error_query(self) -> Optional[ErrorQueryResult]:
        """The oldest entry of the instrument's error queue, taken from it; None when empty."""
        code = ViInt32()
        message = ctypes.create_string_buffer(1024)
        self._call("VmK40xx_error_query", ctypes.byref(code), message)
        if code.value == 0:
            return None
        return ErrorQueryResult(int(code.value), message.value.decode("utf-8", "replace"))

    def error_query_all(self) -> List[ErrorQueryResult]:
        """Drains the error queue (at most 256 entries, so a queue that never empties cannot
        hang the caller)."""
        errors: List[ErrorQueryResult] = []
        for _ in range(256):
            entry = self.error_query()
            if entry is None:
                break
            errors.append(entry)
        return errors

    def raise_on_device_error(self) -> None:
        """Raises DriverError when the instrument's error queue holds an error; drains it."""
        errors = self.error_query_all()
        if errors:
            text = "; ".join(f"{e.code}, {e.message}" for e in errors)
            raise DriverError(_INSTRUMENT_STATUS, f"Instrument error: {text}")

    def invalidate_all_attributes(self) -> None:
        self._call("VmK40xx_InvalidateAllAttributes")

    def next_coercion_record(self) -> str:
        vi = self._session.vi
        return self._session.text(lambda buf, size: check(
            vi, library().VmK40xx_GetNextCoercionRecord(vi, size, buf)))


class DirectIO(Node):
    """Commands and replies as the instrument sends them. Writes add the line feed, reads take
    it off. Not in simulation (the driver refuses)."""

    @property
    def io_timeout_ms(self) -> int:
        return self._get_int32(1150025)

    @io_timeout_ms.setter
    def io_timeout_ms(self, value: int) -> None:
        self._set_int32(1150025, value)

    def write_bytes(self, data: bytes) -> None:
        if b"\0" in data:
            raise ValueError("the driver's direct write takes no NUL bytes")
        self._call("VmK40xx_SystemWrite", bytes(data) + b"\n")

    def write_string(self, data: str) -> None:
        self.write_bytes(_encode(data))

    def read_bytes(self) -> bytes:
        reply = b""
        while True:
            chunk = ctypes.create_string_buffer(4096)
            got = ViInt32()
            self._call("VmK40xx_SystemRead", len(chunk), chunk, ctypes.byref(got))
            reply += chunk.raw[: got.value]
            if got.value < len(chunk) - 1 or reply.endswith(b"\n"):
                break
        return reply.rstrip(b"\r\n")

    def read_string(self) -> str:
        return self.read_bytes().decode("utf-8", "replace")

    def query(self, command: str) -> str:
        self.write_string(command)
        return self.read_string()


class VelmoraK40xx(Node):
    """A session with a K40xx supply.

    resource_name: a VISA resource ("TCPIP0::192.0.2.7::5025::SOCKET") or a logical name of the
    IVI configuration store. options: an option string ("Simulate=true,
    DriverSetup=Model=K4201A") or a dict ({"simulate": True, "driver_setup": {"Model":
    "K4201A"}}). Use it in a with block, or call close()."""

    def __init__(self, resource_name: str, id_query: bool = True, reset: bool = False,
                 options: Union[Options, Dict[str, object], str, None] = None) -> None:
        vi = ViSession()
        # The thread's record keeps the first error of any session until it is read: cleared
        # first, it is this call's own failure that a failed open reads back.
        library().VmK40xx_ClearError(ViSession(0))
        status = library().VmK40xx_InitWithOptions(
            _encode(resource_name), int(id_query), int(reset), _encode(option_string(options)),
            ctypes.byref(vi))
        check(0, status)
        super().__init__(Session(int(vi.value)))
        self.outputs = Outputs(self._session)
        self.triggers = Triggers(self._session)
        self.calibrations = Calibrations(self._session)
        self.display = Display(self._session)
        self.status = Status(self._session)
        self.system = System(self._session)
        self.driver_operation = DriverOperationAttributes(self._session)
        self.identity = IdentityAttributes(self._session)
        self.ivi_utility = IviUtility(self._session)
        self.ivi_direct_io = DirectIO(self._session)

    def close(self) -> None:
        """Closes the session; later calls raise DriverError. Closing twice does nothing."""
        self._session.close()

    @property
    def closed(self) -> bool:
        return self._session.vi == 0

    def __enter__(self) -> "VelmoraK40xx":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:  # a destructor has no one to report to
            pass
