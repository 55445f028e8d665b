#!/usr/bin/env bash
# The witness stage's cost, inside a network namespace of its own (nothing leaves the machine; needs root): a domain
# whose address has nothing on port 443 (the proof cannot speak), checked with a DNS-over-HTTPS stand-in
# (tests/e2e/doh.py, its certificate from a private CA that the namespace's trust store holds) as the witness, against
# --no-witness; and a domain whose site proves itself (no witness asked) against the same check by BEFORE, another
# build's tarnwell-check, when given.
#   bench/witness.sh [RUNS] [BEFORE]     hyperfine runs per command (default 200)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd) runs=${1:-200} before=${2:-} build=build/bench
[[ $(id -u) -eq 0 ]] || { echo "bench/witness.sh: needs root (network namespaces)" >&2; exit 77; }
bash scripts/deps.sh build test fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWELL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target tarnwell-check >/dev/null
source bench/namespace.sh witness
cd "$tmp"
cert() { # NAME SAN: a key and the private CA's certificate for it
    openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -subj "/CN=$1" -out "$1.csr" &&
        openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 -out "$1.pem" -extfile <(echo "subjectAltName=$2")
}
{ openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 1 -subj /CN=bench-ca &&
    cert doh IP:192.0.2.60 && cert site DNS:site.test; } >/dev/null 2>&1
for a in 60 5 31; do ip -n "$ns" addr add "192.0.2.$a/32" dev lo; done
mkdir -p "$etc/ssl/certs" && cp ca.pem "$etc/ssl/certs/ca-certificates.crt"
echo 'nameserver 127.0.0.1' >"$etc/resolv.conf" && echo '127.0.0.1 localhost' >"$etc/hosts"
in_ns dnsmasq -k -C /dev/null --no-resolv --no-hosts --user=root --group=root --pid-file= --bind-interfaces \
    --listen-address=127.0.0.1 --host-record=closed.test,192.0.2.5 --host-record=site.test,192.0.2.31 2>/dev/null &
in_ns python3 "$root/tests/e2e/doh.py" doh.pem doh.key 192.0.2.60 closed.test=192.0.2.5 2>/dev/null &
in_ns openssl s_server -quiet -accept 192.0.2.31:443 -cert site.pem -key site.key </dev/null >/dev/null 2>&1 &
sleep 1
check=$root/$build/tarnwell-check witness=https://192.0.2.60/dns-query
in_ns "$check" --witness "$witness" closed.test | grep -q 'адреса совпадают' || { echo "the witness does not answer" >&2; exit 1; }
echo "=== the witness stage ($runs runs each)"
in_ns hyperfine -N --warmup 10 --runs "$runs" --export-csv w.csv "$check --witness $witness closed.test" \
    "$check --no-witness closed.test"
median() { awk -F, -v n="$2" 'NR == n + 1 { printf "%.2f", $4 * 1000 }' "$1"; }
echo "median: with the witness $(median w.csv 1) ms, without $(median w.csv 2) ms"
[[ -n $before ]] || exit 0
echo "=== no witness needed (the site proves itself): this build against $before"
in_ns hyperfine -N --warmup 10 --runs "$runs" --export-csv p.csv "$check --witness $witness site.test" "$before site.test"
echo "median: this build $(median p.csv 1) ms, before $(median p.csv 2) ms"
