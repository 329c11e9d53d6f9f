#!/usr/bin/env python3
"""The trace report in a real browser.

A program writes a trace, xsltproc turns it into HTML with the style sheet the trace names, and
headless Chromium renders it. The rows of the rendered DOM must show the calls and the instrument
operations nested in them, in order, with their parameters, times and results. A screenshot of
the report is kept as a test artefact.

Usage: report_browser_test.py CASE ARTEFACT-DIRECTORY PRODUCER [ARGUMENT...]
  CASE      "sample": the fixed trace of trace_sample;
            "demo": the demo's session on the emulator, traced
  PRODUCER  the program that writes the trace into a directory and prints its path, on the last
            line that names an .xml file; "{dir}" in its arguments is that directory, which is
            otherwise passed as the last argument
"""
import difflib
import html.parser
import os
import re
import shutil
import subprocess
import sys
import tempfile

CHROMIUM = "/usr/bin/chromium"
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--hide-scrollbars"]

failures = []


def check(what, got, want):
    if got == want:
        return
    if isinstance(got, list) and isinstance(want, list):
        diff = difflib.unified_diff(want, got, "expected", "rendered", lineterm="")
        failures.append(f"{what}:\n" + "\n".join(diff))
    else:
        failures.append(f"{what}:\n   got {got!r}\n  want {want!r}")


class Rows(html.parser.HTMLParser):
    """The report's table rows, each a dict of its classes, depth, cell texts and parameters,
    and the summary's counts."""

    def __init__(self):
        super().__init__()
        self.rows = []
        self.summary = {}
        self._row = None
        self._cell = None
        self._spans = 0        # open spans inside the current cell
        self._param_at = None  # the span depth a parameter's span opened at
        self._summary = None

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        classes = (a.get("class") or "").split()
        if tag == "tr" and "data-depth" in a:
            self._row = {"class": classes, "depth": int(a["data-depth"]), "parameters": []}
        elif tag == "td" and self._row is not None:
            self._cell = classes[0] if classes else ""
            self._row[self._cell] = ""
        elif tag == "span":
            self._spans += 1
            if "param" in classes and self._row is not None:
                self._param_at = self._spans
                self._row["parameters"].append("")
            elif a.get("id", "").endswith("-count"):
                self._summary = a["id"]
                self.summary[self._summary] = ""

    def handle_endtag(self, tag):
        if tag == "tr" and self._row is not None:
            self.rows.append(self._row)
            self._row = None
        elif tag == "td":
            self._cell = None
        elif tag == "span":
            if self._param_at == self._spans:
                self._param_at = None
            self._summary = None
            self._spans -= 1

    def handle_data(self, data):
        if self._summary:
            self.summary[self._summary] += data
        if self._row is not None and self._cell:
            self._row[self._cell] += data
            if self._param_at is not None:
                self._row["parameters"][-1] += data


def squeeze(text):
    return " ".join(text.split())


def rendered(rows):
    """Each row as one line: depth, kind, call, parameters, result."""
    lines = []
    for r in rows:
        kind = "io" if "io" in r["class"] else "call"
        flags = [c for c in ("failed", "warning", "unfinished") if c in r["class"]]
        params = "; ".join(squeeze(text) for text in r["parameters"])
        lines.append(f"{r['depth']} {kind} {squeeze(r.get('name', ''))} [{params}] "
                     f"{squeeze(r.get('result', ''))}{' ' + ','.join(flags) if flags else ''}")
    return lines


SAMPLE = [
    "0 call IVelmoraK40xxOutput.put_VoltageLevel [in val = 5.5] 0x00000000",
    "1 io CDriverIOManager.InstrPrintf [in strCommand = INST:NSEL 1] 0x00000000",
    "1 io CDriverIOManager.InstrPrintCommand [in strCommand = VOLT 5.5] 0x00000000",
    "0 call IVelmoraK40xxOutput.Measure [out val = 5.498] 0x00000000",
    "1 io CDriverIOManager.InstrQueryCommand [in strCommand = MEAS:VOLT?] 0x00000000",
    "0 call IVelmoraK40xxTrigger.ConfigureList [in Values = array [12] "
    "{0, 0.25, 0.5, 0.75, 1, 1.25, 1.5, 1.75, 2, 2.25, …}; in/out pCount = 12; "
    "in/out, returned pCount = 10] 0x00000000",
    "0 call IVelmoraK40xxOutput.put_CurrentLimit [in val = 99] 0x80047010 failed",
]


def check_sample(parser):
    check("rows", rendered(parser.rows), SAMPLE)
    first = parser.rows[0]
    check("start of the first call", first.get("start"), "10:00:00")
    check("end of the first call", first.get("end"), "10:00:00")
    check("milliseconds of the first call", squeeze(first.get("duration", "")), "19")
    check("milliseconds of the measurement", squeeze(parser.rows[3].get("duration", "")), "75")
    check("call count", parser.summary.get("call-count"), "4 calls")
    check("operation count", parser.summary.get("command-count"), "3 instrument operations")
    check("failed count", parser.summary.get("failed-count"), "1 failed")


# The demo's session: identification and reset inside Initialize, then its calls in its order,
# each with the instrument operations it made (the channel selection first where it needs one).
DEMO_SELECT_1 = "1 io CDriverIOManager.InstrPrintf [in strCmd = INST:NSEL 1] 0x00000000"
DEMO_SELECT_2 = "1 io CDriverIOManager.InstrPrintf [in strCmd = INST:NSEL 2] 0x00000000"


def demo_query(command, value, result="pdResult"):
    return (f"1 io CDriverIOManager.InstrQueryCommand [in strCommand = {command}; "
            f"in lTimeout = -2; out {result} = {value}] 0x00000000")


def demo_command(command):
    return f"1 io CDriverIOManager.InstrPrintCommand [in strCommand = {command}] 0x00000000"


def demo_call(name, params=""):
    return f"0 call {name} [{params}] 0x00000000"


DEMO = [
    # The demo polls the instrument's status, so Initialize clears it before identifying it.
    "0 io CDriverIOManager.InstrPrintfNoPoll [in strCmd = *CLS] 0x00000000",
    "0 io CDriverIOManager.InstrPrintf [in strCommand = *IDN?; in cchDesired = 1024; "
    "in lTimeout = -2; out bstrResult = Velmora,K4201A,0,1.2-5.0-1.0] 0x00000000",
    demo_call("IIviDriverUtility.Reset"),
    "1 io CDriverIOManager.InstrQuery [in strCommand = *RST;*OPC?; in lTimeout = 10000; "
    "out plResult = 1] 0x00000000",
    demo_call("IIviDriverIdentity.get_Identifier", "out val = VelmoraK40xx"),
    demo_call("IIviComponentIdentity.get_Revision", "out val = 1.1.5.0"),
    demo_call("IIviComponentIdentity.get_Vendor", "out val = Velmora Technologies"),
    demo_call("IIviDriverIdentity.get_InstrumentManufacturer", "out val = Velmora"),
    demo_call("IIviDriverIdentity.get_InstrumentModel", "out val = K4201A"),
    demo_call("IIviDriverIdentity.get_InstrumentFirmwareRevision", "out val = 1.2-5.0-1.0"),
    demo_call("IVelmoraK40xx.get_Outputs", "out val = <interface>"),
    demo_call("IVelmoraK40xxOutputs.get_Count", "out val = 2"),
    demo_call("IVelmoraK40xxOutputs.get_Name", "in Index = 1; out val = Output1"),
    demo_call("IVelmoraK40xxOutputs.get_Item", "in Name = Output1; out val = <interface>"),
    demo_call("IVelmoraK40xxOutput.ApplyVoltageCurrent", "in VoltageLevel = 5; in CurrentLimit = 1"),
    DEMO_SELECT_1,
    demo_command("APPL 5, 1"),
    demo_call("IVelmoraK40xxOutputs.get_Name", "in Index = 2; out val = Output2"),
    demo_call("IVelmoraK40xxOutputs.get_Item", "in Name = Output2; out val = <interface>"),
    demo_call("IVelmoraK40xxOutput.ApplyVoltageCurrent",
              "in VoltageLevel = 12; in CurrentLimit = 0.5"),
    DEMO_SELECT_2,
    demo_command("APPL 12, 0.5"),
    demo_call("IVelmoraK40xxOutputs.put_Enabled", "in val = true"),
    demo_command("OUTP 1"),
    demo_call("IVelmoraK40xxOutput.get_VoltageLevel", "out val = 5"),
    DEMO_SELECT_1,
    demo_query("VOLT?", 5),
    demo_call("IVelmoraK40xxOutput.get_CurrentLimit", "out val = 1"),
    DEMO_SELECT_1,
    demo_query("CURR?", 1),
    demo_call("IVelmoraK40xxOutput.Measure", "in MeasurementType = 1; out val = 4"),
    DEMO_SELECT_1,
    demo_query("MEAS:VOLT?", 4),
    demo_call("IVelmoraK40xxOutput.Measure", "in MeasurementType = 0; out val = 1"),
    DEMO_SELECT_1,
    demo_query("MEAS:CURR?", 1),
    demo_call("IVelmoraK40xxOutput.QueryState", "in OutputState = 1; out val = true"),
    "1 io CDriverIOManager.InstrQuery [in strCommand = STAT:QUES:INST:ISUM1:COND?; "
    "in lTimeout = -2; out plResult = 1] 0x00000000",
    DEMO_SELECT_1,
    demo_call("IVelmoraK40xxOutput.get_VoltageLevel", "out val = 12"),
    DEMO_SELECT_2,
    demo_query("VOLT?", 12),
    demo_call("IVelmoraK40xxOutput.get_CurrentLimit", "out val = 0.5"),
    DEMO_SELECT_2,
    demo_query("CURR?", 0.5),
    demo_call("IVelmoraK40xxOutput.Measure", "in MeasurementType = 1; out val = 12"),
    DEMO_SELECT_2,
    demo_query("MEAS:VOLT?", 12),
    demo_call("IVelmoraK40xxOutput.Measure", "in MeasurementType = 0; out val = 0.24"),
    DEMO_SELECT_2,
    demo_query("MEAS:CURR?", 0.24),
    demo_call("IVelmoraK40xxOutput.QueryState", "in OutputState = 1; out val = false"),
    "1 io CDriverIOManager.InstrQuery [in strCommand = STAT:QUES:INST:ISUM2:COND?; "
    "in lTimeout = -2; out plResult = 2] 0x00000000",
    DEMO_SELECT_2,
    demo_call("IVelmoraK40xxOutput.get_Protection", "out val = <interface>"),
    demo_call("IVelmoraK40xxProtection.ConfigureOVP", "in Enabled = true; in Limit = 10"),
    DEMO_SELECT_2,
    demo_command("VOLT:PROT:STAT 1; :VOLT:PROT 10"),
    demo_call("IVelmoraK40xxProtection.get_OVPTripped", "out val = true"),
    DEMO_SELECT_2,
    "1 io CDriverIOManager.InstrQueryCommandBool [in strCommand = VOLT:PROT:TRIP?; "
    "in lTimeout = -2; out bstrResult = 1] 0x00000000",
    demo_call("IVelmoraK40xxOutput.Measure", "in MeasurementType = 1; out val = 0"),
    DEMO_SELECT_2,
    demo_query("MEAS:VOLT?", 0),
    demo_call("IVelmoraK40xxProtection.ConfigureOVP", "in Enabled = true; in Limit = 15"),
    DEMO_SELECT_2,
    demo_command("VOLT:PROT:STAT 1; :VOLT:PROT 15"),
    demo_call("IVelmoraK40xxProtection.ResetOVP"),
    DEMO_SELECT_2,
    demo_command("VOLT:PROT:CLE"),
    demo_call("IVelmoraK40xxOutputs.put_Enabled", "in val = true"),
    demo_command("OUTP 1"),
    demo_call("IVelmoraK40xxProtection.get_OVPTripped", "out val = false"),
    DEMO_SELECT_2,
    "1 io CDriverIOManager.InstrQueryCommandBool [in strCommand = VOLT:PROT:TRIP?; "
    "in lTimeout = -2; out bstrResult = 0] 0x00000000",
    demo_call("IVelmoraK40xxOutput.Measure", "in MeasurementType = 1; out val = 12"),
    DEMO_SELECT_2,
    demo_query("MEAS:VOLT?", 12),
    demo_call("IIviDriverUtility.ErrorQuery",
              "in/out ErrorCode = 0; in/out ErrorMessage =; "
              "in/out, returned ErrorCode = 0; in/out, returned ErrorMessage = No error"),
    "1 io CDriverIOManager.InstrPrintf [in strCommand = SYST:ERR?; in cchDesired = 1023; "
    "in lTimeout = -2; out bstrResult = +0,\"No error\"] 0x00000000",
    demo_call("IIviDriver.Close"),
]


def check_demo(parser):
    check("rows", rendered(parser.rows), DEMO)
    clock = re.compile(r"^\d\d:\d\d:\d\d$")
    for i, r in enumerate(parser.rows):
        for cell in ("start", "end"):
            if not clock.match(squeeze(r.get(cell, ""))):
                failures.append(f"row {i + 1}: {cell} {r.get(cell)!r} is not a time of day")
        if not squeeze(r.get("duration", "")).isdigit():
            failures.append(f"row {i + 1}: duration {r.get('duration')!r} is not milliseconds")
    check("call count", parser.summary.get("call-count"), "39 calls")
    check("operation count", parser.summary.get("command-count"), "44 instrument operations")
    check("failed count", parser.summary.get("failed-count"), "0 failed")


CHECKS = {"sample": check_sample, "demo": check_demo}


def main():
    expected, artefacts, producer = sys.argv[1], sys.argv[2], sys.argv[3:]
    os.makedirs(artefacts, exist_ok=True)
    work = tempfile.mkdtemp(prefix="vmk-report-")
    try:
        command = [a.replace("{dir}", work) for a in producer]
        if command == producer:
            command.append(work)
        out = subprocess.run(command, check=True, capture_output=True, text=True,
                             timeout=60).stdout
        named = [line.split()[-1] for line in out.splitlines() if line.strip().endswith(".xml")]
        if not named:
            raise SystemExit(f"{command[0]} named no trace file:\n{out}")
        trace = named[-1]
        with open(trace, encoding="utf-8") as f:
            if "<?xml-stylesheet" not in f.read():
                failures.append(f"{trace} names no style sheet")
        report = os.path.join(work, "report.html")
        # The trace names its style sheet; xsltproc follows that instruction.
        subprocess.run(["xsltproc", "--nonet", "-o", report, trace], check=True, timeout=60)
        shutil.copy(report, os.path.join(artefacts, f"trace_report_{expected}.html"))
        profile = tempfile.mkdtemp(prefix="vmk-chromium-")
        try:
            url = "file://" + report
            flags = CHROMIUM_FLAGS + [f"--user-data-dir={profile}"]
            dom = subprocess.run([CHROMIUM] + flags + ["--dump-dom", url], check=True,
                                 capture_output=True, text=True, timeout=120).stdout
            shot = os.path.join(artefacts, f"trace_report_{expected}.png")
            if os.path.exists(shot):
                os.remove(shot)
            subprocess.run([CHROMIUM] + flags + [f"--screenshot={shot}", "--window-size=1500,700",
                                                 url],
                           check=True, capture_output=True, timeout=120)
            if not os.path.getsize(shot):
                failures.append("the screenshot is empty")
        finally:
            shutil.rmtree(profile, ignore_errors=True)
        parser = Rows()
        parser.feed(dom)
        CHECKS[expected](parser)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for f in failures:
        print("FAIL", f)
    print(f"screenshot: {os.path.join(artefacts, f'trace_report_{expected}.png')}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
