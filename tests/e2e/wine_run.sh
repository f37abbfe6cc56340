#!/bin/sh
# Runs a Windows program under Wine with the tests' own prefix inside the build folder. Its
# server is started, if none runs, to stay a minute after its last program, together with the
# prefix's own processes (see keep_wine_server in harness.py).
# Usage: wine_run.sh BUILD_DIR PROGRAM [ARGS...]
build="$1"; shift
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if wineserver -p60 </dev/null >/dev/null 2>&1; then
  wine cmd /c exit </dev/null >/dev/null 2>&1
fi
exec wine "$@"
