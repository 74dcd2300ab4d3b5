#!/usr/bin/env bash
# Sets up, builds and runs every test of mosswire (C++ through CTest, JavaScript through
# node's test runner). Works as root on a fresh Debian 12 machine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMOSSWIRE_TESTS=ON >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure
# The Windows program, cross-built with MinGW-w64; its tests run under Wine, each test
# program in a Wine prefix of its own, so two run at once without meeting.
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DMOSSWIRE_TESTS=ON >/dev/null
cmake --build build-win
ctest --test-dir build-win --output-on-failure -j2
mapfile -t js_tests < <(find tests -name '*.test.js' -not -path '*/node_modules/*' | sort)
node --test "${js_tests[@]}"
