#!/usr/bin/env bash
# The Windows stage of the test run. Idempotent: installs what is missing,
# builds Qt Core and Crypto++ for MinGW once (cached outside the clone), cross-
# builds the deliverables and packages them, and checks the package and both
# architectures as unpacked from it, statically and under Wine (wine32 runs
# the 32-bit files, wine64 the 64-bit ones):
#   - the package: checksums, the notices against what the link maps show
#     linked in, the debug files, the relink kit;
#   - the shipped files: no debug information, the version resource, ASLR,
#     DEP and the stack protector;
#   - the PE files (machine types, exports, calling conventions, manifest);
#   - the library called as the JVM calls it, against the Linux library;
#   - sysHello in a host that leaves standard output alone;
#   - the machine identity sources as Wine answers them;
#   - quillonsvc.exe installed, started, commanded, stopped and removed
#     through Wine's service manager, with a stand-in for the Java runtime,
#     the states it shows of a start that takes a while and of a stop during
#     it, and the exit codes that manager reports.
# Exits non-zero when anything fails. Usage: scripts/windows/check.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
stage_start=$SECONDS

"$root/scripts/setup.sh" --no-build

step() { echo "== windows: $*"; }

step "dependencies, cross builds and the package"
build_start=$SECONDS
"$root/scripts/windows/package.sh"
build_seconds=$((SECONDS - build_start))
deps=$(mktemp)
QUILLON_DEPS_ENV=$deps "$root/scripts/windows/build-deps.sh" i686 x86_64 > /dev/null
# shellcheck disable=SC1090
source "$deps"
rm -f "$deps"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$root/build/windows-i686/CMakeCache.txt")
package=$root/build/dist/quillon-native-$version-windows

# The Linux build of the library to compare with: the release build's when it
# is there (scripts/test.sh has just made it), otherwise a build of its own.
linux_library=${QUILLON_LINUX_VAULTOR:-$root/build/release/bin/libVaultor64.so}
if [[ ! -e "$linux_library" ]]; then
  step "Linux reference build of the library"
  ref=$root/build/windows-linux-ref
  cmake -S "$root" -B "$ref" -DCMAKE_BUILD_TYPE=Release -DQUILLON_BUILD_TESTS=OFF \
    -DQUILLON_BUILD_BENCHMARKS=OFF -DQUILLON_BUILD_SERVICE=OFF > "$ref.configure.log" 2>&1 \
    || { cat "$ref.configure.log" >&2; exit 1; }
  cmake --build "$ref" -j "${QUILLON_JOBS:-2}" --target Vaultor64
  linux_library=$ref/bin/libVaultor64.so
fi

step "Linux harness"
jdk_include=$(dirname "$(find /usr/lib/jvm -name jni.h -path '*/include/jni.h' | sort | head -n1)")
harness_dir=$root/build/windows-checks
mkdir -p "$harness_dir"
g++ -std=c++17 -O1 -Wall -Wextra -Werror -I"$jdk_include" -I"$jdk_include/linux" \
  -o "$harness_dir/vaultor_harness" "$root"/tests/windows/harness/{vaultor_harness,fake_jni,native_library_posix}.cpp -ldl

step "Wine prefix"
wine64=/usr/lib/wine/wine64
[[ -x "$wine64" ]] || wine64=$(command -v wine64)
# The 32-bit loader, or why there is none: apt refused wine32 (scripts/setup.sh
# kept its reason), or the kernel runs no 32-bit programs at all.
wine32=""
wine32_unavailable=""
if [[ -x /usr/lib/wine/wine ]]; then
  if /usr/lib/wine/wine --version > /dev/null 2>&1; then
    wine32=/usr/lib/wine/wine
  else
    loader_says=$(/usr/lib/wine/wine --version 2>&1 | tail -n1 | sed 's/.*: //' || true)
    kernel_says=$(dmesg 2>/dev/null | grep -m1 -o '32-bit emulation disabled.*' || true)
    wine32_unavailable="wine32 is installed, but this kernel does not execute 32-bit programs"
    wine32_unavailable+=" (the loader: $loader_says${kernel_says:+; the kernel: $kernel_says})"
  fi
elif [[ -s "$root/build/apt-refused.txt" ]]; then
  wine32_unavailable="apt refused to install $(cat "$root/build/apt-refused.txt")"
fi
export WINEPREFIX=$harness_dir/prefix WINEDEBUG=-all DISPLAY="" WAYLAND_DISPLAY=""
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
wineserver=$(dirname "$wine64")/wineserver
stop_wine() { "$wineserver" -k >/dev/null 2>&1 || true; "$wineserver" -w >/dev/null 2>&1 || true; }
failed() { echo "windows: $1 failed; the end of $2:" >&2; tail -n 20 "$2" >&2; exit 1; }
stop_wine
trap stop_wine EXIT
# Left to itself the Wine server ends the session as soon as its last program
# has ended, and the next program boots a new one: a new service manager that
# starts every automatic service (quillonsvc once installed) and inherits that
# program's standard handles, which then stay open as long as the service
# runs. So the prefix is made first and the boot let to finish, then one
# persistent session is booted for all the checks. Its first program starts
# the service manager, and every service inherits that program's standard
# error and debug channels: the session starts with the event-log channel
# traced into a file.
event_log=$harness_dir/eventlog.trace
# A prefix made by other loaders lacks what these need (one made before wine32
# was installed has no 32-bit system files): it is made anew.
loaders=$(dpkg-query -W -f='${Package}:${Architecture} ${Version}\n' wine64 wine32:i386 2>/dev/null \
          | sort; echo "32-bit loader: ${wine32:-none}")
if [[ "$(cat "$WINEPREFIX.loaders" 2>/dev/null)" != "$loaders" ]]; then
  rm -rf "$WINEPREFIX" "$WINEPREFIX.loaders"
fi
timeout 300 "$wine64" wineboot -i > "$harness_dir/wineboot.log" 2>&1 < /dev/null \
  || failed "making the Wine prefix" "$harness_dir/wineboot.log"
printf '%s\n' "$loaders" > "$WINEPREFIX.loaders"
# A service left installed by an interrupted run has been started by this boot
# and keeps the session alive: then the session is ended here.
timeout 60 "$wineserver" -w || stop_wine
# A server still ending the first session refuses a second one: it is ended.
if ! "$wineserver" -p > "$harness_dir/wineserver.log" 2>&1 < /dev/null; then
  stop_wine
  "$wineserver" -p > "$harness_dir/wineserver.log" 2>&1 < /dev/null \
    || failed "starting the persistent Wine server" "$harness_dir/wineserver.log"
fi
WINEDEBUG=-all,+eventlog timeout 300 "$wine64" wineboot > "$harness_dir/wineboot-session.log" \
  2> "$event_log" < /dev/null || failed "booting the Wine session" "$event_log"

step "checks"
set +e
python3 "$root/tests/windows/wine_checks.py" \
  --build-i686 "$root/build/windows-i686" --build-x86_64 "$root/build/windows-x86_64" \
  --linux-harness "$harness_dir/vaultor_harness" --linux-library "$linux_library" \
  --wine64 "$wine64" --wine32 "$wine32" --wine32-unavailable "$wine32_unavailable" \
  --prefix "$WINEPREFIX" --event-log "$event_log" \
  --package "$package.zip" --debug-package "$package-debug.zip" --qt-source "$QUILLON_QT_SOURCE"
status=$?
set -e

echo "windows stage: builds and package ${build_seconds} s, whole stage $((SECONDS - stage_start)) s"
exit $status
