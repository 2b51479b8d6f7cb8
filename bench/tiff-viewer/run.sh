#!/usr/bin/env bash
# Builds the benchmark, writes its input files once and runs it.
#   bash bench/tiff-viewer/run.sh [BUILD_DIR] [DATA_DIR]
# Needs gdal-bin and libvips-tools (benchmark only; not project dependencies).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${1:-$root/build}"
data="${2:-/tmp/tiff-bench-data}"
cmake --build "$build" -j1 --target tiff_bench tiff_bench_fixtures
mkdir -p "$data"
[[ -f "$data/geo16.tif" ]] || "$build/bin/tiff_bench_fixtures" "$data"
ls -l "$data"
"$build/bin/tiff_bench" "$build/bin/tiff-viewer" "$build/bin/brindle-preview" "$data"
