#!/usr/bin/env bash
# Checks that a shared library's dynamic symbol table defines exactly the
# natives that a JNI header declares: check_exports.sh <library> <header>
set -euo pipefail
library=$1
header=$2
actual=$(nm -D --defined-only "$library" | awk '{print $NF}' | sort)
expected=$(grep -oE 'JNICALL Java_[A-Za-z0-9_]+' "$header" | awk '{print $2}' | sort)
if [[ -z "$expected" ]]; then
  echo "$header declares no natives"
  exit 1
fi
if [[ "$actual" != "$expected" ]]; then
  echo "exports of $library differ from the natives of $header:"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
echo "$library exports exactly the $(wc -l <<<"$expected") natives of $(basename "$header")"
