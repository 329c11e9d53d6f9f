#!/usr/bin/env python3
"""Writes docs/reference.md and docs/models.md from the driver itself.

Every IVI-C function of vmk40xx_c.h and every attribute of vmk40xx_attributes.def is called,
through the C library, on the emulator playing each of the fourteen models; the emulator's
transcript gives the SCPI lines each call sent, and the call's status what it returned. Models
that behave alike share a row. The errors a function documents come from its contract comment
in the header. The model page lists each model's outputs, triggers and calibration instances.

usage: gen_reference.py SOURCE_DIR SIM LIBRARY OUT_DIR
"""
import ctypes
import os
import re
import subprocess
import sys
import tempfile
import time

SOURCE, SIM, LIBRARY, OUT = sys.argv[1:5] if len(sys.argv) == 5 else sys.exit(__doc__)
sys.path.insert(0, os.path.join(SOURCE, "cmake"))
import gen_attributes  # noqa: E402

HEADER = os.path.join(SOURCE, "include/vmk40xx/vmk40xx_c.h")
MODELS = ["K4101A", "K4102A", "K4103A", "K4104A", "K4105A", "K4106A", "K4107A", "K4108A",
          "K4109A", "K4201A", "K4202A", "K4203A", "K4204A", "K4301A"]
MARK = "SIM:NOIS?"  # an emulator-only query the driver never sends: the transcript's bookmark

# Functions the page does not exercise: sessions, locks, error records, COM, the generic
# attribute functions (the attributes have their own section) and direct I/O, which sends what
# it is given.
SKIP = {"VmK40xx_init", "VmK40xx_InitWithOptions", "VmK40xx_close", "VmK40xx_GetNativeIUnknownPtr",
        "VmK40xx_AttachToExistingCOMSession", "VmK40xx_LockSession", "VmK40xx_UnlockSession",
        "VmK40xx_GetError", "VmK40xx_ClearError", "VmK40xx_error_message", "VmK40xx_SystemWrite",
        "VmK40xx_SystemRead"} | {f"VmK40xx_{op}AttributeVi{t}" for op in ("Get", "Set")
                                 for t in ("Int32", "Real64", "Boolean", "String", "Session")}
# Argument values by parameter name, where the type's default would not do.
VALUES = {"index": 1, "reg": 1, "subRegister": 1, "data": 0, "maxTimeMilliseconds": 1000,
          "measurementType": 1, "rangeType": 1, "outputState": 0, "behavior": 0, "source": 0,
          "stepType": 0, "direction": 0, "identifier": "1", "password": "VMK40XX",
          "name": "Bench", "channelName": "Output1", "enabled": 1, "level": None}

lib = ctypes.CDLL(LIBRARY)


def statuses():
    names = {}
    for m in re.finditer(r"#define VMK40XX_((?:ERROR|WARN|SUCCESS)\w*) \(\(ViStatus\)0x([0-9A-F]+)\)",
                         open(HEADER).read()):
        v = int(m.group(2), 16)
        names[v - (1 << 32) if v >= 1 << 31 else v] = "VMK40XX_" + m.group(1)
    return names


STATUS = statuses()


def prototypes():
    """(name, [(type, parameter)], contract comment) of every exported function."""
    text = open(HEADER).read()
    out = []
    for m in re.finditer(r"((?:/\*(?:(?!\*/).)*\*/\s*)?)VMK40XX_EXPORT ViStatus _VI_FUNC (\w+)\(([^)]*)\);",
                         text, re.S):
        comment, name, params = m.group(1), m.group(2), m.group(3)
        plist = []
        for p in " ".join(params.split()).split(","):
            p = p.strip()
            pm = re.match(r"(.*?)(\w+)(\[\d*\])?$", p)
            plist.append((pm.group(1).strip() + ("[]" if pm.group(3) else ""), pm.group(2)))
        out.append((name, plist, comment))
    return out


def arguments(vi, params):
    """The C arguments of a call, and a text of them for the page."""
    args, shown = [], []
    for ctype, pname in params:
        if pname == "vi":
            args.append(ctypes.c_uint32(vi)); shown.append("vi"); continue
        if ctype.endswith("[]"):
            args.append(ctypes.create_string_buffer(1024)); shown.append(pname); continue
        if ctype.endswith("*"):
            base = {"ViInt16*": ctypes.c_int16, "ViInt32*": ctypes.c_int32,
                    "ViReal64*": ctypes.c_double, "ViBoolean*": ctypes.c_uint16}[ctype]
            args.append(ctypes.byref(base())); shown.append("&" + pname); continue
        if ctype == "ViInt32" and pname == "bufferSize" or pname == "size":
            args.append(ctypes.c_int32(1024)); shown.append("1024"); continue
        value = VALUES.get(pname)
        if ctype == "ViConstString":
            value = value if value is not None else "1"
            args.append(ctypes.c_char_p(value.encode())); shown.append(f'"{value}"'); continue
        if ctype == "ViReal64":
            args.append(ctypes.c_double(1.0)); shown.append("1.0"); continue
        if ctype == "ViBoolean":
            args.append(ctypes.c_uint16(1 if value is None else value)); shown.append("VI_TRUE"); continue
        value = 0 if value is None else value
        args.append(ctypes.c_int32(value)); shown.append(str(value))
    return args, ", ".join(shown)


class Emulator:
    def __init__(self, model):
        self.dir = tempfile.mkdtemp(prefix="vmk40xx-ref-")
        self.transcript = os.path.join(self.dir, "transcript")
        self.proc = subprocess.Popen([SIM, "--model", model, "--listen", "127.0.0.1:0",
                                      "--transcript", self.transcript],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.resource = f"TCPIP0::127.0.0.1::{int(self.proc.stdout.readline())}::SOCKET"
        self.seen = 0

    def sent(self, vi):
        """The lines received since the last call, up to the bookmark this call sends."""
        lib.VmK40xx_SystemWrite(ctypes.c_uint32(vi), (MARK + "\n").encode())
        buf, n = ctypes.create_string_buffer(256), ctypes.c_int32()
        lib.VmK40xx_SystemRead(ctypes.c_uint32(vi), 256, buf, ctypes.byref(n))
        for _ in range(100):
            lines = open(self.transcript).read().splitlines()
            if any(MARK in line for line in lines[self.seen:]):
                break
            time.sleep(0.01)
        commands = []
        for i in range(self.seen, len(lines)):
            parts = lines[i].split(" ", 3)
            if len(parts) == 4 and parts[2] == "<":
                if parts[3] == MARK:
                    self.seen = i + 1
                    break
                commands.append(parts[3])
        return commands

    def stop(self):
        self.proc.terminate()
        self.proc.wait()
        for f in os.listdir(self.dir):
            os.remove(os.path.join(self.dir, f))
        os.rmdir(self.dir)


def status_text(status):
    return STATUS.get(status, f"0x{status & 0xFFFFFFFF:08X}") if status else "VI_SUCCESS"


def attribute_calls(attributes):
    """(label, callable(vi)) for a read and, where allowed, a write of every attribute."""
    getters = {"ViBoolean": ("VmK40xx_GetAttributeViBoolean", ctypes.c_uint16),
               "ViInt32": ("VmK40xx_GetAttributeViInt32", ctypes.c_int32),
               "ViReal64": ("VmK40xx_GetAttributeViReal64", ctypes.c_double)}
    calls = []
    for a in attributes:
        ch = {"Output": b"Output1", "Trigger": b"Trigger1"}.get(a["repcap"], b"")
        t, ident = a["type"], a["id"]
        value = {}

        def get(vi, t=t, ident=ident, ch=ch, value=value):
            if t == "ViString":
                buf = ctypes.create_string_buffer(1024)
                s = lib.VmK40xx_GetAttributeViString(ctypes.c_uint32(vi), ch, ident, 1024, buf)
                value["v"] = buf.value
                return s
            fn, ct = getters[t]
            v = ct()
            s = getattr(lib, fn)(ctypes.c_uint32(vi), ch, ident, ctypes.byref(v))
            value["v"] = v
            return s

        def put(vi, t=t, ident=ident, ch=ch, value=value):
            v = value.get("v")
            vi_ = ctypes.c_uint32(vi)
            if t == "ViString":
                return lib.VmK40xx_SetAttributeViString(vi_, ch, ident, v if v else b"VMK40XX")
            fn = {"ViBoolean": "VmK40xx_SetAttributeViBoolean", "ViInt32": "VmK40xx_SetAttributeViInt32",
                  "ViReal64": "VmK40xx_SetAttributeViReal64"}[t]
            raw = v.value if v is not None else 0
            arg = {"ViBoolean": ctypes.c_uint16, "ViInt32": ctypes.c_int32,
                   "ViReal64": ctypes.c_double}[t](raw)
            return getattr(lib, fn)(vi_, ch, ident, arg)

        name = a["tool"] if a["repcap"] == "None" else f"{a['repcap']}1.{a['tool']}"
        if a["access"] != "WO":
            calls.append((a, f"get {name}", get))
        if a["access"] != "RO":
            calls.append((a, f"set {name}", put))
    return calls


def ranges(models):
    """"K4101A–K4103A, K4201A" for a list of models in table order."""
    idx = sorted(MODELS.index(m) for m in models)
    if len(idx) == len(MODELS):
        return "all"
    out, start = [], idx[0]
    for a, b in zip(idx, idx[1:] + [None]):
        if b is None or b != a + 1 or MODELS[b][:3] != MODELS[a][:3]:
            out.append(MODELS[start] if start == a else f"{MODELS[start]}–{MODELS[a]}")
            start = b
    return ", ".join(out)


def rows(results):
    """Models grouped by what the call did on them."""
    groups = {}
    for model in MODELS:
        groups.setdefault(results[model], []).append(model)
    return [(ranges(models), r) for r, models in groups.items()]


def cell(commands):
    return "<br>".join(f"`{c}`" for c in commands) if commands else "(nothing)"


def main():
    protos = [p for p in prototypes() if p[0] not in SKIP]
    attributes = gen_attributes.rows(os.path.join(SOURCE, "include/vmk40xx/vmk40xx_attributes.def"))
    attr_calls = attribute_calls(attributes)
    fn_results = {p[0]: {} for p in protos}
    attr_results = {label: {} for _, label, _ in attr_calls}
    shown_args = {}
    names = {}
    for model in MODELS:
        emu = Emulator(model)
        try:
            vi = ctypes.c_uint32()
            lib.VmK40xx_ClearError(0)
            s = lib.VmK40xx_InitWithOptions(emu.resource.encode(), 1, 0, b"", ctypes.byref(vi))
            assert s >= 0, f"{model}: init {status_text(s)}"
            vi = vi.value
            emu.sent(vi)
            for _, label, call in attr_calls:
                lib.VmK40xx_InvalidateAllAttributes(ctypes.c_uint32(vi))
                s = call(vi)
                lib.VmK40xx_ClearError(ctypes.c_uint32(vi))
                attr_results[label][model] = (tuple(emu.sent(vi)), status_text(s))
            for name, params, _ in protos:
                lib.VmK40xx_InvalidateAllAttributes(ctypes.c_uint32(vi))
                args, shown = arguments(vi, params)
                shown_args[name] = shown
                s = getattr(lib, name)(*args)
                lib.VmK40xx_ClearError(ctypes.c_uint32(vi))
                fn_results[name][model] = (tuple(emu.sent(vi)), status_text(s))
            lib.VmK40xx_close(ctypes.c_uint32(vi))
        finally:
            emu.stop()
        # The instance names, from a simulated session of the model.
        vi = ctypes.c_uint32()
        opts = f"Simulate=true, DriverSetup=Model={model}".encode()
        lib.VmK40xx_InitWithOptions(b"PSU", 1, 0, opts, ctypes.byref(vi))
        row = []
        for count_id, fn in ((1150105, "VmK40xx_GetOutputName"), (1150106, "VmK40xx_GetTriggerName"),
                             (1150104, "VmK40xx_GetCalibrationName")):
            n = ctypes.c_int32()
            lib.VmK40xx_GetAttributeViInt32(vi, b"", count_id, ctypes.byref(n))
            got = []
            for i in range(1, n.value + 1):
                buf = ctypes.create_string_buffer(256)
                getattr(lib, fn)(vi, i, 256, buf)
                got.append(buf.value.decode())
            row.append(got)
        lib.VmK40xx_close(vi)
        names[model] = row

    out = ["# Reference: what each member sends and returns", "",
           "Generated by `docs/gen_reference.py` (`cmake --build build --target vmk40xx-docs`) from "
           "the driver itself: each IVI-C function and each attribute was called, through the C "
           "library, on the emulator playing each of the fourteen models, with the option string "
           "empty (no status query after each call, no range checks beyond the driver's own). "
           "The commands are the lines the emulator received, in order; models on which a "
           "member behaves alike share a row. A read is made with the cache emptied first.", "",
           "Every function can also return `VMK40XX_ERROR_INVALID_SESSION_HANDLE` (a handle that "
           "is no session), the I/O errors `VMK40XX_ERROR_IO_GENERAL` and "
           "`VMK40XX_ERROR_IO_TIMEOUT` (the instrument does not answer) and, with "
           "`QueryInstrStatus=true`, `VMK40XX_ERROR_INSTRUMENT_STATUS` when the instrument "
           "reports an error after the call. `VmK40xx_GetError` gives the text of each.", "",
           "The arguments used: output and trigger `\"Output1\"`/`\"Trigger1\"`, numbers 1.0, "
           "enumerations and indexes as shown.", "", "## Functions", ""]
    for name, params, comment in protos:
        documented = sorted(set(re.findall(r"VMK40XX_(?:ERROR|WARN)_\w+", comment)))
        out += [f"### {name}({shown_args[name]})", ""]
        out += ["| models | sends | returns |", "|---|---|---|"]
        for models, (commands, status) in rows(fn_results[name]):
            out.append(f"| {models} | {cell(commands)} | {status} |")
        out.append("")
        if documented:
            out += ["Errors of its contract: " + ", ".join(f"`{d}`" for d in documented) + ".", ""]
    out += ["## Attributes", "",
            "By their names in the command-line tool (`vmk40xx get --list`); the C identifier is "
            "`VMK40XX_ATTR_` and the name in brackets. A write sends back the value just read.", ""]
    for a, label, _ in attr_calls:
        out += [f"### {label} (`{a['cname']}`, {a['type']})", "",
                "| models | sends | returns |", "|---|---|---|"]
        for models, (commands, status) in rows(attr_results[label]):
            out.append(f"| {models} | {cell(commands)} | {status} |")
        out.append("")
    with open(os.path.join(OUT, "reference.md"), "w") as f:
        f.write("\n".join(out))

    families = {"K41": "Single Output", "K42": "Dual Output", "K43": "3 Outputs"}
    page = ["# Models: output, trigger and calibration names", "",
            "Generated by `docs/gen_reference.py` from simulated sessions of each model. These are "
            "the names `channelName` takes in the C functions (`VmK40xx_GetOutputName` lists "
            "them), the tool's attribute names start with (`Output2.VoltageLevel`) and the Python "
            "collections are indexed by (`psu.outputs[\"Output2\"]`, or by position from 1). "
            "Names match without regard to case; virtual names of the configuration store map "
            "onto them.", "",
            "| model | family | outputs | triggers | calibrations |", "|---|---|---|---|---|"]
    for model in MODELS:
        o, t, c = names[model]
        page.append(f"| {model} | {families[model[:3]]} | {', '.join(o)} | {', '.join(t)} | "
                    f"{', '.join(c)} |")
    page.append("")
    with open(os.path.join(OUT, "models.md"), "w") as f:
        f.write("\n".join(page))


if __name__ == "__main__":
    main()
