#!/bin/sh
# The reader's quality beside zbarimg and zxing-cpp, as one Markdown table.
#
#   bench/reader/run_compare.sh [BUILD_DIR] [compare.py options...]
#
# Builds scan39_read_files and scan39_zxing_read (and scan39 when the build has it) in
# BUILD_DIR (default: build), writes the corpus to BUILD_DIR/corpus unless it is there, then
# runs compare.py. Environment: COUNT pictures per condition (default 40), SEED (39),
# JOBS readers at a time (2), SCAN39_CMD the command that reads pictures and prints JSON lines
# (default: BUILD_DIR/cli/scan39 --json --jobs 1 when it reads without a box, otherwise
# BUILD_DIR/bench/reader/scan39_read_files), CORPUS another corpus directory (it is used as it
# is, never written), READERS_EXTRA more readers for compare.py (zxing3). By hand:
#
#   /usr/bin/python3 bench/reader/make_corpus.py --out build/corpus --count 40
#   /usr/bin/python3 bench/reader/compare.py --corpus build/corpus \
#       --scan39 build/bench/reader/scan39_read_files --zxing build/bench/reader/scan39_zxing_read
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
[ $# -gt 0 ] && shift
python=/usr/bin/python3
corpus=${CORPUS:-$build/corpus}

targets=scan39_read_files
for t in scan39_zxing_read scan39; do
    if ninja -C "$build" -t targets all 2>/dev/null | grep -q "^$t:"; then targets="$targets $t"; fi
done
ninja -C "$build" -j2 $targets >&2

if [ ! -f "$corpus/manifest.jsonl" ]; then
    [ -n "${CORPUS:-}" ] && { echo "no $corpus/manifest.jsonl" >&2; exit 2; }
    "$python" "$root/bench/reader/make_corpus.py" --out "$corpus" --count "${COUNT:-40}" \
        --seed "${SEED:-39}" --jobs "${JOBS:-2}" >&2
fi

if [ -z "${SCAN39_CMD:-}" ]; then
    SCAN39_CMD=$build/bench/reader/scan39_read_files
    probe=$(head -n 1 "$corpus/manifest.jsonl" | sed 's/.*"file": "\([^"]*\)".*/\1/')
    if [ -x "$build/cli/scan39" ] &&
        "$build/cli/scan39" --json "$corpus/$probe" 2>/dev/null | grep -q '"text"'; then
        SCAN39_CMD="$build/cli/scan39 --json --jobs 1"
    fi
fi
echo "scan39: $SCAN39_CMD" >&2

readers=scan39,zbar
[ -x "$build/bench/reader/scan39_zxing_read" ] && readers=$readers,zxing
[ -n "${READERS_EXTRA:-}" ] && readers=$readers,$READERS_EXTRA
exec "$python" "$root/bench/reader/compare.py" --corpus "$corpus" --scan39 "$SCAN39_CMD" \
    --zxing "$build/bench/reader/scan39_zxing_read" --readers "$readers" --jobs "${JOBS:-2}" "$@"
