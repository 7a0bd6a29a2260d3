#!/usr/bin/env bash
# The main demo: installs what is missing, builds vorn (Release, in build/),
# starts the message listener on a socket in a private temporary folder, runs
# vorn on the built-in demo scene for about five seconds while recording the
# annotated frames, shows the messages as they arrive, and says where the
# frames went.
#
# Environment:
#   VORN_DEMO_FRAMES   frames to process (default 150, about 5 s at 30 fps)
#   VORN_DEMO_OUTPUT   folder for the annotated frames (default ./demo-output)
#   VORN_BUILD_DIR     build folder (default build)
#   VORN_DEMO_HEADLESS set to run headless even when a display is present
#
# Nothing is sent beyond this machine: the listener's socket lives in the
# temporary folder, and the fallback address is 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

frames=${VORN_DEMO_FRAMES:-150}
output=${VORN_DEMO_OUTPUT:-$root/demo-output}
build=${VORN_BUILD_DIR:-build}

bash scripts/setup.sh

echo "demo: building vorn (Release, in $build/)" >&2
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target vorn vorn-listen >/dev/null

find_program() {
    local name=$1 candidate
    for candidate in "$build/shell/$name" "$build/runner/$name" "$build/tools/$name"; do
        if [ -x "$candidate" ]; then
            echo "$candidate"
            return 0
        fi
    done
    echo "demo: $name was not built" >&2
    return 1
}
vorn=$(find_program vorn)
listen=$(find_program vorn-listen)

work=$(mktemp -d "${TMPDIR:-/tmp}/vorn-demo-XXXXXX")
socket="$work/kelvat"
listener_pid=
cleanup() {
    if [ -n "$listener_pid" ]; then
        kill -TERM "$listener_pid" 2>/dev/null || true
        wait "$listener_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# Every program of the demo uses this socket and loopback, whatever the
# caller's environment says.
export VORN_SOCKET="$socket"
export VORN_BROADCAST_ADDRESS=127.0.0.1

"$listen" --socket "$socket" &
listener_pid=$!
# The listener binds its socket at start; vorn falls back to UDP without it.
for _ in $(seq 1 50); do
    [ -S "$socket" ] && break
    sleep 0.1
done

# With a display and the desktop program built, the window takes the place of
# the headless run: it shows the demo scene until the operator closes it.
run_desktop_demo() {
    [ -x "$build/shell/vorn" ] || return 1
    [ -n "${VORN_DEMO_HEADLESS:-}" ] && return 1
    echo "demo: opening the window on the demo scene; close it to end the demo" >&2
    "$vorn" --source demo --socket "$socket" --broadcast 127.0.0.1 || status=$?
    desktop=1
}

mkdir -p "$output"
rm -f "$output"/frame*.png
echo "demo: vorn on the demo scene for $frames frames; messages as the listener receives them:" >&2
status=0
desktop=
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && run_desktop_demo; then
    :
else
    "$vorn" --headless --source demo --frames "$frames" \
        --socket "$socket" --broadcast 127.0.0.1 \
        --record "$output/frame%05d.png" || status=$?
fi

# Let the last datagrams reach the listener before it stops.
sleep 0.3
kill -TERM "$listener_pid" 2>/dev/null || true
wait "$listener_pid" 2>/dev/null || true
listener_pid=

if [ "$status" -ne 0 ]; then
    echo "demo: vorn ended with status $status" >&2
    exit "$status"
fi
if [ -n "$desktop" ]; then
    exit 0
fi
count=$(find "$output" -maxdepth 1 -name 'frame*.png' | wc -l)
echo "demo: $count annotated frames recorded in $output (frame00000.png ...)" >&2
