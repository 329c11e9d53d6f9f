"""The package against the emulator: a real session over TCP."""

import subprocess
import sys
from pathlib import Path

import pytest

from vmk40xx import DriverError, ErrorQueryResult, MeasurementType, OutputState, VelmoraK40xx

LAB_SCRIPT = Path(__file__).resolve().parents[2] / "examples/python/lab_script.py"


def test_the_lab_script(emulator):
    run = subprocess.run([sys.executable, str(LAB_SCRIPT), emulator], capture_output=True,
                         text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines() == ["Output2: 5.000 V", "OVP tripped: True", "errors: []"]


def test_levels_reach_the_instrument_and_come_back_measured(emulator):
    with VelmoraK40xx(emulator, options={"query_instrument_status": True}) as psu:
        out = psu.outputs["Output2"]
        out.apply_voltage_current(5.0, 1.0)
        psu.outputs.enabled = True
        assert out.measure(MeasurementType.VOLTAGE) == pytest.approx(5.0)
        assert out.measure(MeasurementType.CURRENT) == pytest.approx(0.1)  # 50 ohms
        assert out.query_state(OutputState.CONSTANT_VOLTAGE)
        # 0.05 A into 50 ohms holds the output at 2.5 V: constant current.
        out.current_limit = 0.05
        assert out.measure(MeasurementType.VOLTAGE) == pytest.approx(2.5)
        assert out.query_state(OutputState.CONSTANT_CURRENT)
        assert psu.ivi_utility.instrument_model == "K4201A"


def test_direct_io_and_the_error_queue(emulator):
    with VelmoraK40xx(emulator) as psu:
        io = psu.ivi_direct_io
        io.write_string("*IDN?")
        assert io.read_string().startswith("Velmora,K4201A,")
        assert io.query("VOLT?")  # a reply, with its terminator taken off
        io.write_string("NOT:A:COMMAND")
        io.write_string("NOR:THIS")
        assert psu.ivi_utility.error_query() == ErrorQueryResult(-113, "Undefined header")
        io.write_string("NOT:A:COMMAND")
        with pytest.raises(DriverError, match="-113, Undefined header"):
            psu.ivi_utility.raise_on_device_error()
        assert psu.ivi_utility.error_query_all() == []
        assert psu.ivi_utility.error_query() is None
        psu.ivi_utility.raise_on_device_error()  # an empty queue raises nothing


def test_an_instrument_error_raises_with_the_drivers_text(emulator):
    with VelmoraK40xx(emulator, options={"query_instrument_status": True}) as psu:
        with pytest.raises(DriverError) as e:
            psu.ivi_direct_io.io_timeout_ms = 300
            psu.outputs["Output1"].voltage_level = 1.0e6
        assert e.value.status < 0
        assert "VelmoraK40xx" in str(e.value)
