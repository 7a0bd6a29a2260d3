#!/usr/bin/env bash
# One command: installs what is missing, builds everything and runs every test.
# Exit status is non-zero when a build step or any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

build=${VORN_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"

# No test may reach a real network: every test sets its own socket path and
# loopback broadcast address; these defaults catch anything that forgets.
export VORN_BROADCAST_ADDRESS=127.0.0.1
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 300
