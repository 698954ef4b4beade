#!/bin/bash
# kestrel: starts the installed Kestrel in the user's own working folder.
#
# The program works with paths relative to its working folder and writes
# there: ecu.ini and ECU/*.ini (the settings window, "Сохранить как..."),
# Kadr/ (exports, the exchange log), recordings. Installed, the program, the
# shipped catalogue and the pictures lie under /usr, where nothing may be
# written. So this launcher
#  - makes the working folder $XDG_DATA_HOME/kestrel (by default
#    ~/.local/share/kestrel) with its Kadr/;
#  - brings the shipped catalogue (ECU/) and pictures (pic/) in where files
#    are missing; a file the user changed is never replaced, an unchanged one
#    follows the shipped version of a newer package (shipped_copy.sh, which
#    keeps the build's runtime tree the same way; its record is .shipped);
#  - gives every ECU folder the installed vehicle module (a link to it); a
#    module of the folder's own is kept;
#  - and runs the program there, telling it that this folder is what it finds
#    "beside the program file" (KESTREL_PROGRAM_DIR).
# Arguments are passed on to the program.
set -euo pipefail

self=$(readlink -f "$0")
prefix=$(cd "$(dirname "$self")/.." && pwd)
share=$prefix/share/kestrel
private=$prefix/lib/kestrel

data=${XDG_DATA_HOME:-}
case $data in
  /*) ;;
  *) data=${HOME:?kestrel: HOME is not set}/.local/share ;;  # unset or not absolute
esac
work=$data/kestrel

if ! mkdir -p "$work/Kadr"; then
  echo "kestrel: cannot make the working folder $work" >&2
  exit 1
fi
bash "$share/shipped_copy.sh" "$work" "$share/ECU" ECU >/dev/null
bash "$share/shipped_copy.sh" "$work" "$share/pic" pic >/dev/null

for folder in "$work"/ECU/*/; do
  [ -d "$folder" ] || continue
  module=${folder}VORTA.so
  # Missing, or a link to an installed module (perhaps of an older place).
  if [ ! -e "$module" ] && [ ! -L "$module" ] ||
     { [ -L "$module" ] && [[ $(readlink "$module") == */lib/kestrel/VORTA.so ]]; }; then
    ln -sfn "$private/VORTA.so" "$module"
  fi
done

cd "$work"
export KESTREL_PROGRAM_DIR=$work
exec "$private/kestrel" "$@"
