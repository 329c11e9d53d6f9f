"""The one naming rule behind the tool's and the package's attribute names."""

import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "cmake"))
import gen_attributes  # noqa: E402


def test_snake_case_keeps_acronyms_together():
    assert gen_attributes.snake("OVPEnabled") == "ovp_enabled"
    assert gen_attributes.snake("OCPLimit") == "ocp_limit"
    assert gen_attributes.snake("IoResourceDescriptor") == "io_resource_descriptor"
    assert gen_attributes.snake("TimeoutMilliseconds") == "timeout_milliseconds"
    assert gen_attributes.snake("SpecificationMajorVersion") == "specification_major_version"


def test_rows_are_named_by_interface_and_property(tmp_path):
    table = tmp_path / "a.def"
    table.write_text(
        "/* ATTR_RW(id, NAME, type, repcap, interface, property) in a comment is no row */\n"
        "ATTR_RW(1250001, VOLTAGE_LEVEL, ViReal64, Output, IIviDCPwrOutput, VoltageLevel)\n"
        "ATTR_RO_VI_NULL(1050515, MAJOR, ViInt32, None, IIviDriverIdentity, SpecificationMajorVersion)\n"
        "ATTR_CONST(1050302, SPECIFIC_DRIVER_PREFIX, ViString, None, \"VmK40xx\")\n"
        "ATTR_RO(1150021, OUTPUT_PROTECTION_OVP_TRIPPED, ViBoolean, Output, IVelmoraK40xxProtection, OVPTripped)\n")
    rows = gen_attributes.rows(str(table))
    assert [(r["tool"], r["access"], r["py_group"], r["py_name"]) for r in rows] == [
        ("VoltageLevel", "RW", "output", "voltage_level"),
        ("Identity.SpecificationMajorVersion", "RO", "identity", "specification_major_version"),
        ("Identity.SpecificDriverPrefix", "RO", "identity", "specific_driver_prefix"),
        ("Protection.OVPTripped", "RO", "output.protection", "ovp_tripped")]


def test_two_rows_of_one_name_stop_the_build(tmp_path):
    table = tmp_path / "a.def"
    table.write_text(
        "ATTR_RW(1250006, OUTPUT_ENABLED, ViBoolean, Output, IIviDCPwrOutput, Enabled)\n"
        "ATTR_RW(1150099, OTHER_ENABLED, ViBoolean, Output, IVelmoraK40xxOutput, Enabled)\n")
    with pytest.raises(SystemExit, match="two attributes are named Enabled on Output"):
        gen_attributes.rows(str(table))
