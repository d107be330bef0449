#!/usr/bin/env bash
# demo.sh [build dir]: the main job's run, on a built tree whose Wine prefix is
# started (scripts/main.sh and the test command both call it).
#
# Registers the demonstration service (camtovra_service_sim.exe: the camera
# service with a simulated camera, under the service name, AppID and classes
# of CamTovraService) and the proxy/stub library in the build's prefix, starts
# it, streams its camera into a client process that writes a few frames as
# PGM images, and stops it. Then registers the shipped CamTovraService.exe in
# its place and checks that it lists no camera (it finds cameras only through
# the system's device lists), and stops it. Last, scripts/demo_pages.sh shows the
# property pages over the demonstration service and writes them as PNG images.
# Any failing step says what failed and ends the script with exit code 1.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${1:-${CAMTOVRA_BUILD_DIR:-$ROOT/build}}"
BUILD="$(realpath -m "$BUILD")"
export WINEPREFIX="$BUILD/win/wineprefix" WINEDEBUG=-all
unset DISPLAY
WINE=/usr/lib/wine/wine64

SERVICE_DIR="$BUILD/win/vcs/src/service"
SERVICE_EXE="$SERVICE_DIR/CamTovraService.exe"
SIM_SERVICE_EXE="$SERVICE_DIR/camtovra_service_sim.exe"
PS_DLL="$SERVICE_DIR/CamTovraServicePS.dll"
SERVICE_CLIENT="$BUILD/win/testing/service_client/camtovra_service_client.exe"
STREAM_CLIENT="$BUILD/win/testing/stream_client/camtovra_stream_client.exe"
IMAGES="$BUILD/demo_images"

fail() {
  echo "demo: $*" >&2
  exit 1
}

for file in "$SERVICE_EXE" "$SIM_SERVICE_EXE" "$PS_DLL" "$SERVICE_CLIENT" "$STREAM_CLIENT"; do
  [ -f "$file" ] || fail "not built: $file"
done
[ -f "$WINEPREFIX/system.reg" ] || fail "no Wine prefix at $WINEPREFIX (scripts/wine-prefix.sh starts one)"

source "$ROOT/scripts/service_control.sh"

# $1: the service executable. A registration that exists is kept by -Service,
# whichever executable it names: it is removed first. The type library
# registration points the interfaces at the type-library marshaller; the
# proxy/stub library is registered after it.
register() {
  "$WINE" "$1" -UnregServer || fail "removing the registration of CamTovraService failed"
  [ -z "$(state)" ] || fail "CamTovraService is still installed after -UnregServer"
  "$WINE" "$1" -Service || fail "registering $(basename "$1") with -Service failed"
  "$WINE" regsvr32 /s "$PS_DLL" || fail "registering $(basename "$PS_DLL") failed"
}

stop_service
register "$SIM_SERVICE_EXE"
start_service
echo "camtovra_service_sim: registered as CamTovraService and running in $WINEPREFIX"

rm -rf "$IMAGES"
mkdir -p "$IMAGES"
echo "== stream client"
"$WINE" "$STREAM_CLIENT" "Z:${IMAGES//\//\\}" 120 3 || fail "the stream client failed (exit code $?)"
images=("$IMAGES"/*.pgm)
[ -f "${images[0]}" ] || fail "the stream client wrote no image"
echo "Images: ${#images[@]} frames as PGM in $IMAGES"
stop_service
echo "camtovra_service_sim: stopped"

echo "== the shipped service in the same prefix"
register "$SERVICE_EXE"
start_service
status=0
listed="$("$WINE" "$SERVICE_CLIENT" | tr -d '\r')" || status=$?
echo "$listed"
[ "$status" -eq 0 ] || fail "camtovra_service_client failed against CamTovraService (exit code $status; its output above)"
grep -qx "Cameras: 0" <<<"$listed" || fail "the shipped service lists a camera without a driver"
stop_service
echo "CamTovraService: stopped; it stays registered in the prefix"

echo "== the property pages over the demonstration service, on a virtual display"
"$ROOT/scripts/demo_pages.sh" "$BUILD" || fail "showing the property pages failed"
