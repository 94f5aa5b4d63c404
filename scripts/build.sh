#!/usr/bin/env bash
# Configures and builds one Linux build flavour in build/<flavour>:
#   release  warnings as errors, optimised (the shipped configuration)
#   asan     AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan     ThreadSanitizer
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:-release}
case "$flavour" in
  release) extra=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan)    extra=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DQUILLON_SANITIZE=address,undefined") ;;
  tsan)    extra=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_SANITIZE=thread -DQUILLON_BUILD_BENCHMARKS=OFF) ;;
  *) echo "unknown flavour: $flavour" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$root/build/$flavour" -G Ninja -DQUILLON_WERROR=ON "${extra[@]}"
cmake --build "$root/build/$flavour" -j "$(nproc)"
