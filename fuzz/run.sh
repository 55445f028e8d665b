#!/usr/bin/env bash
# Bounded fuzzing: builds the libFuzzer targets with clang++ (ASan, UBSan) in
# build/fuzz and runs each from the committed seeds for a fixed time. Exits
# non-zero on any finding; findings go to build/fuzz/artifacts/. Inputs up to
# 65,535 bytes: any UDP datagram the reader may be given. A target's seeds are
# under fuzz/seeds/ by the first word of its name.
#   fuzz/run.sh [SECONDS]   seconds per target, default 30
#   FUZZ_RUNS=N fuzz/run.sh a fixed number of executions instead
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
build=build/fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTARNWELL_FUZZ=ON -DTARNWELL_BUILD_GUI=OFF -DTARNWELL_BENCH=OFF >/dev/null &&
    cmake --build "$build" -j "$(nproc)" --target fuzz_reply fuzz_query fuzz_hosts fuzz_settings fuzz_proxy_strings \
        fuzz_pac || exit 1
status=0
for name in reply query hosts settings proxy_strings pac; do
    corpus=$build/corpus/$name
    mkdir -p "$corpus" "$build/artifacts"
    bound=(-max_total_time="$seconds")
    [[ -z ${FUZZ_RUNS:-} ]] || bound=(-runs="$FUZZ_RUNS")
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 "$build/fuzz/fuzz_$name" "${bound[@]}" -max_len=65535 \
        -timeout=10 -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" "$corpus" "fuzz/seeds/${name%%_*}" \
        >"$build/$name.log" 2>&1 || { status=1; tail -n 30 "$build/$name.log"; }
    echo "fuzz_$name: $(sed -n 's/^stat::number_of_executed_units: *//p' "$build/$name.log") executions," \
        "$(grep -oE 'cov: [0-9]+' "$build/$name.log" | tail -1)"
done
exit $status
