#!/bin/sh
# Runs every fuzz target of a fuzz build for a bounded time each, starting from its committed
# seed corpus. New inputs go to BUILD/corpus/NAME, never into the source tree; a crash, a
# broken invariant, a leak or a hang (an input running over 10 s) fails the run, with the
# fuzzer's report and the input left in BUILD/artifacts.
# Usage: run.sh BUILD SECONDS
build="$1"
seconds="${2:-60}"
here="$(cd "$(dirname "$0")" && pwd)"
passed=0
failed=0
mkdir -p "$build/artifacts" "$build/logs"
for fuzzer in "$build"/fuzzers/*_fuzz; do
  [ -x "$fuzzer" ] || continue
  name="$(basename "$fuzzer" _fuzz)"
  seeds="$here/corpus/$name"
  mkdir -p "$build/corpus/$name" "$seeds"
  log="$build/logs/$name.log"
  if "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$name-" "$build/corpus/$name" "$seeds" >"$log" 2>&1; then
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
    echo "fuzz $name: ${runs:-?} inputs in ${seconds} s, nothing found"
    passed=$((passed + 1))
  else
    echo "fuzz $name: FAILED; the fuzzer's report ($log):"
    grep -v '^#\|^INFO\|^\s*$' "$log" | head -60
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
