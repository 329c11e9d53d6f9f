"""A program as a user writes it, for the type check: mypy --strict must accept it, and the
reveal of each result's type must be what the driver's documentation says."""

from typing import List, Optional

from vmk40xx import (CurrentLimitBehavior, DriverError, ErrorQueryResult, MeasurementType,
                     VelmoraK40xx)


def bench(resource: str) -> List[float]:
    with VelmoraK40xx(resource, options={"simulate": True, "driver_setup": {"Model": "K4201A"}}) as psu:
        out = psu.outputs["Output2"]
        out.voltage_level = 5.0
        behavior: CurrentLimitBehavior = out.current_limit_behavior
        tripped: bool = out.protection.ovp_tripped
        text: str = psu.display.text
        first: Optional[ErrorQueryResult] = psu.ivi_utility.error_query()
        models: tuple[str, ...] = psu.ivi_utility.supported_instrument_models
        del behavior, tripped, text, first, models
        try:
            psu.ivi_direct_io.write_string("*RST")
        except DriverError as e:
            status: int = e.status
            del status
        return [o.measure(MeasurementType.VOLTAGE) for o in psu.outputs]
