#!/usr/bin/env bash
# Soaks each plug-in with 10,000 mixed requests (Release build).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$root/build-release"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target soak tiff-viewer heif-viewer exe-viewer >/dev/null
b="$build/bin"
n="${1:-10000}"
"$b/soak" tiff "$b/tiff-viewer" "$root/samples/tiff-viewer-elevation.tif" "$n"
"$b/soak" heif "$b/heif-viewer" "$root/samples/heif-viewer-colour-wheel.heic" "$n"
"$b/soak" exe "$b/exe-viewer" "$b/exe-viewer" "$n"
