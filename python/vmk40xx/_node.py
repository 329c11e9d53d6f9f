"""What every object of the driver shares: the session it belongs to, the instance name it
passes as channel name, and calls that turn failing statuses into DriverError."""

import ctypes
from typing import Any, Callable

from vmk40xx._library import ViBoolean, ViInt32, ViReal64, ViSession, ViStatus, library
from vmk40xx.errors import DriverError


def _encode(text: str) -> bytes:
    data = text.encode("utf-8")
    if b"\0" in data:
        raise ValueError("the driver takes text without NUL characters")
    return data


def check(vi: int, status: int) -> int:
    """Raises the error recorded with `vi` (0: with this thread) when `status` is an error;
    warnings and successes pass and are returned."""
    if status >= 0:
        return status
    code = ViStatus(status)
    text = ctypes.create_string_buffer(1024)
    library().VmK40xx_GetError(ViSession(vi), ctypes.byref(code), len(text), text)
    description = text.value.decode("utf-8", "replace")
    if not description:
        description = f"error 0x{status & 0xFFFFFFFF:08X}"
    raise DriverError(status, description)


class Session:
    """An open IVI-C session handle; closed once."""

    def __init__(self, vi: int) -> None:
        self.vi = vi

    def call(self, name: str, *args: Any) -> int:
        if not self.vi:
            raise DriverError(-1074130544, "The session is closed.")
        return check(self.vi, getattr(library(), name)(self.vi, *args))

    def text(self, fn: Callable[[ctypes.Array[ctypes.c_char], int], int]) -> str:
        """A text result under the buffer rule: asked for its size first when it did not fit."""
        buffer = ctypes.create_string_buffer(256)
        need = fn(buffer, len(buffer))
        if need > len(buffer):
            buffer = ctypes.create_string_buffer(need)
            fn(buffer, len(buffer))
        return buffer.value.decode("utf-8", "replace")

    def close(self) -> None:
        if self.vi:
            vi, self.vi = self.vi, 0
            check(vi, library().VmK40xx_close(ViSession(vi)))


class Node:
    """An object of the session: the root, a group of it, or an output, trigger or calibration
    instance (then `_channel` is its name)."""

    def __init__(self, session: Session, channel: str = "") -> None:
        self._session = session
        self._channel = channel
        self._channel_bytes = _encode(channel)

    def _call(self, name: str, *args: Any) -> int:
        return self._session.call(name, *args)

    def _get_boolean(self, attribute: int) -> bool:
        value = ViBoolean()
        self._call("VmK40xx_GetAttributeViBoolean", self._channel_bytes, attribute,
                   ctypes.byref(value))
        return bool(value.value)

    def _set_boolean(self, attribute: int, value: bool) -> None:
        self._call("VmK40xx_SetAttributeViBoolean", self._channel_bytes, attribute,
                   1 if value else 0)

    def _get_int32(self, attribute: int) -> int:
        value = ViInt32()
        self._call("VmK40xx_GetAttributeViInt32", self._channel_bytes, attribute,
                   ctypes.byref(value))
        return int(value.value)

    def _set_int32(self, attribute: int, value: int) -> None:
        self._call("VmK40xx_SetAttributeViInt32", self._channel_bytes, attribute, int(value))

    def _get_real64(self, attribute: int) -> float:
        value = ViReal64()
        self._call("VmK40xx_GetAttributeViReal64", self._channel_bytes, attribute,
                   ctypes.byref(value))
        return float(value.value)

    def _set_real64(self, attribute: int, value: float) -> None:
        self._call("VmK40xx_SetAttributeViReal64", self._channel_bytes, attribute, float(value))

    def _get_string(self, attribute: int) -> str:
        vi = self._session.vi
        return self._session.text(lambda buf, size: check(vi, library().VmK40xx_GetAttributeViString(
            vi, self._channel_bytes, attribute, size, buf)))

    def _set_string(self, attribute: int, value: str) -> None:
        self._call("VmK40xx_SetAttributeViString", self._channel_bytes, attribute, _encode(value))

    def _real_out(self, name: str, *args: Any) -> float:
        value = ViReal64()
        self._call(name, *args, ctypes.byref(value))
        return float(value.value)

    def _bool_out(self, name: str, *args: Any) -> bool:
        value = ViBoolean()
        self._call(name, *args, ctypes.byref(value))
        return bool(value.value)

    def _int_out(self, name: str, *args: Any) -> int:
        value = ViInt32()
        self._call(name, *args, ctypes.byref(value))
        return int(value.value)
