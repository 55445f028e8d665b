#!/usr/bin/env bash
# Benchmarks that need a name service and a display, inside a network
# namespace of their own (nothing leaves the machine; needs root):
#   1. the micro-benchmarks (bench/bench.cpp);
#   2. hyperfine: `tarnwell-check DOMAIN` against the pair
#      `getent ahostsv4 DOMAIN; dig @127.0.0.1 DOMAIN`, medians and ratio;
#   3. the window program under Xvfb: exec to the window mapped (median of
#      several runs) and its peak resident memory (VmHWM);
#   4. the HTTPS proof's cost for one address: `tarnwell-check DOMAIN`
#      against `tarnwell-check --no-proof DOMAIN`, DOMAIN's address served by
#      `openssl s_server` with a certificate of a private CA that the
#      namespace's own trust store holds (the proof succeeds).
# The namespace gets lo with 192.0.2.254/32, hosts with localhost only,
# resolv.conf "nameserver 127.0.0.1", and dnsmasq answering DOMAIN.
#
#   bench/check.sh [RUNS]     hyperfine runs per command (default 300)
# Env: WINDOW_RUNS (default 15), DOMAIN (default example.test).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-300}
window_runs=${WINDOW_RUNS:-15}
domain=${DOMAIN:-example.test}
address=192.0.2.10
build=build/bench
[[ $(id -u) -eq 0 ]] || { echo "bench/check.sh: needs root (network namespaces)" >&2; exit 77; }
bash scripts/deps.sh build test fuzz

echo "=== build ($build, Release)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWELL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target tarnwell tarnwell-check tarnwell_bench
cc -O2 -Wall -o "$build/mapwait" bench/mapwait.c -lX11

echo
echo "=== micro-benchmarks"
"$build/bench/tarnwell_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

# --- the namespace -----------------------------------------------------
xvfb_pid=
dnsmasq_pid=
server_pid=
ns=
tmp=$(mktemp -d)
# The settings ask no witness: the checks here are those of a site that proves itself, or none.
mkdir -p "$tmp/config/tarnwell" && echo 'witness = off' >"$tmp/config/tarnwell/tarnwell.conf"
export XDG_CONFIG_HOME=$tmp/config
cleanup() {
    set +e
    [[ -n $xvfb_pid ]] && { kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; }
    [[ -n $dnsmasq_pid ]] && { kill "$dnsmasq_pid" 2>/dev/null; wait "$dnsmasq_pid" 2>/dev/null; }
    [[ -n $server_pid ]] && { kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null; }
    [[ -n $ns ]] && { ip netns del "$ns" 2>/dev/null; rm -rf "/etc/netns/$ns"; rmdir /etc/netns 2>/dev/null; }
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

ns=tarnwell-bench-$$
ip netns add "$ns"
ip -n "$ns" link set lo up
ip -n "$ns" addr add 192.0.2.254/32 dev lo
mkdir -p "/etc/netns/$ns"
printf '127.0.0.1 localhost\n::1 localhost\n' >"/etc/netns/$ns/hosts"
echo 'nameserver 127.0.0.1' >"/etc/netns/$ns/resolv.conf"
ip netns exec "$ns" dnsmasq --keep-in-foreground --conf-file=/dev/null --no-resolv --no-hosts \
    --user=root --group=root --pid-file= --listen-address=127.0.0.1 --bind-interfaces \
    --host-record="$domain,$address" </dev/null >"$tmp/dnsmasq.log" 2>&1 &
dnsmasq_pid=$!
for _ in $(seq 100); do
    ip netns exec "$ns" dig @127.0.0.1 +short +tries=1 +time=1 "$domain" 2>/dev/null | grep -q . && break
    sleep 0.05
done
in_ns() { ip netns exec "$ns" "$@"; }
in_ns dig @127.0.0.1 +short +tries=1 "$domain" | grep -qx "$address" || { echo "dnsmasq does not answer" >&2; exit 1; }
in_ns "$build/tarnwell-check" "$domain" >/dev/null || { echo "tarnwell-check $domain: no match" >&2; exit 1; }

echo
echo "=== tarnwell-check against getent + dig ($runs runs each, in namespace $ns)"
check="$root/$build/tarnwell-check $domain"
pair="sh -c 'getent ahostsv4 $domain >/dev/null; dig @127.0.0.1 +short +tries=1 $domain >/dev/null'"
in_ns hyperfine -N --warmup 20 --runs "$runs" --export-csv "$tmp/h.csv" "$check" "$pair"
median() { awk -F, -v n="$1" 'NR == n + 1 { printf "%.3f", $4 * 1000 }' "$tmp/h.csv"; }
m_check=$(median 1)
m_pair=$(median 2)
echo "median: tarnwell-check $m_check ms, getent + dig $m_pair ms, ratio $(awk -v a="$m_check" -v b="$m_pair" 'BEGIN { printf "%.2f", a / b }')"

echo
echo "=== the HTTPS proof of one address ($runs runs each, openssl s_server on $address:443)"
(cd "$tmp" && openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 1 -subj /CN=bench-ca &&
    openssl req -newkey rsa:2048 -nodes -keyout site.key -subj "/CN=$domain" -addext "subjectAltName=DNS:$domain" -out site.csr &&
    openssl x509 -req -in site.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 -copy_extensions copy -out site.pem) >/dev/null 2>&1
mkdir -p "/etc/netns/$ns/ssl/certs" && cp "$tmp/ca.pem" "/etc/netns/$ns/ssl/certs/ca-certificates.crt"
ip -n "$ns" addr add "$address/32" dev lo
# Not through in_ns: $! must be the server itself (ip netns exec execs it), or it outlives the run.
ip netns exec "$ns" openssl s_server -quiet -accept "$address:443" -cert "$tmp/site.pem" -key "$tmp/site.key" \
    </dev/null >/dev/null 2>&1 &
server_pid=$!
sleep 0.5
in_ns "$build/tarnwell-check" "$domain" | grep -q 'сертификат подтверждает домен' || { echo "the proof does not succeed" >&2; exit 1; }
in_ns hyperfine -N --warmup 20 --runs "$runs" --export-csv "$tmp/p.csv" "$check" "$root/$build/tarnwell-check --no-proof $domain"
kill "$server_pid"
m_proof=$(awk -F, 'NR == 2 { printf "%.3f", $4 * 1000 }' "$tmp/p.csv")
m_bare=$(awk -F, 'NR == 3 { printf "%.3f", $4 * 1000 }' "$tmp/p.csv")
echo "median: with the proof $m_proof ms, without $m_bare ms: the proof of one address $(awk -v a="$m_proof" -v b="$m_bare" 'BEGIN { printf "%.3f", a - b }') ms"

echo
echo "=== window: exec to mapped, peak RSS ($window_runs runs, Xvfb in the namespace)"
ip netns exec "$ns" Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$tmp/display" >"$tmp/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s $tmp/display ]] && break; sleep 0.05; done
display=:$(head -n1 "$tmp/display")
mkdir -m 700 "$tmp/xdg"
: >"$tmp/window"
for i in $(seq 0 "$window_runs"); do
    # Run 0 warms the caches and is left out.
    line=$(in_ns env DISPLAY="$display" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$tmp/xdg" "$build/mapwait" Tarnwell 1000 "$root/$build/tarnwell")
    ((i == 0)) || echo "$line" >>"$tmp/window"
done
sort -n -k1 "$tmp/window" | awk '{ t[NR] = $1; m[NR] = $2 } END {
    printf "mapped after exec: median %.1f ms (min %.1f, max %.1f) over %d runs\n", t[int((NR + 1) / 2)], t[1], t[NR], NR }'
sort -n -k2 "$tmp/window" | awk '{ m[NR] = $2 } END {
    printf "peak resident memory (VmHWM): median %.1f MiB (min %.1f, max %.1f)\n", m[int((NR + 1) / 2)] / 1024, m[1] / 1024, m[NR] / 1024 }'
