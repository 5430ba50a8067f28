#!/usr/bin/python3
"""What crossing into Python costs per picture: scan39.read on a NumPy array against the
C++ reader alone on the same pixels, medians over the pictures.

    PYTHONPATH=build/python /usr/bin/python3 bench/python/crossing.py PICTURE... [--repeats 5]
"""

import argparse
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
        rows["C++ reader alone (grey)"].append(_scan39._reader_seconds(g, args.effort, args.repeats))
        for name, image in (("scan39.read(grey array)", g), ("scan39.read(RGB array)", c),
                            ("scan39.read(path)", path)):
            start = time.perf_counter()
            for _ in range(args.repeats):
                scan39.read(image, effort=args.effort)
            rows[name].append((time.perf_counter() - start) / args.repeats)
    alone = statistics.median(rows["C++ reader alone (grey)"])
    print(f"{len(grey)} pictures, {args.repeats} reads each, effort {args.effort}: medians")
    for name, times in rows.items():
        m = statistics.median(times)
        print(f"  {name:28} {m * 1e3:8.3f} ms   {(m - alone) * 1e6:+9.1f} us")


if __name__ == "__main__":
    main()
