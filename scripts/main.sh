#!/usr/bin/env bash
# The main job: sets everything up, builds every deliverable, then registers
# the service in the build's Wine prefix, starts it and runs the test client
# against it (real out-of-process COM through the proxy/stub library).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${CAMTOVRA_BUILD_DIR:-$ROOT/build}"
"$ROOT/scripts/build.sh"
echo "Built: $(find "$BUILD/win" -maxdepth 6 \( -name '*.exe' -o -name '*.dll' \) -not -path '*/wineprefix/*' \
  | grep -v -e tests -e googletest -e /testing/ -e CMakeFiles | wc -l) deliverables in build/win"

SERVICE_EXE="$BUILD/win/vcs/src/service/CamTovraService.exe"
PS_DLL="$BUILD/win/vcs/src/service/CamTovraServicePS.dll"
CLIENT="$BUILD/win/testing/service_client/camtovra_service_client.exe"
[ -f "$SERVICE_EXE" ] || exit 0

export WINEPREFIX="$BUILD/win/wineprefix" WINEDEBUG=-all
unset DISPLAY
WINE=/usr/lib/wine/wine64
"$ROOT/scripts/wine-prefix.sh" "$WINEPREFIX" start
trap '"$ROOT/scripts/wine-prefix.sh" "$WINEPREFIX" stop' EXIT

# The type library registration points the interfaces at the type-library
# marshaller; the proxy/stub library is registered after it.
"$WINE" "$SERVICE_EXE" -Service
"$WINE" regsvr32 /s "$PS_DLL"
"$WINE" sc start CamTovraService >/dev/null
for _ in $(seq 1 100); do
  "$WINE" sc query CamTovraService | grep -q RUNNING && break
  sleep 0.1
done
if ! "$WINE" sc query CamTovraService | grep -q RUNNING; then
  echo "CamTovraService did not start" >&2
  exit 1
fi
echo "CamTovraService: registered (service, AppID, type library, proxy/stub) and running in $WINEPREFIX"

echo "== test client"
"$WINE" "$CLIENT"

"$WINE" sc stop CamTovraService >/dev/null
echo "CamTovraService: stopped; it stays registered in the prefix"
