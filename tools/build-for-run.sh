#!/bin/sh
# Builds the native quorvel for `make run`, and says so before it starts: the first build takes
# a minute or more, and a silent minute looks like a hang. The build's own lines show its
# progress ("[ 40%] Building CXX object ..."), one per step; a build with nothing to do writes
# nothing, so a later `make run` shows the report alone. A failed build keeps every line of it.
# Usage: build-for-run.sh BUILD_DIR JOBS
build="$1"
jobs="${2:-2}"
said=0
if [ ! -f "$build/CMakeCache.txt" ]; then
  echo "make run: setting up the build in $build, then building quorvel (a minute or more the first time)"
  said=1
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null || exit 1
fi
status="$(mktemp)"
# Read a line at a time as the build writes it (awk may wait for a whole block of input).
{
  cmake --build "$build" --target quorvel -j "$jobs" -- --no-print-directory 2>&1
  echo $? >"$status"
} | while IFS= read -r line; do
  case "$line" in
    # Lines that say a step had nothing to do.
    *"Built target "* | *"Scanning dependencies of target "* | "Consolidate compiler generated"*) continue ;;
  esac
  if [ "$said" = 0 ]; then
    echo "make run: building quorvel in $build"
    said=1
  fi
  printf '%s\n' "$line"
done
code="$(cat "$status")"
rm -f "$status"
[ "$code" = 0 ] || { echo "make run: the build failed (above)" >&2; exit 1; }
