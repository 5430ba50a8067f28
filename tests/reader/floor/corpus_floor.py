#!/usr/bin/python3
"""The reader's quality floor: a small seeded tuning corpus (bench/reader/make_corpus.py),
drawn afresh into a temporary folder, read with the scan39 command line; fails when any
condition reads fewer pictures than its recorded count, or when any picture gives a text that
is not on it.

    /usr/bin/python3 tests/reader/floor/corpus_floor.py --scan39 build/cli/scan39 \
        [--floor tests/reader/floor/floor.json] [--print]

--print prints the counts read now, as the floor file holds them (to record a new floor after
a change that reads more), instead of judging them.
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "bench", "reader"))
from compare import run_scan39, score  # noqa: E402


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--scan39", required=True, help="the scan39 command line program")
    ap.add_argument("--floor", default=os.path.join(HERE, "floor.json"))
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--print", action="store_true")
    args = ap.parse_args()
    with open(args.floor) as f:
        floor = json.load(f)
    with tempfile.TemporaryDirectory() as corpus:
        subprocess.run([sys.executable, os.path.join(ROOT, "bench", "reader", "make_corpus.py"),
                        "--out", corpus, "--count", str(floor["count"]), "--seed",
                        str(floor["seed"]), "--jobs", str(args.jobs)], check=True,
                       stdout=subprocess.DEVNULL)
        with open(os.path.join(corpus, "manifest.jsonl")) as f:
            entries = [json.loads(line) for line in f if line.strip()]
        found, crashed = run_scan39(f"{args.scan39} --json --jobs 1", entries, corpus,
                                    args.jobs)
    read, false = {}, []
    for e in entries:
        ok, wrong = score(e, found.get(e["file"], []))
        read[e["condition"]] = read.get(e["condition"], 0) + (ok and e["file"] not in crashed)
        if wrong:
            false.append(f"{e['file']}: {found[e['file']]} for {e['texts']}")
    if args.print:
        print(json.dumps(dict(floor, read=read), indent=1))
        return 0
    failures = [f"{c}: {read.get(c, 0)} read, the floor is {n}"
                for c, n in floor["read"].items() if read.get(c, 0) < n]
    failures += [f"missing from the corpus: {c}" for c in floor["read"] if c not in read]
    failures += [f"false text {t}" for t in false]
    failures += [f"scan39 crashed on {f}" for f in sorted(crashed)]
    for line in failures:
        print(line)
    print(f"{len(entries)} pictures, {sum(read.values())} read, {len(false)} with a false text")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
