#!/usr/bin/env bash
# Installs everything the build needs on a Debian 12 machine, once:
#  - the Debian packages (cross compiler, Wine, header-only libraries, test tools),
#  - pugixml, libzip and Google Benchmark built for mingw-w64 from Debian's source packages into a
#    cache folder.
# A second run finds everything in place and returns in a second or two.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DEPS_DIR="${CAMTOVRA_DEPS_DIR:-$HOME/.cache/camtovra/deps}"
PACKAGES=(
  build-essential cmake ninja-build pkg-config dpkg-dev
  g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 libwine-dev libz-mingw-w64-dev
  libfmt-dev libmsgsl-dev libboost-dev libpugixml-dev libzip-dev zipcmp zlib1g-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  xvfb imagemagick
)

log() { printf '[setup] %s\n' "$*" >&2; }

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing: ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

enable_deb_src() {
  local src=/etc/apt/sources.list.d/camtovra-src.sources
  [ -f "$src" ] && return 0
  log "enabling Debian source packages"
  # Copy the machine's own Debian entry, only changing its type.
  awk 'BEGIN{RS="";ORS="\n\n"} /Types: deb/ && /debian/ {sub(/Types: deb/,"Types: deb-src"); print}' \
    /etc/apt/sources.list.d/debian.sources | as_root tee "$src" >/dev/null
  as_root apt-get update -qq
}

fetch_source() { # name -> prints the unpacked folder
  local name=$1 dir="$DEPS_DIR/src"
  mkdir -p "$dir"
  if ! ls -d "$dir/$name"-*/ >/dev/null 2>&1; then
    enable_deb_src
    (cd "$dir" && apt-get source -qq "$name" >/dev/null 2>&1)
  fi
  ls -d "$dir/$name"-*/ | head -n1
}

build_pugixml() {
  local prefix="$DEPS_DIR/mingw"
  [ -f "$prefix/lib/libpugixml.a" ] && return 0
  local src; src=$(fetch_source pugixml)
  log "building pugixml for mingw-w64"
  mkdir -p "$prefix/lib" "$prefix/include"
  x86_64-w64-mingw32-g++-posix -O2 -std=c++17 -c "$src/src/pugixml.cpp" -o "$DEPS_DIR/pugixml.o"
  x86_64-w64-mingw32-ar rcs "$prefix/lib/libpugixml.a" "$DEPS_DIR/pugixml.o"
  cp "$src/src/pugixml.hpp" "$src/src/pugiconfig.hpp" "$prefix/include/"
}

build_libzip() {
  local prefix="$DEPS_DIR/mingw"
  [ -f "$prefix/lib/libzip.a" ] && return 0
  local src; src=$(fetch_source libzip)
  log "building libzip for mingw-w64"
  local bld="$DEPS_DIR/build-libzip"
  rm -rf "$bld"
  cmake -S "$src" -B "$bld" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw64.cmake" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF -DZLIB_USE_STATIC_LIBS=ON \
    -DENABLE_COMMONCRYPTO=OFF -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF -DENABLE_OPENSSL=OFF \
    -DENABLE_WINDOWS_CRYPTO=OFF -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF \
    -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF -Wno-dev >"$DEPS_DIR/libzip-build.log" 2>&1
  cmake --build "$bld" --target install >>"$DEPS_DIR/libzip-build.log" 2>&1
  rm -rf "$bld"
}

# Google Benchmark for the benchmarks that run under Wine.
build_benchmark() {
  local prefix="$DEPS_DIR/mingw"
  [ -f "$prefix/lib/libbenchmark.a" ] && return 0
  local src; src=$(fetch_source benchmark)
  log "building Google Benchmark for mingw-w64"
  local bld="$DEPS_DIR/build-benchmark"
  rm -rf "$bld"
  cmake -S "$src" -B "$bld" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw64.cmake" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
    -DBENCHMARK_ENABLE_TESTING=OFF -DBENCHMARK_ENABLE_GTEST_TESTS=OFF -DBENCHMARK_ENABLE_WERROR=OFF \
    -DBENCHMARK_ENABLE_LTO=OFF -DBENCHMARK_INSTALL_DOCS=OFF -DGIT_VERSION=0.0.0 -Wno-dev >"$DEPS_DIR/benchmark-build.log" 2>&1
  cmake --build "$bld" --target install >>"$DEPS_DIR/benchmark-build.log" 2>&1
  rm -rf "$bld"
}

install_packages
build_pugixml
build_libzip
build_benchmark
log "dependencies ready in $DEPS_DIR"
