#!/usr/bin/python3
"""Runs scan39, zbarimg and zxing-cpp over a corpus from make_corpus.py or make_corpus2.py and
prints one Markdown table: per condition and reader, the read rate (a picture counts as read
when every expected text was reported) and false reads (pictures where any reported text was
not expected).

    /usr/bin/python3 bench/reader/compare.py --corpus build/corpus \
        [--scan39 "build/cli/scan39 --json"] [--zxing build/bench/reader/scan39_zxing_read] \
        [--readers scan39,zbar,zxing,zxing3] [--jobs 2] [--only cond,...] [--details out.jsonl]

Readers: scan39; zbar (zbarimg, Code 39 only); zxing (Debian's zxing-cpp 1.4 through
scan39_zxing_read, one process per picture); zxing3 (zxing-cpp 3.x, the zxing-wasm build, through
zxing_wasm_read.mjs under node, one process per --jobs share of the pictures; it reads the
Code39Std format so that its texts are raw symbol characters like the other peers').

scan39 gets the picture's options as --check-digit / --full-ascii. The peers run with their
defaults and report the raw symbol text, so for those pictures their texts are translated the
same way here: the mod 43 check character verified and stripped (a text that fails it counts
as not reported), full-ASCII pairs translated (a text with a pair outside the table counts as
not reported). Each peer runs in its own process per picture; a crash counts as not read.
"""

import argparse
import json
import os
import shlex
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor

ALPHABET = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%"


def full_ascii_reverse():
    table = {"%U": 0, "/O": 47, "/Z": 58, "%V": 64, "%W": 96, "%X": 127, "%Y": 127, "%Z": 127}
    for i in range(26):
        table["$" + chr(65 + i)] = 1 + i
        table["+" + chr(65 + i)] = 97 + i
    for i, c in enumerate("ABCDE"):
        table["%" + c] = 27 + i
    for i, c in enumerate("FGHIJ"):
        table["%" + c] = 59 + i
    for i, c in enumerate("KLMNO"):
        table["%" + c] = 91 + i
    for i, c in enumerate("PQRST"):
        table["%" + c] = 123 + i
    for i, c in enumerate("ABCDEFGHIJKL"):
        table["/" + c] = 33 + i
    return table


FULL_ASCII = full_ascii_reverse()


def translate(text, options):
    """A peer's raw text as the picture's options read it; None when they reject it."""
    if options.get("check_character"):
        if len(text) < 2 or any(c not in ALPHABET for c in text):
            return None
        if ALPHABET[sum(ALPHABET.index(c) for c in text[:-1]) % 43] != text[-1]:
            return None
        text = text[:-1]
    if options.get("full_ascii"):
        out, i = [], 0
        while i < len(text):
            if text[i] in "$%/+":
                code = FULL_ASCII.get(text[i:i + 2])
                if code is None:
                    return None
                out.append(chr(code))
                i += 2
            else:
                out.append(text[i])
                i += 1
        text = "".join(out)
    return text


def run_scan39(command, entries, corpus, jobs, record=lambda obj: obj["text"]):
    """file -> list of record(symbol) for every symbol found (its text unless told otherwise),
    and the files whose process crashed; grouped by options, in chunks spread over `jobs`
    processes."""
    groups = {}
    for e in entries:
        opts = e.get("options", {})
        flags = (("--check-digit",) if opts.get("check_character") else ()) + \
                (("--full-ascii",) if opts.get("full_ascii") else ())
        groups.setdefault(flags, []).append(e["file"])
    chunks = []
    for flags, files in groups.items():
        size = max(1, min(100, -(-len(files) // jobs)))
        chunks += [(flags, files[i:i + size]) for i in range(0, len(files), size)]

    def one(chunk):
        flags, files = chunk
        args = shlex.split(command) + list(flags) + [os.path.join(corpus, f) for f in files]
        p = subprocess.run(args, capture_output=True, text=True, errors="replace")
        found = {f: [] for f in files}
        crashed = set(files)
        for line in p.stdout.splitlines():
            try:
                obj = json.loads(line)
            except ValueError:
                continue
            rel = os.path.relpath(obj.get("file", ""), corpus)
            if rel in found:
                crashed.discard(rel)
                found[rel] += [record(symbol) for symbol in obj.get("symbols", [])]
        if p.returncode < 0:
            print(f"scan39 died ({p.returncode}) on a chunk of {len(files)}", file=sys.stderr)
        return found, crashed if p.returncode < 0 else set()

    results, crashes = {}, set()
    with ThreadPoolExecutor(jobs) as pool:
        for found, crashed in pool.map(one, chunks):
            results.update(found)
            crashes |= crashed
    return results, crashes


def run_peer(make_args, entries, corpus, jobs):
    def one(e):
        p = subprocess.run(make_args(os.path.join(corpus, e["file"])), capture_output=True,
                           text=True, errors="replace")
        texts = [t for t in p.stdout.splitlines() if t]
        opts = e.get("options", {})
        if opts:
            texts = [t for t in (translate(t, opts) for t in texts) if t is not None]
        return e["file"], texts, p.returncode < 0

    results, crashes = {}, set()
    with ThreadPoolExecutor(jobs) as pool:
        for f, texts, crashed in pool.map(one, entries):
            results[f] = texts
            if crashed:
                crashes.add(f)
    return results, crashes


def run_wasm(command, entries, corpus, jobs):
    """zxing-wasm: a few long-lived node processes, each fed file names on standard input."""
    shares = [entries[i::jobs] for i in range(jobs)]

    def one(share):
        names = [os.path.join(corpus, e["file"]) for e in share]
        p = subprocess.run(shlex.split(command), input="\n".join(names) + "\n",
                           capture_output=True, text=True, errors="replace")
        got = {}
        for line in p.stdout.splitlines():
            try:
                obj = json.loads(line)
            except ValueError:
                continue
            if "texts" in obj:
                got[obj["file"]] = obj["texts"]
        if p.returncode != 0:
            print(f"zxing3 exited {p.returncode}: {p.stderr.strip()[:300]}", file=sys.stderr)
        out = []
        for e, name in zip(share, names):
            texts = got.get(name)
            crashed = texts is None
            texts = texts or []
            opts = e.get("options", {})
            if opts:
                texts = [t for t in (translate(t, opts) for t in texts) if t is not None]
            out.append((e["file"], texts, crashed))
        return out

    results, crashes = {}, set()
    with ThreadPoolExecutor(jobs) as pool:
        for share in pool.map(one, [s for s in shares if s]):
            for f, texts, crashed in share:
                results[f] = texts
                if crashed:
                    crashes.add(f)
    return results, crashes


def score(entry, texts):
    expected = list(entry["texts"])
    left = list(texts)
    read = True
    for t in expected:
        if t in left:
            left.remove(t)
        else:
            read = False
    false = any(t not in expected for t in texts)
    return read, false


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--corpus", required=True)
    ap.add_argument("--scan39", default="build/cli/scan39 --json")
    ap.add_argument("--zxing", default="build/bench/reader/scan39_zxing_read")
    ap.add_argument("--zbarimg", default="zbarimg")
    ap.add_argument("--zxing3", default="node " + shlex.quote(os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "zxing_wasm_read.mjs")) +
        " --formats Code39Std", help="command reading file names from stdin (zxing-wasm)")
    ap.add_argument("--readers", default="scan39,zbar,zxing")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--only", default="", help="comma-separated conditions")
    ap.add_argument("--details", help="write every picture's results here (JSON lines)")
    args = ap.parse_args()

    with open(os.path.join(args.corpus, "manifest.jsonl")) as f:
        entries = [json.loads(line) for line in f if line.strip()]
    if args.only:
        keep = set(args.only.split(","))
        entries = [e for e in entries if e["condition"] in keep]
    readers = [r for r in args.readers.split(",") if r]
    runs = {}
    for r in readers:
        start = time.monotonic()
        if r == "scan39":
            res = run_scan39(args.scan39, entries, args.corpus, args.jobs)
        elif r == "zbar":
            res = run_peer(lambda p: [args.zbarimg, "-q", "--raw", "-Sdisable", "-Scode39.enable", p],
                           entries, args.corpus, args.jobs)
        elif r == "zxing":
            res = run_peer(lambda p: [args.zxing, p], entries, args.corpus, args.jobs)
        elif r == "zxing3":
            res = run_wasm(args.zxing3, entries, args.corpus, args.jobs)
        else:
            sys.exit(f"unknown reader {r}")
        runs[r] = res + (time.monotonic() - start,)
        print(f"{r}: {runs[r][2]:.1f} s", file=sys.stderr)

    conditions = []
    for e in entries:
        if e["condition"] not in conditions:
            conditions.append(e["condition"])
    head = "| condition | pictures | " + " | ".join(f"{r} read | {r} false" for r in readers) + " |"
    print(head)
    print("|" + "---|" * (2 + 2 * len(readers)))
    totals = {r: {"pos": 0, "read": 0, "false": 0, "negfalse": 0, "crash": 0} for r in readers}
    npos = nneg = 0
    worst = {r: (2.0, "") for r in readers}
    details = open(args.details, "w") if args.details else None
    for c in conditions:
        group = [e for e in entries if e["condition"] == c]
        positive = any(e["texts"] for e in group)
        cells = []
        for r in readers:
            results, crashes, _ = runs[r]
            read = false = 0
            for e in group:
                texts = results.get(e["file"], [])
                ok, bad = score(e, texts)
                read += ok
                false += bad
                if details:
                    details.write(json.dumps({"reader": r, "file": e["file"], "condition": c,
                                              "expected": e["texts"], "reported": texts,
                                              "read": ok, "false": bad,
                                              "crash": e["file"] in crashes}) + "\n")
            t = totals[r]
            t["false"] += false
            t["crash"] += sum(1 for e in group if e["file"] in crashes)
            if positive:
                t["pos"] += len(group)
                t["read"] += read
                rate = read / len(group)
                if rate < worst[r][0]:  # the first such condition on a tie
                    worst[r] = (rate, c)
                cells.append(f"{100 * rate:.1f}% | {false}")
            else:
                t["negfalse"] += false
                cells.append(f"— | {false}")
        if positive:
            npos += len(group)
        else:
            nneg += len(group)
        print(f"| {c} | {len(group)} | " + " | ".join(cells) + " |")
    if details:
        details.close()
    cells = []
    for r in readers:
        t = totals[r]
        rate = f"{100 * t['read'] / t['pos']:.1f}%" if t["pos"] else "—"
        cells.append(f"**{rate}** | **{t['false']}**")
    print(f"| **all** | {npos + nneg} | " + " | ".join(cells) + " |")
    print()
    print(f"Pictures: {npos} with Code 39, {nneg} without.")
    for r in readers:
        t = totals[r]
        seconds = runs[r][2]
        rate, cond = worst[r]
        line = (f"- {r}: {seconds:.1f} s for {npos + nneg} pictures "
                f"({(npos + nneg) / seconds:.1f} pictures/s, {args.jobs} at a time); "
                f"false reads on pictures without Code 39: {t['negfalse']}")
        if cond:
            line += f"; hardest condition: {cond} {100 * rate:.1f}%"
        if t["crash"]:
            line += f"; crashed on {t['crash']} pictures (counted as not read)"
        print(line)
    if "scan39" in readers and len(readers) > 1 and totals["scan39"]["pos"]:
        ours = totals["scan39"]
        print()
        print("Ratios, scan39 against each peer (read: pictures read, >1 means scan39 reads "
              "more; time: wall time of the whole run, >1 means scan39 is slower):")
        for r in readers:
            if r == "scan39":
                continue
            t = totals[r]
            read = f"{ours['read'] / t['read']:.2f}" if t["read"] else "∞"
            print(f"- vs {r}: read {read} ({ours['read']} / {t['read']}), "
                  f"time {runs['scan39'][2] / runs[r][2]:.2f}")


if __name__ == "__main__":
    main()
