#!/usr/bin/env bash
# Sets up the machine and runs every test: the release build with warnings as
# errors, the same tests under AddressSanitizer + UndefinedBehaviorSanitizer,
# the fuzz targets for a bounded time each, and the threaded service tests
# under ThreadSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/setup.sh --no-build

echo "== release build (warnings as errors)"
scripts/build.sh release
ctest --test-dir build/release --output-on-failure -j 2

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
scripts/build.sh asan
ctest --test-dir build/asan --output-on-failure -j 2

echo "== libFuzzer targets against their references (bounded time each)"
scripts/fuzz.sh

echo "== ThreadSanitizer (threaded service code)"
scripts/build.sh tsan
ctest --test-dir build/tsan --output-on-failure -L threads

echo "== Windows deliverables: MinGW-w64 cross builds, checked statically and under Wine"
scripts/windows/check.sh
