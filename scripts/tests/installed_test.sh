#!/usr/bin/env bash
# An installed Kestrel started as a user starts it: the build is installed
# into a scratch prefix laid out as the Debian package (cmake --install), and
# /usr/bin/kestrel, the launcher, is run with a home of its own on the
# offscreen platform:
#  1. the first start makes ~/.local/share/kestrel and fills it from the
#     shipped files (catalogue, pictures, the vehicle module in every ECU
#     folder); with no ecu.ini the catalogue window comes first;
#  2. with an ecu.ini of the user's (the Camry, its exchange log and the
#     dashboard's autostart on) and a ports.ini leading COM1 to the installed
#     simulator, the second start polls the simulated ECU from that folder:
#     the simulator hears the dashboard's requests and the exchange log lands
#     in the folder's Kadr/; a catalogue file the user edited stays edited.
# Nothing may be written into the installation. Run as root, the
# installation belongs to root and the whole is done once more as the user
# nobody, who cannot write there at all.
#   installed_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
tmp=$(mktemp -d /tmp/kestrel-installed-XXXXXX)
chmod 0755 "$tmp"
pids=()
stop() {  # stop PID: ends a program this test started, quietly
  kill -TERM "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
cleanup() {
  local p
  for p in "${pids[@]}"; do stop "$p"; done
  chmod -R u+w "$tmp" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL ($who): $*"
  failures=$((failures + 1))
}

prefix=$tmp/usr
cmake --install "$build" --prefix "$prefix" >/dev/null
chmod -R a-w "$prefix"
snapshot() { find "$prefix" -printf '%p %s %T@ %m\n' | LC_ALL=C sort; }
snapshot >"$tmp/installed.before"

# The command prefix that runs a program as the user being tested, with that
# user's environment (a plain command, so that $! of "${as_user[@]}" PROGRAM &
# is the program's own process).
set_user() {
  who=$1
  home=$tmp/home-$who
  as_user=(env -u XDG_DATA_HOME HOME="$home" XDG_RUNTIME_DIR="$home/run"
           QT_QPA_PLATFORM=offscreen)
  if [ "$who" = nobody ]; then
    as_user+=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups --)
  fi
}

# Starts Kestrel through the launcher; lets it run for up to `seconds` or
# until `done_test` (a command) succeeds; then ends it like the desktop does.
run_kestrel() {
  local seconds=$1 done_test=$2 i pid
  "${as_user[@]}" "$prefix/bin/kestrel" >"$home/kestrel.out" 2>&1 &
  pid=$!
  pids+=("$pid")
  for ((i = 0; i < seconds * 10; i++)); do
    sleep 0.1
    kill -0 "$pid" 2>/dev/null || { fail "Kestrel ended by itself: $(cat "$home/kestrel.out")"; return; }
    if $done_test; then break; fi
  done
  kill -TERM "$pid"
  for ((i = 0; i < 50; i++)); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid"
    fail "Kestrel did not end on SIGTERM"
  fi
  wait "$pid" 2>/dev/null || true
}

# Lines 16 and 17 of a configuration (exchange log, dashboard autostart) set
# to 1, its CR LF line ends kept.
autostart_config() {
  awk 'BEGIN { RS = "\r\n"; ORS = "\r\n" } NR == 16 || NR == 17 { $0 = "1" } { print }' "$1"
}

never() { false; }
heard_requests() { [ "$(grep -c 'RX 82 10 F1' "$home/sim.err" 2>/dev/null)" -ge 10 ]; }

check_user() {
  set_user "$1"
  mkdir -p "$home/run"
  chmod 0700 "$home/run"
  [ "$who" = nobody ] && chown -R nobody "$home"
  local work=$home/.local/share/kestrel

  # 1. The first start.
  run_kestrel 3 never
  [ -f "$work/ECU/CAMRY_2AZ.ini" ] || fail "no catalogue in $work/ECU"
  [ -f "$work/ECU/TOYOTA9141/dtc.ini" ] || fail "no ECU folder in $work/ECU"
  [ -f "$work/pic/main_panel.bmp" ] || fail "no pictures in $work/pic"
  [ -d "$work/Kadr" ] || fail "no Kadr folder"
  [ -f "$work/.shipped" ] || fail "no record of the shipped files"
  local d
  for d in TOYOTA TOYOTA9141 TOYOTA_3ZZ; do
    [ "$(readlink "$work/ECU/$d/VORTA.so")" = "$prefix/lib/kestrel/VORTA.so" ] ||
      fail "ECU/$d/VORTA.so is not the installed module"
  done

  # 2. The user's configuration against the simulator.
  "${as_user[@]}" "$prefix/bin/kestrel-ecusim" --scenario auto --verbose >"$home/sim.out" \
    2>"$home/sim.err" &
  local sim=$! pty= i
  pids+=("$sim")
  for ((i = 0; i < 100; i++)); do
    pty=$(head -n 1 "$home/sim.out" 2>/dev/null || true)
    [ -n "$pty" ] && break
    sleep 0.05
  done
  [ -n "$pty" ] || { fail "the simulator did not start: $(cat "$home/sim.err")"; return; }
  autostart_config "$work/ECU/CAMRY_2AZ.ini" >"$work/ecu.ini"
  printf '%s\n' "$pty" >"$work/ports.ini"
  sed -i '1s/^.*\r$/My own Corolla\r/' "$work/ECU/COROLLA_3ZZ.ini"
  [ "$who" = nobody ] && chown -R nobody "$home"
  run_kestrel 20 heard_requests
  heard_requests || fail "the simulator heard no dashboard polling: $(tail -n 5 "$home/sim.err")"
  compgen -G "$work/Kadr/*.log" >/dev/null && [ -s "$(ls "$work"/Kadr/*.log | head -n 1)" ] ||
    fail "no exchange log in $work/Kadr"
  [ "$(head -n 1 "$work/ECU/COROLLA_3ZZ.ini")" = $'My own Corolla\r' ] ||
    fail "the user's edit of ECU/COROLLA_3ZZ.ini was replaced"
  stop "$sim"
}

check_user "$(id -un)"
if [ "$(id -u)" -eq 0 ]; then check_user nobody; fi

snapshot >"$tmp/installed.after"
if ! cmp -s "$tmp/installed.before" "$tmp/installed.after"; then
  who=all
  fail "the installation changed: $(diff "$tmp/installed.before" "$tmp/installed.after" | head -n 5)"
fi
[ "$failures" -eq 0 ] && echo "installed layout: all checks passed"
exit $((failures != 0))
