#!/usr/bin/env bash
# Sets up, builds, and runs the main job: the Vaultor library's demo in a JVM,
# then quillonsvc in the foreground with the bundled sample Java application
# (Ctrl+C ends it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
bin="$root/build/release/bin"

echo "== Vaultor demo"
java -Djava.library.path="$bin" -cp "$bin/vaultor.jar:$bin/vaultor-demo.jar" Quillon.VaultorDemo

if [[ -x "$bin/quillonsvc" ]]; then
  echo "== quillonsvc -e (Ctrl+C to end)"
  exec "$bin/quillonsvc" -e
fi
