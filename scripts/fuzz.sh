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
for dir in fuzz/*/; do
  name=$(basename "$dir")
  for bin in build/fuzz/fuzz/*; do
    [ -x "$bin" ] || continue
    case "$(basename "$bin")" in
      ${name}*) ;;
      *) continue ;;
    esac
    work=$(mktemp -d)
    cp -r "$dir/corpus/." "$work/" 2>/dev/null || true
    echo "== fuzzing $(basename "$bin") for ${seconds}s"
    if ! "$bin" -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=1024 -timeout=10 \
        -print_final_stats=0 "$work" 2>"$work.log"; then
      tail -40 "$work.log"
      status=1
    fi
    rm -rf "$work" "$work.log"
  done
done
exit $status
