#!/usr/bin/env bash
# Takes the documentation's pictures of the desktop program: the main window
# on the demo scene and the open control panel, as PNGs in docs/screenshots/.
#
#   scripts/screenshots.sh [build-directory]     (default: build-shell, then build)
#
# Runs the program under a private X server (xvfb-run) in a scratch working
# directory, so no emotion.cfg of yours is read or written. The result
# messages go to a Unix socket in that directory (nobody listens) and the
# fallback is loopback only.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-}"
if [[ -z "$build" ]]; then
    for candidate in "$repo/build-shell" "$repo/build"; do
        if [[ -x "$candidate/shell/vorn" ]]; then build="$candidate"; break; fi
    done
fi
vorn="${build:-$repo/build}/shell/vorn"
if [[ ! -x "$vorn" ]]; then
    echo "screenshots.sh: no desktop vorn at $vorn; build the 'vorn' target first" >&2
    exit 1
fi
command -v xvfb-run >/dev/null || { echo "screenshots.sh: xvfb-run is not installed" >&2; exit 1; }

out="$repo/docs/screenshots"
mkdir -p "$out"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# About 17 s of the demo at 30 frames a second: the figure has walked in and
# is coming closer, so boxes, target mark and emotion bars all show.
frames="${VORN_SCREENSHOT_FRAMES:-500}"

(
    cd "$work"
    env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        VORN_SOCKET="$work/kelvat" \
        VORN_BROADCAST_ADDRESS=127.0.0.1 \
        VORN_SCREENSHOT_DIR="$out" \
        VORN_SCREENSHOT_FRAMES="$frames" \
        timeout 180 xvfb-run -a -s "-screen 0 1280x1024x24" "$vorn" --source demo
)
for picture in main-window.png control-panel.png; do
    [[ -s "$out/$picture" ]] || { echo "screenshots.sh: $picture was not written" >&2; exit 1; }
done
echo "screenshots in $out"
