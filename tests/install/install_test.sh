#!/usr/bin/env bash
# The install tree: `cmake --install` of this build into a scratch prefix,
# then one check of what it installed, run from there.
#   install_test.sh <check> <build folder> <source folder> <fortified|unfortified> [NAME=VALUE...]
# The NAME=VALUE pairs are the environment of a JVM that loads the library
# (the sanitizer build preloads its runtimes there).
#
# The prefix is made as an operator makes /opt/quillon: root's (when root
# runs this), not writable by group or others, in /tmp (sticky): a tree root
# may trust. Exit code 77: the check cannot run here (ctest shows it skipped).
set -euo pipefail
check=$1 build=$2 source=$3 fortify=$4
shift 4
jvm_environment=("$@")
fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }

umask 022
scratch=$(mktemp -d /tmp/quillon-install.XXXXXX)
chmod 0755 "$scratch"
prefix=$scratch/opt/quillon
state=$scratch/state
program=$prefix/bin/quillonsvc
export QUILLON_STATE_DIR=$state
# As the end-to-end tests run quillonsvc: sanitizer reports of every
# quillonsvc process (a service has no standard error) go to files, which
# fail the check; Qt's data of a thread still ending at exit is no leak of ours.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}log_path=$state/sanitizer"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}log_path=$state/sanitizer"
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$source/tests/quillonsvc_e2e/lsan.supp"

foreground=""
service_installed=0
cleanup() {
  local status=$?
  set +eu # whatever fails here, the scratch prefix goes
  if [[ -n $foreground ]]; then kill -KILL "$foreground" 2> /dev/null || true; fi
  if ((service_installed)); then
    "$program" -t > /dev/null 2>&1 || true
    wait_for "the service to stop" 60 service_state_is 1 || true
    "$program" -u > /dev/null 2>&1 || true
  fi
  local report
  for report in "$state"/sanitizer*; do
    [[ -e $report ]] || continue
    echo "FAIL: sanitizer report of a quillonsvc process:" >&2
    cat "$report" >&2
    status=1
  done
  rm -rf "$scratch"
  exit "$status"
}
trap cleanup EXIT

# wait_for <what> <seconds> <command...>: polls the command until it
# succeeds; false once the limit has passed.
wait_for() {
  local what=$1 limit=$2 deadline=$((SECONDS + $2))
  shift 2
  until "$@"; do
    if ((SECONDS >= deadline)); then
      echo "no $what within $limit s" >&2
      return 1
    fi
    sleep 0.1
  done
}
contains() { grep -qF -- "$2" "$1" 2> /dev/null; }
service_state_is() { # the state the service published (4 running, 1 stopped)
  [[ $(sed -n 's/.* state=\([0-9]*\) .*/\1/p' "$state/run/quillon/status" 2> /dev/null) == "$1" ]]
}
event_logged() { contains "$state/eventlog/quillon.jsonl" "\"text\":\"$1\""; }
ended() { # a child of this shell: gone, or ended and not yet waited for
  local stat
  stat=$(cat "/proc/$1/stat" 2> /dev/null) || return 0
  [[ ${stat##*) } == Z* ]]
}

cmake --install "$build" --prefix "$prefix" > "$scratch/install.log" \
  || fail "cmake --install: $(cat "$scratch/install.log")"

shipped=(bin/quillonsvc bin/libquillon_kernel32.so bin/libquillon_advapi32.so
         bin/libVaultor64.so bin/vaultor.jar bin/quillon.jar)

case $check in
ShipsExactlyWhatRuns)
  # quillonsvc with its layer libraries and the sample application beside
  # it, the library and its class for Java applications; no test, benchmark,
  # fake or fuzz program.
  expected=$(printf '%s\n' bin "${shipped[@]}" | sort)
  installed=$(cd "$prefix" && find . -mindepth 1 | sed 's|^\./||' | sort)
  [[ $installed == "$expected" ]] \
    || fail "installed: $(echo $installed); expected: $(echo $expected)"
  # Their run paths: their own folder, nothing of the build tree.
  for file in "$prefix"/bin/*; do
    [[ $(head -c 4 "$file" | od -An -tx1 | tr -d ' ') == 7f454c46 ]] || continue
    paths=$(readelf -d "$file" | sed -n 's/.*(R\(UN\)\?PATH).*\[\(.*\)\]/\2/p')
    [[ -z $paths || $paths == '$ORIGIN' ]] || fail "$file has the run path $paths"
  done
  echo "installed exactly: ${shipped[*]}"
  ;;
ElfFilesAreHardened)
  elf_files=()
  for file in "$prefix"/bin/*; do
    [[ $(head -c 4 "$file" | od -An -tx1 | tr -d ' ') == 7f454c46 ]] && elf_files+=("$file")
  done
  python3 "$source/tests/install/elf_hardening.py" "--$fortify" "${elf_files[@]}"
  ;;
ForegroundRunFromTheTree)
  out=$("$program" -v) || fail "-v ended with $?"
  [[ $out == *"$program"*"is not installed and not running"* ]] || fail "-v said: $out"
  # The sample application beside the program, until SIGTERM.
  "$program" -e < /dev/null > "$scratch/out.txt" 2> "$scratch/err.txt" &
  foreground=$!
  wait_for "start-up of the sample application" 120 event_logged "Quillon startup completed" \
    || fail "$(cat "$scratch/out.txt" "$scratch/err.txt")"
  contains "$scratch/err.txt" "Working directory: $prefix/bin" \
    || fail "the application did not run in the program's folder: $(cat "$scratch/err.txt")"
  kill -TERM "$foreground"
  wait_for "end of quillonsvc -e" 60 ended "$foreground" || fail "-e did not end"
  code=0
  wait "$foreground" || code=$?
  foreground=""
  ((code == 0)) || fail "-e ended with $code: $(cat "$scratch/err.txt")"
  event_logged "Quillon shutdown completed" || fail "no shut-down entry: $(cat "$state/eventlog/quillon.jsonl")"
  echo "-v and -e run from $prefix/bin"
  ;;
ServiceFromTheTree)
  ((EUID == 0)) || skip "installing the service from a tree of root's needs root"
  service_installed=1
  out=$("$program" -i) || fail "-i ended with $?"
  [[ $out == "The service Quillon has been installed under: $program" ]] || fail "-i said: $out"
  "$program" || fail "the console launch ended with $?"
  wait_for "running service" 120 service_state_is 4 || fail "$(cat "$state/run/quillon/status" 2>&1)"
  wait_for "start-up entry" 120 event_logged "Quillon startup completed" || fail "the application did not start up"
  out=$("$program" -v)
  [[ $out == *"$program"*"is installed and running"* ]] || fail "-v said: $out"
  "$program" -t || fail "-t ended with $?"
  wait_for "stopped service" 60 service_state_is 1 || fail "the service did not stop"
  event_logged "Quillon shutdown completed" || fail "no shut-down entry: $(cat "$state/eventlog/quillon.jsonl")"
  out=$("$program" -u) || fail "-u ended with $?"
  service_installed=0
  [[ $out == "The service Quillon has been uninstalled." ]] || fail "-u said: $out"
  echo "installed, started, stopped and removed from $prefix/bin"
  ;;
JavaLoadsTheInstalledLibrary)
  # A Java application with the installed class and library: the demo.
  out=$(env "${jvm_environment[@]}" java -Djava.library.path="$prefix/bin" \
        -cp "$prefix/bin/vaultor.jar:$build/devbin/vaultor-demo.jar" Quillon.VaultorDemo) \
    || fail "the demo ended with $?: $out"
  [[ $out == *"decrypt:             Quillon keeps this text sealed."* && $out == *"sysHello:"* ]] \
    || fail "the demo said: $out"
  echo "Quillon.VaultorDemo ran with $prefix/bin/libVaultor64.so"
  ;;
*) fail "no check $check" ;;
esac
