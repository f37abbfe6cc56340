#!/bin/sh
# Runs a Windows program under Wine with the tests' own prefix inside the build folder.
# Usage: wine_run.sh BUILD_DIR PROGRAM [ARGS...]
build="$1"; shift
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
