#!/usr/bin/env python3
"""Instruction counts per operation, from callgrind, and the benchmarks' other figures, as one table.

Each row of bench/callgrind_cases.tsv names a case: a label, a program under the build's bin/
directory, its arguments, the figure the case must not exceed (or "-" for none), and what the
figure is (the fifth column, "instructions" when left out):

  instructions  the program measures one case with bench/callgrind_case.h and prints
                "iterations N"; it runs under callgrind, and the figure is the instructions
                counted divided by N. Counts are deterministic for one binary, so runs can be
                compared from one commit to the next.
  bytes, ratio  the program runs natively and prints "figure X" itself: heap bytes, or a time
                ratio measured side by side within its own run.

  bench/callgrind.py [--build build] [--filter TEXT]
"""
import argparse
import os
import re
import shlex
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
UNITS = {"instructions": "instr/op", "bytes": "bytes", "ratio": "x"}


def read_cases(path):
    cases = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            label, program, args, limit, kind = (line.split("\t") + ["", "", "-", ""])[:5]
            kind = kind.strip() or "instructions"
            if kind not in UNITS:
                raise SystemExit(f"{path}: case {label!r} measures {kind!r}, not one of {list(UNITS)}")
            cases.append((label.strip(), program.strip(), shlex.split(args), limit.strip(), kind))
    return cases


def count_instructions(binary, args):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "callgrind.out")
        run = subprocess.run(
            ["valgrind", "--tool=callgrind", "--instr-atstart=no",
             "--callgrind-out-file=" + out, binary, *args],
            capture_output=True, text=True, timeout=900)
        if run.returncode != 0:
            raise RuntimeError(f"{binary} {' '.join(args)} failed:\n{run.stdout}{run.stderr}")
        m = re.search(r"^iterations (\d+)$", run.stdout, re.M)
        if not m:
            raise RuntimeError(f"{binary} printed no iteration count:\n{run.stdout}")
        iterations = int(m.group(1))
        with open(out, encoding="utf-8") as f:
            text = f.read()
        # "summary" comes first and counts only what was dumped before the end; "totals" is
        # the whole run.
        totals = re.search(r"^totals: (\d+)", text, re.M) or re.search(r"^summary: (\d+)", text, re.M)
        if not totals:
            raise RuntimeError(f"no totals in the callgrind output of {binary}")
        return int(totals.group(1)) / iterations


def own_figure(binary, args):
    run = subprocess.run([binary, *args], capture_output=True, text=True, timeout=900)
    if run.returncode != 0:
        raise RuntimeError(f"{binary} {' '.join(args)} failed:\n{run.stdout}{run.stderr}")
    m = re.search(r"^figure (-?[0-9.]+)$", run.stdout, re.M)
    if not m:
        raise RuntimeError(f"{binary} printed no figure:\n{run.stdout}")
    return float(m.group(1))


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--build", default="build", help="build directory (default: build)")
    p.add_argument("--filter", default="", help="only cases whose label contains this text")
    p.add_argument("--cases", default=os.path.join(HERE, "callgrind_cases.tsv"))
    a = p.parse_args()
    rows, failed = [], False
    for label, program, args, limit, kind in read_cases(a.cases):
        if a.filter and a.filter not in label:
            continue
        binary = os.path.join(a.build, "bin", program)
        if not os.path.exists(binary):
            rows.append((label, "not built", "", limit, ""))
            continue
        if kind == "instructions":
            value = count_instructions(binary, args)
        else:
            value = own_figure(binary, args)
        text = f"{value:,.3f}" if kind == "ratio" else f"{value:,.0f}"
        verdict = ""
        if limit not in ("", "-"):
            ok = value <= float(limit)
            verdict = "ok" if ok else "OVER"
            failed |= not ok
        rows.append((label, text, UNITS[kind], limit, verdict))
    width = max([len(r[0]) for r in rows] + [4])
    print(f"{'case':<{width}}  {'figure':>12}  {'unit':<8}  {'limit':>8}")
    for label, figure, unit, limit, verdict in rows:
        print(f"{label:<{width}}  {figure:>12}  {unit:<8}  {limit:>8}  {verdict}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
