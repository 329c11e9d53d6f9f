#!/usr/bin/env python3
"""The trace report in a real browser.

A program writes a trace, xsltproc turns it into HTML with the style sheet the trace names, and
headless Chromium renders it. The rows of the rendered DOM must show the calls and the instrument
operations nested in them, in order, with their parameters, times and results. A screenshot of
the report is kept as a test artefact.

Usage: report_browser_test.py CASE PRODUCER ARTEFACT-DIRECTORY
  CASE      "sample": the fixed trace of trace_sample
  PRODUCER  the program that writes the trace into a directory and prints its path
"""
import html.parser
import os
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
    if got != want:
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


CHECKS = {"sample": check_sample}


def main():
    expected, producer, artefacts = sys.argv[1], sys.argv[2], sys.argv[3]
    os.makedirs(artefacts, exist_ok=True)
    work = tempfile.mkdtemp(prefix="vmk-report-")
    try:
        trace = subprocess.run([producer, work], check=True, capture_output=True, text=True,
                               timeout=60).stdout.strip().splitlines()[-1]
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
