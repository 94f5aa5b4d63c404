#!/usr/bin/env bash
# Checks that a shared library's dynamic symbol table defines exactly the
# given names: check_exports.sh <library> <name>...
set -euo pipefail
library=$1
shift
actual=$(nm -D --defined-only "$library" | awk '{print $NF}' | sort)
expected=$(printf '%s\n' "$@" | sort)
if [[ "$actual" != "$expected" ]]; then
  echo "exports of $library differ from the entry points:"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
echo "$library exports exactly $# entry points"
