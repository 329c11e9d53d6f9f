"""The package in simulation: no instrument, the driver answers from its session."""

import re
from pathlib import Path

import pytest

import vmk40xx
from vmk40xx import (CurrentLimitBehavior, DriverError, MeasurementType, Model, OutputState,
                     VelmoraK40xx)
from vmk40xx._attributes import ATTRIBUTES
from vmk40xx.options import option_string

K4201A = {"simulate": True, "driver_setup": {"Model": "K4201A"}}


@pytest.fixture
def psu():
    with VelmoraK40xx("PSU", options=K4201A) as p:
        yield p


def test_options_from_a_dict_become_the_option_string():
    assert option_string(None) == ""
    assert option_string("Simulate=true") == "Simulate=true"
    assert option_string(K4201A) == "Simulate=true, DriverSetup=Model=K4201A"
    # DriverSetup goes last, whatever the dict's order: the driver reads the rest as its text.
    assert option_string({"driver_setup": "Model=K4301A, Trace=true", "range_check": False,
                          "QueryInstrStatus": True}) == \
        "RangeCheck=false, QueryInstrStatus=true, DriverSetup=Model=K4301A, Trace=true"
    with pytest.raises(ValueError):
        option_string({"driver_setup": {"TraceName": "a,b"}})


def test_identity_and_collections(psu):
    u = psu.ivi_utility
    assert (u.instrument_manufacturer, u.instrument_model) == ("Velmora Technologies", "K4201A")
    assert u.simulation_enabled is True
    assert "K4301A" in u.supported_instrument_models and len(u.supported_instrument_models) == 14
    assert u.driver_vendor and u.driver_version
    assert len(psu.outputs) == 2 and psu.outputs.names() == ("Output1", "Output2")
    assert [o.name for o in psu.outputs] == ["Output1", "Output2"]
    assert psu.outputs[2].name == "Output2"
    assert psu.triggers[1].name == "Trigger1" and len(psu.calibrations) == 2
    with pytest.raises(IndexError):
        psu.outputs[0]
    with pytest.raises(IndexError):
        psu.outputs[3]
    with pytest.raises(TypeError):
        psu.outputs[True]


def test_properties_keep_their_values_and_types(psu):
    out = psu.outputs["Output2"]
    out.voltage_level = 5.0
    out.current_limit = 0.5
    out.protection.ovp_limit = 7.5
    psu.display.text = "Bench 4"
    assert (out.voltage_level, out.current_limit, out.protection.ovp_limit) == (5.0, 0.5, 7.5)
    assert psu.display.text == "Bench 4"
    assert psu.system.model is Model.K4201A
    assert isinstance(out.measure(MeasurementType.VOLTAGE), float)
    assert isinstance(out.query_state(OutputState.CONSTANT_VOLTAGE), bool)


def test_every_attribute_of_the_table_is_a_property():
    assert len(ATTRIBUTES) == 59
    classes = {"driver_operation": vmk40xx.driver.DriverOperationAttributes,
               "identity": vmk40xx.driver.IdentityAttributes, "outputs": vmk40xx.Outputs,
               "calibrations": vmk40xx.Calibrations, "display": vmk40xx.Display,
               "status": vmk40xx.Status, "system": vmk40xx.System,
               "triggers": vmk40xx.Triggers, "output": vmk40xx.Output,
               "output.protection": vmk40xx.Protection, "trigger": vmk40xx.Trigger}
    for ident, cname, ctype, access, repcap, group, name in ATTRIBUTES:
        prop = getattr(classes[group], name)
        assert isinstance(prop, property), cname
        assert (prop.fset is None) == (access == "RO"), cname
    assert isinstance(vmk40xx.Output.voltage_level, property)
    assert isinstance(vmk40xx.Protection.ovp_tripped, property)
    assert vmk40xx.Protection.ovp_tripped.fset is None


def test_driver_errors_raise_with_the_drivers_text(psu):
    with pytest.raises(DriverError) as e:
        psu.calibrations.password
    assert str(e.value) == "Attribute is write only."
    assert e.value.status == -1074135026  # VMK40XX_ERROR_ATTR_NOT_READABLE, 0xBFFA000E
    with pytest.raises(DriverError, match="Direct I/O not available while Simulating"):
        psu.ivi_direct_io.write_string("*IDN?")
    with pytest.raises(DriverError) as e:
        psu.outputs["Output7"].voltage_level = 1.0
    assert str(e.value) == "VelmoraK40xx: Unknown physical repeated capability selector."
    with pytest.raises(DriverError, match="does not support this feature: "
                       "get_CurrentLimitBehavior"):
        out = psu.outputs["Output1"].current_limit_behavior  # the K4101A to K4103A have it
    with pytest.raises(AttributeError):
        psu.outputs["Output1"].protection.ovp_tripped = True  # read-only: no setter


def test_a_failed_open_says_why(psu):
    # An error of another session on this thread comes first: the open's own reason must win.
    with pytest.raises(DriverError):
        psu.calibrations.password
    with pytest.raises(DriverError) as e:
        VelmoraK40xx("TCPIP0::127.0.0.1::1::SOCKET")
    assert re.fullmatch(r"VelmoraK40xx: Unknown resource\.\s+connection to 127\.0\.0\.1:1 "
                        r"refused \(nothing listens on that port\)", str(e.value))
    with pytest.raises(DriverError) as e:
        VelmoraK40xx("PSU", options="Simulate=maybe")
    assert "maybe" in str(e.value)


def test_closed_session_raises_and_closing_twice_is_harmless():
    with VelmoraK40xx("PSU", options=K4201A) as psu:
        out = psu.outputs["Output1"]
    assert psu.closed
    psu.close()
    with pytest.raises(DriverError, match="closed"):
        out.voltage_level


def test_text_with_a_nul_is_refused_before_the_driver():
    with VelmoraK40xx("PSU", options=K4201A) as psu:
        with pytest.raises(ValueError):
            psu.display.text = "a\0b"


def test_enumerations_have_the_c_headers_values():
    header = Path(__file__).resolve().parents[2] / "include/vmk40xx/vmk40xx_c.h"
    values = {m.group(1): int(m.group(2)) for m in
              re.finditer(r"#define VMK40XX_VAL_(\w+) (\d+)", header.read_text())}
    prefixes = {vmk40xx.CurrentLimitBehavior: "CURRENT_", vmk40xx.RangeType: "RANGE_",
                vmk40xx.MeasurementType: "MEASURE_", vmk40xx.OutputState: "OUTPUT_",
                vmk40xx.VoltageRange: "VOLTAGE_RANGE_", vmk40xx.OutputChannel: "",
                vmk40xx.TriggerCoupling: "COUPLING_", vmk40xx.DisplayMode: "DISPLAY_MODE_",
                vmk40xx.CalibrationLevel: "CALIBRATION_LEVEL_", vmk40xx.Model: "MODEL_",
                vmk40xx.StatusRegister: "STATUS_REGISTER_",
                vmk40xx.StatusSubRegister: "STATUS_SUB_REGISTER_", vmk40xx.Step: "",
                vmk40xx.StepDirection: ""}
    renames = {"TriggerSource.SOFTWARE": "SOFTWARE_TRIG", "Step.VOLTAGE": "VOLTAGE_STEP",
               "Step.CURRENT": "CURRENT_STEP", "Step.DEFAULT_VOLTAGE": "DEFAULT_VOLTAGE_STEP",
               "Step.DEFAULT_CURRENT": "DEFAULT_CURRENT_STEP",
               "StepDirection.VOLTAGE_UP": "VOLTAGE_STEP_UP",
               "StepDirection.VOLTAGE_DOWN": "VOLTAGE_STEP_DOWN",
               "StepDirection.CURRENT_UP": "CURRENT_STEP_UP",
               "StepDirection.CURRENT_DOWN": "CURRENT_STEP_DOWN"}
    prefixes[vmk40xx.TriggerSource] = "TRIG_"
    for enum, prefix in prefixes.items():
        for member in enum:
            key = f"{enum.__name__}.{member.name}"
            macro = renames.get(key, prefix + member.name)
            assert values.get(macro) == member.value, key
    assert vmk40xx.OutputState.OFF == 5 and vmk40xx.Model.K4301A == 1
