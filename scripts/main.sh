#!/usr/bin/env bash
# The main job: sets everything up and builds every deliverable.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/build.sh"
echo "Built: $(find "${CAMTOVRA_BUILD_DIR:-$ROOT/build}/win" -maxdepth 3 -name '*.exe' -o -maxdepth 3 -name '*.dll' | grep -v -e tests -e googletest | wc -l) deliverables in build/win"
