#!/bin/sh
# Pictures per second of the Dask batch with 1 and 2 local workers, against scan39 --jobs 1
# and 2 on the same files (wall clock, cluster start included; the batch's own reading rate,
# without the start, is the last figure of its progress line).
#
#   bench/python/batch_bench.sh BUILD_DIR PICTURE...
set -eu
build=$1
shift
n=$#
out=$(mktemp)
trap 'rm -f "$out"' EXIT
export PYTHONPATH="$build/python${PYTHONPATH:+:$PYTHONPATH}"
rate() { /usr/bin/python3 -c "import sys; print(f'{$n / float(sys.argv[1]):.1f}')" "$1"; }
timed() {
    start=$(date +%s.%N)
    "$@" >/dev/null 2>"$out" || true
    end=$(date +%s.%N)
    /usr/bin/python3 -c "import sys; print(f'{float(sys.argv[2]) - float(sys.argv[1]):.2f}')" \
        "$start" "$end"
}
for j in 1 2; do
    t=$(timed "$build/cli/scan39" --json --jobs $j "$@")
    echo "scan39 --jobs $j: $n pictures in ${t}s, $(rate "$t") pictures/s"
done
for w in 1 2; do
    t=$(timed /usr/bin/python3 -m scan39.batch --workers $w "$@")
    inner=$(tail -n 1 "$out" | sed -n 's/.*pictures, \([0-9.]*\)\/s.*/\1/p')
    echo "scan39.batch --workers $w: $n pictures in ${t}s, $(rate "$t") pictures/s" \
         "($inner/s once the cluster runs)"
done
