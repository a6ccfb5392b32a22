# Helpers for running the Win32 updater under Wine on a private X server.
# Sourced by run.sh and scripts/wine-demo.sh; needs REPO set.
#
# Environment (all optional):
#   FIX_WINEPREFIX   the Wine prefix, made once (default out/wine-prefix)
#   FIX_E2E_BUILDS   the folder of the cross builds x86_64/ and i686/ (default out)
#   FIX_E2E_NATIVE   the native build holding fixpack (default out/native)
#   FIX_E2E_OUT      logs, and per program its scenario folders and
#                    screenshots in x86_64/ and i686/ (default out/e2e)

E2E_BUILDS=${FIX_E2E_BUILDS:-$REPO/out}
E2E_NATIVE=${FIX_E2E_NATIVE:-$REPO/out/native}
E2E_OUT=${FIX_E2E_OUT:-$REPO/out/e2e}
FIXPACK=$E2E_NATIVE/tools/fixpack

# Chooses the program that runs, the 64-bit (x86_64) or the 32-bit (i686)
# one, with the driver of the same build.
use_arch() {  # x86_64|i686
  E2E_ARCH=$1
  E2E_BUILD=$E2E_BUILDS/$1
  UPDATER_EXE=$E2E_BUILD/bin/fixmodule.exe
  DRIVER_EXE=$E2E_BUILD/bin/e2e_driver.exe
}
use_arch x86_64

export WINEPREFIX=${FIX_WINEPREFIX:-$REPO/out/wine-prefix}
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and their installers would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
# The Japanese locale gives Wine the ANSI code page 932, as on a Japanese
# Windows; the updater's texts are code page 932 bytes.
export LC_ALL=ja_JP.UTF-8 LANG=ja_JP.UTF-8

# What the runs stand on, each missing piece named in one line with the
# command that installs it. ground_check: the Japanese locale, Xvfb and the
# X tools, Wine, and for i686 Wine's 32-bit side. prefix_check, once the
# prefix is made: each architecture's driver starts in it (for i686, a
# prefix with a 32-bit side). Exit status 3 when Wine's 32-bit side is all that is
# missing, so that a caller can leave the i686 runs out.
WINE32_LOADER=${FIX_WINE32_LOADER:-/usr/lib/wine/wine}
ground_check() {  # arch...
  local missing=() tool arch
  locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$' ||
    missing+=("the Japanese locale ja_JP.UTF-8, which gives Wine code page 932 (sudo bash scripts/setup.sh makes it)")
  for tool in Xvfb:xvfb xdotool:xdotool import:imagemagick identify:imagemagick \
              wine:wine wineboot:wine wineserver:wine; do
    command -v "${tool%%:*}" >/dev/null ||
      missing+=("${tool%%:*} (sudo apt-get install ${tool#*:}, or sudo bash scripts/setup.sh)")
  done
  [ -x /usr/lib/wine/wine64 ] || missing+=("Wine's 64-bit side (sudo apt-get install wine64)")
  if [ ${#missing[@]} -gt 0 ]; then
    for tool in "${missing[@]}"; do log "e2e: missing: $tool"; done
    return 1
  fi
  for arch in "$@"; do
    if [ "$arch" = i686 ] && [ ! -x "$WINE32_LOADER" ]; then
      log "e2e: missing: Wine's 32-bit side, which runs the i686 programs" \
        "(sudo dpkg --add-architecture i386 && sudo apt-get update && sudo apt-get install wine32:i386)"
      return 3
    fi
  done
}
# Without a side of Wine a program of that side does not start, while wine
# still exits with 0 and not a word; the driver without a command ends with
# 2 once it has run, so each architecture's driver is started once here.
prefix_check() {  # arch...
  local arch out
  for arch in "$@"; do
    if [ "$arch" = i686 ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
      log "e2e: the Wine prefix $WINEPREFIX has no 32-bit side (rm -rf $WINEPREFIX; the next run makes it again)"
      return 3
    fi
    out=$(use_arch "$arch" && drv 2>&1)
    if [ $? != 2 ]; then
      log "e2e: the $arch driver does not start in $WINEPREFIX, so no $arch program will: ${out:-no word from Wine}"
      if [ "$arch" = i686 ]; then return 3; else return 1; fi
    fi
  done
}

XVFB_PID=
APP_PATHS='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths'

log() { printf '%s\n' "$*" >&2; }

# The Windows form of a Unix path, through Wine's drive Z: (the root).
winpath() { local p; p=$(realpath -m "$1"); printf 'Z:%s' "${p//\//\\}"; }

# Starts a private X server (Xvfb) and points DISPLAY at it.
display_start() {
  local n
  for n in $(seq 91 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
  done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$E2E_OUT/xvfb.log" 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  local tries
  for tries in $(seq 100); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  log "Xvfb did not start on $DISPLAY"; cat "$E2E_OUT/xvfb.log" >&2
  return 1
}

display_stop() {
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null; wait "$XVFB_PID" 2>/dev/null; fi
  XVFB_PID=
}

# Makes the Wine prefix once; later runs reuse it. The dialogs get Wine's
# own window frames (caption and close box), since no window manager runs;
# the close box's glyph comes from Wine's Marlett font (fonts-wine), which
# this Wine build only finds in the prefix's own font folder. A prefix made
# before Wine's 32-bit side (wine32) was installed has no 32-bit system
# folder and can run no program at all afterwards (kernel32.dll, status
# c0000135): it is made again.
prefix_setup() {
  if [ -f "$WINEPREFIX/.fix-e2e-ready" ]; then
    [ -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ] && return 0
    # Without Wine's 32-bit side a new prefix would have none either.
    [ -x "$WINE32_LOADER" ] || return 0
    log "== the Wine prefix $WINEPREFIX has no 32-bit side; making it again"
  fi
  log "== making the Wine prefix $WINEPREFIX (once)"
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  wineboot -i >"$E2E_OUT/wineboot.log" 2>&1 || { cat "$E2E_OUT/wineboot.log" >&2; return 1; }
  wineserver -w
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
  wineserver -w
  if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  fi
  touch "$WINEPREFIX/.fix-e2e-ready"
}

# Keeps one wineserver up for the whole run, so each wine start is quick.
wine_start() { wineserver -p 30; }
wine_stop() { wineserver -k 2>/dev/null || true; }

# The driver says "driver: started" first; a run without that line never
# started (Wine could not load it: no 32-bit side, a broken prefix, or a
# start Wine lost) and fails with status 3 and nothing on stdout, whatever
# Wine's own status. Its other lines pass through as they come, and into
# DRIVER_TRANSCRIPT when that names a file: what the driver saw.
drv() {
  wine "$DRIVER_EXE" "$@" | {
    IFS= read -r first || true
    [ "${first%$'\r'}" = "driver: started" ] || { log "  the driver did not start (${DRIVER_EXE##*/} $1)"; exit 3; }
    if [ -n "${DRIVER_TRANSCRIPT:-}" ]; then tee -a "$DRIVER_TRANSCRIPT"; else cat; fi
  }
  local statuses=("${PIPESTATUS[@]}")
  [ "${statuses[1]}" = 0 ] || return "${statuses[1]}"
  return "${statuses[0]}"
}

# Registers (or, with no folder, removes) the App Paths entry of an
# executable name, through Wine's own reg tool. The products' installers are
# 32-bit programs, which on 64-bit Windows write the registry's 32-bit view
# (Wow6432Node), so the entry goes there. Wine shows App Paths in both
# views alike, so the scenarios cannot tell the views apart; the unit tests
# check which view the updater opens first.
register() {  # exe-name [windows-folder]
  if [ $# -ge 2 ]; then
    wine reg add "$APP_PATHS\\$1" /v Path /t REG_SZ /d "$2" /f /reg:32 >/dev/null 2>&1
  else
    wine reg delete "$APP_PATHS\\$1" /f /reg:32 >/dev/null 2>&1 || true
    wine reg delete "$APP_PATHS\\$1" /f /reg:64 >/dev/null 2>&1 || true
  fi
}

# Set by a screenshot that failed or came out empty.
SHOT_FAULT=0

# Screenshot of the whole screen, trimmed to what is drawn on it. An empty
# screen (nothing drawn, trimmed to a single pixel) fails: the window it
# was to show is not there.
snap() {  # file.png
  mkdir -p "$(dirname "$1")"
  import -window root -trim +repage "$1" 2>/dev/null || { log "  FAILED: screenshot $1"; SHOT_FAULT=1; return 1; }
  local size
  size=$(identify -format '%w %h' "$1" 2>/dev/null)
  case $size in
    ''|'1 1'|'1 '*|*' 1') log "  FAILED: the screenshot $1 is empty (${size:-unreadable})"; SHOT_FAULT=1; return 1 ;;
  esac
}

# A screenshot once the screen has stopped changing: two looks in a row
# alike. The Open dialog answers before it has painted all of itself.
snap_steady() {  # file.png
  local before= now tries
  for tries in $(seq 25); do
    now=$(import -window root rgb:- 2>/dev/null | md5sum)
    if [ "$now" = "$before" ]; then snap "$1"; return; fi
    before=$now
    sleep 0.15
  done
  log "  the screen kept changing; taken as it is: $1"
  snap "$1"
}

# Real key presses, to the window that holds the keyboard focus.
keys() {  # key-name...
  xdotool key --delay 60 "$@"
}

# A real mouse click on a button or the close box of the update dialog.
click() {  # ok|cancel|close
  local at
  at=$(drv where "$1") || { log "$at"; return 1; }
  # shellcheck disable=SC2086
  xdotool mousemove --sync $at click 1
}

UPDATER_PID=
UPDATER_EXIT_FILE=

# Runs a copy of the updater from `folder` (where its data files lie), in
# the background; with "as-is", the copy already there.
updater_start() {  # folder [as-is]
  [ "${2:-}" = as-is ] || cp "$UPDATER_EXE" "$1/fixmodule.exe"
  UPDATER_EXIT_FILE="$1/exit-code"
  rm -f "$UPDATER_EXIT_FILE"
  (cd "$1" && { wine fixmodule.exe; echo $? >"$UPDATER_EXIT_FILE"; }) >/dev/null 2>&1 &
  UPDATER_PID=$!
}

# Waits for the updater to end and prints its exit code (as Wine gives it:
# the low byte, so -1 shows as 255).
updater_exit() {  # [timeout-seconds]
  local limit=$(( ${1:-20} * 10 )) i
  for i in $(seq "$limit"); do
    if [ -s "$UPDATER_EXIT_FILE" ]; then
      wait "$UPDATER_PID" 2>/dev/null
      UPDATER_PID=
      cat "$UPDATER_EXIT_FILE"
      return 0
    fi
    sleep 0.1
  done
  echo "still running"
  return 1
}

# Ends an updater that a failed scenario left behind (our own process).
updater_kill() {
  if [ -n "$UPDATER_PID" ]; then
    pkill -P "$UPDATER_PID" 2>/dev/null
    kill "$UPDATER_PID" 2>/dev/null
    wait "$UPDATER_PID" 2>/dev/null
  fi
  UPDATER_PID=
}
