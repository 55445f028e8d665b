#!/usr/bin/env bash
# tarnwell-check over many domains at once, in a network namespace of its own (loopback only; needs
# root). 200 domains, one answered and one silent in turn: a<N>.bench.test answered by dnsmasq (through
# the relay of tests/e2e/servers.py on 192.0.2.13, which is the namespace's DNS server),
# silent<N>.bench.test never answered by it (the hosts file gives the system resolver their address).
# Prints the wall time with -j 1 and with the default (-j 16), whether the outcomes agree domain by
# domain, the peak RSS and the most descriptors open with -j 16 and -j 256, the peak RSS of a list
# of 1,000 and of 100,000 lines, and that of 64 checks at once that each read a 40 MiB hosts file (as
# ad-blocking hosts files run to tens of megabytes).
#
#   bench/many.sh [BUILD_DIR] [hosts]     default build/test (tarnwell-check must be built there); with
#                                         `hosts`, the hosts file's figure alone
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(realpath "${1:-build/test}")
check=$build/tarnwell-check
[[ $(id -u) -eq 0 ]] || { echo "bench/many.sh: needs root (network namespaces)" >&2; exit 77; }
[[ -x $check ]] || { echo "bench/many.sh: no $check" >&2; exit 1; }
source bench/namespace.sh many
for h in {1..14}; do ip -n "$ns" addr add 192.0.2.$h/32 dev lo; done
{ echo '127.0.0.1 localhost'; for i in {1..100}; do echo "203.0.113.5 silent$i.bench.test"; done; } >"$etc/hosts"
echo 'nameserver 192.0.2.13' >"$etc/resolv.conf"
in_ns dnsmasq -k -C /dev/null --no-resolv --no-hosts --user=root --group=root --pid-file= --bind-interfaces \
    --listen-address=127.0.0.1,192.0.2.1 --address=/bench.test/198.51.100.10 2>"$tmp/dnsmasq.log" &
in_ns python3 tests/e2e/servers.py 2>"$tmp/servers.log" &
for _ in $(seq 100); do in_ns dig @192.0.2.13 +short +tries=1 +time=1 a1.bench.test 2>/dev/null | grep -q . && break; sleep 0.1; done
domains=$(for i in {1..100}; do printf ' a%d.bench.test silent%d.bench.test' "$i" "$i"; done)

run() { # NAME ARGS...: the run's wall time, peak RSS and the most descriptors it had open at once
    local t0=${EPOCHREALTIME/[.,]/} pid fds
    in_ns /usr/bin/time -f '%M' -o "$tmp/$1.rss" "$check" "${@:2}" >"$tmp/$1.out" 2>/dev/null & pid=$!
    fds=$(most_descriptors "$pid")
    wait "$pid" || true
    printf '%-28s wall %6.2f s, peak RSS %6.1f MiB, descriptors %3d\n' "$1" \
        "$(((${EPOCHREALTIME/[.,]/} - t0) / 1000))e-3" "$(($(tail -n 1 "$tmp/$1.rss") * 10 / 1024))e-1" "$fds"
}
only=${2-}
[[ -n $only ]] || {
echo "=== 200 domains, 100 answered and 100 silent, -t 1 ($(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg))"
run "-j 1" --json -t 1 -j 1 $domains
run "default (-j 16)" --json -t 1 $domains
run "-j 256" --json -t 1 -j 256 $domains
outcomes() { jq -r '"\(.domain) \(.outcome)"' "$tmp/$1.out"; }
for j in "default (-j 16)" "-j 256"; do
    if cmp -s <(outcomes "-j 1") <(outcomes "$j"); then same=same; else same=DIFFERENT; fi
    echo "$j: outcomes $same as -j 1, domain by domain ($(outcomes "$j" | cut -d' ' -f2 | sort | uniq -c | xargs))"
done

echo "=== lists of refused lines (no network): memory by list length"
for n in 1000 100000; do
    yes x.y | head -n "$n" >"$tmp/list"
    run "$n lines, -j 256" --json -j 256 -f "$tmp/list"
done
}

echo "=== a 40 MiB hosts file, 64 silent domains at once (-j 64 -t 1): each check reads it"
{ cat "$etc/hosts"; for i in $(seq 1 1300000); do echo "0.0.0.0 ad$i.tracker.example"; done; } >"$tmp/hosts"
cp "$tmp/hosts" "$etc/hosts" && echo "hosts file: $(($(stat -c %s "$etc/hosts") >> 20)) MiB"
run "-j 64, 40 MiB hosts file" --json --no-proof -t 1 -j 64 $(printf ' silent%d.bench.test' {1..64})
echo "outcomes: $(jq -r .outcome "$tmp/-j 64, 40 MiB hosts file.out" | sort | uniq -c | xargs)"
