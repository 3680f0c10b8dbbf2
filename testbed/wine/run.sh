#!/usr/bin/env bash
# Runs one Windows program inside the test bed prepared by bed.sh (CTest's
# emulator for every test binary). The state folder is given by
# MIRAVELL_TESTBED (set by CTest) or defaults to the build tree's.
set -euo pipefail
state=${MIRAVELL_TESTBED:?MIRAVELL_TESTBED is not set}
export WINEPREFIX=${MIRAVELL_WINEPREFIX:-$state/prefix}
export WINEARCH=win64
# Arguments and output cross between Unix and Windows as UTF-8.
export LANG=${LANG:-C.UTF-8}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
if [ -f "$state/display" ]; then
  DISPLAY=$(cat "$state/display")
  export DISPLAY
fi
# Started with a fixed address layout when the bed could set one up (why:
# bed.sh); the Windows programs a program starts inherit it.
layout=()
if [ -f "$state/fixed-layout" ]; then
  layout=(setarch "$(uname -m)" -R)
fi
# Debian's wine wrapper nags about the missing 32-bit loader whenever a debug
# channel is on; the 64-bit loader itself does not.
if [ -x /usr/lib/wine/wine64 ]; then
  export WINELOADER=${WINELOADER:-/usr/lib/wine/wine64}
  exec "${layout[@]}" /usr/lib/wine/wine64 "$@"
fi
exec "${layout[@]}" wine "$@"
