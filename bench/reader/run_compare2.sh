#!/bin/sh
# The reader beside zbarimg, zxing-cpp 1.4 and zxing-cpp 3.x on both corpora, as two Markdown
# tables: the tuning corpus (make_corpus.py) and the report-only corpus (make_corpus2.py), which
# is drawn differently and must never be used to tune the reader.
#
#   bench/reader/run_compare2.sh [BUILD_DIR] [compare.py options...]
#
# Builds what run_compare.sh builds, installs zxing-wasm under bench/reader/node when it is
# missing (npm), writes BUILD_DIR/corpus and BUILD_DIR/corpus2 unless they are there, and runs
# compare.py on each. Environment: COUNT pictures per condition for the tuning corpus (40),
# COUNT2 for the report-only corpus (24), SEED (39), SEED2 (20261208), JOBS (2), SCAN39_CMD.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
[ $# -gt 0 ] && shift
python=/usr/bin/python3

if command -v node >/dev/null 2>&1; then
    if [ ! -d "$here/node/node_modules/zxing-wasm" ] && command -v npm >/dev/null 2>&1; then
        (cd "$here/node" && npm install --no-audit --no-fund >&2) || true
    fi
    [ -d "$here/node/node_modules/zxing-wasm" ] && echo "$(node "$here/zxing_wasm_read.mjs" --version)" >&2
fi

if [ ! -f "$build/corpus2/manifest.jsonl" ]; then
    "$python" "$here/make_corpus2.py" --out "$build/corpus2" --count "${COUNT2:-24}" \
        --seed "${SEED2:-20261208}" --jobs "${JOBS:-2}" >&2
fi

# run_compare.sh builds the programs, writes the tuning corpus and picks the scan39 command;
# READERS_EXTRA adds zxing3 there when it is installed.
extra=
[ -d "$here/node/node_modules/zxing-wasm" ] && extra=zxing3
echo "## Tuning corpus (make_corpus.py)"
echo
READERS_EXTRA=$extra sh "$here/run_compare.sh" "$build" "$@"
echo
echo "## Report-only corpus (make_corpus2.py)"
echo
READERS_EXTRA=$extra CORPUS=$build/corpus2 sh "$here/run_compare.sh" "$build" "$@"
