#!/usr/bin/python3
"""What crossing into Python costs per picture: scan39.read on a NumPy array against the
C++ reader alone on the same pixels. Each picture's time is the fastest of its repeats (the
ways interleaved, so a busy machine slows them alike); the medians over the pictures.

    PYTHONPATH=build/python /usr/bin/python3 bench/python/crossing.py PICTURE... [--repeats 5]
"""

import argparse
import random
import statistics
import time

import numpy as np
from PIL import Image

import scan39
from scan39 import _scan39


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("pictures", nargs="+")
    ap.add_argument("--repeats", type=int, default=5)
    ap.add_argument("--effort", default="thorough")
    args = ap.parse_args()
    grey = [np.asarray(Image.open(p).convert("L")) for p in args.pictures]
    rgb = [np.asarray(Image.open(p).convert("RGB")) for p in args.pictures]
    rows = {"C++ reader alone (grey)": [], "scan39.read(grey array)": [],
            "scan39.read(RGB array)": [], "scan39.read(path)": []}
    for g, c, path in zip(grey, rgb, args.pictures):
        best = dict.fromkeys(rows, float("inf"))
        ways = [("scan39.read(grey array)", g), ("scan39.read(RGB array)", c),
                ("scan39.read(path)", path), ("C++ reader alone (grey)", None)]
        for _ in range(args.repeats):
            random.shuffle(ways)  # no way always first, or always right after another
            for name, image in ways:
                if image is None:
                    t = _scan39._reader_seconds(g, args.effort, 1)
                else:
                    start = time.perf_counter()
                    scan39.read(image, effort=args.effort)
                    t = time.perf_counter() - start
                best[name] = min(best[name], t)
        for name, t in best.items():
            rows[name].append(t)
    # The fixed cost of a call, where the reader itself has almost nothing to do.
    tiny, calls = np.full((8, 8), 255, np.uint8), 20000
    start = time.perf_counter()
    for _ in range(calls):
        scan39.read(tiny)
    call = (time.perf_counter() - start) / calls - _scan39._reader_seconds(tiny, "thorough", calls)
    print(f"per call, 8x8 picture: {call * 1e6:.2f} us more than the reader alone")
    alone = statistics.median(rows["C++ reader alone (grey)"])
    print(f"{len(grey)} pictures, best of {args.repeats} reads each, effort {args.effort}: "
          "medians, and the difference to the reader alone")
    for name, times in rows.items():
        m = statistics.median(times)
        print(f"  {name:28} {m * 1e3:8.3f} ms   {(m - alone) * 1e6:+9.1f} us")


if __name__ == "__main__":
    main()
