#!/usr/bin/env bash
# Builds the browser page and tests it in Debian's headless Chromium against the scan39
# command-line program (SCAN39_CLI, default build/cli/scan39, built when missing). Exits
# non-zero when a check fails; the last line reads "N passed, M failed".
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
scan39_install "${SCAN39_WEB_PACKAGES[@]}" "${SCAN39_WEB_TEST_PACKAGES[@]}"
bash scripts/web.sh

cli=${SCAN39_CLI:-build/cli/scan39}
if [ ! -x "$cli" ]; then
    scan39_install "${SCAN39_BUILD_PACKAGES[@]}"
    cmake -S . -B build -G Ninja >/dev/null
    cmake --build build --target scan39 -j "$(nproc)"
    cli=build/cli/scan39
fi

# Pictures made with zint and ImageMagick: a clean label, a photo-like picture with two
# labels on tinted paper (turned, a little perspective, blur, noise, JPEG), and a large one.
t=build-web/test
mkdir -p "$t"
if [ ! -f "$t/large.png" ]; then
    zint -b 8 -d 'SCAN39-WEB' --scale=2 --whitesp=10 -o "$t/label.png"
    zint -b 8 -d 'PART-0042' --scale=2 --whitesp=10 --height=40 -o "$t/label2.png"
    convert -size 1200x900 xc:'#e6dfcc' \
        \( "$t/label.png" -background none -rotate 8 \) -geometry +90+80 -composite \
        \( "$t/label2.png" -background none -rotate -18 \) -geometry +430+470 -composite \
        -distort Perspective '0,0 20,10  1200,0 1170,40  0,900 0,880  1200,900 1200,900' \
        -blur 0x0.8 -attenuate 0.4 +noise Gaussian -quality 70 "$t/photo.jpg"
    convert -size 5200x4000 xc:white "$t/label.png" -geometry +2300+1900 -composite "$t/large.png"
fi
[ -f "$t/label.webp" ] || convert "$t/label.png" -define webp:lossless=true "$t/label.webp"
# Light bars on a dark ground, for the page's polarity.
[ -f "$t/label-negative.png" ] || convert "$t/label.png" -negate "$t/label-negative.png"
cat > "$t/pictures.json" <<'JSON'
[["test/label.png", ["SCAN39-WEB"]], ["test/photo.jpg", ["SCAN39-WEB", "PART-0042"]],
 ["test/large.png", ["SCAN39-WEB"]], ["test/label.webp", ["SCAN39-WEB"]]]
JSON
# Rows across the bars of label.png (700 x 232, quiet zones of 20 pixels).
cat > "$t/boxes.json" <<'JSON'
[[0, 50, 700, 60], [5, 120, 690, 130], [5, 120, 682, 130], [690, 120, 5, 130], [0, 205, 700, 215]]
JSON

# Clips for Chromium's fake camera: half a second at 30 frames/s of 1280 x 720, played in a loop.
mkdir -p "$t/clips"
clip() { [ -f "$t/clips/$1" ] || /usr/bin/python3 web/test/make_clip.py "$t/clips/$1" --frames 15 "${@:2}"; }
clip tilted.y4m --label 'SCAN39-LIVE,640,360,15'
clip two.y4m --label 'SCAN39-LIVE,390,200,10' --label 'PART-0042,930,540,-20'
clip blank.y4m

node web/test/browser_test.mjs build-web "$cli"
