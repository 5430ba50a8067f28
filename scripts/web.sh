#!/usr/bin/env bash
# Builds the browser page into build-web/: the reader and the decoder as WebAssembly (Debian's
# emscripten), the page itself and two sample pictures. With --serve, also serves the folder
# on http://127.0.0.1:8039/ until interrupted. Nothing is fetched at run time.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
scan39_install "${SCAN39_WEB_PACKAGES[@]}"

# emscripten's optimizer runs under node and needs Debian's acorn; a node installed from
# elsewhere does not look in Debian's module folder by itself.
acorn=$(dpkg -L node-acorn | awk '/\/acorn\/package.json$/ && !n++')
export NODE_PATH="$(dirname "$(dirname "$acorn")")${NODE_PATH:+:$NODE_PATH}"

out=build-web
start=$SECONDS
emcmake cmake -S web -B "$out/obj" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$out/obj" -j 2
cp "$out/obj/scan39.js" "$out/obj/scan39.wasm" "$out"/
cp web/page/* "$out"/

# The sample pictures, drawn by the same generator as the embedded ones.
mkdir -p "$out/tools" "$out/samples"
if [ ! -x "$out/tools/samplegen" ] || [ -n "$(find sample_pictures encoder -newer "$out/tools/samplegen" -name '*.cpp' -o -newer "$out/tools/samplegen" -name '*.h')" ]; then
    g++ -std=c++20 -O1 -Isample_pictures -Isample_pictures/include -Iencoder/include \
        -o "$out/tools/samplegen" sample_pictures/tools/samplegen.cpp \
        sample_pictures/tools/picture.cpp sample_pictures/layout.cpp encoder/encoder.cpp
fi
"$out/tools/samplegen" "$out/samples/control_default.bmp" "$out/samples/form_sample.bmp"
echo "== build-web/ ready in $((SECONDS - start)) s"

if [ "${1:-}" = "--serve" ]; then
    echo "== serving on http://127.0.0.1:8039/ (Ctrl+C ends)"
    exec /usr/bin/python3 -m http.server 8039 --bind 127.0.0.1 --directory "$out"
fi
