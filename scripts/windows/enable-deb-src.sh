#!/usr/bin/env bash
# Makes the source packages of the archive this machine already uses
# reachable to `apt-get source`: every deb822 entry of the existing sources
# (or one-line "deb" entry) is copied with its type set to deb-src into a file
# of our own. Idempotent; nothing here names an archive host.
set -euo pipefail

target_sources=/etc/apt/sources.list.d/quillon-deb-src.sources
target_list=/etc/apt/sources.list.d/quillon-deb-src.list
changed=0

if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/ ; then
  tmp=$(mktemp)
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -e "$f" && "$f" != "$target_sources" ]] || continue
    # Keep each stanza's fields, replace its Types line.
    awk 'BEGIN { RS=""; ORS="\n\n" }
         /(^|\n)Types:[^\n]*deb([ \t\n]|$)/ && !/(^|\n)Enabled: *no/ {
           gsub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print }' "$f" >> "$tmp"
  done
  if [[ -s "$tmp" ]]; then
    install -m 0644 "$tmp" "$target_sources"; changed=1
  fi
  rm -f "$tmp"
  lines=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null \
          | sed -n 's/^deb\([[:space:]]\)/deb-src\1/p' || true)
  if [[ -n "$lines" ]]; then
    printf '%s\n' "$lines" > "$target_list"; changed=1
  fi
fi

if ((changed)) || ! apt-cache showsrc qtbase-opensource-src >/dev/null 2>&1 \
   || [[ -z "$(apt-cache showsrc qtbase-opensource-src 2>/dev/null)" ]]; then
  apt-get update -qq
fi
