#!/usr/bin/env bash
# Builds and runs the host benchmarks; prints their figures.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMOSSWIRE_TESTS=ON >/dev/null
cmake --build build --target host_assets_bench host_startup_bench host_memory_bench bare_window mosswire \
  mosswire_hosttest msw_page_driver
build/bench/host_assets_bench
NO_AT_BRIDGE=1 xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp -noreset" \
  build/bench/host_startup_bench build/tests/host/mosswire_hosttest 6
# The program beside a bare WebKitGTK window on the same display: start-up, and memory
# after a first run and an unlock on an empty vault. ROUNDS (default 5) sets the rounds.
invite=$(node bench/make-invite.js)
NO_AT_BRIDGE=1 dbus-run-session -- xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp -noreset" \
  build/bench/host_memory_bench "$PWD" "$PWD/build" "$invite" "${ROUNDS:-5}"
