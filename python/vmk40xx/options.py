"""The option string of a session, from a string or a dict."""

from typing import Dict, Mapping, TypedDict, Union

# The IVI option names, by the snake-case keys a dict may use instead.
_NAMES = {
    "range_check": "RangeCheck",
    "query_instrument_status": "QueryInstrStatus",
    "query_instr_status": "QueryInstrStatus",
    "cache": "Cache",
    "simulate": "Simulate",
    "record_coercions": "RecordCoercions",
    "interchange_check": "InterchangeCheck",
    "driver_setup": "DriverSetup",
}


class Options(TypedDict, total=False):
    """The options of VelmoraK40xx(...). driver_setup is the text after "DriverSetup=" or a
    dict of its keys ({"Model": "K4201A", "Trace": True})."""

    range_check: bool
    query_instrument_status: bool
    cache: bool
    simulate: bool
    record_coercions: bool
    interchange_check: bool
    driver_setup: Union[str, Dict[str, object]]


def _text(value: object) -> str:
    if isinstance(value, bool):
        return "true" if value else "false"
    text = str(value)
    if "," in text or "=" in text:
        raise ValueError(f"an option value cannot hold ',' or '=': {text!r}")
    return text


def option_string(options: Union[Options, Mapping[str, object], str, None]) -> str:
    """The driver's option string. The DriverSetup part goes last, since the driver takes the
    rest of the string after "DriverSetup=" as its text."""
    if options is None:
        return ""
    if isinstance(options, str):
        return options
    pairs = []
    setup = ""
    for key, value in options.items():
        name = _NAMES.get(key, key)
        if name.lower() == "driversetup":
            if isinstance(value, Mapping):
                setup = ", ".join(f"{k}={_text(v)}" for k, v in value.items())
            else:
                setup = str(value)
            continue
        pairs.append(f"{name}={_text(value)}")
    if setup:
        pairs.append(f"DriverSetup={setup}")
    return ", ".join(pairs)
