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
  # An installation that was interrupted leaves packages unpacked but not
  # configured, and apt refuses to go on until they are.
  as_root env DEBIAN_FRONTEND=noninteractive dpkg --configure -a
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# True when apt can fetch the source package $1.
source_known() { apt-cache showsrc "$1" 2>/dev/null | grep -q '^Package:'; }

# The machine's own Debian entries, as source entries: deb822 stanzas from
# /etc/apt/sources.list.d/*.sources, and one-line entries from
# /etc/apt/sources.list and /etc/apt/sources.list.d/*.list (what Debian's
# installer writes). Each goes to a file of the same form.
debian_deb822_source_entries() {
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && [ "$(basename "$f")" != camtovra-src.sources ] || continue
    awk 'BEGIN{RS="";ORS="\n\n"} /(^|\n)Types:[^\n]*deb/ && /debian/ {sub(/Types:[^\n]*/,"Types: deb-src"); print}' "$f"
  done
}
debian_one_line_source_entries() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] && [ "$(basename "$f")" != camtovra-src.list ] || continue
    sed -n '/^[[:space:]]*deb[[:space:]].*debian/{/cdrom:/d;s/^[[:space:]]*deb[[:space:]]/deb-src /p}' "$f"
  done
}

# Writes a file of root's in one step: an interrupted run leaves the old file
# or none, never half of one.
write_root_file() { # path text
  printf '%s\n' "$2" | as_root tee "$1.partial" >/dev/null
  as_root mv "$1.partial" "$1"
}

enable_deb_src() { # name of a source package that must become fetchable
  source_known "$1" && return 0
  log "enabling Debian source packages"
  local deb822 one_line
  deb822=$(debian_deb822_source_entries)
  one_line=$(debian_one_line_source_entries)
  if [ -z "$deb822" ] && [ -z "$one_line" ]; then
    log "no Debian package entry found in /etc/apt/sources.list or /etc/apt/sources.list.d to copy as a source entry"
    exit 1
  fi
  [ -n "$deb822" ] && write_root_file /etc/apt/sources.list.d/camtovra-src.sources "$deb822"
  [ -n "$one_line" ] && write_root_file /etc/apt/sources.list.d/camtovra-src.list "$one_line"
  as_root apt-get update -qq
  if ! source_known "$1"; then
    log "apt finds no source package $1, even with the source entries in /etc/apt/sources.list.d/camtovra-src.*"
    exit 1
  fi
}

fetch_source() { # name -> prints the unpacked folder
  local name=$1 dir="$DEPS_DIR/src"
  mkdir -p "$dir"
  if ! ls -d "$dir/$name"-*/ >/dev/null 2>&1; then
    enable_deb_src "$name"
    # Unpacked beside the kept sources, then moved in whole: an interrupted
    # fetch leaves nothing that a later run would take for the sources.
    rm -rf "$dir/.fetch-$name"
    mkdir -p "$dir/.fetch-$name"
    if ! (cd "$dir/.fetch-$name" && apt-get source -qq "$name" >/dev/null 2>&1); then
      log "apt-get source $name failed"
      exit 1
    fi
    mv "$(ls -d "$dir/.fetch-$name/$name"-*/ | head -n1)" "$dir/"
    rm -rf "$dir/.fetch-$name"
  fi
  ls -d "$dir/$name"-*/ | head -n1
}

# A dependency counts as built once its stamp exists; the stamp is written
# only after its whole installation, so an interrupted build is done again.
built() { [ -f "$DEPS_DIR/mingw/.installed-$1" ]; }
mark_built() { touch "$DEPS_DIR/mingw/.installed-$1"; }

build_pugixml() {
  local prefix="$DEPS_DIR/mingw"
  built pugixml && return 0
  local src; src=$(fetch_source pugixml)
  log "building pugixml for mingw-w64"
  mkdir -p "$prefix/lib" "$prefix/include"
  x86_64-w64-mingw32-g++-posix -O2 -std=c++17 -c "$src/src/pugixml.cpp" -o "$DEPS_DIR/pugixml.o"
  cp "$src/src/pugixml.hpp" "$src/src/pugiconfig.hpp" "$prefix/include/"
  rm -f "$prefix/lib/libpugixml.a"
  x86_64-w64-mingw32-ar rcs "$prefix/lib/libpugixml.a" "$DEPS_DIR/pugixml.o"
  mark_built pugixml
}

build_libzip() {
  local prefix="$DEPS_DIR/mingw"
  built libzip && return 0
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
  mark_built libzip
}

# Google Benchmark for the benchmarks that run under Wine.
build_benchmark() {
  local prefix="$DEPS_DIR/mingw"
  built benchmark && return 0
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
  mark_built benchmark
}

install_packages
build_pugixml
build_libzip
build_benchmark
log "dependencies ready in $DEPS_DIR"
