#!/bin/sh
# Batch speed: scan39 over 500 corpus pictures with 1 and 2 jobs, against zbarimg (Code 39
# only) on the same files, in pictures per second.
#
#   bench/reader/batch_bench.sh [BUILD_DIR]
#
# Needs BUILD_DIR/corpus (bench/reader/run_compare.sh writes it). Uses BUILD_DIR/cli/scan39
# when it reads without a box, otherwise scan39_read_files run as that many processes.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
corpus=$build/corpus
count=${COUNT:-500}
[ -f "$corpus/manifest.jsonl" ] || { echo "no corpus in $corpus: run run_compare.sh first" >&2; exit 1; }

list=$(mktemp)
trap 'rm -f "$list"' EXIT
# Every condition, evenly: every k-th picture of the manifest.
/usr/bin/python3 - "$corpus" "$count" >"$list" <<'PY'
import json, os, sys
corpus, count = sys.argv[1], int(sys.argv[2])
files = [json.loads(l)["file"] for l in open(os.path.join(corpus, "manifest.jsonl"))]
step = max(1, len(files) / count)
print("\n".join(os.path.join(corpus, files[int(i * step)]) for i in range(min(count, len(files)))))
PY
n=$(wc -l <"$list")

cli=$build/cli/scan39
if [ -x "$cli" ] && "$cli" --json "$(head -n 1 "$list")" 2>/dev/null | grep -q '"text"'; then
    reader() { xargs "$cli" --json --jobs "$1" <"$list" >/dev/null || true; }
    name="scan39 --jobs"
else
    # One process per job, each on its share of the pictures.
    reader() { xargs -P "$1" -n $(((n + $1 - 1) / $1)) "$build/bench/reader/scan39_read_files" \
        <"$list" >/dev/null || true; }
    name="scan39_read_files x"
fi
zbar() { xargs -P "$1" -n $(((n + $1 - 1) / $1)) zbarimg -q --raw -Sdisable -Scode39.enable \
    <"$list" >/dev/null 2>&1 || true; }

rate() {
    start=$(date +%s.%N)
    "$@"
    end=$(date +%s.%N)
    echo "$n $start $end" | awk '{ printf "%.1f pictures/s (%.2f s)", $1 / ($3 - $2), $3 - $2 }'
}

echo "$n pictures from $corpus"
for jobs in 1 2; do
    echo "$name $jobs: $(rate reader $jobs)"
    echo "zbarimg x $jobs: $(rate zbar $jobs)"
done
