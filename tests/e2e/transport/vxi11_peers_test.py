#!/usr/bin/env python3
"""Clients nobody here wrote drive vmk40xx-sim over VXI-11, found through the portmapper.

Usage: vxi11_peers_test.py pyvisa|lxi PATH-TO-vmk40xx-sim
"""
import subprocess
import sys

failures = []


def check(what, got, want):
    if got != want:
        failures.append(f"{what}: got {got!r}, want {want!r}")


def start(sim):
    proc = subprocess.Popen([sim, "--vxi11", "--model", "K4201A", "--serial", "P1"],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    line = proc.stdout.readline()
    if not line:
        proc.wait()
        print("the emulator did not start:", proc.stderr.read().strip())
        sys.exit(1)
    return proc


def with_pyvisa():
    import pyvisa
    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource("TCPIP0::127.0.0.1::inst0::INSTR", timeout=5000)
    try:
        inst.write("*RST")
        check("*IDN?", inst.query("*IDN?").strip(), "Velmora,K4201A,P1,1.2-5.0-1.0")
        inst.write("INST:NSEL 2")
        inst.write("VOLT 5.5")
        check("voltage read back", float(inst.query("VOLT?")), 5.5)
        check("status byte, nothing to report", inst.read_stb(), 0)
        inst.write("VOLT:BOGUS 1")
        # The error queue is not empty: bit 2, by a real serial poll (device_readstb).
        check("status byte after an error", inst.read_stb(), 0x04)
        check("error", inst.query("SYST:ERR?").strip(), '-113,"Undefined header"')
        inst.write("*IDN?")
        check("status byte with a reply waiting", inst.read_stb() & 0x10, 0x10)
        inst.clear()  # device_clear drops it
        check("after device clear", inst.query("*OPC?").strip(), "1")
    finally:
        inst.close()
        rm.close()


def with_lxi():
    out = subprocess.run(["lxi", "scpi", "--address", "127.0.0.1", "--timeout", "5", "*IDN?"],
                         capture_output=True, text=True, timeout=30)
    check("lxi exit status", out.returncode, 0)
    check("lxi *IDN?", out.stdout.strip(), "Velmora,K4201A,P1,1.2-5.0-1.0")
    if out.returncode != 0:
        print(out.stderr)


def main():
    peer, sim = sys.argv[1], sys.argv[2]
    proc = start(sim)
    try:
        {"pyvisa": with_pyvisa, "lxi": with_lxi}[peer]()
    finally:
        proc.terminate()
        proc.wait(timeout=10)
    for f in failures:
        print("FAIL", f)
    print("ok" if not failures else f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
