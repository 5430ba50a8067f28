#!/usr/bin/env bash
# Pictures per second for `scan39 --box ...` over 200 picture files in one process, next to
# zbarimg (Debian zbar-tools) on the same files.
#   bash bench/cli/cli_bench.sh [BUILD_DIR] [COUNT]
set -euo pipefail
build=${1:-build}
count=${2:-200}
scan39=$build/cli/scan39
make=$build/bench/cli/scan39_cli_bench_pictures
for f in "$scan39" "$make"; do
    [ -x "$f" ] || { echo "missing $f: build the targets scan39 and scan39_cli_bench_pictures" >&2; exit 2; }
done

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
box=$(QT_QPA_PLATFORM=offscreen "$make" "$dir" "$count")
files=("$dir"/*.bmp)
echo "$count pictures of $(du -sh "$dir" | cut -f1), box $box"

# Seconds taken by a command, its output kept in $dir/out.
timed() {
    local start end
    start=$(date +%s.%N)
    "$@" >"$dir/out" 2>"$dir/err" || true
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}

report() {  # name seconds decoded
    printf '%-44s %7.3f s  %7.1f pictures/s  %d of %d decoded\n' "$1" "$2" \
        "$(echo "$count / $2" | bc -l)" "$3" "$count"
}

t=$(timed "$scan39" --box "$box" "${files[@]}")
report "scan39 --box $box" "$t" "$(grep -c ': [0-9A-Z]\{10\}$' "$dir/out" || true)"
sed 's/.*: //' "$dir/out" | sort >"$dir/scan39.txt"

if command -v zbarimg >/dev/null; then
    t=$(timed zbarimg -q --raw "${files[@]}")
    report "zbarimg -q --raw (all symbologies)" "$t" "$(grep -c . "$dir/out" || true)"
    if sort "$dir/out" | cmp -s - "$dir/scan39.txt"; then
        echo "scan39 and zbarimg read the same $count texts"
    else
        echo "scan39 and zbarimg differ on some texts"
    fi
    t=$(timed zbarimg -q --raw -Sdisable -Scode39.enable "${files[@]}")
    report "zbarimg -q --raw, Code 39 only" "$t" "$(grep -c . "$dir/out" || true)"
else
    echo "zbarimg not installed (apt-get install zbar-tools): no peer figures"
fi
