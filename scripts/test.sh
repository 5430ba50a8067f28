#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: in the normal build and
# with AddressSanitizer + UndefinedBehaviorSanitizer; the browser page's tests run once, after
# the normal build. Also builds the plain libraries without Qt, and runs each fuzz target for
# 30 seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
scan39_install "${SCAN39_BUILD_PACKAGES[@]}" "${SCAN39_TEST_PACKAGES[@]}"

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# ccache makes a second run quick, in this clone or another one on the same machine; the
# first compiles everything.
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
fi

# Tests and benchmarks are switched on explicitly: `build/` may hold a configuration from
# scripts/demo.sh with both off, and ctest must fail rather than pass when it finds no test.
echo "== normal build"
cmake -S . -B build -G Ninja "${launcher[@]}" -DSCAN39_BUILD_TESTS=ON -DSCAN39_BUILD_BENCH=ON \
    >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure --no-tests=error -j "$jobs"
# Every test says whether it is quick (`ctest -L fast`) or not.
unlabelled=$(ctest --test-dir build -N -LE '^(fast|slow)$' | sed -n 's/^Total Tests: //p')
if [ "$unlabelled" != 0 ]; then
    echo "!! $unlabelled tests carry neither the label fast nor slow:" >&2
    ctest --test-dir build -N -LE '^(fast|slow)$' >&2
    exit 1
fi

echo "== the plain libraries without Qt"
# Only code39, decoder, reader and the encoder with their tests and benchmarks, and the Python
# reader on arrays; finding Qt or Poppler at all is an error here, so nothing that needs them
# creeps into the plain build. Its C++ tests are the normal build's; the Python extension is
# its own here, so its array tests run against it.
cmake -S . -B build-noqt -G Ninja "${launcher[@]}" -DSCAN39_WITH_QT=OFF -DSCAN39_BUILD_TESTS=ON \
    -DSCAN39_BUILD_BENCH=ON -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON --no-warn-unused-cli >/dev/null
cmake --build build-noqt -j "$jobs"
ctest --test-dir build-noqt --output-on-failure --no-tests=error -R '^python_arrays_test$'

echo "== the browser page in headless Chromium"
SCAN39_CLI=build/cli/scan39 bash scripts/web-test.sh

echo "== sanitized build (ASan + UBSan)"
# Unoptimised with line tables only: the sanitizers find the same faults, and the build takes
# half the time of an optimised one.
cmake -S . -B build-asan -G Ninja "${launcher[@]}" -DSCAN39_SANITIZE=ON -DSCAN39_BUILD_TESTS=ON \
    -DSCAN39_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O0 -g1" >/dev/null
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan --output-on-failure --no-tests=error -j "$jobs"

echo "== fuzz smoke run: every fuzz target for 30 s on its seeds (Clang, ASan + UBSan)"
# No target may compile QPDF's Debian headers (11.3), which Clang 14 cannot compile as C++20
# against GCC 12's library: only documents/ includes them, and the option fuzzer links the
# argument parser alone.
bash scripts/fuzz.sh build-fuzz 30
