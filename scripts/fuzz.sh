#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and fuzzes each for a bounded
# time, starting from its committed corpus.
#   scripts/fuzz.sh [SECONDS_PER_HARNESS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 --target fuzzers
status=0
for list in fuzz/*/CMakeLists.txt; do
  dir=$(dirname "$list")
  for name in $(grep -o 'vorlan_add_fuzzer([A-Za-z0-9_]*' "$list" | sed 's/vorlan_add_fuzzer(//'); do
    bin=build/fuzz/fuzz/$name
    [ -x "$bin" ] || { echo "missing fuzzer $bin"; status=1; continue; }
    work=$(mktemp -d)
    cp -r "$dir/corpus/." "$work/" 2>/dev/null || true
    echo "== fuzzing $name for ${seconds}s"
    if ! "$bin" -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=1024 -timeout=10 \
        -print_final_stats=1 "$work" >"$work.log" 2>&1; then
      tail -40 "$work.log"
      status=1
    else
      grep -E 'stat::number_of_executed_units' "$work.log" || true
    fi
    rm -rf "$work" "$work.log"
  done
done
exit $status
