#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: unit and window
# tests, the same under AddressSanitizer and UndefinedBehaviorSanitizer, the
# console checker's concurrent rows under ThreadSanitizer,
# the end-to-end suite in network namespaces, bounded fuzzing, the Windows
# build under Wine, and the package checks. Each stage runs even when an
# earlier one failed; the exit status is non-zero when any failed.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

bash scripts/deps.sh build test windows fuzz package || exit 1

passed=0
failed=0
failures=()
stage() {
  local name=$1
  shift
  echo
  echo "=== $name ==="
  local start=$SECONDS
  if "$@"; then
    passed=$((passed + 1))
    echo "=== $name: passed ($((SECONDS - start)) s) ==="
  else
    failed=$((failed + 1))
    failures+=("$name")
    echo "=== $name: FAILED ($((SECONDS - start)) s) ==="
  fi
}

unit() {
  cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWELL_WERROR=ON >/dev/null &&
    cmake --build build/test -j "$jobs" &&
    (cd build/test && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" -LE e2e)
}

sanitized() {
  cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARNWELL_SANITIZE=ON >/dev/null &&
    cmake --build build/asan -j "$jobs" &&
    (cd build/asan && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1 \
       LSAN_OPTIONS=suppressions=$root/tests/lsan.supp ctest --output-on-failure -j "$jobs" -LE e2e)
}

# The console checker's rows that check several domains at once, under
# ThreadSanitizer: only the unit test program is built.
threads() {
  cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWELL_TSAN=ON -DTARNWELL_BUILD_GUI=OFF \
      -DTARNWELL_BENCH=OFF >/dev/null &&
    cmake --build build/tsan -j "$jobs" --target tarnwell_tests &&
    TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/tarnwell_tests --gtest_brief=1 --gtest_filter='ManyDomains.*:Console.*'
}

stage "unit and window tests" unit
stage "sanitizers" sanitized
stage "thread sanitizer" threads
[[ -x tests/e2e/run.sh ]] && stage "end to end" tests/e2e/run.sh "$root/build/test"
[[ -x fuzz/run.sh ]] && stage "fuzzing" fuzz/run.sh
[[ -x tests/win32/run.sh ]] && stage "windows under wine" tests/win32/run.sh
[[ -x tests/package/run.sh ]] && stage "package" tests/package/run.sh "$root/build/test"

echo
[[ $failed -eq 0 ]] || echo "failed stages: ${failures[*]}"
echo "stages: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
