#!/usr/bin/env bash
# Configures and builds both trees: build/win (Windows x64, mingw-w64) and
# build/native (platform-free code, clang with ASan and UBSan, fuzzers).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${CAMTOVRA_BUILD_DIR:-$ROOT/build}"
JOBS="${JOBS:-$(nproc)}"

"$ROOT/scripts/setup.sh"

if [ ! -f "$BUILD/win/build.ninja" ]; then
  cmake -S "$ROOT" -B "$BUILD/win" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw64.cmake" >/dev/null
fi
cmake --build "$BUILD/win" -j "$JOBS"

if [ ! -f "$BUILD/native/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD/native" -G Ninja >/dev/null
fi
cmake --build "$BUILD/native" -j "$JOBS"

# Optimised native build without sanitizers: only the benchmarks.
if [ ! -f "$BUILD/bench/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD/bench" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DCAMTOVRA_SANITIZE=OFF >/dev/null
fi
cmake --build "$BUILD/bench" -j "$JOBS" --target camtovra_benchmarks
