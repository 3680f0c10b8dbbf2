#!/usr/bin/env bash
# The Wine test bed: one prepared prefix (Windows 10), one persistent
# wineserver and, when there is no display, one Xvfb, shared by every test of
# a run. CTest calls "setup" before the first test and "cleanup" after the
# last; run.sh starts each Windows program inside the bed.
#
#   bed.sh setup STATE_DIR [- KEEPER]  prepare the prefix, start wineserver
#                                     (and Xvfb), and the desktop keeper
#   bed.sh cleanup STATE_DIR   stop what setup started
#
# MIRAVELL_BED_DPI (e.g. 144) prepares a prefix whose screens are at that
# DPI instead of 96, and MIRAVELL_BED_SCREEN (default 1920x1080) sizes its
# screen; such a bed needs a state folder of its own (its prefix is made for
# that DPI, and Wine reads the DPI once per wineserver).
set -euo pipefail

action=${1:?usage: bed.sh setup|cleanup STATE_DIR}
state=${2:?usage: bed.sh setup|cleanup STATE_DIR}
mkdir -p "$state"
state=$(cd "$state" && pwd)
prefix=${MIRAVELL_WINEPREFIX:-$state/prefix}
dpi=${MIRAVELL_BED_DPI:-}
screen=${MIRAVELL_BED_SCREEN:-1920x1080}

export WINEPREFIX=$prefix
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko installer prompt may block a headless run.
export WINEDLLOVERRIDES="mscoree,mshtml="

# Debian's Wine has no preloader, so nothing reserves the address where every
# Windows process maps its shared user data (0x7ffe0000) before the loader's
# Unix heap can take it. That heap starts at a random place up to 1 GB above
# the loader (0x7d000000); about one start in five thousand found it over
# 0x7ffe0000 and died with exit 1 ("failed to map the shared user data", an
# error Wine's quiet debug setting hides). Without address randomisation the
# heap starts right after the loader, 48 MB below. run.sh reads this choice.
layout=()
if setarch "$(uname -m)" -R true 2>/dev/null; then
  layout=(setarch "$(uname -m)" -R)
fi
wine() {
  if [ ${#layout[@]} -gt 0 ]; then "${layout[@]}" wine "$@"; else command wine "$@"; fi
}

start_xvfb() {
  if [ -n "${DISPLAY:-}" ] && [ -z "${MIRAVELL_FORCE_XVFB:-}" ]; then
    echo "$DISPLAY" > "$state/display"
    return
  fi
  # A server left by an interrupted run is reused.
  if [ -f "$state/xvfb.pid" ] && kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null && [ -s "$state/display" ]; then
    return
  fi
  command -v Xvfb >/dev/null || { echo "Xvfb is missing (apt-get install xvfb)" >&2; exit 1; }
  exec 3> "$state/display.fd"
  Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp +extension RANDR \
    < /dev/null > "$state/xvfb.log" 2>&1 &
  echo $! > "$state/xvfb.pid"
  exec 3>&-
  local i
  for i in $(seq 1 100); do
    [ -s "$state/display.fd" ] && break
    sleep 0.1
  done
  [ -s "$state/display.fd" ] || { echo "Xvfb did not start" >&2; cat "$state/xvfb.log" >&2; exit 1; }
  echo ":$(head -n1 "$state/display.fd" | tr -d '[:space:]')" > "$state/display"
}

stop_xvfb() {
  if [ -f "$state/xvfb.pid" ]; then
    kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
    rm -f "$state/xvfb.pid" "$state/display.fd"
  fi
  rm -f "$state/display"
}

case "$action" in
  setup)
    if [ ${#layout[@]} -gt 0 ]; then
      touch "$state/fixed-layout"
    else
      rm -f "$state/fixed-layout"
      echo "warning: this machine refuses to turn address randomisation off (setarch -R);" \
           "one Windows program start in about five thousand will fail with exit 1" >&2
    fi
    start_xvfb
    export DISPLAY=$(cat "$state/display")
    # The marker holds the DPI the prefix was made for (empty: 96).
    if [ ! -f "$prefix/.miravell-ready" ] || [ "$(cat "$prefix/.miravell-ready")" != "$dpi" ]; then
      rm -rf "$prefix"
      wine wineboot --init < /dev/null > "$state/wineboot.log" 2>&1 || { cat "$state/wineboot.log" >&2; exit 1; }
      wineserver -w
      # A fresh prefix reports Windows 7; the program's users run 10 or 11.
      wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d win10 /f < /dev/null > /dev/null 2>&1
      # One virtual desktop: Wine then stacks and composes every window itself
      # (topmost and layered windows included), as Windows does, instead of
      # leaving it to an X server that has no window manager.
      wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default /f < /dev/null > /dev/null 2>&1
      wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d "$screen" /f < /dev/null > /dev/null 2>&1
      # Windows' UI fonts carry Arabic glyphs; their Wine stand-ins do not.
      for font in "Segoe UI" "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2"; do
        wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" /t REG_SZ /d "DejaVu Sans" /f < /dev/null > /dev/null 2>&1
      done
      if [ -n "$dpi" ]; then
        # Wine 8 takes the system DPI from the user's desktop settings and,
        # without them, from the current hardware profile (winecfg's place).
        wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f < /dev/null > /dev/null 2>&1
        wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
          /v LogPixels /t REG_DWORD /d "$dpi" /f < /dev/null > /dev/null 2>&1
      fi
      wineserver -w
      printf '%s' "$dpi" > "$prefix/.miravell-ready"
    fi
    # One persistent server for the whole run, so no test pays its start.
    # Nothing started here may keep CTest's output pipes open, or CTest would
    # wait for it until the timeout.
    # (One already running for this prefix, from an interrupted run, serves.)
    wineserver -p < /dev/null > /dev/null 2>&1 || true
    wine cmd /c exit 0 < /dev/null > /dev/null 2>&1 || true
    # Keep the desktop process alive for the whole run: started afresh by
    # every program, its clipboard manager imports the X selection while the
    # program writes the clipboard and can erase what it wrote.
    keeper=${4:-}
    if [ -n "$keeper" ] && [ -f "$keeper" ] &&
       ! { [ -f "$state/keeper.pid" ] && kill -0 "$(cat "$state/keeper.pid")" 2>/dev/null; }; then
      wine "$keeper" < /dev/null > /dev/null 2>&1 &
      echo $! > "$state/keeper.pid"
      sleep 1
    fi
    ;;
  cleanup)
    wineserver -k 2>/dev/null || true
    rm -f "$state/keeper.pid"
    stop_xvfb
    ;;
  *)
    echo "usage: bed.sh setup|cleanup STATE_DIR" >&2
    exit 2
    ;;
esac
