#!/usr/bin/env bash
# Coverage-guided fuzzing of the code that reads untrusted input, with libFuzzer, ASan and UBSan.
#
#   scripts/fuzz.sh [BUILD_DIR] [SECONDS] [TARGET...]
#
# Configures BUILD_DIR (default build-fuzz) with Clang, builds the fuzz targets, writes each
# target's seed corpus to a temporary directory and runs every target (default: all five) for
# SECONDS (default 60), one after another. The corpus each run grows is kept in
# BUILD_DIR/fuzz-corpus/<target> so that later runs go on from it; logs go to
# BUILD_DIR/fuzz-logs and anything found to BUILD_DIR/fuzz-findings/<target>. Exits non-zero
# when a target finds a crash, a sanitizer report, a leak, a timeout or an out-of-memory input.
# With SCAN39_FUZZ_COVERAGE=1 it then prints the line coverage the corpora reach in the code
# under test (a second build in BUILD_DIR-cov).
#
# Reproduce a finding with: BUILD_DIR/fuzz/<target> <finding file>
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-fuzz}")
seconds=${2:-60}
shift $(($# < 2 ? $# : 2))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_picture fuzz_property_store fuzz_decoder fuzz_cli_options fuzz_reader)

for tool in clang clang++ cmake ninja; do
    command -v "$tool" >/dev/null || { echo "fuzz.sh: $tool is needed" >&2; exit 2; }
done

launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}" CCACHE_NOHASHDIR=1
fi

echo "== configuring $build"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja "${launcher[@]}" -DSCAN39_FUZZ=ON \
    -DSCAN39_SANITIZE=ON -DSCAN39_BUILD_TESTS=OFF -DSCAN39_BUILD_BENCH=OFF >/dev/null
echo "== building ${targets[*]}"
cmake --build "$build" --target "${targets[@]}" -j 2

seeds=$(mktemp -d)
trap 'rm -rf "$seeds"' EXIT

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# Longest input per target: room for a small picture, or for a store holding one.
max_len() {
    case "$1" in
        fuzz_picture | fuzz_property_store) echo 16384 ;;
        fuzz_decoder) echo 8192 ;;
        fuzz_reader) echo 65536 ;;
        *) echo 4096 ;;
    esac
}

failed=()
for t in "${targets[@]}"; do
    bin="$build/fuzz/$t"
    corpus="$build/fuzz-corpus/$t"
    findings="$build/fuzz-findings/$t"
    log="$build/fuzz-logs/$t.log"
    mkdir -p "$corpus" "$findings" "$(dirname "$log")"
    SCAN39_FUZZ_SEEDS="$seeds/$t" "$bin"
    echo "== $t: ${seconds}s, $(ls "$seeds/$t" | wc -l) seeds, $(ls "$corpus" | wc -l) inputs in the corpus"
    status=0
    # New inputs go to the first directory; the seeds are only read.
    "$bin" "$corpus" "$seeds/$t" -max_total_time="$seconds" -max_len="$(max_len "$t")" \
        -rss_limit_mb=2048 -malloc_limit_mb=2048 -timeout=25 -print_final_stats=1 \
        -artifact_prefix="$findings/" >"$log" 2>&1 || status=$?
    # The seeds' coverage, then where the run ended.
    grep -E '^#[0-9]+[[:space:]]+INITED' "$log" | head -n 1 || true
    grep -E '^#[0-9]+[[:space:]].*cov: ' "$log" | tail -n 1 || true
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" || true
    if [ "$status" -ne 0 ]; then
        echo "!! $t found a problem (exit $status); see $log and $findings" >&2
        grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error|fuzz_[a-z_]+: )' "$log" | head -n 5 >&2 || true
        failed+=("$t")
    fi
done

# Line coverage of the code under test, from replaying each corpus in a build instrumented for
# source-based coverage (BUILD_DIR-cov). Off unless SCAN39_FUZZ_COVERAGE=1.
sources_of() {
    case "$1" in
        fuzz_picture) echo host/picture.cpp ;;
        fuzz_property_store) echo host/property_store.cpp host/picture.cpp ;;
        fuzz_decoder) echo decoder/sample.cpp decoder/decode.cpp ;;
        fuzz_cli_options) echo cli/options.cpp ;;
        fuzz_reader) echo reader/reader.cpp reader/locate.cpp reader/scanline.cpp reader/code39.cpp reader/vote.cpp reader/line_reader.cpp reader/region_scan.cpp reader/bar_likeness.cpp reader/damage.cpp reader/pass_*.cpp ;;
    esac
}
if [ "${SCAN39_FUZZ_COVERAGE:-0}" = 1 ]; then
    cov="$build-cov"
    echo "== line coverage (replaying the corpora in $cov)"
    CC=clang CXX=clang++ cmake -S "$root" -B "$cov" -G Ninja -DSCAN39_FUZZ=ON -DSCAN39_SANITIZE=ON \
        -DSCAN39_BUILD_TESTS=OFF -DSCAN39_BUILD_BENCH=OFF \
        -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" \
        -DCMAKE_EXE_LINKER_FLAGS="-fprofile-instr-generate" >/dev/null
    cmake --build "$cov" --target "${targets[@]}" -j 2 >/dev/null
    for t in "${targets[@]}"; do
        rm -f "$cov/$t".prof*
        LLVM_PROFILE_FILE="$cov/$t.profraw" "$cov/fuzz/$t" -runs=0 "$build/fuzz-corpus/$t" \
            "$seeds/$t" >/dev/null 2>&1 || echo "!! replaying the $t corpus failed" >&2
        llvm-profdata merge -sparse "$cov/$t.profraw" -o "$cov/$t.profdata"
        srcs=()
        for f in $(sources_of "$t"); do srcs+=("$root/$f"); done
        echo "-- $t"
        llvm-cov report "$cov/fuzz/$t" -instr-profile="$cov/$t.profdata" "${srcs[@]}" |
            sed -e "s|$root/||"
    done
fi

if [ ${#failed[@]} -gt 0 ]; then
    echo "== problems found by: ${failed[*]}" >&2
    exit 1
fi
echo "== no problems found"
