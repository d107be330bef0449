#!/usr/bin/env bash
# wine-prefix.sh <prefix> start|stop|no-crash-debugger
#   start: creates the prefix once (headless: null graphics driver) and starts a
#          persistent wineserver, so that every test exe starts in a fraction of a
#          second and services are not ended when the last client exits. Turns
#          off Wine's crash debugger on every start (see no_crash_debugger).
#   stop:  ends that wineserver (and with it every Wine process of the prefix).
#   no-crash-debugger: only that, for a prefix made elsewhere (its wineserver
#          may be running or not).
set -euo pipefail
export WINEPREFIX="$(realpath -m "$1")"
export WINEDEBUG=-all
unset DISPLAY
server=/usr/lib/wine/wineserver

# A program that crashes ends at once with the exception's code as its exit
# code, Wine's one line naming the fault and its address on its error output.
# With the crash debugger that a new prefix names (winedbg --auto), a crash took
# seconds, the crashed program's exit code was now and then 0, and a crash while
# the process was exiting held it until the test's timeout. An empty Debugger
# value starts none. Set on every start, so a prefix made before keeps up.
no_crash_debugger() {
  local key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
  /usr/lib/wine/wine64 reg add "$key" /v Debugger /d '' /f </dev/null >/dev/null 2>&1 || true
  /usr/lib/wine/wine64 reg query "$key" /v Debugger </dev/null 2>/dev/null | tr -d '\r' |
    grep -qE '^ +Debugger +REG_SZ *$' ||
    { echo "wine-prefix: could not turn off the crash debugger in $WINEPREFIX" >&2; exit 1; }
}

case "$2" in
  start)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      mkdir -p "$WINEPREFIX"
      /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
    fi
    "$server" -k 2>/dev/null || true
    "$server" -w 2>/dev/null || true
    # Headless: windows, device notifications and property frames work without a display.
    if ! grep -q '"Graphics"="null"' "$WINEPREFIX/user.reg"; then
      /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
      "$server" -w
      grep -q '"Graphics"="null"' "$WINEPREFIX/user.reg" || { echo "wine-prefix: could not set the null graphics driver" >&2; exit 1; }
    fi
    "$server" -p </dev/null >/dev/null 2>&1
    # Start the prefix's system processes now, detached from our output: a
    # test's pipe that they inherited would never reach end-of-file.
    /usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1
    # The same for the default desktop's process: otherwise the first program
    # that needs the desktop (a window, a new console) starts it, it inherits
    # that test's stderr, and the test does not end before the desktop's last
    # user left, at the end of the whole run. An idle shell window keeps the
    # desktop in use until the server stops; the desktop exists on return.
    setsid /usr/lib/wine/wine64 explorer.exe </dev/null >/dev/null 2>&1 &
    /usr/lib/wine/wine64 rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1
    no_crash_debugger
    ;;
  no-crash-debugger)
    [ -f "$WINEPREFIX/system.reg" ] || { echo "wine-prefix: no prefix at $WINEPREFIX" >&2; exit 1; }
    no_crash_debugger
    ;;
  stop)
    "$server" -k 2>/dev/null || true
    "$server" -w 2>/dev/null || true
    ;;
  *)
    echo "wine-prefix: unknown command '$2' (start, stop or no-crash-debugger)" >&2
    exit 2
    ;;
esac
