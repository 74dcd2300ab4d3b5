#!/usr/bin/env bash
# Builds and runs the window benchmark (bench/window_bench.cpp): Return -> own line
# painted in the real window against a bare page in the same engine, and idle CPU of the
# real window against the bare window, on one Xvfb display large enough for four windows.
#   bash bench/window_run.sh [SAMPLES] [IDLE_SECONDS]     (defaults 20 and 30)
# POLL_US, BARE_DELAY_MS and BARE_BURN_MS are passed on (see bench/window_bench.cpp).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMOSSWIRE_TESTS=ON >/dev/null
cmake --build build --target window_bench bare_window mosswire msw_page_driver
NO_AT_BRIDGE=1 dbus-run-session -- xvfb-run -a -s "-screen 0 2400x1600x24 -nolisten tcp -noreset" \
  build/bench/window_bench "$PWD" "$PWD/build" "${1:-20}" "${2:-30}"
