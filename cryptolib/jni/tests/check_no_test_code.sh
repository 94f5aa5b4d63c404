#!/usr/bin/env bash
# Checks that a shipped library holds none of the test seams of the given
# layers of the platform (their namespace quillon::<layer>::testing, fixture
# types), looking at its whole symbol table, local symbols included:
#   check_no_test_code.sh <library> <layer>...
set -euo pipefail
library=$1
shift
symbols=$(nm -C "$library")
found=0
for layer in "$@"; do
  if ! grep -q "quillon::$layer::" <<<"$symbols"; then
    echo "$library has no symbols of quillon::$layer to check (stripped?)"
    exit 1
  fi
  if grep -E "quillon::$layer::(.*::)?(testing::|[A-Za-z]*Fixture)" <<<"$symbols"; then
    found=1
  fi
done
if ((found)); then
  echo "$library holds the test code above"
  exit 1
fi
echo "$library holds no test code of: $*"
