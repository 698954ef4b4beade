#!/usr/bin/env bash
# Brings shipped files into a working tree without ever replacing the user's
# edits: the build's runtime tree (build/run), and the user's own folder that
# an installed Kestrel runs in.
#
#   shipped_copy.sh ROOT SOURCE [TARGET]
#       SOURCE is a folder (every file in it, recursively) or one file;
#       TARGET its place relative to ROOT (default: the name of SOURCE).
#   shipped_copy.sh --edited ROOT TARGET
#       exit status 0 when ROOT/TARGET exists and is not what this tool put
#       there last (the user changed it, or it has another origin), else 1.
#
# Each shipped file is copied where it is missing. Where it exists, it is
# replaced by a changed shipped version only while it is still exactly what
# this tool put there last; a file the user changed, or one of unknown
# origin that differs from the shipped version, is kept and named on
# standard output. What was put where is kept in ROOT/.shipped, one line per
# file: the SHA-256 of the version put there, two spaces, its path relative
# to ROOT (the format of sha256sum).
set -euo pipefail

usage() {
  echo "usage: shipped_copy.sh ROOT SOURCE [TARGET] | shipped_copy.sh --edited ROOT TARGET" >&2
  exit 2
}

hash_of() { sha256sum <"$1" | cut -d' ' -f1; }

declare -A shipped=()  # path relative to ROOT -> hash of the version put there
read_manifest() {
  manifest=$root/.shipped
  [ -f "$manifest" ] || return 0
  local line
  while IFS= read -r line || [ -n "$line" ]; do
    [[ $line == *"  "* ]] && shipped[${line#*  }]=${line%%  *}
  done <"$manifest"
}

write_manifest() {
  local tmp rel
  tmp=$(mktemp "$root/.shipped.XXXXXX")
  for rel in "${!shipped[@]}"; do printf '%s  %s\n' "${shipped[$rel]}" "$rel"; done |
    LC_ALL=C sort -k2 >"$tmp"
  chmod 0644 "$tmp"
  mv -f "$tmp" "$manifest"
}

# Copies src to ROOT/rel in one step (a temporary file beside it, renamed).
put() {
  local src=$1 dst=$root/$2 tmp
  mkdir -p "$(dirname "$dst")"
  tmp=$(mktemp "$(dirname "$dst")/.shipped-new.XXXXXX")
  cp "$src" "$tmp"
  chmod 0644 "$tmp"
  mv -f "$tmp" "$dst"
}

sync_file() {
  local src=$1 rel=$2 dst=$root/$2 new current
  new=$(hash_of "$src")
  if [ ! -e "$dst" ]; then
    put "$src" "$rel"
  else
    current=$(hash_of "$dst")
    if [ "$current" != "$new" ]; then
      if [ "${shipped[$rel]:-}" != "$current" ]; then
        echo "shipped_copy.sh: kept $dst: changed since it was shipped (the shipped version differs)"
        return 0
      fi
      put "$src" "$rel"
      echo "shipped_copy.sh: updated $dst"
    fi
  fi
  shipped[$rel]=$new
}

if [ "${1:-}" = --edited ]; then
  [ $# -eq 3 ] || usage
  root=$2
  read_manifest
  [ -e "$root/$3" ] || exit 1
  [ "${shipped[$3]:-}" != "$(hash_of "$root/$3")" ]
  exit
fi

[ $# -eq 2 ] || [ $# -eq 3 ] || usage
root=$1
source=${2%/}
target=${3:-$(basename "$source")}
target=${target%/}
[ -e "$source" ] || { echo "shipped_copy.sh: $source: no such file or folder" >&2; exit 2; }
mkdir -p "$root"
read_manifest
if [ -d "$source" ]; then
  while IFS= read -r -d '' file; do
    sync_file "$file" "$target/${file#"$source"/}"
  done < <(find "$source" -type f -print0)
else
  sync_file "$source" "$target"
fi
write_manifest
