#!/usr/bin/python3
"""The smallest modules drawn sharp: zint's Code 39 pattern with wide elements of 2.5 or 3
modules, drawn at 20 pixels a module, optionally blurred, then reduced by area to 1.11-1.16
pixels a module (every pixel holds the ink it covers, as a sensor does) and turned near 0, 90
or 180 degrees. Reads each picture with scan39 and zxing-cpp, one process each, and prints per
kind the symbols each read (and scan39's false texts).

    /usr/bin/python3 bench/reader/sharp_small.py --out build/sharp_small [--count 12] \\
        [--scan39 build/cli/scan39] [--zxing build/bench/reader/scan39_zxing_read] [--seed 117]
"""

import argparse
import json
import os
import random
import subprocess

import numpy as np
from PIL import Image, ImageFilter

ALPHABET = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-."


def zint_runs(text, path):
    """Element widths in modules (1 narrow, 2 wide) of zint's drawing of the text."""
    subprocess.run(["zint", "-b", "8", "--scale", "5", "--notext", "-d", text, "-o", path],
                   check=True)
    row = np.array(Image.open(path).convert("L"))
    row = row[row.shape[0] // 2]
    change = np.flatnonzero(np.diff(row.astype(int))) + 1
    bounds = np.concatenate(([0], change, [len(row)]))
    runs = np.diff(bounds)
    return [1 if r <= runs.min() else 2 for r in runs]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--out", required=True)
    ap.add_argument("--count", type=int, default=12)
    ap.add_argument("--seed", type=int, default=117)
    ap.add_argument("--scan39", default="build/cli/scan39")
    ap.add_argument("--zxing", default="build/bench/reader/scan39_zxing_read")
    args = ap.parse_args()
    os.makedirs(args.out, exist_ok=True)
    rng = random.Random(args.seed)
    tally = {}
    for k in range(args.count):
        text = "".join(rng.choice(ALPHABET) for _ in range(rng.randint(4, 10)))
        runs = zint_runs(text, os.path.join(args.out, "zint.png"))
        for ratio in (2.5, 3.0):
            row = [255] * 400
            for i, r in enumerate(runs):
                row += [0 if i % 2 == 0 else 255] * int(round((1 if r == 1 else ratio) * 20))
            row += [255] * 400
            img = np.tile(np.array(row, dtype=np.uint8), (1200, 1))
            img[:200] = 255
            img[-200:] = 255
            big = Image.fromarray(img)
            for blur in (0.0, 0.3):
                b = big.filter(ImageFilter.GaussianBlur(blur * 20)) if blur else big
                module = rng.uniform(1.11, 1.16)
                f = module / 20
                small = b.resize((round(b.width * f), round(b.height * f)), Image.BOX)
                for angle in (0, 90, 180):
                    name = os.path.join(args.out, f"{k:02d}_r{ratio}_b{blur}_{angle}.png")
                    small.rotate(angle + rng.uniform(-0.5, 0.5), resample=Image.BICUBIC,
                                 expand=True, fillcolor=255).save(name)
                    ours = subprocess.run([args.scan39, "--json", "--jobs", "1", name],
                                          capture_output=True, text=True).stdout
                    got = [json.loads(line).get("text") for line in ours.splitlines() if line]
                    zx = subprocess.run([args.zxing, name], capture_output=True,
                                        text=True).stdout.split()
                    t = tally.setdefault((ratio, blur, angle), [0, 0, 0, 0])
                    t[0] += text in got
                    t[1] += any(g and g != text for g in got)
                    t[2] += text in zx
                    t[3] += 1
    print("| wide ratio | blur (modules) | angle | scan39 | false | zxing-cpp |")
    print("|---|---|---|---|---|---|")
    for (ratio, blur, angle), (ours, false, zx, n) in sorted(tally.items()):
        print(f"| {ratio} | {blur} | {angle} | {ours}/{n} | {false} | {zx}/{n} |")


if __name__ == "__main__":
    main()
