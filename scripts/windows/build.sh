#!/usr/bin/env bash
# Cross-builds the Windows deliverables with MinGW-w64 from the same sources as
# the Linux build:
#   build/windows-i686/bin:   Vaultor.dll, quillonsvc.exe (as shipped)
#   build/windows-x86_64/bin: Vaultor64.dll, quillonsvc.exe (runs under wine64)
# plus, in each, the programs of the Wine checks (devbin/: vaultor_harness.exe,
# hello_host.exe, service_status.exe, identity_sources.exe; standin/java.exe,
# the Java stand-in). scripts/windows/package.sh packages what ships.
# Usage: scripts/windows/build.sh [i686] [x86_64]   (default: both)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
arches=("$@")
((${#arches[@]})) || arches=(i686 x86_64)

deps=$(mktemp)
trap 'rm -f "$deps"' EXIT
QUILLON_DEPS_ENV=$deps "$root/scripts/windows/build-deps.sh" "${arches[@]}" >/dev/null
# shellcheck disable=SC1090
source "$deps"

for arch in "${arches[@]}"; do
  cryptopp_var=QUILLON_CRYPTOPP_ROOT_$arch
  qt_var=QUILLON_QT_ROOT_$arch
  dir=$root/build/windows-$arch
  echo "== Windows $arch build in $dir"
  mkdir -p "$dir"
  cmake -S "$root" -B "$dir" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DQUILLON_WERROR=ON \
    -DQUILLON_BUILD_TESTS=OFF \
    -DQUILLON_BUILD_BENCHMARKS=OFF \
    -DQUILLON_BUILD_WINDOWS_CHECKS=ON \
    -DQUILLON_CRYPTOPP_ROOT="${!cryptopp_var}" \
    -DQt5_DIR="${!qt_var}/lib/cmake/Qt5" \
    > "$dir/configure.log" 2>&1 || { cat "$dir/configure.log" >&2; exit 1; }
  cmake --build "$dir" -j "${QUILLON_JOBS:-2}"
done
