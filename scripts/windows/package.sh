#!/usr/bin/env bash
# Builds what is missing of the Windows deliverables and packages them
# (scripts/windows/package.py says what each archive holds):
#   build/dist/quillon-native-<version>-windows.zip            what ships
#   build/dist/quillon-native-<version>-windows-debug.zip      its debug files
#   build/dist/quillon-native-<version>-windows-qt-source.zip  Qt Core's source
# <version> is the project's (project(Quillon VERSION ...) in CMakeLists.txt).
# Usage: scripts/windows/package.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)

"$root/scripts/windows/build.sh" i686 x86_64

# The versions and folders of the dependencies' source packages (cached:
# this only looks them up).
deps=$(mktemp)
trap 'rm -f "$deps"' EXIT
QUILLON_DEPS_ENV=$deps "$root/scripts/windows/build-deps.sh" i686 x86_64 > /dev/null
# shellcheck disable=SC1090
source "$deps"

echo "== Windows package in $root/build/dist"
python3 "$root/scripts/windows/package.py" \
  --build-i686 "$root/build/windows-i686" --build-x86_64 "$root/build/windows-x86_64" \
  --dist "$root/build/dist" \
  --qt-version "$QUILLON_QT_VERSION" --qt-source "$QUILLON_QT_SOURCE" \
  --cryptopp-version "$QUILLON_CRYPTOPP_VERSION" --cryptopp-source "$QUILLON_CRYPTOPP_SOURCE"
