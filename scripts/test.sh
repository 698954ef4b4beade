#!/usr/bin/env bash
# Runs every test of the build in build/ (scripts/setup.sh builds it).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${KESTREL_BUILD_DIR:-build}
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 300
