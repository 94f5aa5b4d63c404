#!/usr/bin/env bash
# Sets up, builds, and runs the main job: the Vaultor library's demo in a JVM,
# then quillonsvc in the foreground with the bundled sample Java application
# until Ctrl+C, then the event-log entries that run wrote.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
bin="$root/build/release/bin"           # what ships
devbin="$root/build/release/devbin"     # the demo program, tests, benchmarks, tools

echo
echo "== Vaultor demo"
java -Djava.library.path="$bin" -cp "$bin/vaultor.jar:$devbin/vaultor-demo.jar" Quillon.VaultorDemo

# The state directory that quillonsvc's event log lives in.
state_directory() {
  local dir
  if [[ -n "${QUILLON_STATE_DIR:-}" ]]; then
    dir=$QUILLON_STATE_DIR
  elif ((EUID == 0)); then
    dir=/var/lib/quillon
  elif [[ "${XDG_STATE_HOME:-}" == /* ]]; then
    dir=$XDG_STATE_HOME/quillon
  else
    dir=${HOME:-$(getent passwd "$EUID" | cut -d: -f6)}/.local/state/quillon
  fi
  while [[ "$dir" == */ && "$dir" != / ]]; do dir=${dir%/}; done
  echo "$dir"
}
event_log="$(state_directory)/eventlog/quillon.jsonl"
entry_line='.time+" "+.type+" "+.text'

echo
echo "== quillonsvc -e: the sample application in the foreground"
echo "The JVM starts with quillonsvc's fixed options; Java 17's warning about one of them shows as an ERROR: line."
echo "Its start-up and shut-down entries go to the event log: journalctl -t Quillon, or jq -r '$entry_line' $event_log"
echo "Ctrl+C stops it; then this run's entries are shown."
echo

# This run's entries: those after the log's present end, written by its process.
log_end=$(stat -c %s "$event_log" 2>/dev/null || echo 0)
pid_file=$(mktemp)
trap 'rm -f "$pid_file"' EXIT
# Ctrl+C is for quillonsvc, which shuts the JVM down; this script only goes
# on once it has ended. (The subshell has the default handler again, and
# quillonsvc keeps the subshell's pid.)
interrupted=0
trap 'interrupted=1' INT
status=0
(
  echo "$BASHPID" >"$pid_file"
  exec "$bin/quillonsvc" -e
) || status=$?
trap - INT

echo
echo "== The entries this run wrote to $event_log"
if [[ -r "$event_log" ]]; then
  (($(stat -c %s "$event_log") >= log_end)) || log_end=0 # made anew meanwhile
  entries=$(tail -c +$((log_end + 1)) "$event_log" |
    jq -r --argjson pid "$(cat "$pid_file")" "select(.pid == \$pid) | $entry_line")
  echo "${entries:-(none)}"
else
  echo "(the event log cannot be read)"
fi
((interrupted)) || exit "$status"
