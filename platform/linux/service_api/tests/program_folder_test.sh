#!/usr/bin/env bash
# quillonsvc and its libraries as a folder: run paths, a copy elsewhere, a
# folder whose name is not UTF-8, and the texts of error codes in messages.
#   program_folder_test.sh <check> <bin folder> <planted library>
# The work folder lies below /tmp, owned by whoever runs the check: root runs
# a program (and trusts a state directory) only where root alone can change
# anything, wherever the build tree is.
set -euo pipefail
check=$1 bin=$2 planted=$3
work=$(mktemp -d /tmp/quillon-program-folder.XXXXXX)
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

copy_program() { # <folder>
  mkdir -p "$1"
  cp "$bin/quillonsvc" "$bin/libquillon_kernel32.so" "$bin/libquillon_advapi32.so" "$1/"
}

case $check in
RunPathsAreTheProgramsFolder)
  # Every program and library of bin/ and devbin/ (tests, tools) finds ours
  # beside itself, none in the build tree (which another user might be able
  # to write).
  found=0
  for file in "$bin"/* "$bin"/../devbin/*; do
    [[ -f $file ]] && [[ $(head -c 4 "$file" | od -An -tx1 | tr -d ' ') == 7f454c46 ]] || continue
    found=$((found + 1))
    paths=$(readelf -d "$file" | sed -n 's/.*(R\(UN\)\?PATH).*\[\(.*\)\]/\2/p')
    IFS=: read -ra entries <<< "$paths"
    for entry in "${entries[@]}"; do
      [[ $entry == '$ORIGIN' || $entry == '$ORIGIN/'* ]] || fail "$file has the run path $entry"
    done
  done
  (( found > 5 )) || fail "only $found programs in $bin and $bin/../devbin"
  echo "$found programs and libraries: run paths relative to their folder"
  ;;
CopiedBinRunsWithItsOwnLibraries)
  copy_program "$work/elsewhere"
  out=$(LD_DEBUG=libs QUILLON_STATE_DIR="$work/state" "$work/elsewhere/quillonsvc" -v 2> "$work/loader.txt")
  grep -q "calling init: $work/elsewhere/libquillon_kernel32.so" "$work/loader.txt" \
    || fail "the copy did not load its own kernel32: $(grep -i quillon "$work/loader.txt")"
  if grep "$bin/libquillon" "$work/loader.txt"; then fail "the copy loaded a library of the build folder"; fi
  [[ $out == *"is not installed and not running"* ]] || fail "-v said: $out"
  echo "the copy runs with its own libraries"
  ;;
NonUtf8FolderLoadsItsOwnLibrary)
  # The program in a folder named with a byte that is not UTF-8; beside it a
  # folder named as a decoder would render that byte (U+FFFD), holding a
  # planted library.
  real="$work/q"$'\xff'"dir" decoded="$work/q"$'\xef\xbf\xbd'"dir"
  copy_program "$real"
  mkdir -p "$decoded"
  cp "$planted" "$decoded/libquillon_advapi32.so"
  export LC_ALL=C.UTF-8 QUILLON_PLANTED_MARKER="$work/planted-was-loaded" QUILLON_STATE_DIR="$work/state"
  out=$("$real/quillonsvc" -v)
  [[ ! -e $QUILLON_PLANTED_MARKER ]] || fail "the planted library was loaded"
  [[ $out == *"is not installed and not running"* ]] || fail "-v said: $out"
  # Its path has no UTF-16 form, so there is nothing to register: the
  # install fails with its message rather than register another path.
  set +e
  "$real/quillonsvc" -i > "$work/out.txt" 2> "$work/err.txt"
  code=$?
  set -e
  [[ $code == 255 ]] || fail "-i ended with $code: $(cat "$work/out.txt" "$work/err.txt")"
  grep -qx "The service Quillon could not be installed" "$work/err.txt" || fail "-i said: $(cat "$work/err.txt")"
  [[ ! -e $QUILLON_PLANTED_MARKER ]] || fail "the planted library was loaded"
  echo "the library beside the program was loaded; the install refused the path"
  ;;
MessagesShowTheLayersErrorTexts)
  copy_program "$work/program"
  export QUILLON_STATE_DIR="$work/state"
  "$work/program/quillonsvc" -i > /dev/null
  "$work/program/quillonsvc" -t > "$work/out.txt" 2> "$work/err.txt"
  "$work/program/quillonsvc" -u > /dev/null
  expected=$'stopping (The service has not been started.)\nThe service could not be stopped. (The service has not been started.)'
  [[ $(cat "$work/err.txt") == "$expected" ]] || fail "-t said: $(cat "$work/err.txt")"
  echo "the messages show the texts of the codes"
  ;;
*) fail "no check $check" ;;
esac
