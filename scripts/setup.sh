#!/usr/bin/env bash
# Installs the Debian packages Kestrel needs (only those missing), then
# configures and builds it into build/ with the runtime tree in build/run/.
#   scripts/setup.sh            install what is missing, configure, build
#   scripts/setup.sh --no-build install only
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-translations-l10n libxlsxwriter-dev
  g++-multilib g++-mingw-w64-i686 binutils-mingw-w64-i686 qemu-user
  xvfb xauth fonts-dejavu-core clang-format
  python3-openpyxl  # the tests read exported workbooks back with Debian's /usr/bin/python3
  clang libclang-rt-14-dev  # the fuzz targets (fuzz/README.md)
  locales                   # ru_RU.UTF-8, for the decimal comma of the module's numbers
  dpkg-dev desktop-file-utils  # the Debian package and its checks
  fonts-league-spartan  # the dashboard's bold display face where its design face is missing
  fonts-liberation2     # the graphs' channel labels: the widths of the design's face
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

# A locale with a decimal comma: the vehicle module writes numbers with the
# separator of the user's locale, and its test needs one to run.
if ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf-\?8'; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen ||
    echo 'ru_RU.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  "${sudo_cmd[@]}" locale-gen
fi

[ "${1:-}" = "--no-build" ] && exit 0

build=${KESTREL_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${KESTREL_CMAKE_ARGS:-}
cmake --build "$build" -j "$(nproc)"
