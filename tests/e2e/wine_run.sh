#!/bin/sh
# Runs a Windows program under Wine with the tests' own prefix inside the build folder. Its
# server is started, if none runs, to stay a minute after its last program, together with the
# prefix's own processes (see keep_wine_server in harness.py). The 64-bit build (QUORVEL_PLATFORM
# win64) runs under the 64-bit loader alone; the 32-bit build under "wine", and where this
# machine's kernel runs no 32-bit programs its run exits 77, which ctest counts as skipped.
# Usage: wine_run.sh BUILD_DIR PROGRAM [ARGS...]
build="$1"; shift
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=wine
if [ "$QUORVEL_PLATFORM" = win64 ]; then
  wine=/usr/lib/wine/wine64
  export WINELOADER=$wine
elif ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "skipped: this machine cannot run 32-bit programs (Wine's 32-bit loader does not start)"
  exit 77
fi
if wineserver -p60 </dev/null >/dev/null 2>&1; then
  "$wine" cmd /c exit </dev/null >/dev/null 2>&1
fi
exec "$wine" "$@"
