#!/usr/bin/env bash
# Starts Kestrel on a simulated car.
#
#   scripts/run.sh                  Kestrel with the configuration in build/run/ecu.ini
#   scripts/run.sh --config NAME    first copy the catalogue file ECU/NAME(.ini) to ecu.ini
#                                   (an ecu.ini of your own is kept as ecu.ini.bak)
#   scripts/run.sh --catalogue      start without ecu.ini (set aside and put back
#                                   afterwards): the catalogue window comes first
#   scripts/run.sh --cli [ARGS]     the command-line tool instead of the windows
#                                   (default ARGS: live --passes 3)
#
# It brings the runtime tree build/run up to date (the programs, ECU/ with a
# VORTA.so in every ECU folder, pic/, Kadr/), starts kestrel-ecusim on a
# pseudo-terminal with its scenario "auto" (it answers as the shipped car
# whose initialisation Kestrel sends, so every catalogue car works, also one
# chosen later in the catalogue), points the COM names of the configuration
# and of the catalogue at that terminal in build/run/ports.ini, runs Kestrel
# in build/run and stops the simulator when Kestrel ends. The ports.ini found
# before is put back afterwards.
#
# A new user gets a ready configuration: on the first run ecu.ini is the
# catalogue's CAMRY_2AZ.ini, so the main window names the car, every window
# is available and the live table polls the simulated ECU at once; the
# catalogue is a menu item away ("Файл" > "Выбор ECU"). Neither the build nor
# this script replaces a file the user changed (ecu.ini, ECU/*.ini): only
# files still as shipped follow the shipped versions.
#
# Environment: KESTREL_BUILD_DIR (default build), as for scripts/setup.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${KESTREL_BUILD_DIR:-build}
run=$root/$build/run
default_config=CAMRY_2AZ.ini

mode=gui
config=
cli_args=()
while (($#)); do
  case $1 in
    --config)
      [ $# -ge 2 ] || { echo "run.sh: --config needs a catalogue file name" >&2; exit 2; }
      config=$2
      shift 2
      ;;
    --catalogue) mode=catalogue; shift ;;
    --cli) mode=cli; shift; cli_args=("$@"); break ;;
    -h | --help) sed -n '2,28p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
((${#cli_args[@]})) || cli_args=(live --passes 3)

if [ "$mode" != cli ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<EOF
run.sh: there is no display (\$DISPLAY and \$WAYLAND_DISPLAY are empty), so Kestrel's
windows cannot be shown here. Either run the windows on a virtual display:

    xvfb-run -a bash scripts/run.sh

or watch Kestrel talk to the simulated ECU from the command line:

    bash scripts/run.sh --cli

which starts the simulator, maps the configured COM port to it and runs

    $build/run/kestrel-cli --workdir $build/run live --passes 3
EOF
  exit 1
fi

if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
  echo "run.sh: no build in $build; run: bash scripts/setup.sh" >&2
  exit 1
fi
targets=(kestrel-ecusim runtime_tree)
if [ "$mode" = cli ]; then targets+=(kestrel-cli); else targets+=(kestrel pictures); fi
echo "Bringing $build/run up to date..."
if ! cmake --build "$build" --target "${targets[@]}" >"${TMPDIR:-/tmp}/kestrel-run-build.log" 2>&1; then
  cat "${TMPDIR:-/tmp}/kestrel-run-build.log" >&2
  echo "run.sh: the build failed" >&2
  exit 1
fi
mkdir -p "$run/Kadr"

# The configuration in use. ecu.ini is a copy of a catalogue file (the one
# named in .ecu.ini.from), brought up to date like the shipped files: only
# while the user has not changed it (scripts/shipped_copy.sh). --config puts
# another catalogue file in its place and keeps a changed ecu.ini as
# ecu.ini.bak.
shipped_copy=$root/scripts/shipped_copy.sh
from_file=$run/.ecu.ini.from
if [ -n "$config" ]; then
  [[ $config == *.ini ]] || config=$config.ini
  [ -f "$run/ECU/$config" ] || { echo "run.sh: no catalogue file ECU/$config" >&2; exit 2; }
  if bash "$shipped_copy" --edited "$run" ecu.ini && ! cmp -s "$run/ecu.ini" "$run/ECU/$config"; then
    mv --backup=numbered "$run/ecu.ini" "$run/ecu.ini.bak"
    echo "run.sh: your own ecu.ini is kept as ecu.ini.bak"
  fi
  rm -f "$run/ecu.ini"
  bash "$shipped_copy" "$run" "$run/ECU/$config" ecu.ini
  echo "$config" >"$from_file"
elif [ "$mode" = catalogue ]; then
  if [ -f "$run/ecu.ini" ]; then
    mv "$run/ecu.ini" "$run/ecu.ini.saved"
    echo "run.sh: ecu.ini set aside (ecu.ini.saved) while the catalogue comes first"
  fi
else
  from=$(head -n 1 "$from_file" 2>/dev/null || true)
  [ -n "$from" ] && [ -f "$run/ECU/$from" ] || from=$default_config
  bash "$shipped_copy" "$run" "$run/ECU/$from" ecu.ini
  echo "$from" >"$from_file"
fi

# Lines 1..n (or line n alone) of a configuration file, whatever its line
# ends (CR LF, LF or CR), without a byte-order mark before the first.
lines_of() {
  awk -v n="$2" -v only="${3:-}" 'BEGIN { RS = "\r\n|\r|\n" }
    NR == 1 { sub(/^\357\273\277/, "") }
    (only == "" || NR == n) { print } NR >= n { exit }' "$1"
}
line_of() { lines_of "$1" "$2" only; }

# COM names to map: the configuration's and every one the catalogue uses,
# so that a car chosen in the catalogue reaches the simulator too.
com_names=()
for f in "$run/ecu.ini" "$run"/ECU/*.ini; do
  [ -f "$f" ] || continue
  name=$(line_of "$f" 4 | cut -c1-5)
  [[ " ${com_names[*]} " == *" $name "* ]] || com_names+=("$name")
done

tmp=$(mktemp -d)
sim_pid=
ports_saved=absent
[ -f "$run/ports.ini" ] && { cp -p "$run/ports.ini" "$tmp/ports.ini"; ports_saved=present; }

cleanup() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  if [ -f "$run/ecu.ini.saved" ] && [ ! -e "$run/ecu.ini" ]; then
    mv "$run/ecu.ini.saved" "$run/ecu.ini"
  fi
  if [ "$ports_saved" = present ]; then
    cp -p "$tmp/ports.ini" "$run/ports.ini"
  else
    rm -f "$run/ports.ini"
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$run/kestrel-ecusim" --scenario auto >"$tmp/sim.out" 2>"$tmp/sim.err" &
sim_pid=$!
pty=
for _ in $(seq 100); do
  pty=$(head -n 1 "$tmp/sim.out" 2>/dev/null || true)
  [ -n "$pty" ] && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.05
done
if [ -z "$pty" ] || [ ! -e "$pty" ]; then
  echo "run.sh: the simulator did not start:" >&2
  cat "$tmp/sim.err" >&2
  exit 1
fi

# ports.ini: line n is the device of COMn; the other lines stay as they were.
declare -a ports=()
[ -f "$run/ports.ini" ] && mapfile -t ports < <(lines_of "$run/ports.ini" 255)
for name in "${com_names[@]}"; do
  if [[ $name =~ ^[Cc][Oo][Mm]([0-9]+)$ ]] && ((BASH_REMATCH[1] >= 1)); then
    n=${BASH_REMATCH[1]}
    while ((${#ports[@]} < n)); do ports+=(""); done
    ports[n - 1]=$pty
  else
    echo "run.sh: port \"$name\" of the configuration is not a COM name; it is left as it is" >&2
  fi
done
printf '%s\n' "${ports[@]}" >"$run/ports.ini"

echo "Simulated ECU (every catalogue car: scenario auto) on $pty as ${com_names[*]}"
cd "$run"
status=0
if [ "$mode" = cli ]; then
  ./kestrel-cli --workdir "$run" "${cli_args[@]}" || status=$?
else
  ./kestrel || status=$?
  case $status in
    0) ;;
    2) echo "run.sh: Kestrel is already running" >&2 ;;
    *) echo "run.sh: Kestrel ended with status $status" >&2 ;;
  esac
fi
exit "$status"
