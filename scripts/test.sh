#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and runs the whole test suite:
# installs the packages, builds (build/), and runs every test with CTest.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh"
build="${BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRINDLE_PLUGINS="tiff-viewer;exe-viewer;heif-viewer" >/dev/null
cmake --build "$build" -j2
cd "$build"
ctest --output-on-failure -j2 --timeout 300
