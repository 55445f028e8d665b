# Sourced by the benchmarks as `source bench/namespace.sh NAME`: a network namespace of their own,
# tarnwell-NAME-PID, with lo up and 192.0.2.254/32 on it (AI_ADDRCONFIG asks for IPv4 then), its files
# for /etc under $etc, a temporary directory $tmp, settings that ask no witness (XDG_CONFIG_HOME: a
# benchmark names its witness with --witness), in_ns to run a command inside, and all of it, with every
# process of the namespace, removed on exit. Nothing in it reaches beyond the machine.
ns=tarnwell-$1-$$ tmp=$(mktemp -d) etc=/etc/netns/tarnwell-$1-$$
mkdir -p "$tmp/config/tarnwell" "$etc" && echo 'witness = off' >"$tmp/config/tarnwell/tarnwell.conf"
export XDG_CONFIG_HOME=$tmp/config
cleanup() {
    set +e
    ip netns pids "$ns" 2>/dev/null | xargs -r kill
    wait
    ip netns del "$ns"
    rm -rf "$etc" "$tmp"
    rmdir /etc/netns 2>/dev/null
    [[ -z ${cg-} ]] || rmdir "$cg" 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
in_ns() { ip netns exec "$ns" "$@"; }
ip netns add "$ns" && ip -n "$ns" link set lo up && ip -n "$ns" addr add 192.0.2.254/32 dev lo || exit 1
# The most descriptors and the most threads the program below PID (the last of the processes under ip and time) had
# at once, "DESCRIPTORS THREADS", sampled every 20 ms while PID lives.
most_open() {
    local most=0 threads=0 n t prog c
    while kill -0 "$1" 2>/dev/null; do
        prog=$1
        while c=$(pgrep -P "$prog" -n); do prog=$c; done
        n=$(ls "/proc/$prog/fd" 2>/dev/null | wc -l) t=$(awk '/^Threads:/ { print $2 }' "/proc/$prog/status" 2>/dev/null)
        ((n > most)) && most=$n
        ((${t:-0} > threads)) && threads=$t
        sleep 0.02
    done
    echo "$most $threads"
}
most_descriptors() { most_open "$1" | cut -d' ' -f1; }
