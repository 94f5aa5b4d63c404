#!/usr/bin/env bash
# Builds the Windows dependencies that Debian does not package for MinGW:
# Qt 5 Core (static, with its host tools) and Crypto++ (static), from Debian's
# own source packages. Results are cached outside the clone, keyed by package
# version and architecture, so a warm run does nothing:
#   $QUILLON_WINDOWS_CACHE/qtbase-<version>-<arch>/     (Qt5_DIR: lib/cmake/Qt5)
#   $QUILLON_WINDOWS_CACHE/cryptopp-<version>-<arch>/   (include/, lib/libcryptopp.a)
# Usage: scripts/windows/build-deps.sh [i686] [x86_64]   (default: both)
# Prints the two roots per architecture as shell assignments on the last lines
# of its output, and writes them to QUILLON_DEPS_ENV=<file> when that is set,
# with the source packages' versions and folders (the dsc, the tarballs and
# the unpacked tree): QUILLON_QT_VERSION, QUILLON_QT_SOURCE,
# QUILLON_CRYPTOPP_VERSION, QUILLON_CRYPTOPP_SOURCE.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=${QUILLON_WINDOWS_CACHE:-/var/cache/quillon-windows}
jobs=${QUILLON_JOBS:-2}
arches=("$@")
((${#arches[@]})) || arches=(i686 x86_64)

qt_pkg=qtbase-opensource-src
cryptopp_pkg=libcrypto++

log() { echo "build-deps: $*"; }

source_version() {
  local version
  version=$(apt-cache showsrc "$1" 2>/dev/null | awk '/^Version:/ { print $2 }' | sort -V | tail -n1)
  if [[ -z "$version" ]]; then
    "$here/enable-deb-src.sh"
    version=$(apt-cache showsrc "$1" 2>/dev/null | awk '/^Version:/ { print $2 }' | sort -V | tail -n1)
  fi
  [[ -n "$version" ]] || { echo "build-deps: no source package $1" >&2; exit 1; }
  echo "$version"
}

# Unpacks the source package (with Debian's patches) once per version and
# prints the unpacked directory.
unpacked_source() {
  local pkg=$1 version=$2 dir="$cache/src/$1-$2"
  if [[ ! -e "$dir/.complete" ]]; then
    rm -rf "$dir"
    mkdir -p "$dir"
    (cd "$dir" && apt-get source -qq "$pkg=$version" >/dev/null)
    local tree
    tree=$(find "$dir" -mindepth 1 -maxdepth 1 -type d -print -quit)
    [[ -n "$tree" ]] || { echo "build-deps: apt-get source $pkg gave no tree" >&2; exit 1; }
    mv "$tree" "$dir/tree"
    touch "$dir/.complete"
  fi
  echo "$dir/tree"
}

build_cryptopp() {
  local arch=$1 version=$2 out=$3 triplet=$arch-w64-mingw32 src
  src=$(unpacked_source "$cryptopp_pkg" "$version")
  local work="$out.work"
  rm -rf "$work" "$out"
  cp -a "$src" "$work"
  local flags="-O2 -DNDEBUG -D_WIN32_WINNT=0x0602"
  [[ $arch == i686 ]] && flags+=" -mstackrealign"
  log "Crypto++ $version for $arch ($work/build.log)"
  (cd "$work" && make -j"$jobs" static CXX="$triplet-g++-posix" AR="$triplet-ar" \
      RANLIB="$triplet-ranlib" CXXFLAGS="$flags" > build.log 2>&1) \
    || { tail -n 30 "$work/build.log" >&2; exit 1; }
  mkdir -p "$out/include/cryptopp" "$out/lib"
  cp "$work"/*.h "$out/include/cryptopp/"
  cp "$work/libcrypto++.a" "$out/lib/libcryptopp.a"
  rm -rf "$work"
  touch "$out/.complete"
}

build_qtcore() {
  local arch=$1 version=$2 out=$3 triplet=$arch-w64-mingw32 src
  src=$(unpacked_source "$qt_pkg" "$version")
  rm -rf "$out"
  cp -a "$src" "$out"
  # Built in place: the prefix is the tree itself, so nothing is installed and
  # lib/cmake/Qt5Core points at the host tools (moc) and the Windows library.
  log "Qt Core $version for $arch ($out/build.log)"
  (
    cd "$out"
    PATH="$cache/compilers-$arch:$PATH"
    ./configure -prefix "$out" -platform linux-g++ -xplatform win32-g++ \
      -device-option CROSS_COMPILE="$triplet-" \
      -opensource -confirm-license -release -static \
      -no-gui -no-widgets -no-dbus -no-opengl -no-openssl -no-icu \
      -qt-pcre -qt-zlib -nomake examples -nomake tests -nomake tools \
      > build.log 2>&1
    # Only the core library with what it needs, and the two host tools its
    # CMake package refers to (moc, rcc).
    (cd src && ../bin/qmake -o Makefile src.pro && make -j"$jobs" sub-corelib sub-rcc) >> build.log 2>&1
  ) || { tail -n 40 "$out/build.log" >&2; exit 1; }
  [[ -e "$out/lib/libQt5Core.a" && -x "$out/bin/moc" && -x "$out/bin/rcc" \
     && -e "$out/lib/cmake/Qt5Core/Qt5CoreConfig.cmake" ]] \
    || { echo "build-deps: Qt Core for $arch is incomplete" >&2; exit 1; }
  touch "$out/.complete"
}

# Qt's mkspec calls the unsuffixed compilers ($triplet-gcc, $triplet-g++),
# which the system's alternatives may point at the win32-thread variant.
# build_qtcore puts this folder first on PATH: its unsuffixed names lead to the
# posix-thread variant the project itself builds with, whatever the
# alternatives say; the system is left as it is.
posix_compilers() {
  local arch=$1 triplet=$1-w64-mingw32 shim="$cache/compilers-$1" tool real
  mkdir -p "$shim"
  for tool in gcc g++ c++; do
    real=$(command -v "$triplet-$tool-posix") \
      || { echo "build-deps: $triplet-$tool-posix is missing" >&2; exit 1; }
    ln -sfn "$real" "$shim/$triplet-$tool"
  done
  local version
  version=$("$shim/$triplet-g++" -v 2>&1)
  [[ $version == *"Thread model: posix"* ]] \
    || { echo "build-deps: $triplet-g++-posix does not use the posix thread model" >&2; exit 1; }
}

for tool in make perl python3; do
  command -v "$tool" >/dev/null || { echo "build-deps: $tool is missing" >&2; exit 1; }
done

mkdir -p "$cache"
# One builder at a time per cache: a second run waits, then finds it warm.
exec 9>"$cache/.lock"
flock 9

qt_version=$(source_version "$qt_pkg")
cryptopp_version=$(source_version "$cryptopp_pkg")

env_lines=()
for arch in "${arches[@]}"; do
  case $arch in i686|x86_64) ;; *) echo "build-deps: unknown architecture $arch" >&2; exit 2 ;; esac
  posix_compilers "$arch"

  cryptopp_root="$cache/cryptopp-${cryptopp_version//[:~]/_}-$arch"
  if [[ -e "$cryptopp_root/.complete" ]]; then
    log "Crypto++ $cryptopp_version for $arch: cached"
  else
    start=$SECONDS
    build_cryptopp "$arch" "$cryptopp_version" "$cryptopp_root"
    log "Crypto++ for $arch built in $((SECONDS - start)) s"
  fi

  qt_root="$cache/qtbase-${qt_version//[:~]/_}-$arch"
  if [[ -e "$qt_root/.complete" ]]; then
    log "Qt Core $qt_version for $arch: cached"
  else
    start=$SECONDS
    build_qtcore "$arch" "$qt_version" "$qt_root"
    log "Qt Core for $arch built in $((SECONDS - start)) s"
  fi
  env_lines+=("QUILLON_CRYPTOPP_ROOT_$arch=$cryptopp_root" "QUILLON_QT_ROOT_$arch=$qt_root")
done

if [[ -n "${QUILLON_DEPS_ENV:-}" ]]; then
  # The package takes licence texts from the sources, and ships Qt's.
  qt_source=$(unpacked_source "$qt_pkg" "$qt_version")
  cryptopp_source=$(unpacked_source "$cryptopp_pkg" "$cryptopp_version")
  printf '%s\n' "${env_lines[@]}" \
    "QUILLON_QT_VERSION=$qt_version" "QUILLON_QT_SOURCE=${qt_source%/tree}" \
    "QUILLON_CRYPTOPP_VERSION=$cryptopp_version" "QUILLON_CRYPTOPP_SOURCE=${cryptopp_source%/tree}" \
    > "$QUILLON_DEPS_ENV"
fi
printf '%s\n' "${env_lines[@]}"
