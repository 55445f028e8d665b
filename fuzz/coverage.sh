#!/usr/bin/env bash
# Source-based coverage of resolve/DNS_IP_READER.cpp reached by the corpora
# that fuzz/run.sh grew (build/fuzz/corpus) and its seeds: builds each
# reader target with clang's coverage mapping, replays the corpus once
# (-runs=0), and prints llvm-cov's per-function report.
#   fuzz/coverage.sh [TARGET...]    default: reader reply
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/fuzz/coverage
mkdir -p "$out"
sources=(resolve/DNS_IP_READER.cpp resolve/DNS_HostByName.cpp common/Text.cpp
         platform/posix/PosixCodePage.cpp tests/fakes/Fakes.cpp)
for t in "${@:-reader reply}"; do
    for name in $t; do
        clang++ -std=c++20 -O1 -I. -fprofile-instr-generate -fcoverage-mapping -fsanitize=fuzzer \
            "fuzz/fuzz_$name.cpp" "${sources[@]}" -lidn2 -o "$out/$name"
        LLVM_PROFILE_FILE="$out/$name.profraw" "$out/$name" -runs=0 \
            "build/fuzz/corpus/$name" "build/fuzz/seeds/$name" >"$out/$name.log" 2>&1
        llvm-profdata-14 merge -sparse "$out/$name.profraw" -o "$out/$name.profdata"
        echo "=== fuzz_$name: resolve/DNS_IP_READER.cpp"
        llvm-cov-14 report "$out/$name" -instr-profile="$out/$name.profdata" -show-functions \
            resolve/DNS_IP_READER.cpp | awk '
            BEGIN { printf "%-14s %8s %8s %8s\n", "function", "regions", "lines", "branches" }
            /clE/ { next }  # lambdas
            match($1, /(EncodeQName|BuildQuery|ClassifyReply|ReadName|ReadAnswers|QueryDnsServer)/) {
                printf "%-14s %8s %8s %8s\n", substr($1, RSTART, RLENGTH), $(NF-6), $(NF-3), $NF }
            $1 == "TOTAL" { printf "%-14s %8s %8s %8s\n", "whole file", $(NF-6), $(NF-3), $NF }'
    done
done
