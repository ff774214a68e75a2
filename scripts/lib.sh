# Shared by the scripts: build tree, Wine prefix and a private virtual display.
# Source it; it defines functions and variables, it starts nothing by itself.

PELORIN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${PELORIN_BUILD_DIR:-$PELORIN_ROOT/build/mingw}
export WINEPREFIX=${WINEPREFIX:-$BUILD_DIR/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

pelorin_configure_and_build() {
  if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake --preset mingw -B "$BUILD_DIR" >/dev/null
  fi
  cmake --build "$BUILD_DIR" -- -k 0 "$@"
}

XVFB_PID=""
# Starts Xvfb on a display number it picks itself and exports DISPLAY.
pelorin_start_display() {
  local geometry=${1:-1024x768x24} fifo
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "$geometry" -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  XVFB_PID=$!
  local n
  read -r -t 20 n <"$fifo" || true
  rm -f "$fifo"
  if [ -z "${n:-}" ]; then
    echo "could not start Xvfb" >&2
    return 1
  fi
  export DISPLAY=":$n"
}

pelorin_stop_display() {
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=""
  fi
}

WINE_STARTED=0
# A persistent Wine server and the prefix's services, started before any test so
# that the services do not inherit a test runner's output pipes.
pelorin_start_wine() {
  mkdir -p "$WINEPREFIX"
  wineserver -p >/dev/null 2>&1
  WINE_STARTED=1
  wine wineboot >/dev/null 2>&1 </dev/null
  pelorin_wine_fonts
  pelorin_wine_settings "${1:-test}"
}

# Debian's Wine 8 reads fonts only from the prefix's Fonts folder (and
# fontconfig's), and a new prefix gets none of Wine's own (fonts-wine): without
# Marlett the caption buttons read "0 1 r", without Tahoma and MS Sans Serif
# dialogs fall back to DejaVu. Programs started after the copy see them.
pelorin_wine_fonts() {
  local from=/usr/share/wine/fonts to="$WINEPREFIX/drive_c/windows/Fonts"
  [ -d "$from" ] && [ -d "$to" ] || return 0
  [ -f "$to/marlett.ttf" ] || cp -n "$from"/* "$to"/
}

# The prefix's settings for test runs (the default) or for a user's desktop.
pelorin_wine_settings() {
  local x11='HKCU\Software\Wine\X11 Driver'
  local aedebug='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
  if [ "$1" = test ]; then
    # With no window manager on a private display, Wine waits about 2 s for
    # the missing manager each time a framed window is hidden or destroyed;
    # unmanaged windows skip that wait.
    wine reg add "$x11" /v Managed /d N /f >/dev/null 2>&1 </dev/null
    # A crashing program ends at once instead of waiting in winedbg until the
    # test runner's timeout: the post-mortem "debugger" is a no-op.
    wine reg add "$aedebug" /v Debugger /d 'cmd.exe /c rem %ld %ld' /f >/dev/null 2>&1 </dev/null
    # Tests run at Wine's 96 DPI: the DPI test sets these for its own starts
    # only, but one that was stopped midway leaves them behind.
    local value
    for value in LogPixels DpiScalingVer; do
      wine reg delete 'HKCU\Control Panel\Desktop' /v "$value" /f >/dev/null 2>&1 </dev/null || true
    done
  else
    # A user's window manager manages Pelorin's window; crashes get winedbg.
    wine reg delete "$x11" /v Managed /f >/dev/null 2>&1 </dev/null || true
    wine reg add "$aedebug" /v Debugger /d 'winedbg --auto %ld %ld' /f >/dev/null 2>&1 </dev/null
  fi
}

pelorin_stop_wine() {
  if [ "$WINE_STARTED" = 1 ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    WINE_STARTED=0
  fi
}
