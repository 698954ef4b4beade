#!/usr/bin/env bash
# Runs a test program as the unprivileged user "nobody", as a real user runs
# Kestrel: root opens a port that another open holds exclusively, and reads
# and writes files whatever their modes, so tests run as root cannot see
# those faults.
#
#   scripts/unprivileged.sh [--copy PATH]... -- PROGRAM [ARGS...]
#
# The program and every PATH (file or folder, symbolic links followed) are
# copied into a fresh scratch folder under /tmp that belongs to nobody, so
# that nothing of the source or build tree needs to be readable for it. The
# program runs there as nobody, with that folder as its working directory and
# in KESTREL_UNPRIVILEGED_DIR. Suppression files named in the sanitizer
# options are copied too. The scratch folder is removed afterwards.
#
# Run by a user other than root, the ordinary test run is already
# unprivileged: the script then exits with 77, which the tests declare as
# "skipped".
set -euo pipefail

copies=()
while (($#)); do
  case $1 in
    --copy)
      [ $# -ge 2 ] || { echo "unprivileged.sh: --copy needs a path" >&2; exit 2; }
      copies+=("$2")
      shift 2
      ;;
    --) shift; break ;;
    *) echo "unprivileged.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
[ $# -ge 1 ] || { echo "usage: unprivileged.sh [--copy PATH]... -- PROGRAM [ARGS...]" >&2; exit 2; }

if [ "$(id -u)" -ne 0 ]; then
  echo "unprivileged.sh: running as $(id -un), not root: the ordinary tests already run unprivileged"
  exit 77
fi
user=nobody
uid=$(id -u "$user")
gid=$(id -g "$user")

scratch=$(mktemp -d /tmp/kestrel-unprivileged-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

program=$1
shift
cp -L "$program" "$scratch/"
for p in "${copies[@]}"; do cp -RL "$p" "$scratch/"; done

# Sanitizer suppression files: a copy in the scratch folder for each.
for var in ASAN_OPTIONS LSAN_OPTIONS TSAN_OPTIONS UBSAN_OPTIONS; do
  value=${!var:-}
  [[ $value == *suppressions=* ]] || continue
  file=$(sed -E 's/.*suppressions=([^: ]+).*/\1/' <<<"$value")
  if [ -f "$file" ]; then
    cp "$file" "$scratch/$var.supp"
    export "$var=${value//$file/$scratch/$var.supp}"
  fi
done

chown -R "$uid:$gid" "$scratch"
chmod 0755 "$scratch"
cd "$scratch"
echo "unprivileged.sh: $(basename "$program") $* as $user (uid $uid) in $scratch"
status=0
KESTREL_UNPRIVILEGED_DIR=$scratch TMPDIR=/tmp HOME=$scratch \
  setpriv --reuid="$uid" --regid="$gid" --clear-groups -- "./$(basename "$program")" "$@" ||
  status=$?
exit "$status"
