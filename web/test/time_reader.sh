#!/usr/bin/env bash
# The WebAssembly reader against the native one on the same 20 pictures of 640 x 480: the
# median time of each, summed, and the ratio. Run after scripts/web.sh. Pictures come from
# PICTURES_DIR (any format ImageMagick reads, e.g. the benchmark corpus) or are made here with
# zint and ImageMagick.
set -euo pipefail
cd "$(dirname "$0")/../.."
out=build-web/timing
mkdir -p "$out/pgm"
acorn=$(dpkg -L node-acorn | awk '/\/acorn\/package.json$/ && !n++')
export NODE_PATH="$(dirname "$(dirname "$acorn")")${NODE_PATH:+:$NODE_PATH}"

if [ -n "${PICTURES_DIR:-}" ]; then
    mapfile -t sources < <(find "$PICTURES_DIR" -type f | sort | head -20)
else
    sources=()
    for i in $(seq 1 20); do
        f="$out/made-$i.png"
        if [ ! -f "$f" ]; then
            zint -b 8 -d "WEB-$((i * 7919))" --scale=2 --whitesp=10 -o "$out/label-$i.png"
            convert -size 640x480 xc:'#ece6d6' \( "$out/label-$i.png" -resize 70% \
                -background white -rotate $(( (i * 37) % 360 )) \) -gravity center -composite \
                -blur 0x0.6 -attenuate 0.3 +noise Gaussian "$f"
        fi
        sources+=("$f")
    done
fi
pgms=()
for s in "${sources[@]}"; do
    p="$out/pgm/$(basename "${s%.*}").pgm"
    convert "$s" -resize '640x480!' -colorspace Gray -depth 8 "$p"
    pgms+=("$p")
done

g++ -std=c++20 -O2 -DNDEBUG -Ireader/include -Idecoder/include -o "$out/time_reader" \
    web/test/time_reader.cpp reader/*.cpp decoder/*.cpp
"$out/time_reader" 5 "${pgms[@]}" > "$out/native.txt"
node web/test/time_reader.mjs build-web/scan39.js 5 "${pgms[@]}" > "$out/wasm.txt"
paste -d' ' "$out/native.txt" "$out/wasm.txt" | awk '
    { n += $2; w += $5; printf "%-40s native %8.2f ms  wasm %8.2f ms  found %s/%s\n", $1, $2, $5, $3, $6 }
    END { printf "total: native %.1f ms, wasm %.1f ms, wasm/native %.2f\n", n, w, (n > 0 ? w / n : 0) }'
