#!/usr/bin/env bash
# Installs every dependency on a Debian 12 machine (idempotent: only what is
# missing is installed), then configures and builds the Linux build in
# build/release. Usage: scripts/setup.sh [--no-build]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

wanted=()
i386_wanted=()
for list in "$root"/scripts/packages/*.txt; do
  while read -r pkg _; do
    [[ -z "$pkg" || "$pkg" == \#* ]] && continue
    [[ "$pkg" == *:i386 ]] && { i386_wanted+=("$pkg"); continue; }
    wanted+=("$pkg")
  done < "$list"
done

missing=()
for pkg in "${wanted[@]}"; do
  [[ $(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null) == "install ok installed" ]] || missing+=("$pkg")
done

if ((${#missing[@]})); then
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Packages of the i386 architecture (wine32, which runs the 32-bit Windows
# files). apt's i386 index sometimes lags the amd64 one by hours, and apt then
# refuses them while everything else installs: setup goes on, and apt's reason
# is kept in build/apt-refused.txt for the Windows checks to report.
install_i386_packages() {
  local refused=$root/build/apt-refused.txt pkg missing=() sudo="" log status=0
  for pkg in "$@"; do
    [[ $(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null) == "install ok installed" ]] || missing+=("$pkg")
  done
  rm -f "$refused"
  ((${#missing[@]})) || return 0
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  echo "setup: installing ${missing[*]}"
  log=$(mktemp)
  $sudo apt-get update -qq -o DPkg::Lock::Timeout=600 > "$log" 2>&1 \
    && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
         -o DPkg::Lock::Timeout=600 "${missing[@]}" >> "$log" 2>&1 || status=$?
  if ((status)); then
    mkdir -p "$(dirname "$refused")"
    { printf '%s: ' "${missing[*]}"
      grep -E '^E: |Depends: ' "$log" | head -n 4 | sed 's/^ *//' | tr '\n' ' ' || true
      echo "(apt-get exit code $status)"; } > "$refused"
    echo "setup: apt refused $(cat "$refused")" >&2
  fi
  rm -f "$log"
}
install_i386_packages "${i386_wanted[@]}"

[[ "${1:-}" == "--no-build" ]] && exit 0
"$root/scripts/build.sh" release
