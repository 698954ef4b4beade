#!/usr/bin/env bash
# Checks the Debian package (cmake --build build --target package) as far as
# a machine without installing it can: unpacked with dpkg-deb -x into a clean
# folder, its file list, the programs run from there, its dependencies
# resolve against the Debian archive, its desktop entry, icons and the
# post-install note about the dialout group.
#   package_test.sh build/kestrel_<version>_amd64.deb
set -euo pipefail
deb=$(readlink -f "$1")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

root=$tmp/root
dpkg-deb -x "$deb" "$root"
(cd "$root" && find . -mindepth 1 ! -type d | sed 's|^\./||' | LC_ALL=C sort) >"$tmp/files"

# Everything under /usr; the programs, the catalogue, pictures, scenarios,
# desktop entry and icons where an installed program finds them.
grep -v '^usr/' "$tmp/files" && fail "files outside /usr"
expected=(
  usr/bin/kestrel usr/bin/kestrel-cli usr/bin/kestrel-ecusim
  usr/lib/kestrel/kestrel usr/lib/kestrel/VORTA.so
  usr/share/kestrel/shipped_copy.sh
  usr/share/kestrel/ECU/CAMRY_2AZ.ini usr/share/kestrel/ECU/CARINA_7AFE.ini
  usr/share/kestrel/ECU/COROLLA_3ZZ.ini
  usr/share/kestrel/ECU/TOYOTA/VORTA.ini usr/share/kestrel/ECU/TOYOTA/dtc.ini
  usr/share/kestrel/ECU/TOYOTA9141/VORTA.ini usr/share/kestrel/ECU/TOYOTA_3ZZ/dtc.ini
  usr/share/kestrel/pic/main_panel.bmp usr/share/kestrel/pic/start.bmp
  usr/share/kestrel/scenarios/camry_2az_fast.scn usr/share/kestrel/scenarios/carina_7afe_9141.scn
  usr/share/kestrel/scenarios/corolla_3zz_5baud.scn
  usr/share/applications/kestrel.desktop
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("usr/share/icons/hicolor/${size}x${size}/apps/kestrel.png")
done
for f in "${expected[@]}"; do grep -qx "$f" "$tmp/files" || fail "missing $f"; done
[ "$(grep -c '^usr/share/kestrel/pic/.*\.bmp$' "$tmp/files")" -ge 40 ] || fail "pictures missing"
# No build-tree leftovers, no program code where only data belongs.
grep -E '\.generated$|\.shipped$|CMakeFiles' "$tmp/files" && fail "build-tree files packed"
while IFS= read -r f; do
  if head -c 4 "$root/$f" | grep -q $'^\x7fELF'; then fail "program code under /usr/share: $f"; fi
done < <(grep '^usr/share/' "$tmp/files")

# The programs run from the unpacked tree.
"$root/usr/bin/kestrel-cli" --help >"$tmp/help" || fail "kestrel-cli --help failed"
grep -q '^usage: kestrel-cli' "$tmp/help" || fail "kestrel-cli --help printed no usage"
grep -q 'doctor' "$tmp/help" || fail "kestrel-cli --help does not name doctor"
"$root/usr/bin/kestrel-ecusim" --list-scenarios | grep -qx carina_7afe_9141 ||
  fail "kestrel-ecusim does not run"
bash -n "$root/usr/bin/kestrel" || fail "the launcher is no valid bash script"

# What the package asks of the system resolves on Debian 12.
depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt6widgets6 qt6-qpa-plugins libc6; do
  [[ $depends == *"$d"* ]] || fail "Depends lacks $d: $depends"
done
if apt-cache show libqt6widgets6 >/dev/null 2>&1; then
  apt-get install --simulate --no-install-recommends "$deb" >"$tmp/apt" 2>&1 ||
    fail "apt cannot install it: $(tail -n 3 "$tmp/apt")"
else
  echo "package_test.sh: no package lists here (apt-get update): dependencies not resolved"
fi

# Desktop entry, icon and the note about the dialout group.
desktop=$root/usr/share/applications/kestrel.desktop
grep -qx 'Exec=kestrel' "$desktop" || fail "the desktop entry does not start kestrel"
grep -qx 'Icon=kestrel' "$desktop" || fail "the desktop entry names no kestrel icon"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail "desktop entry not valid"
fi
dpkg-deb -e "$deb" "$tmp/control"
grep -q 'usermod -aG dialout' "$tmp/control/postinst" || fail "no dialout note after installing"

[ "$failures" -eq 0 ] && echo "package $(basename "$deb"): all checks passed"
exit $((failures != 0))
