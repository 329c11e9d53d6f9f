"""The three store functions of vmk40xx/config_store.h, called as a C program calls them: the
buffer rules and the refusals the tool relies on."""

import ctypes
import os

import pytest


@pytest.fixture
def lib(env, monkeypatch):
    if not os.environ.get("VMK40XX_LIBRARY"):
        pytest.skip("no library to load into Python (a sanitized build)")
    monkeypatch.setenv("IVICONFIGSERVERDEFAULT", env["IVICONFIGSERVERDEFAULT"])
    lib = ctypes.CDLL(os.environ["VMK40XX_LIBRARY"])
    c, i = ctypes.c_char_p, ctypes.c_int32
    lib.vmk40xx_config_list.argtypes = [c, i, ctypes.POINTER(i), c, i]
    lib.vmk40xx_config_add.argtypes = [c, c, c, c, c, i]
    lib.vmk40xx_config_remove.argtypes = [c, c, i]
    for f in (lib.vmk40xx_config_list, lib.vmk40xx_config_add, lib.vmk40xx_config_remove):
        f.restype = i
    return lib


def listing(lib, size):
    buf = ctypes.create_string_buffer(max(size, 1))
    need = ctypes.c_int32(-7)
    rc = lib.vmk40xx_config_list(buf if size else None, size, ctypes.byref(need), None, 0)
    return rc, need.value, buf.value


def test_list_follows_its_size_rule(lib):
    assert listing(lib, 0) == (1, 1, b"")  # no store: the empty list, which needs its NUL
    assert listing(lib, 1) == (0, 1, b"")
    assert lib.vmk40xx_config_add(b"Bench", b"TCPIP0::192.0.2.7::5025::SOCKET", None, None,
                                  None, 0) == 0
    line = b"Bench\tTCPIP0::192.0.2.7::5025::SOCKET\t\t\n"
    assert listing(lib, 0) == (1, len(line) + 1, b"")
    # One byte short writes nothing at all: no half line for a caller to misread.
    assert listing(lib, len(line)) == (1, len(line) + 1, b"")
    assert listing(lib, len(line) + 1) == (0, len(line) + 1, line)


def test_refusals_say_why_within_the_callers_buffer(lib):
    err = ctypes.create_string_buffer(64)
    assert lib.vmk40xx_config_add(b"  ", b"PSU", None, None, err, 64) == -1
    assert err.value == b"a logical name cannot be empty"
    small = ctypes.create_string_buffer(b"\xff" * 8)
    assert lib.vmk40xx_config_add(None, b"PSU", None, None, small, 5) == -1
    assert small.raw[:6] == b"a lo\0\xff"  # cut to 5 bytes with its NUL, nothing beyond
    assert lib.vmk40xx_config_add(b"A", b"PSU", b"Simulate=true, Turbo=true", None, err,
                                  64) == -1
    assert err.value == b"unknown option Turbo"
    assert lib.vmk40xx_config_remove(b"A", err, 64) == -1
    assert err.value == b"the store has no logical name A"
    assert lib.vmk40xx_config_remove(None, None, 0) == -1


def test_flags_are_kept_and_listed_as_an_option_string(lib):
    assert lib.vmk40xx_config_add(b"Sim", b"PSU", b"simulate=1, RangeCheck=false, Cache=VI_TRUE, "
                                  b"DriverSetup=Model=K4201A, Trace=true", b"desc", None, 0) == 0
    rc, _, text = listing(lib, 4096)
    assert (rc, text) == (0, b"Sim\tPSU\tRangeCheck=false, Simulate=true, "
                             b"DriverSetup=Model=K4201A, Trace=true\tdesc\n")
