#!/usr/bin/env python3
"""PyVISA with the pyvisa-py backend drives vmk40xx-sim over a raw TCP socket.

Usage: pyvisa_peer_test.py PATH-TO-vmk40xx-sim
"""
import subprocess
import sys

import pyvisa

failures = []


def check(what, got, want):
    if got != want:
        failures.append(f"{what}: got {got!r}, want {want!r}")


def main():
    sim = subprocess.Popen([sys.argv[1], "--listen", "127.0.0.1:0", "--model", "K4201A"],
                           stdout=subprocess.PIPE, text=True)
    try:
        port = int(sim.stdout.readline())
        rm = pyvisa.ResourceManager("@py")
        inst = rm.open_resource(f"TCPIP0::127.0.0.1::{port}::SOCKET",
                                read_termination="\n", write_termination="\n", timeout=5000)
        try:
            fields = inst.query("*IDN?").split(",")
            check("*IDN? field count", len(fields), 4)
            check("*IDN? model", fields[1] if len(fields) > 1 else None, "K4201A")

            inst.write("INST:NSEL 2")
            inst.write("VOLT 5.5")
            check("voltage read back", float(inst.query("VOLT?")), 5.5)
            check("compound reply", inst.query_ascii_values("VOLT?;CURR?", separator=";"),
                  [5.5, 3.09])

            inst.write("VOLT:BOGUS 1")
            check("error after an undefined header", inst.query("SYST:ERR?"),
                  '-113,"Undefined header"')
            check("empty error queue", inst.query("SYST:ERR?"), '+0,"No error"')
            check("command error bit", int(inst.query("*ESR?")), 0x20)
        finally:
            inst.close()
            rm.close()
    finally:
        sim.kill()
        sim.wait()
    for f in failures:
        print("FAIL", f)
    print("ok" if not failures else f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
