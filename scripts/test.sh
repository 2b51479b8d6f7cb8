#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and runs the whole test suite twice:
# an optimised build (build/) and a sanitizer build with AddressSanitizer,
# LeakSanitizer and UndefinedBehaviorSanitizer (build-asan/).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh"

run_suite() {
  local build="$1"
  shift
  echo "== $(basename "$build")"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$build" -j2
  (cd "$build" && ctest --output-on-failure -j2 --timeout 300)
}

run_suite "${BUILD_DIR:-$root/build}" -DBRINDLE_SANITIZE=OFF
if [[ "${SKIP_SANITIZERS:-0}" != 1 ]]; then
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  run_suite "${BUILD_DIR:-$root/build}-asan" -DBRINDLE_SANITIZE=ON
fi
