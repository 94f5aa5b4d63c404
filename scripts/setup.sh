#!/usr/bin/env bash
# Installs every dependency on a Debian 12 machine (idempotent: only what is
# missing is installed), then configures and builds the Linux build in
# build/release. Usage: scripts/setup.sh [--no-build]
#
# Each step prints one line: what it does and why, then how long it took. The
# steps' own output goes to build/setup.log; when a step fails, the end of
# that log is shown and setup stops.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

mkdir -p "$root/build"
log="$root/build/setup.log"
: >"$log"
shown_log=${log#"$PWD/"}

sudo=()
[[ $EUID -eq 0 ]] || sudo=(sudo)

duration() {
  local seconds=$1
  if ((seconds >= 60)); then
    printf '%d min %02d s' $((seconds / 60)) $((seconds % 60))
  else
    printf '%d s' "$seconds"
  fi
}

# step SUMMARY COMMAND...: one line for the step, the command's output in the log.
step() {
  local summary=$1 started=$SECONDS status=0 took
  shift
  printf 'setup: %s ... ' "$summary"
  printf '\n== %s\n$ %s\n' "$summary" "$*" >>"$log"
  # No standard input: a question would wait unseen in the log.
  "$@" </dev/null >>"$log" 2>&1 || status=$?
  took=$(duration $((SECONDS - started)))
  if ((status == 0)); then
    echo "done ($took)"
    return
  fi
  echo "failed after $took (exit code $status)"
  {
    echo "setup: the last lines of $shown_log:"
    tail -n 30 "$log" | sed 's/^/  /'
  } >&2
  exit "$status"
}

# env, because sudo does not pass the caller's environment on; the lock
# timeout waits out another installation (unattended upgrades on a new machine).
apt_get=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300)

is_installed() {
  [[ $(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) == "install ok installed" ]]
}

# What a list is for: its first comment line, else its file name.
list_purpose() {
  local line
  while read -r line; do
    if [[ $line == \#* ]]; then
      line=${line#\#}
      line=${line# }
      echo "${line%.}"
      return
    fi
  done <"$1"
  echo "the packages of $(basename "$1")"
}

# One install step per list that misses anything; a package named by
# several lists is installed with the first.
declare -A seen=()
purposes=()
packages=()
i386_wanted=()
for list in "$root"/scripts/packages/*.txt; do
  missing=()
  while read -r pkg _; do
    [[ -z "$pkg" || "$pkg" == \#* || -n "${seen[$pkg]:-}" ]] && continue
    seen[$pkg]=1
    # Packages of the i386 architecture have a step of their own (below).
    [[ "$pkg" == *:i386 ]] && { i386_wanted+=("$pkg"); continue; }
    is_installed "$pkg" || missing+=("$pkg")
  done <"$list"
  if ((${#missing[@]})); then
    purposes+=("$(list_purpose "$list")")
    packages+=("${missing[*]}")
  fi
done

if ((${#packages[@]})); then
  echo "setup: installing what scripts/packages/*.txt lists and this machine lacks; full output in $shown_log"
  if ((${#sudo[@]})); then
    if ! command -v sudo >/dev/null; then
      echo "setup: installing needs root: run this as root, or as a user with sudo" >&2
      exit 1
    fi
    # The password prompt, if any, comes now rather than in the middle of a step.
    sudo -v
  fi
  step "updating the package index" "${apt_get[@]}" update
  for i in "${!packages[@]}"; do
    # shellcheck disable=SC2086 # one word per package
    step "${purposes[i]}: installing ${packages[i]}" \
      "${apt_get[@]}" install -y --no-install-recommends ${packages[i]}
  done
else
  echo "setup: every package in scripts/packages/*.txt is installed"
fi

# Packages of the i386 architecture (wine32, which runs the 32-bit Windows
# files). apt's i386 index sometimes lags the amd64 one by hours, and apt then
# refuses them while everything else installs: setup goes on, and apt's reason
# is kept in build/apt-refused.txt for the Windows checks to report.
install_i386_packages() {
  local refused=$root/build/apt-refused.txt pkg missing=() started=$SECONDS status=0 output
  for pkg in "$@"; do
    is_installed "$pkg" || missing+=("$pkg")
  done
  rm -f "$refused"
  ((${#missing[@]})) || return 0
  printf 'setup: the 32-bit Windows checks: adding the i386 architecture, installing %s ... ' "${missing[*]}"
  output=$(mktemp)
  { dpkg --print-foreign-architectures | grep -qx i386 || "${sudo[@]}" dpkg --add-architecture i386; } \
    </dev/null >>"$output" 2>&1 \
    && "${apt_get[@]}" update </dev/null >>"$output" 2>&1 \
    && "${apt_get[@]}" install -y --no-install-recommends "${missing[@]}" </dev/null >>"$output" 2>&1 \
    || status=$?
  printf '\n== i386 packages: %s\n' "${missing[*]}" >>"$log"
  cat "$output" >>"$log"
  if ((status == 0)); then
    echo "done ($(duration $((SECONDS - started))))"
  else
    { printf '%s: ' "${missing[*]}"
      grep -E '^E: |Depends: ' "$output" | head -n 4 | sed 's/^ *//' | tr '\n' ' ' || true
      echo "(apt-get exit code $status)"; } >"$refused"
    echo "refused, going on without them: $(cat "$refused")"
  fi
  rm -f "$output"
}
install_i386_packages "${i386_wanted[@]}"

[[ "${1:-}" == "--no-build" ]] && exit 0
build_summary="building build/release (scripts/build.sh release)"
[[ -f "$root/build/release/build.ninja" ]] || build_summary+=", the first time takes minutes"
step "$build_summary" "$root/scripts/build.sh" release
