#!/usr/bin/env bash
# The main job: sets everything up, builds every deliverable, then runs the
# demonstration in the build's Wine prefix (scripts/demo.sh): the camera
# service with a simulated camera streams to a client process, which writes a
# few frames as images, through real out-of-process COM and named shared
# memory; then the shipped service is checked to list no camera; last, the
# property pages are shown over the demonstration service on a virtual display
# and written as PNG images.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${CAMTOVRA_BUILD_DIR:-$ROOT/build}"
"$ROOT/scripts/build.sh"

# What ships: the service, its proxy/stub library, the session proxy (which
# the service starts from its own folder) and the property-page library.
SERVICE_DIR="$BUILD/win/vcs/src/service"
SERVICE_EXE="$SERVICE_DIR/CamTovraService.exe"
PS_DLL="$SERVICE_DIR/CamTovraServicePS.dll"
SESSION_PROXY="$SERVICE_DIR/CamTovraService_SessionProxy.exe"
PAGE_DLL="$BUILD/win/vcs/src/propertypage/camtovra_propertypage.dll"
DELIVERABLES=("$SERVICE_EXE" "$PS_DLL" "$SESSION_PROXY" "$PAGE_DLL")
missing=0
for file in "${DELIVERABLES[@]}"; do
  if [ ! -f "$file" ]; then
    echo "main.sh: deliverable missing after the build: $file" >&2
    missing=$((missing + 1))
  fi
done
[ "$missing" -eq 0 ] || exit 1
names=()
for file in "${DELIVERABLES[@]}"; do
  names+=("${file#"$BUILD"/win/}")
done
echo "Built: ${#DELIVERABLES[@]} deliverables in ${BUILD#"$ROOT"/}/win: ${names[*]}"

"$ROOT/scripts/wine-prefix.sh" "$BUILD/win/wineprefix" start
trap '"$ROOT/scripts/wine-prefix.sh" "$BUILD/win/wineprefix" stop' EXIT
"$ROOT/scripts/demo.sh" "$BUILD"
