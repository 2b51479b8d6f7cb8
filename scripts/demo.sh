#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds in Release, installs into
# out/ as a packager would, and previews every bundled sample through the
# plug-ins with the host tool. Images are written to out/previews/.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh"
build="$root/build-release"
prefix="$root/out"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
cmake --build "$build" -j2 --target brindle-preview tiff-viewer exe-viewer heif-viewer
cmake --install "$build" >/dev/null
preview="$prefix/bin/brindle-preview"
mkdir -p "$prefix/previews"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

echo "== plug-ins installed in $prefix/lib/brindle/plugins"
ls "$prefix/lib/brindle/plugins"

# Samples are files, or scripts that make a file from Debian tools.
samples=()
for f in "$root"/samples/*; do
  [[ -e "$f" ]] || continue
  if [[ "$f" == *.sh ]]; then
    made=$(bash "$f" "$work") && samples+=("$made")
  else
    samples+=("$f")
  fi
done
# Always show an executable report, of the host tool itself.
samples+=("$prefix/bin/brindle-preview.elf")
cp "$preview" "$prefix/bin/brindle-preview.elf"

status=0
for f in "${samples[@]}"; do
  name=$(basename "$f")
  echo
  echo "== $name"
  out=$("$preview" "$f") || { echo "preview failed ($?)"; status=1; continue; }
  head -n 40 <<<"$out"
  # For an image, save its largest level that fits one render.
  if grep -q '^  level ' <<<"$out"; then
    level=$(grep '^  level ' <<<"$out" | awk '{split($3,s,"×"); if (s[1]*s[2] <= 8000000) n=$2} END {sub(":","",n); print n}')
    png="$prefix/previews/${name%.*}.png"
    "$preview" "$f" --level "$level" --out "$png" && echo "level $level written to $png"
  fi
done
exit $status
