#!/usr/bin/env bash
# Builds in Release and runs the heif-viewer benchmark: a preview session on
# a 4032 × 3024 HEIC against heif-convert and libheif's own decode.
#   bench/heif-viewer/run.sh [FILE.heic] [ROUNDS]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${BUILD_DIR:-$root/build-release}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target heif_bench heif-viewer >/dev/null
exec "$build/bin/heif_bench" "$build/bin/heif-viewer" "${1:-}" "${2:-5}"
