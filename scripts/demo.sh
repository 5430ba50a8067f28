#!/usr/bin/env bash
# Installs what is missing, builds, and runs the program on its embedded sample picture.
# Without a display it says so and shows the main job headless instead.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
scan39_install "${SCAN39_BUILD_PACKAGES[@]}"

cmake -S . -B build -G Ninja -DSCAN39_BUILD_TESTS=OFF -DSCAN39_BUILD_BENCH=OFF >/dev/null
cmake --build build --target scan39-demo scan39 python_package

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec ./build/app/scan39-demo "$@"
fi
echo "No display found (DISPLAY is not set): decoding the sample picture headless instead."
echo "\$ scan39 --sample"
exec ./build/cli/scan39 --sample
