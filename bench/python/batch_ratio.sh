#!/bin/sh
# The batch against scan39 --jobs N on the same pictures, in pairs run back to back (the
# order alternating from pair to pair), so that a busy machine slows both alike: each pair's
# wall clock, user and system seconds (/usr/bin/time), and the ratio of their wall clocks.
#
#   PAIRS=5 WORKERS=2 bench/python/batch_ratio.sh BUILD_DIR [BATCH OPTION...] -- PATH...
#
# e.g. bench/python/batch_ratio.sh build -- pictures/   (threads)
#      bench/python/batch_ratio.sh build --processes -- pictures/
set -eu
build=$(cd "$1" && pwd)
shift
options=""
while [ $# -gt 0 ] && [ "$1" != "--" ]; do options="$options $1"; shift; done
[ $# -gt 0 ] && shift
pairs=${PAIRS:-5}
workers=${WORKERS:-2}
export PYTHONPATH="$build/python${PYTHONPATH:+:$PYTHONPATH}"
times=$(mktemp)
trap 'rm -f "$times"' EXIT
cli() { /usr/bin/time -o "$times" -a -f "cli %e %U %S" "$build/cli/scan39" --json --jobs "$workers" "$@" \
    >/dev/null 2>&1 || true; }
# shellcheck disable=SC2086 # the options are words
batch() { /usr/bin/time -o "$times" -a -f "batch %e %U %S" /usr/bin/python3 -m scan39.batch \
    --workers "$workers" $options "$@" >/dev/null 2>&1 || true; }
i=0
while [ $i -lt "$pairs" ]; do
    if [ $((i % 2)) -eq 0 ]; then cli "$@"; batch "$@"; else batch "$@"; cli "$@"; fi
    i=$((i + 1))
done
/usr/bin/python3 - "$times" "$workers" "$options" <<'PY'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1]) if line[:3] in ("cli", "bat")]
cli = [list(map(float, r[1:])) for r in rows if r[0] == "cli"]
batch = [list(map(float, r[1:])) for r in rows if r[0] == "batch"]
print(f"| pair | scan39 --jobs {sys.argv[2]} s (user, sys) | batch --workers {sys.argv[2]}"
      f"{sys.argv[3]} s (user, sys) | ratio |")
print("|---|---|---|---|")
ratios = []
for i, (c, b) in enumerate(zip(cli, batch), 1):
    ratios.append(b[0] / c[0])
    print(f"| {i} | {c[0]:.2f} ({c[1]:.2f}, {c[2]:.2f}) | {b[0]:.2f} ({b[1]:.2f}, {b[2]:.2f}) "
          f"| {ratios[-1]:.2f} |")
print(f"| median | {statistics.median(c[0] for c in cli):.2f} | "
      f"{statistics.median(b[0] for b in batch):.2f} | {statistics.median(ratios):.2f} |")
PY
