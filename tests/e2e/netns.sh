#!/usr/bin/env bash
# tests/e2e/netns.sh - network-namespace harness for Tarnwell end-to-end tests.
#
# Every namespace gets: lo up, 192.0.2.254/32 on lo (so AI_ADDRCONFIG sees an
# IPv4 address), /etc/netns/NAME/hosts and /etc/netns/NAME/resolv.conf
# ("nameserver 127.0.0.1") and nsswitch.conf (host's, with "hosts: files dns"),
# which `ip netns exec` bind-mounts over the /etc files of the same name.
# Port 53 of 127.0.0.1 is then served by dnsmasq, by a listener that never
# answers, or by nothing at all.
#
# As a library (bash >= 4.4):
#   source tests/e2e/netns.sh
#   netns_require || exit $?                 # 77 = skip (not root, no netns)
#   netns_create ns '203.0.113.7 example.test'   # sets $ns, installs traps
#   netns_dnsmasq "$ns" example.test=192.0.2.1,192.0.2.2 \
#       cname:www.example.test=cdn.example.test cdn.example.test=192.0.2.9
#   netns_exec "$ns" ./build/tarnwell example.test
#   netns_silent "$ns"      # 127.0.0.1:53 swallows queries (replaces dnsmasq)
#   netns_dns_stop "$ns"    # nothing listens on port 53 -> ICMP refused
#   (cleanup runs by itself on exit, error or signal; netns_cleanup forces it)
#
# Functions (all return non-zero on failure, 77 when the test must be skipped):
#   netns_require                  root + working `ip netns`? else 77
#   netns_create VAR [HOSTS_LINE...]   new namespace tarnwell-e2e-$$-N -> $VAR
#   netns_hosts NS [HOSTS_LINE...] rewrite hosts (localhost lines + given ones)
#   netns_resolv NS [LINE...]      rewrite resolv.conf (default nameserver 127.0.0.1)
#   netns_dnsmasq NS [REC...]      (re)start dnsmasq on 127.0.0.1:53, wait ready
#       REC: NAME=IP[,IP...]       A/AAAA records (a: prefix optional)
#            cname:ALIAS=TARGET    CNAME; TARGET must itself be a record here
#            nxdomain              unknown names -> NXDOMAIN (default: REFUSED)
#            --dnsmasq-option      passed through verbatim
#   netns_silent NS [ADDR [PORT]]  (re)start the never-answering UDP listener
#   netns_dns_stop NS              stop whatever this harness runs in NS
#   netns_dns_log NS               print the path of NS's dnsmasq log
#   netns_exec NS CMD [ARG...]     run CMD inside NS, return its status (it runs as a
#                                  waited-for job, so CMD ignores SIGINT; signals to
#                                  the test clean up at once even if CMD hangs)
#   netns_destroy NS               kill NS's processes, delete NS + /etc/netns/NS
#   netns_cleanup                  destroy every namespace of this shell ($$)
# Env: NETNS_KEEP_LOGS=1 keeps the temp dir (logs); NETNS_NO_TRAP=1 installs
#      no trap (then call netns_cleanup yourself).

NETNS_SKIP=77
NETNS_PREFIX=tarnwell-e2e
NETNS_LO_ADDR=192.0.2.254/32
NETNS_DNS_ADDR=127.0.0.1
_netns_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
_netns_ok=
_netns_trapped=
_netns_seq=0
declare -gA _netns_pids=()

_netns_err() { printf 'netns.sh: %s\n' "$*" >&2; }
_netns_skip() { printf 'SKIP: netns.sh: %s\n' "$*" >&2; return "$NETNS_SKIP"; }
# Per-shell temp dir; named after $$ so subshells share it and cleanup finds it.
_netns_tmp() {
    local d="${TMPDIR:-/tmp}/$NETNS_PREFIX-$$"
    mkdir -p "$d" && printf '%s\n' "$d"
}

# Alive = exists and is not a zombie.
_netns_alive() {
    local st
    [[ -r /proc/$1/stat ]] || return 1
    read -r st </proc/"$1"/stat 2>/dev/null || return 1
    st=${st##*) }
    [[ ${st:0:1} != Z ]]
}

_netns_kill() { # PID... : TERM, up to 2 s, then KILL; reap our children
    local pid i
    for pid in "$@"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "$@"; do
        for ((i = 0; i < 40; i++)); do _netns_alive "$pid" || break; sleep 0.05; done
        if _netns_alive "$pid"; then kill -KILL "$pid" 2>/dev/null || true; sleep 0.05; fi
        wait "$pid" 2>/dev/null || true
    done
    return 0
}

netns_require() {
    [[ -n $_netns_ok ]] && return 0
    [[ $(id -u) == 0 ]] || { _netns_skip "must run as root (ip netns needs CAP_SYS_ADMIN)"; return; }
    command -v ip >/dev/null || { _netns_skip "ip (iproute2) not installed"; return; }
    command -v ss >/dev/null || { _netns_skip "ss (iproute2) not installed"; return; }
    local probe="$NETNS_PREFIX-$$-probe" out
    if ! out=$(ip netns add "$probe" 2>&1); then
        _netns_skip "'ip netns add' does not work here: $out"; return
    fi
    if ! out=$(ip netns exec "$probe" ip link set lo up 2>&1); then
        ip netns del "$probe" 2>/dev/null || true
        _netns_skip "'ip netns exec' does not work here: $out"; return
    fi
    ip netns del "$probe" 2>/dev/null || true
    mkdir -p /etc/netns 2>/dev/null || { _netns_skip "cannot create /etc/netns"; return; }
    _netns_ok=1
}

_netns_on_exit() {
    local rc=$? f
    local -
    set +eu # a failing command must not abort the cleanup (caller may use set -e)
    if ((rc != 0 && rc != NETNS_SKIP)); then
        for f in "${TMPDIR:-/tmp}/$NETNS_PREFIX-$$"/*.dnsmasq.log; do
            [[ -s $f ]] || continue
            printf -- '--- netns.sh: exit %s, tail of %s\n' "$rc" "$f" >&2
            tail -n 20 "$f" >&2
        done
    fi
    netns_cleanup
}
_netns_on_signal() {
    local -
    set +eu
    netns_cleanup
    trap - "$1" EXIT
    kill -s "$1" "$BASHPID"
}
_netns_install_trap() {
    [[ -n $_netns_trapped || -n ${NETNS_NO_TRAP-} ]] && return 0
    _netns_trapped=1
    trap _netns_on_exit EXIT
    local s
    # shellcheck disable=SC2064 # $s is meant to expand now
    for s in INT TERM HUP; do trap "_netns_on_signal $s" "$s"; done
}

_netns_write_etc() { # NS FILE LINE... (writes in place: same inode stays mounted)
    local ns=$1 file=$2
    shift 2
    [[ -d /etc/netns/$ns ]] || { _netns_err "no such namespace dir /etc/netns/$ns"; return 1; }
    printf '%s\n' "$@" >"/etc/netns/$ns/$file"
}
netns_hosts() {
    local ns=$1
    shift
    _netns_write_etc "$ns" hosts '127.0.0.1 localhost' '::1 localhost ip6-localhost' "$@"
}
netns_resolv() {
    local ns=$1
    shift
    (($#)) || set -- "nameserver $NETNS_DNS_ADDR"
    _netns_write_etc "$ns" resolv.conf "$@"
}

netns_create() { # VAR [HOSTS_LINE...]
    # locals are prefixed: the caller's VAR must not be shadowed by a local
    local -n _nc_var=$1
    shift
    netns_require || return
    local _nc_ns _nc_out
    while :; do
        _nc_ns="$NETNS_PREFIX-$$-$((++_netns_seq))"
        [[ -e /run/netns/$_nc_ns || -e /etc/netns/$_nc_ns ]] || break
    done
    _netns_install_trap
    _netns_pids[$_nc_ns]=
    if ! _nc_out=$(ip netns add "$_nc_ns" 2>&1); then
        _netns_err "ip netns add $_nc_ns: $_nc_out"; return 1
    fi
    if ! _nc_out=$({ ip -n "$_nc_ns" link set lo up &&
        ip -n "$_nc_ns" addr add "$NETNS_LO_ADDR" dev lo; } 2>&1); then
        _netns_err "setting up lo in $_nc_ns: $_nc_out"; netns_destroy "$_nc_ns"; return 1
    fi
    # nsswitch.conf too: the host's may route names to resolved/mdns/myhostname
    if ! { mkdir -p "/etc/netns/$_nc_ns" && netns_hosts "$_nc_ns" "$@" && netns_resolv "$_nc_ns" &&
        { grep -v '^[[:space:]]*hosts:' /etc/nsswitch.conf 2>/dev/null; echo 'hosts: files dns'; } \
            >"/etc/netns/$_nc_ns/nsswitch.conf"; }; then
        netns_destroy "$_nc_ns"; return 1
    fi
    _nc_var=$_nc_ns
}

netns_exec() { # NS CMD...
    local ns=$1 pid rc=0
    shift
    # Run as a waited-for background job: bash defers traps while a foreground
    # command runs, but `wait` returns at once on a trapped signal, so a
    # TERM/INT/HUP to the test cleans up even if CMD hangs. `<&0` keeps stdin.
    NETNS_NAME=$ns ip netns exec "$ns" "$@" <&0 &
    pid=$!
    wait "$pid" || rc=$?
    return "$rc"
}

netns_dns_log() { printf '%s\n' "${TMPDIR:-/tmp}/$NETNS_PREFIX-$$/$1.dnsmasq.log"; }

# NS PORT [PROTOS]: pids of processes listening on PORT in NS (default udp+tcp)
_netns_listeners() {
    local out
    out=$(ss -N "$1" -Hlnp"${3:-ut}" "sport = :$2" 2>/dev/null) || return 0
    grep -o 'pid=[0-9]*' <<<"$out" | cut -d= -f2 | sort -u
    return 0
}

netns_dns_stop() { # NS: stops what we started, and any listener on port 53 in NS
    local ns=$1 pids
    pids="${_netns_pids[$1]-} $(_netns_listeners "$ns" 53)"
    # shellcheck disable=SC2086
    _netns_kill $pids
    _netns_pids[$ns]=
    return 0
}

# NS PID PROTO(u|t...) PORT WHAT LOG: poll (bounded, ~5 s) until PID listens.
_netns_wait_listen() {
    local ns=$1 pid=$2 protos=$3 port=$4 what=$5 log=$6 i p ok
    for ((i = 0; i < 100; i++)); do
        if ! _netns_alive "$pid"; then
            wait "$pid" 2>/dev/null || true
            _netns_err "$what exited during startup in $ns (log: $log)"
            [[ -s $log ]] && tail -n 20 "$log" >&2
            return 1
        fi
        ok=1
        for p in $(fold -w1 <<<"$protos"); do
            # the socket must be PID's own, not a stale server's
            [[ $'\n'$(_netns_listeners "$ns" "$port" "$p")$'\n' == *$'\n'"$pid"$'\n'* ]] || ok=
        done
        [[ -n $ok ]] && return 0
        sleep 0.05
    done
    _netns_err "$what not listening on port $port in $ns after 5 s (log: $log)"
    return 1
}

netns_dnsmasq() { # NS [REC...]
    local ns=$1 r name ip log tmp
    shift
    command -v dnsmasq >/dev/null || {
        _netns_skip "dnsmasq not installed (apt-get install dnsmasq-base)"; return; }
    tmp=$(_netns_tmp) || return 1
    log=$(netns_dns_log "$ns")
    local -a opts=(--keep-in-foreground --conf-file=/dev/null --no-resolv --no-hosts
        --user=root --group=root --pid-file= --port=53 --bind-interfaces
        --listen-address="$NETNS_DNS_ADDR" --log-queries --log-facility="$log")
    for r in "$@"; do
        case $r in
        --*) opts+=("$r") ;;
        nxdomain) opts+=(--local=/#/) ;;
        cname:?*=?*) r=${r#cname:}; opts+=("--cname=${r%%=*},${r#*=}") ;;
        ?*=?*)
            r=${r#a:}
            name=${r%%=*}
            local -a ips=()
            IFS=, read -ra ips <<<"${r#*=}"
            for ip in "${ips[@]}"; do opts+=("--host-record=$name,$ip"); done
            ;;
        *) _netns_err "netns_dnsmasq: bad record '$r'"; return 2 ;;
        esac
    done
    netns_dns_stop "$ns"
    : >"$log"
    ip netns exec "$ns" dnsmasq "${opts[@]}" </dev/null >>"$log" 2>&1 &
    local pid=$!
    _netns_pids[$ns]=$pid
    _netns_wait_listen "$ns" "$pid" ut 53 dnsmasq "$log"
}

_netns_silent_bin() {
    local tmp src="$_netns_here/silent_udp.c"
    tmp=$(_netns_tmp) || return 1
    [[ -x $tmp/silent_udp ]] && { printf '%s\n' "$tmp/silent_udp"; return 0; }
    command -v cc >/dev/null || { _netns_skip "no C compiler (cc) to build silent_udp"; return; }
    [[ -r $src ]] || { _netns_err "missing $src"; return 1; }
    cc -O2 -o "$tmp/silent_udp" "$src" >&2 || { _netns_err "cannot compile $src"; return 1; }
    printf '%s\n' "$tmp/silent_udp"
}

netns_silent() { # NS [ADDR [PORT]]
    local ns=$1 addr=${2:-$NETNS_DNS_ADDR} port=${3:-53} bin log
    bin=$(_netns_silent_bin) || return
    log="$(_netns_tmp)/$ns.silent.log"
    netns_dns_stop "$ns"
    ip netns exec "$ns" "$bin" "$addr" "$port" </dev/null >>"$log" 2>&1 &
    local pid=$!
    _netns_pids[$ns]=$pid
    _netns_wait_listen "$ns" "$pid" u "$port" silent_udp "$log"
}

netns_destroy() { # NS
    local ns=$1 pids
    local -
    set +eu
    netns_dns_stop "$ns"
    if [[ -e /run/netns/$ns ]]; then
        # anything else a test left running inside the namespace
        pids=$(ip netns pids "$ns" 2>/dev/null)
        # shellcheck disable=SC2086
        [[ -n $pids ]] && _netns_kill $pids
        ip netns del "$ns" 2>/dev/null || _netns_err "ip netns del $ns failed"
    fi
    rm -rf "/etc/netns/$ns"
    rmdir /etc/netns 2>/dev/null # only if now empty
    unset "_netns_pids[$ns]"
    return 0
}

netns_cleanup() {
    local ns
    local -
    set +eu
    # everything named after this shell, also namespaces made in subshells
    for ns in "${!_netns_pids[@]}" $(_netns_list "$$"); do
        [[ -n $ns ]] && netns_destroy "$ns"
    done
    for ns in /etc/netns/"$NETNS_PREFIX-$$"-*; do
        [[ -e $ns ]] && netns_destroy "${ns##*/}"
    done
    if [[ -n ${NETNS_KEEP_LOGS-} ]]; then
        printf 'netns.sh: logs kept in %s\n' "${TMPDIR:-/tmp}/$NETNS_PREFIX-$$" >&2
    else
        rm -rf "${TMPDIR:-/tmp}/$NETNS_PREFIX-$$"
    fi
    return 0
}

_netns_list() { # [PID]: our namespaces (of shell PID, or of any shell)
    local name rest
    while read -r name rest; do
        [[ $name == "$NETNS_PREFIX-${1:-[0-9]*}-"* ]] && printf '%s\n' "$name"
    done < <(ip netns list 2>/dev/null)
    return 0
}
