#!/bin/bash
# The demonstration: the real driver draws a figure that a simulated board
# traces, on a private virtual display. Builds what it needs first.
#
#   1. a private X server (Xvfb), never the user's own display and pointer;
#   2. skrib-canvas, a window that draws while the left button is held;
#   3. skrib-softpeer, standing in for the whiteboard application (UDP 10000);
#   4. skrib-demo: a ZIW board below its hub on a mock bus (umockdev), the
#      real SkribZIW serving it, and the board tracing a house;
#   5. the canvas saved as build/demo/figure.png, the datagrams printed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target SkribZIW catalogues skrib-canvas skrib-demo skrib-softpeer >/dev/null

out=$(pwd)/build/demo
rm -rf "$out" && mkdir -p "$out/work" && cp -r build/stage/Config build/stage/LANG "$out/work/"
start=$(date +%s%N)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT

# 1. The private display: Xvfb picks a free display number and tells it.
exec 3< <(Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp 2>"$out/xvfb.log")
read -r -t 20 display <&3 || { echo "Xvfb did not start (see $out/xvfb.log)" >&2; exit 1; }
pids+=($!)
export DISPLAY=:$display
unset WAYLAND_DISPLAY
echo "demo: private display $DISPLAY (1280x800)"

# 2. The canvas, full screen.
build/tools/skrib-canvas --png "$out/figure.png" >"$out/canvas.log" 2>&1 &
canvas=$!; pids+=($canvas)
for _ in $(seq 200); do grep -q ready "$out/canvas.log" && break; sleep 0.05; done
grep -q ready "$out/canvas.log" || { echo "the canvas did not come up (see $out/canvas.log)" >&2; exit 1; }

# 3. The whiteboard application's stand-in.
build/tools/skrib-softpeer >"$out/peer.log" 2>&1 &
peer=$!; pids+=($peer)

# 4. The driver and the board.
build/tools/skrib-demo --rate 120 --driver-log "$out/driver.log" -- \
  "$(pwd)/build/app/SkribZIW" --workdir "$out/work" --lockdir "$out" --inject xtest

# 5. The drawing and what the whiteboard application heard.
kill -TERM "$canvas"; wait "$canvas" || true
kill -TERM "$peer"; wait "$peer" || true
echo "demo: what the whiteboard application received (skrib-softpeer):"
sed 's/^/  /' "$out/peer.log"
grep -h "strokes saved" "$out/canvas.log" | sed 's/^/demo: /'
[ -s "$out/figure.png" ] || { echo "no figure saved" >&2; exit 1; }
ms=$(( ($(date +%s%N) - start) / 1000000 ))
echo "demo: the figure is in $out/figure.png ($(stat -c %s "$out/figure.png") bytes); driver log $out/driver.log"
echo "demo: done in $((ms / 1000)).$(( (ms % 1000) / 100 )) s"
