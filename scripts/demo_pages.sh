#!/usr/bin/env bash
# demo_pages.sh [build dir]: the property pages over the demonstration
# service's simulated camera, on a virtual X display (scripts/demo.sh calls it).
#
# The test prefix draws nothing (its graphics driver is null), so the pages are
# shown in a prefix of their own, build/win/wineprefix-display, with Wine's X11
# driver on an Xvfb display: the demonstration service is registered and
# started there, the property-page library is registered with regsvr32, and
# camtovra_page_host opens each of the four pages over the service's camera
# (as an application's capture filter would), writes its pixels, prints its
# controls and closes it. The images become PNG files in build/demo_images;
# each must have the page's size and not be blank. A page that shows no item of this camera (the lens page:
# the simulated camera has no focus) declines the camera and gets no image; Wine's property frame still
# shows its tab, empty. Any failing step says what
# failed and ends the script with exit code 1.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${1:-${CAMTOVRA_BUILD_DIR:-$ROOT/build}}"
BUILD="$(realpath -m "$BUILD")"
export WINEPREFIX="$BUILD/win/wineprefix-display" WINEDEBUG=-all
WINE=/usr/lib/wine/wine64
SERVER=/usr/lib/wine/wineserver

SERVICE_DIR="$BUILD/win/vcs/src/service"
SIM_SERVICE_EXE="$SERVICE_DIR/camtovra_service_sim.exe"
PS_DLL="$SERVICE_DIR/CamTovraServicePS.dll"
PAGE_DLL="$BUILD/win/vcs/src/propertypage/camtovra_propertypage.dll"
PAGE_HOST="$BUILD/win/testing/page_host/camtovra_page_host.exe"
IMAGES="$BUILD/demo_images"

fail() {
  echo "demo pages: $*" >&2
  exit 1
}
# A step without a message of its own that fails still says what failed.
trap 'fail "line $LINENO: \"$BASH_COMMAND\" failed (exit code $?)"' ERR
winpath() { echo "Z:${1//\//\\}"; }

for file in "$SIM_SERVICE_EXE" "$PS_DLL" "$PAGE_DLL" "$PAGE_HOST"; do
  [ -f "$file" ] || fail "not built: $file"
done
command -v Xvfb >/dev/null || fail "Xvfb is not installed (scripts/setup.sh installs it)"
command -v convert >/dev/null || fail "ImageMagick is not installed (scripts/setup.sh installs it)"

# A display of our own: Xvfb picks a free number and writes it to fd 3.
display_file="$(mktemp)"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb=$!
cleanup() {
  "$SERVER" -k 2>/dev/null || true
  "$SERVER" -w 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -f "$display_file"
}
trap cleanup EXIT
for _ in $(seq 1 100); do
  [ -s "$display_file" ] && break
  kill -0 "$xvfb" 2>/dev/null || fail "Xvfb did not start"
  sleep 0.1
done
[ -s "$display_file" ] || fail "Xvfb gave no display number"
export DISPLAY=":$(head -n1 "$display_file")"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$WINE" wineboot -i >/dev/null 2>&1 || fail "creating the prefix $WINEPREFIX failed"
fi
"$SERVER" -k 2>/dev/null || true
"$SERVER" -w 2>/dev/null || true
# The persistent server and the system processes that the first program
# starts keep their output open: what they print goes to a file, not a pipe.
start_log="$(mktemp)"
"$SERVER" -p </dev/null >"$start_log" 2>&1 ||
  fail "starting a persistent wineserver failed: $(tr '\n' ' ' <"$start_log")"
# The prefix's system processes, and with them the registered service, start
# with its first program. Under load Wine now and then fails a program start
# outright, before the program runs (it prints nothing): that step alone is
# tried again, at most three times, each failure said.
for try in 1 2 3; do
  status=0
  "$WINE" cmd /c echo started </dev/null >"$start_log" 2>&1 || status=$?
  [ "$status" -eq 0 ] && tr -d '\r' <"$start_log" | grep -qx started && break
  echo "demo pages: the prefix's first program did not run (try $try, exit code $status):" \
       "$(tr '\r\n' '  ' <"$start_log")" >&2
  [ "$try" -lt 3 ] || fail "the prefix $WINEPREFIX did not start its first program"
done
rm -f "$start_log"
"$ROOT/scripts/wine-prefix.sh" "$WINEPREFIX" no-crash-debugger || fail "turning off Wine's crash debugger failed"

source "$ROOT/scripts/service_control.sh"

stop_service
"$WINE" "$SIM_SERVICE_EXE" -UnregServer || fail "removing the registration of CamTovraService failed (exit code $?)"
"$WINE" "$SIM_SERVICE_EXE" -Service || fail "registering the demonstration service failed (exit code $?)"
"$WINE" regsvr32 /s "$PS_DLL" || fail "registering $(basename "$PS_DLL") failed (regsvr32 exit code $?)"
"$WINE" regsvr32 /s "$PAGE_DLL" || fail "registering $(basename "$PAGE_DLL") failed (regsvr32 exit code $?)"
start_service
echo "camtovra_propertypage.dll: registered in $WINEPREFIX; pages shown on display $DISPLAY"

mkdir -p "$IMAGES"
shown=0
pages=("B167753E-7AB6-4198-937A-D0C017DCB4E7 exposure" "3CE14B85-7A53-49A0-89F1-2B1D74EB35F6 feature"
       "968CCD0A-7FB3-4717-9ED8-370435A270CD lens" "4E523FCD-7780-4AFF-9763-98714A651B23 color")
for entry in "${pages[@]}"; do
  read -r clsid name <<<"$entry"
  bmp="$IMAGES/page_$name.bmp"
  png="$IMAGES/page_$name.png"
  rm -f "$bmp" "$png"
  status=0
  output="$("$WINE" "$PAGE_HOST" --filter service --dll "$(winpath "$PAGE_DLL")" --page "{$clsid}" \
            --capture "$(winpath "$bmp")" | tr -d '\r')" || status=$?
  if [ "$status" -eq 3 ]; then
    echo "Page $name: the camera has no item for it (it declines the camera, so no image of it is made)"
    continue
  fi
  [ "$status" -eq 0 ] || fail "the $name page could not be shown (exit code $status)"
  shown=$((shown + 1))
  convert "$bmp" "$png" || fail "converting the $name page's image failed"
  rm -f "$bmp"
  size="$(identify -format '%wx%h' "$png")"
  expected="$(awk -F'\t' '$1 == "size" {print $2 "x" $3}' <<<"$output")"
  [ "$size" = "$expected" ] || fail "the $name page's image is $size, the page $expected"
  spread="$(convert "$png" -colorspace Gray -format '%[fx:standard_deviation]' info:)"
  awk -v s="$spread" 'BEGIN { exit !(s > 0.02) }' || fail "the $name page's image is blank (spread $spread)"
  controls="$(grep -c '^control' <<<"$output" || true)"
  title="$(grep -v '^control\|^size' <<<"$output" | tail -n1)"
  echo "Page \"$title\": $png ($size, $controls controls)"
  grep '^control' <<<"$output" | awk -F'\t' '$3 != "" {printf "    %s: %s\n", $2, $3}'
done

stop_service
[ "$shown" -ge 2 ] || fail "only $shown pages showed the camera"
echo "Pages: $shown PNG images in $IMAGES"
