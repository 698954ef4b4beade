#!/usr/bin/env bash
# The runtime tree keeps what the user changed: runs the build's copying step
# (cmake/CopyRuntime.cmake, as every build does) and the ecu.ini placement of
# scripts/run.sh on a scratch tree, with edits and new shipped versions in
# between.
#   runtime_tree_test.sh SOURCE_DIR
set -euo pipefail
src=$(cd "$1" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
check() {  # check DESCRIPTION FILE EXPECTED_CONTENT
  if [ "$(cat "$2" 2>/dev/null)" != "$3" ]; then
    echo "FAIL: $1: $2 holds '$(cat "$2" 2>/dev/null)', expected '$3'"
    failures=$((failures + 1))
  fi
}

# Every write gets a later time stamp than the one before, as edits and
# builds minutes apart would (copying by time stamps would replace them).
stamp=$(date +%s)
write() {  # write FILE TEXT: TEXT and CR LF
  printf '%s\r\n' "$2" >"$1"
  stamp=$((stamp + 10))
  touch -d "@$stamp" "$1"
}

data=$tmp/data
run=$tmp/run
mkdir -p "$data/ECU/TOYOTA" "$data/ECU/Королла"
write "$data/ECU/CAR.ini" 'car 1'
write "$data/ECU/OTHER.ini" 'other 1'
write "$data/ECU/TOYOTA/VORTA.ini" 'defs 1'
write "$data/ECU/Королла/dtc.ini" 'codes 1'
printf 'module' >"$tmp/VORTA.so"
build() {
  cmake -DSRC="$data" -DDST="$run" -DMODULE="$tmp/VORTA.so" \
    -DSHIPPED_COPY="$src/scripts/shipped_copy.sh" -P "$src/cmake/CopyRuntime.cmake" >/dev/null
}
place_ecu_ini() { bash "$src/scripts/shipped_copy.sh" "$run" "$run/ECU/$1" ecu.ini >/dev/null; }

build
check "first build" "$run/ECU/CAR.ini" $'car 1\r'
check "first build, Cyrillic folder" "$run/ECU/Королла/dtc.ini" $'codes 1\r'
check "module in every ECU folder" "$run/ECU/TOYOTA/VORTA.so" module
place_ecu_ini CAR.ini
check "first run" "$run/ecu.ini" $'car 1\r'

# The user saves settings into a catalogue file and into ecu.ini; new
# versions of every shipped file come with the next build.
write "$run/ECU/CAR.ini" 'car mine'
write "$run/ecu.ini" 'ecu mine'
write "$data/ECU/CAR.ini" 'car 2'
write "$data/ECU/OTHER.ini" 'other 2'
write "$data/ECU/TOYOTA/VORTA.ini" 'defs 2'
build
place_ecu_ini CAR.ini
check "edited catalogue file after a rebuild" "$run/ECU/CAR.ini" $'car mine\r'
check "edited ecu.ini after a run" "$run/ecu.ini" $'ecu mine\r'
check "unedited catalogue file follows the shipped one" "$run/ECU/OTHER.ini" $'other 2\r'
check "unedited ECU folder file follows the shipped one" "$run/ECU/TOYOTA/VORTA.ini" $'defs 2\r'

# Still kept on the build after that; a deleted file comes back; an edit
# the user undoes makes the file follow the shipped versions again.
rm "$run/ECU/OTHER.ini"
write "$run/ECU/CAR.ini" 'car 2'
build
check "second rebuild" "$run/ecu.ini" $'ecu mine\r'
check "deleted file comes back" "$run/ECU/OTHER.ini" $'other 2\r'
check "edit undone: the shipped version" "$run/ECU/CAR.ini" $'car 2\r'
write "$data/ECU/CAR.ini" 'car 3'
build
check "and it follows the next one" "$run/ECU/CAR.ini" $'car 3\r'

# A tree of unknown origin (no record of what was shipped): files that
# differ from the shipped ones are the user's.
rm "$run/.shipped"
write "$run/ECU/TOYOTA/VORTA.ini" 'defs old'
build
check "unrecorded differing file" "$run/ECU/TOYOTA/VORTA.ini" $'defs old\r'

# --edited tells run.sh whether ecu.ini is the user's.
bash "$src/scripts/shipped_copy.sh" --edited "$run" ecu.ini ||
  { echo "FAIL: --edited does not see the edited ecu.ini"; failures=$((failures + 1)); }
if bash "$src/scripts/shipped_copy.sh" --edited "$run" ECU/OTHER.ini; then
  echo "FAIL: --edited calls a file as shipped edited"
  failures=$((failures + 1))
fi

[ "$failures" -eq 0 ] && echo "runtime tree: all checks passed"
exit $((failures != 0))
