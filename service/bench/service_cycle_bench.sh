#!/usr/bin/env bash
# Prints how long the service takes, with the sample application, from the
# console launch (quillonsvc without an option) until the service manager
# reads it running, and from "-t" until it reads stopped. Uses a state
# directory of its own, so it never touches an installed "Quillon".
# Usage: service/bench/service_cycle_bench.sh [build dir] [runs]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
bin=${1:-$root/build/release}/bin
runs=${2:-5}
export QUILLON_STATE_DIR
QUILLON_STATE_DIR=$(mktemp -d)
status_file=$QUILLON_STATE_DIR/run/quillon/status

cleanup() {
  "$bin/quillonsvc" -t >/dev/null 2>&1 || true
  "$bin/quillonsvc" -u >/dev/null 2>&1 || true
  rm -rf "$QUILLON_STATE_DIR"
}
trap cleanup EXIT

now_ms() { date +%s%3N; }
state() { sed -n 's/.* state=\([0-9]*\) .*/\1/p' "$status_file" 2>/dev/null; }
wait_state() { # state, limit in s
  local deadline=$((SECONDS + $2))
  until [[ "$(state)" == "$1" ]]; do
    ((SECONDS < deadline)) || { echo "service did not reach state $1" >&2; exit 1; }
    sleep 0.005
  done
}

"$bin/quillonsvc" -i >/dev/null
printf '%-4s %22s %18s\n' run "launch->running (ms)" "-t->stopped (ms)"
for ((i = 1; i <= runs; i++)); do
  t0=$(now_ms)
  "$bin/quillonsvc"
  wait_state 4 120
  t1=$(now_ms)
  "$bin/quillonsvc" -t
  wait_state 1 60
  t2=$(now_ms)
  printf '%-4s %22d %18d\n' "$i" $((t1 - t0)) $((t2 - t1))
done
