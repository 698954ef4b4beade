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

[ "${1:-}" = "--no-build" ] && exit 0

build=${KESTREL_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${KESTREL_CMAKE_ARGS:-}
cmake --build "$build" -j "$(nproc)"
