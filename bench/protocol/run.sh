#!/usr/bin/env bash
# Builds in Release and runs the protocol benchmarks against their floors.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$root/build-release"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target protocol_bench bench_floor_client bench_echo_peer protocol-test-viewer >/dev/null
"$build/bin/protocol_bench" "$build/bin/protocol-test-viewer" "$build/bin/bench_floor_client" "$build/bin/bench_echo_peer"
