#!/usr/bin/env bash
# Takes docs/form1.png: the window under Xvfb after a drag across band 3 and a decode, with
# real X mouse events. Needs xvfb, xdotool and imagemagick; run after scripts/demo.sh built it.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" != "--inside" ]; then
    exec xvfb-run -a -s "-screen 0 800x600x24" bash "$0" --inside
fi
./build/app/scan39-demo &
demo=$!
trap 'kill $demo 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    wid=$(xdotool search --name '条码解码演示程序' 2>/dev/null | head -1) && [ -n "$wid" ] && break
    sleep 0.1
done
eval "$(xdotool getwindowgeometry --shell "$wid")"
# The picture's top-left pixel: the control sits at (8, 80), inside a one-pixel border.
ox=$((X + 9)) oy=$((Y + 81))
xdotool mousemove $((ox + 4)) $((oy + 140)) mousedown 1
for i in 1 2 3 4 5; do xdotool mousemove $((ox + 4 + i * 97)) $((oy + 140 + i * 12)); done
xdotool mouseup 1
xdotool mousemove $((X + 400)) $((Y + 24)) click 1   # 开始解码
sleep 0.5
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage docs/form1.png
echo "wrote docs/form1.png"
