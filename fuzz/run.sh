#!/usr/bin/env bash
# Bounded fuzzing: builds the libFuzzer targets with clang++ (ASan, UBSan)
# in build/fuzz, writes the seed corpora from code, and runs each target for
# a fixed time. Exits non-zero on any finding (crash, sanitizer report,
# broken invariant, leak, time-out) and prints the executions per target.
#
#   fuzz/run.sh [SECONDS]     seconds per target, default 30, at most 60
#   FUZZ_RUNS=N fuzz/run.sh   a fixed number of executions instead (figures)
#   FUZZ_TARGETS="reader reply" fuzz/run.sh   only these targets
#
# Findings are kept in build/fuzz/artifacts/; the grown corpora in
# build/fuzz/corpus/ are reused by the next run.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
((seconds >= 1 && seconds <= 60)) || { echo "fuzz/run.sh: SECONDS must be 1 to 60" >&2; exit 64; }
build=build/fuzz
jobs=$(nproc 2>/dev/null || echo 2)

CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DTARNWELL_FUZZ=ON -DTARNWELL_BUILD_GUI=OFF -DTARNWELL_BENCH=OFF >/dev/null || exit 1
cmake --build "$build" -j "$jobs" --target fuzz_all || exit 1
rm -rf "$build/seeds"
"$build/fuzz/fuzz_seeds" "$build/seeds" || exit 1

# Target and the longest input it takes: the reader gets at most one
# received datagram; the reply target a domain (1 + 255 bytes) and one.
targets=(reader:2048 reply:2304 qname:8192 servers:1024)
status=0
summary=()
for entry in "${targets[@]}"; do
    name=${entry%%:*}
    maxlen=${entry##*:}
    [[ " ${FUZZ_TARGETS:-$name} " == *" $name "* ]] || continue
    corpus=$build/corpus/$name
    log=$build/$name.log
    mkdir -p "$corpus" "$build/artifacts"
    if [[ -n ${FUZZ_RUNS:-} ]]; then
        bound=(-runs="$FUZZ_RUNS")
        echo "--- fuzz_$name ($FUZZ_RUNS runs)"
    else
        bound=(-max_total_time="$seconds")
        echo "--- fuzz_$name ($seconds s)"
    fi
    start=$(date +%s%N)
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$build/fuzz/fuzz_$name" "${bound[@]}" -max_len="$maxlen" -timeout=10 -rss_limit_mb=2560 \
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" "$corpus" "$build/seeds/$name" >"$log" 2>&1
    rc=$?
    end=$(date +%s%N)
    ms=$(((end - start) / 1000000))
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1)
    line=$(printf 'fuzz_%-8s %10s execs in %d.%01d s (%s exec/s), %s' "$name" "${execs:-?}" \
        $((ms / 1000)) $((ms % 1000 / 100)) "$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)" "${cov:-no coverage line}")
    if ((rc != 0)); then
        status=1
        line+="  FINDING (exit $rc), see $log"
        tail -n 40 "$log"
    fi
    echo "$line"
    summary+=("$line")
done
echo
printf '%s\n' "${summary[@]}"
exit $status
