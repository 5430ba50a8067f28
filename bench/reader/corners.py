#!/usr/bin/python3
"""How far the reader's corners and angle are from the corpus manifest's bar corners.

    /usr/bin/python3 bench/reader/corners.py --corpus DIR \
        [--scan39 "build/cli/scan39 --json --jobs 1"] [--only cond,...] [--jobs 2] [--worst 5]

Runs the reader (any command that prints scan39's JSON lines with "position" and "angle") on
every picture that holds Code 39, pairs each expected symbol with the reported symbol of the
same text nearest to it, and prints per condition: symbols paired, the median and 90th
percentile of the corner distances (pixels, each of the four corners against its counterpart
in reading order), the median angle error (degrees), and how many symbols had their corners in
another order (a cyclic shift or mirror of the four fitting much better) or an angle outside
[0, 360).
"""

import argparse
import json
import math
import os
import sys

import compare  # the same way of running the reader, beside this file


def run(command, entries, corpus, jobs):
    """file -> list of (text, corners, angle)."""
    results, _ = compare.run_scan39(
        command, entries, corpus, jobs,
        record=lambda obj: (obj["text"], obj["position"], obj.get("angle", 0.0)))
    return results


def dist(a, b):
    return math.hypot(a[0] - b[0], a[1] - b[1])


def centre(c):
    return (sum(p[0] for p in c) / 4, sum(p[1] for p in c) / 4)


def orders(c):
    """The four corners in every other order a reader could mix them up in."""
    for k in range(1, 4):
        yield c[k:] + c[:k]
    m = [c[1], c[0], c[3], c[2]]
    for k in range(4):
        yield m[k:] + m[:k]


def percentile(values, q):
    if not values:
        return float("nan")
    v = sorted(values)
    return v[min(len(v) - 1, int(q * len(v)))]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--corpus", required=True)
    ap.add_argument("--scan39", default="build/cli/scan39 --json --jobs 1")
    ap.add_argument("--only", default="", help="comma-separated conditions")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--worst", type=int, default=0, help="list the N worst symbols")
    args = ap.parse_args()

    with open(os.path.join(args.corpus, "manifest.jsonl")) as f:
        entries = [json.loads(line) for line in f if line.strip()]
    entries = [e for e in entries if e.get("symbols")]
    if args.only:
        keep = set(args.only.split(","))
        entries = [e for e in entries if e["condition"] in keep]
    results = run(args.scan39, entries, args.corpus, args.jobs)

    rows, everything, worst = {}, [], []
    for e in entries:
        row = rows.setdefault(e["condition"], {"n": 0, "paired": 0, "err": [], "angle": [],
                                                "order": 0, "range": 0})
        for s in e["symbols"]:
            row["n"] += 1
            want = [tuple(p) for p in s["corners"]]
            got = [r for r in results.get(e["file"], []) if r[0] == s["text"]]
            if not got:
                continue
            text, corners, angle = min(got, key=lambda r: dist(centre(r[1]), centre(want)))
            corners = [tuple(p) for p in corners]
            row["paired"] += 1
            errs = [dist(a, b) for a, b in zip(corners, want)]
            row["err"] += errs
            everything += errs
            worst.append((max(errs), e["file"], text))
            expect = math.degrees(math.atan2(want[1][1] - want[0][1], want[1][0] - want[0][0]))
            row["angle"].append(abs((angle - expect + 180) % 360 - 180))
            row["range"] += not (0 <= angle < 360)
            if min(sum(dist(a, b) for a, b in zip(o, want)) for o in orders(corners)) < 0.5 * sum(errs):
                row["order"] += 1

    print("| condition | symbols | paired | corner median px | corner p90 px | angle median deg "
          "| wrong order | angle out of range |")
    print("|---|---|---|---|---|---|---|---|")
    for cond, r in rows.items():
        print(f"| {cond} | {r['n']} | {r['paired']} | {percentile(r['err'], 0.5):.1f} | "
              f"{percentile(r['err'], 0.9):.1f} | {percentile(r['angle'], 0.5):.2f} | "
              f"{r['order']} | {r['range']} |")
    print(f"| **all** | {sum(r['n'] for r in rows.values())} | "
          f"{sum(r['paired'] for r in rows.values())} | "
          f"**{percentile(everything, 0.5):.1f}** | **{percentile(everything, 0.9):.1f}** | | "
          f"{sum(r['order'] for r in rows.values())} | {sum(r['range'] for r in rows.values())} |")
    for err, f, text in sorted(worst, reverse=True)[:args.worst]:
        print(f"worst: {err:.1f} px {f} {text}", file=sys.stderr)


if __name__ == "__main__":
    main()
