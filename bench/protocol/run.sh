#!/usr/bin/env bash
# Builds in Release and runs the protocol benchmarks against their floors;
# the start-up figure is also taken for each real plug-in.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$root/build-release"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target protocol_bench bench_peer protocol-test-viewer tiff-viewer exe-viewer heif-viewer >/dev/null
b="$build/bin"
"$b/protocol_bench" "$b/protocol-test-viewer" "$b/bench_peer" "$b/tiff-viewer" "$b/exe-viewer" "$b/heif-viewer"
