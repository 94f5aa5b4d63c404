#!/usr/bin/env bash
# Installs every dependency on a Debian 12 machine (idempotent: only what is
# missing is installed), then configures and builds the Linux build in
# build/release. Usage: scripts/setup.sh [--no-build]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

wanted=()
for list in "$root"/scripts/packages/*.txt; do
  while read -r pkg _; do
    [[ -z "$pkg" || "$pkg" == \#* ]] && continue
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

[[ "${1:-}" == "--no-build" ]] && exit 0
"$root/scripts/build.sh" release
