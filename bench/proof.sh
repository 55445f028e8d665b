#!/usr/bin/env bash
# The HTTPS proof with many addresses, in a network namespace of its own (loopback only; needs root):
#   1. the proof of one address against that of 16 at once: `tarnwell-check --server 127.0.0.2 DOMAIN` for a domain
#      to which the system resolver gives 1 and one to which it gives 16 addresses, the server on 127.0.0.2 another
#      address for every name (so that every address of the computer's is probed), each against --no-proof (then a
#      mismatch, exit 1: hyperfine -i); hyperfine medians;
#   2. four addresses whose stand-ins wait 1 s before the handshake, all four probed: the check's wall time (the
#      probes run at once: about 1 s, not 4 s);
#   3. `tarnwell-check --json -j 256` over 256 domains of 16 addresses each, every address probed (4,096 probes, as
#      many connections at once), started with a soft limit of 1,024 descriptors: the wall time, the most descriptors
#      open and threads running at once, the peak RSS, the outcomes and every proof's reason; no "refused" (the
#      report's «нет соединения») or "resources" («нет ресурсов») means no descriptor ran out. Then the same with the
#      hard limit at 1,024 too, where the program cannot raise it, and inside a pids cgroup of 512 tasks (v2 where its
#      pids controller is available, else v1; skipped where neither can be made).
# The stand-ins are Python's ssl on 192.0.2.40 to .55 (at once) and .60 to .63 (1 s late) port 443, a process for
# each address and a thread per connection, with an ECDSA P-256 certificate of a private CA that the namespace's own
# trust store holds.
#
#   bench/proof.sh [BUILD_DIR] [RUNS]     default build/test and 100 hyperfine runs
set -uo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/test}") runs=${2:-100}
check=$build/tarnwell-check
[[ $(id -u) -eq 0 ]] || { echo "bench/proof.sh: needs root (network namespaces)" >&2; exit 77; }
[[ -x $check ]] || { echo "bench/proof.sh: no $check" >&2; exit 1; }
source bench/namespace.sh proof
for h in {40..55} {60..63}; do ip -n "$ns" addr add 192.0.2.$h/32 dev lo; done
mkdir -p "$etc/ssl/certs"
echo '127.0.0.1 localhost' >"$etc/hosts"
echo 'nameserver 127.0.0.1' >"$etc/resolv.conf"
(cd "$tmp" && ec='ec -pkeyopt ec_paramgen_curve:P-256' &&
    openssl req -x509 -newkey $ec -nodes -keyout ca.key -out ca.pem -days 1 -subj /CN=bench-ca &&
    openssl req -newkey $ec -nodes -keyout site.key -subj /CN=site -out site.csr &&
    openssl x509 -req -in site.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 -out site.pem \
        -extfile <(echo 'subjectAltName=DNS:one.test,DNS:many.test,DNS:slow.test,DNS:*.bulk.test')) >/dev/null 2>&1 ||
    { echo "bench/proof.sh: the certificates could not be made" >&2; exit 1; }
cp "$tmp/ca.pem" "$etc/ssl/certs/ca-certificates.crt"

# The computer's DNS server: one.test, many.test, slow.test and d1 to d256.bulk.test; another on 127.0.0.2 that
# gives 192.0.2.99 for every name.
bulk=$(printf ' d%d.bulk.test' {1..256})
{ echo "192.0.2.40 one.test"; for h in {40..55}; do echo "192.0.2.$h many.test$bulk"; done
    for h in {60..63}; do echo "192.0.2.$h slow.test"; done; } >"$tmp/names"
dnsmasq=(dnsmasq -k -C /dev/null --no-resolv --no-hosts --user=root --group=root --pid-file= --bind-interfaces)
in_ns "${dnsmasq[@]}" --listen-address=127.0.0.1 --addn-hosts="$tmp/names" --local=/#/ 2>"$tmp/dnsmasq.log" &
in_ns "${dnsmasq[@]}" --listen-address=127.0.0.2 --address=/#/192.0.2.99 2>"$tmp/rogue.log" &
cat >"$tmp/standin.py" <<'EOF'
import os, socket, ssl, sys, threading, time
c = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
c.load_cert_chain(sys.argv[1] + "/site.pem", sys.argv[1] + "/site.key")
def serve(conn, delay):
    try:
        conn.settimeout(10)
        time.sleep(delay)
        c.wrap_socket(conn, server_side=True).close()
    except OSError:
        pass
    conn.close()
for h in list(range(40, 56)) + list(range(60, 64)):  # a process for each address: both cores, whatever the GIL
    if os.fork() == 0:
        s = socket.socket()
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind(("192.0.2.%d" % h, 443))
        s.listen(4096)
        while True:
            conn, _ = s.accept()
            threading.Thread(target=serve, args=(conn, 1.0 if h >= 60 else 0.0), daemon=True).start()
os.wait()
EOF
in_ns python3 "$tmp/standin.py" "$tmp" 2>"$tmp/standin.log" &
for _ in $(seq 100); do
    (($(in_ns ss -Hltn 'sport = :443' | wc -l) >= 20)) && in_ns dig @127.0.0.1 +short +tries=1 +time=1 one.test |
        grep -q . && break
    sleep 0.1
done
ms() { echo $(((${EPOCHREALTIME/[.,]/} - $1) / 1000)); }
proofs() { jq -rs '[.[].proof[] | .reason // "proven"] | group_by(.) | map("\(.[0]) \(length)") | join(", ")' "$1"; }
for d in one.test many.test slow.test; do # each proves every address of its own, or the figures mean nothing
    in_ns "$check" --json --server 127.0.0.2 "$d" >"$tmp/$d.json"
    [[ $(jq -r .outcome "$tmp/$d.json") == proven ]] ||
        { echo "bench/proof.sh: $d not proven: $(proofs "$tmp/$d.json")" >&2; exit 1; }
done
echo "=== tarnwell-check with 1 and with 16 addresses to prove ($(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg))"
echo "one.test: $(proofs "$tmp/one.test.json"); many.test: $(proofs "$tmp/many.test.json")"
in_ns hyperfine -N -i --warmup 10 --runs "$runs" --export-csv "$tmp/h.csv" \
    "$check --server 127.0.0.2 one.test" "$check --server 127.0.0.2 many.test" \
    "$check --no-proof --server 127.0.0.2 one.test" "$check --no-proof --server 127.0.0.2 many.test" >"$tmp/h.log" ||
    { cat "$tmp/h.log"; exit 1; }
median() { awk -F, -v n="$1" 'NR == n + 1 { printf "%.2f", $4 * 1000 }' "$tmp/h.csv"; }
less() { awk -v a="$(median "$1")" -v b="$(median "$2")" 'BEGIN { printf "%.2f", a - b }'; }
echo "median: one address $(median 1) ms (--no-proof $(median 3) ms), 16 addresses $(median 2) ms (--no-proof" \
    "$(median 4) ms): the proof of one $(less 1 3) ms, of 16 at once $(less 2 4) ms"

echo "=== four addresses, each handshake 1 s late (10 runs: wall time, the check's elapsed_ms, outcome, proofs)"
for i in {1..10}; do
    t0=${EPOCHREALTIME/[.,]/}
    in_ns "$check" --json --server 127.0.0.2 slow.test >"$tmp/slow.json"
    echo "$(ms "$t0") ms, $(jq -r '"\(.elapsed_ms) ms, \(.outcome)"' "$tmp/slow.json"), $(proofs "$tmp/slow.json")"
done | sort -n | tee "$tmp/slow.txt" | awk '{ t[NR] = $1 } END {
    printf "wall time: median %d ms, min %d, max %d over %d runs\n", t[int((NR + 1) / 2)], t[1], t[NR], NR }'
echo "the slowest: $(tail -n 1 "$tmp/slow.txt")"

pids_cgroup() { # LIMIT: cg a pids cgroup of this run's own, LIMIT tasks at most; else false
    local v2 v1
    v2=$(awk '$3 == "cgroup2" { print $2; exit }' /proc/mounts)
    v1=$(awk '$3 == "cgroup" && $4 ~ /(^|,)pids(,|$)/ { print $2; exit }' /proc/mounts)
    if [[ -n $v2 ]] && grep -qw pids "$v2/cgroup.controllers" 2>/dev/null; then
        cg=$v2/tarnwell-proof-$$ && { grep -qw pids "$v2/cgroup.subtree_control" ||
            echo +pids >"$v2/cgroup.subtree_control"; }
    elif [[ -n $v1 ]]; then cg=$v1/tarnwell-proof-$$; else return 1; fi 2>/dev/null
    mkdir "$cg" 2>/dev/null && echo "$1" >"$cg/pids.max" && return
    rmdir "$cg" 2>/dev/null; return 1
}
run() { # NAME LIMIT...: tarnwell-check -j 256 over the 256 domains under `ulimit LIMIT...`, in the cgroup cg if set
    local t0=${EPOCHREALTIME/[.,]/} pid most
    (ulimit "${@:2}" && { [[ -z ${cg-} ]] || echo $BASHPID >"$cg/cgroup.procs"; } &&
        exec ip netns exec "$ns" /usr/bin/time -f '%M' -o "$tmp/$1.rss" "$check" --json -j 256 --server 127.0.0.2 \
        $bulk) >"$tmp/$1.json" &
    pid=$!
    most=$(most_open "$pid")
    wait "$pid"
    printf '%-34s wall %5d ms, descriptors %4d, threads %4d at most, peak RSS %5.1f MiB; outcomes: %s; proofs: %s\n' \
        "$1" "$(ms "$t0")" "${most% *}" "${most#* }" "$(($(tail -n 1 "$tmp/$1.rss") * 10 / 1024))e-1" \
        "$(jq -rs 'group_by(.outcome) | map("\(.[0].outcome) \(length)") | join(", ")' "$tmp/$1.json")" \
        "$(proofs "$tmp/$1.json")"
}
echo "=== -j 256, 256 domains of 16 addresses, every address probed ($(ulimit -Hn) descriptors at most here)"
run "soft limit 1,024" -Sn 1024
run "soft and hard limit 1,024" -n 1024
if pids_cgroup 512; then
    run "soft limit 1,024, 512 tasks at most" -Sn 1024
    rmdir "$cg"
else echo "no pids cgroup can be made here: the run under 512 tasks is left out"; fi
