#!/usr/bin/python3
"""Whole-process time of scan39, zxing-cpp and zbarimg on the pictures of make_pages.py.

    /usr/bin/python3 bench/reader/time_pages.py --pictures build/pages \
        [--scan39 build/cli/scan39] [--scan39 before=/tmp/scan39-old] \
        [--zxing build/bench/reader/scan39_zxing_read] [--effort thorough,fast] [--only page,photo]

Each picture is read once by each reader, one process at a time, in the same run, so that
all see the same machine load. Prints a Markdown table per condition: median, 90th
percentile and slowest wall-clock time in seconds, the same of CPU time, and the symbols read
of those in the pictures (a text read that is not in the picture counts as false).
"""

import argparse
import json
import os
import resource
import shutil
import subprocess
import time


def run(cmd):
    """Wall-clock seconds, CPU seconds (user + system: steadier on a busy machine), output."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    p = subprocess.run(cmd, capture_output=True)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
    return wall, cpu, p.stdout.decode("latin-1")


def scan39_texts(out):
    texts = []
    for line in out.splitlines():
        texts += [symbol["text"] for symbol in json.loads(line).get("symbols", [])]
    return texts


def percentile(values, q):
    v = sorted(values)
    return v[min(len(v) - 1, int(round(q * (len(v) - 1))))]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--pictures", required=True)
    ap.add_argument("--scan39", action="append",
                    help="a scan39 binary, or NAME=BINARY; repeat to compare builds")
    ap.add_argument("--zxing", default="build/bench/reader/scan39_zxing_read")
    ap.add_argument("--effort", default="thorough")
    ap.add_argument("--only", default="")
    args = ap.parse_args()
    with open(os.path.join(args.pictures, "manifest.jsonl")) as f:
        entries = [json.loads(line) for line in f if line.strip()]
    only = [c for c in args.only.split(",") if c]
    if only:
        entries = [e for e in entries if e["condition"] in only]

    readers = {}
    for binary in args.scan39 or ["build/cli/scan39"]:
        label, _, path = binary.rpartition("=")
        for effort in args.effort.split(","):
            readers[" ".join(filter(None, ["scan39", label, effort]))] = (
                lambda p, e=effort, b=path: [b, "--json", "--jobs", "1", "--effort", e, p],
                scan39_texts)
    if os.access(args.zxing, os.X_OK):
        readers["zxing-cpp"] = (lambda p: [args.zxing, p], lambda out: out.splitlines())
    if shutil.which("zbarimg"):
        readers["zbarimg"] = (
            lambda p: ["zbarimg", "-q", "--raw", "-Sdisable", "-Scode39.enable", p],
            lambda out: out.splitlines())

    stats = {}  # (condition, reader) -> [wall times, cpu times, read, expected, false]
    for e in entries:
        path = os.path.join(args.pictures, e["file"])
        for name, (cmd, parse) in readers.items():
            wall, cpu, out = run(cmd(path))
            texts = parse(out)
            s = stats.setdefault((e["condition"], name), [[], [], 0, 0, 0])
            s[0].append(wall)
            s[1].append(cpu)
            s[2] += len(set(texts) & set(e["texts"]))
            s[3] += len(e["texts"])
            s[4] += len(set(texts) - set(e["texts"]))

    print("| Pictures | Reader | wall median / 90th pct / max s | CPU median / 90th pct / max s "
          "| symbols read | false |")
    print("|---|---|---|---|---|---|")
    for (cond, name), (wall, cpu, read, expected, false) in sorted(stats.items()):
        cells = [" / ".join(f"{f(v):.2f}" for f in (lambda v: percentile(v, 0.5),
                                                    lambda v: percentile(v, 0.9), max))
                 for v in (wall, cpu)]
        print(f"| {cond} ({len(wall)}) | {name} | {cells[0]} | {cells[1]} | {read}/{expected} "
              f"| {false} |")


if __name__ == "__main__":
    main()
