#!/usr/bin/env bash
# The main job: sets everything up, builds every deliverable, then registers
# the service in the build's Wine prefix, starts it and runs the test client
# against it (real out-of-process COM through the proxy/stub library).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${CAMTOVRA_BUILD_DIR:-$ROOT/build}"
"$ROOT/scripts/build.sh"

# What ships: the service, its proxy/stub library and the session proxy (which
# the service starts from its own folder).
SERVICE_DIR="$BUILD/win/vcs/src/service"
SERVICE_EXE="$SERVICE_DIR/CamTovraService.exe"
PS_DLL="$SERVICE_DIR/CamTovraServicePS.dll"
SESSION_PROXY="$SERVICE_DIR/CamTovraService_SessionProxy.exe"
CLIENT="$BUILD/win/testing/service_client/camtovra_service_client.exe"
DELIVERABLES=("$SERVICE_EXE" "$PS_DLL" "$SESSION_PROXY")
missing=0
for file in "${DELIVERABLES[@]}"; do
  if [ ! -f "$file" ]; then
    echo "main.sh: deliverable missing after the build: $file" >&2
    missing=$((missing + 1))
  fi
done
if [ ! -f "$CLIENT" ]; then
  echo "main.sh: test client missing after the build: $CLIENT" >&2
  missing=$((missing + 1))
fi
[ "$missing" -eq 0 ] || exit 1
names=()
for file in "${DELIVERABLES[@]}"; do
  names+=("$(basename "$file")")
done
echo "Built: ${#DELIVERABLES[@]} deliverables in ${SERVICE_DIR#"$ROOT"/}: ${names[*]}"

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
