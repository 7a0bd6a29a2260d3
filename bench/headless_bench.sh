#!/usr/bin/env bash
# Headless throughput and latency on 640x480 file sources, whole process:
#   - a PNG sequence and an MJPEG AVI made by GStreamer in a temporary folder,
#   - the demo scene delivered as fast as it is taken (demo:unpaced),
#   - the demo scene as a live 30 fps source (its rate bounds the throughput).
# For each: frames per second over the whole run (start-up included and
# excluded), and the time from a frame leaving the queue to its message being
# sent (median and 99th percentile), as vorn --latency reports it.
#
# Usage: bash bench/headless_bench.sh [BUILD_DIR] [FRAMES]
#   BUILD_DIR defaults to build-bench (configured as Release if missing),
#   FRAMES to 300.
# Messages go to vorn-listen on a socket in the temporary folder; nothing
# leaves the machine (fallback address 127.0.0.1).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-bench}
frames=${2:-300}

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVORN_WITH_SHELL=OFF >/dev/null
fi
if ! grep -q 'CMAKE_BUILD_TYPE:STRING=Release' "$build/CMakeCache.txt"; then
    echo "bench: $build is not a Release build; numbers would mislead" >&2
    exit 1
fi
cmake --build "$build" -j2 --target vorn vorn-listen >/dev/null

vorn=
for candidate in "$build/runner/vorn" "$build/shell/vorn"; do
    [ -x "$candidate" ] && vorn=$(realpath "$candidate") && break
done
listen=$(realpath -m "$build/tools/vorn-listen")
[ -n "$vorn" ] || { echo "bench: vorn was not built" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/vorn-bench-XXXXXX")
listener_pid=
cleanup() {
    [ -n "$listener_pid" ] && kill -TERM "$listener_pid" 2>/dev/null && wait "$listener_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
export VORN_SOCKET="$work/kelvat"
export VORN_BROADCAST_ADDRESS=127.0.0.1

echo "bench: making $frames frames of 640x480 in $work" >&2
# The moving ball gives the pipeline an object to find on a static background.
gst-launch-1.0 -q videotestsrc pattern=ball num-buffers="$frames" \
    ! video/x-raw,width=640,height=480,framerate=30/1 ! videoconvert \
    ! pngenc compression-level=1 ! multifilesink location="$work/f%05d.png"
gst-launch-1.0 -q videotestsrc pattern=ball num-buffers="$frames" \
    ! video/x-raw,width=640,height=480,framerate=30/1 ! videoconvert \
    ! jpegenc quality=90 ! avimux ! filesink location="$work/clip.avi"

if [ -x "$listen" ]; then
    "$listen" --socket "$work/kelvat" >/dev/null &
    listener_pid=$!
    for _ in $(seq 1 50); do [ -S "$work/kelvat" ] && break; sleep 0.1; done
fi

run_case() {
    local label=$1 source=$2
    mkdir -p "$work/run"
    rm -f "$work/run/emotion.cfg"
    local start end
    start=$(date +%s.%N)
    (cd "$work/run" && "$vorn" --headless --source "$source" --frames "$frames" --latency \
        --socket "$work/kelvat" --broadcast 127.0.0.1 >/dev/null 2>"$work/err")
    end=$(date +%s.%N)
    local summary latency
    summary=$(grep 'frames processed' "$work/err")
    latency=$(grep 'latency' "$work/err")
    local processed mean
    processed=$(sed -E 's/^vorn: ([0-9]+) frames processed.*/\1/' <<<"$summary")
    mean=$(sed -E 's/.*mean ([0-9.]+) fps.*/\1/' <<<"$summary")
    awk -v label="$label" -v n="$processed" -v s="$start" -v e="$end" -v mean="$mean" \
        'BEGIN { printf "%-22s %5d frames  whole process %7.1f fps (%.2f s)  frame loop %7.1f fps\n", label, n, n / (e - s), e - s, mean }'
    sed -E "s/^vorn: latency from frame out of the queue to message sent: [0-9]+ frames, /    queue to message: /; s/; processing alone: /\n    processing alone: /" <<<"$latency"
}

echo "bench: vorn $("$vorn" --version | tr -d '\n'), $(nproc) cores" >&2
run_case "PNG sequence" "$work/f%05d.png"
run_case "MJPEG AVI" "$work/clip.avi"
run_case "demo scene (unpaced)" "demo:unpaced"
# A live source at 30 fps: the newest frame wins, so the latency is the one an
# operator sees; the rate is the camera's, not the machine's.
run_case "demo scene (live 30fps)" "demo"
