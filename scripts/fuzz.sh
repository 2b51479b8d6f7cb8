#!/usr/bin/env bash
# Builds the libFuzzer targets with clang 16 (AddressSanitizer and
# UndefinedBehaviorSanitizer, leak checks on) and runs each for SECONDS
# (default 600) on one core, from seed corpora made by make_fuzz_seeds and
# the exe-viewer fixtures. A run fails on a crash, a leak or an input that
# takes over 2 s; the input is kept in build-fuzz/artifacts/.
#   scripts/fuzz.sh [SECONDS] [target ...]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-600}"
shift || true
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(decode_message_fuzz tiff_document_fuzz build_report_fuzz palette_scan_fuzz
                                       raster_meta_fuzz demangle_fuzz)
command -v clang++-16 >/dev/null || { DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-16 libclang-rt-16-dev >/dev/null; }
build="$root/build-fuzz"
CC=clang-16 CXX=clang++-16 cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRINDLE_FUZZ=ON >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}" make_fuzz_seeds
seeds="$build/seeds"
rm -rf "$seeds"
"$build/bin/make_fuzz_seeds" "$seeds"
mkdir -p "$seeds/build_report_fuzz" "$build/artifacts"
find "$root/plugins/exe-viewer/tests/fixtures" -type f ! -name '*.sh' ! -path '*/src/*' \
  -exec cp {} "$seeds/build_report_fuzz/" \;

for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  dict=()
  case "$t" in tiff_document_fuzz | palette_scan_fuzz) dict=(-dict="$root/fuzz/tiff.dict") ;; esac
  echo "== $t for ${seconds}s"
  log="$build/$t.log"
  if "$build/bin/$t" "$corpus" "$seeds/$t" "${dict[@]}" -max_total_time="$seconds" -timeout=2 -rss_limit_mb=2048 \
       -max_len=1048576 -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" >"$log" 2>&1; then
    status=ok
  else
    status="FAILED (see $log)"
  fi
  runs=$(grep -oE '^stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' || echo 0)
  speed=$(grep -oE '^stat::average_exec_per_sec: *[0-9]+' "$log" | grep -oE '[0-9]+$' || echo 0)
  cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1)
  echo "$t: $status; $runs runs, $speed exec/s, $cov"
done
