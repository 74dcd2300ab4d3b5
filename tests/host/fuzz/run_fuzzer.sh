#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time; a crash, a sanitizer report or a failed
# check ends it with a non-zero code (and leaves the input under ARTIFACTS).
#   run_fuzzer.sh FUZZER CORPUS_DIR ARTIFACTS_DIR SECONDS
set -euo pipefail
fuzzer=$1 corpus=$2 artifacts=$3 seconds=$4
mkdir -p "$corpus" "$artifacts"
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=12000 \
  -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" 2>&1 | tail -n 15
