#!/usr/bin/env bash
# tests/e2e/run.sh [--wine] BUILD_DIR - the end-to-end suite: one table of scenarios against BUILD_DIR/tarnwell-check
# (LF lines, hosts in /etc/) or, with --wine, tarnwell-check.exe under Wine (CRLF lines, Wine's hosts directory;
# WINEPREFIX and LOCPATH as tests/win32/run.sh sets them). Per scenario: stdout byte for byte against a report built
# from its pieces, stderr, exit status and time. Then the real window on Xvfb in scenario 2, driven with xdotool:
# domain typed, button clicked, report read back, a screenshot in BUILD_DIR/e2e-artifacts/.
#
# Needs root (else SKIPPED) for a network namespace of its own: lo with 192.0.2.254 (else AI_ADDRCONFIG finds no
# IPv4 address); hosts, resolv.conf and nsswitch.conf in /etc/netns/NS/; as nameserver 127.0.0.1 dnsmasq (the
# records below, any other name NXDOMAIN; on 192.0.2.1 too, an address not on loopback), 192.0.2.3 nothing
# (refused), the small servers of servers.py on 192.0.2.2 and .4 to .11, and 127.0.0.11 a dnsmasq that serves the
# namespace's hosts file.
#
# Every table below has named fields: a row is a call with KEY=VALUE arguments, a field left out is empty, and a
# key that the table does not know stops the suite.
set -uo pipefail
wine=
[[ ${1-} == --wine ]] && { wine=1; shift; }
[[ $# -eq 1 && -d $1 ]] || { echo "usage: $0 [--wine] BUILD_DIR" >&2; exit 64; }
[[ $(id -u) == 0 ]] || { echo "e2e: SKIPPED: needs root for network namespaces"; exit 0; }
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
ns=tarnwell-e2e-$$ net=tarnwell-net-$$
veth=twa$$ peer=twb$$ # the pair between this computer's namespace and the network's
etc=/etc/netns/$ns
art=$build/e2e-artifacts
passed=0 failed=0
xvfb=
if [[ -n $wine ]]; then # CRLF lines and Wine's hosts file
    run=(env LC_ALL=ru_RU.UTF-8 LANG=ru_RU.UTF-8 wine) exe=.exe EOL=$'\r\n'
    hosts_dir='c:\windows\system32\drivers\etc'
    hosts_file='C:\windows\system32\drivers\etc\hosts'
else
    run=() exe='' EOL=$'\n' hosts_dir=/etc/ hosts_file=/etc/hosts
fi
in_ns() { ip netns exec "$ns" "$@"; }
in_net() { ip netns exec "$net" "$@"; }
program() { in_ns "${run[@]}" "$@"; } # a program of the build, natively or under Wine
checker_from() { # FILE ARGS...: tarnwell-check with ARGS, FILE on its standard input
    local input=$1
    shift
    timeout 30 ip netns exec "$ns" "${run[@]}" "$build/tarnwell-check$exe" "$@" <"$input"
}
checker() { checker_from /dev/null "$@"; }

# named ARRAY 'KEY...' KEY=VALUE...: the associative ARRAY holds every KEY, empty unless a pair gives it
named() {
    local -n named_into=$1
    local named_keys=" $2 " pair
    shift 2
    named_into=()
    for pair in $named_keys; do named_into[$pair]=; done
    for pair; do
        [[ $pair == *=* && $named_keys == *" ${pair%%=*} "* ]] || { echo "e2e: unknown field: $pair" >&2; exit 70; }
        named_into[${pair%%=*}]=${pair#*=}
    done
}

cleanup() {
    trap - EXIT INT TERM HUP
    [[ -n $wine ]] && wineserver -k
    [[ -n $xvfb ]] && kill "$xvfb"
    ip netns pids "$ns" | xargs -r kill
    ip netns pids "$net" | xargs -r kill
    wait
    ip netns del "$ns"
    ip netns del "$net"
    rm -rf "$etc" && rmdir /etc/netns
} 2>/dev/null
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

missing=$(for t in dnsmasq Xvfb xdotool xclip import ss jq nagios4; do command -v $t >/dev/null || echo $t; done)
[[ -z $missing ]] || { echo "e2e: missing" $missing "(bash scripts/deps.sh test)"; exit 1; }
rm -rf "$art" && mkdir -p "$art" "$etc" || exit 1
{ grep -v '^hosts:' /etc/nsswitch.conf; echo 'hosts: files dns'; } >"$etc/nsswitch.conf"
echo '127.0.0.1 localhost' >"$etc/hosts" # before any server starts: the namespace's own from the first on
[[ -n $wine ]] && wineserver -k 2>/dev/null # Wine's server must start inside the namespace, with the display
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$art/display" 2>"$art/xvfb.log" </dev/null & xvfb=$!
for ((i = 0; i < 50; i++)); do read -r d 2>/dev/null <"$art/display" && break; sleep 0.1; done
export DISPLAY=:${d-}

ip netns add "$ns" && ip -n "$ns" link set lo up && ip -n "$ns" addr add 192.0.2.254/32 dev lo || exit 1
ip -n "$ns" -6 addr add 2001:db8::254/128 dev lo nodad # a global IPv6 address: AI_ADDRCONFIG asks for AAAA too
for h in 1 12; do ip -n "$ns" addr add 192.0.2.$h/32 dev lo; done # this computer's own servers, not on loopback
# The network: the remote servers in a namespace of their own behind a veth pair.
ip netns add "$net" && ip -n "$net" link set lo up &&
    ip link add "$veth" netns "$ns" type veth peer name "$peer" netns "$net" || exit 1
ip -n "$ns" link set "$veth" up && ip -n "$net" link set "$peer" up
ip -n "$ns" addr add 192.0.2.200/32 dev "$veth" && ip -n "$net" route add 192.0.2.200/32 dev "$peer" &&
    ip -n "$net" route add 192.0.2.1/32 dev "$peer" # the relay of servers.py asks the computer's dnsmasq
ip -n "$ns" -6 addr add 2001:db8:1::1/64 dev "$veth" nodad &&
    ip -n "$net" -6 addr add 2001:db8:1::2/64 dev "$peer" nodad
for h in {2..11} 13 31 32 {94..99}; do
    ip -n "$net" addr add 192.0.2.$h/32 dev lo
    ip -n "$ns" route add 192.0.2.$h/32 dev "$veth"
done
ip -n "$net" -6 addr add 2001:db8::31/128 dev lo nodad && ip -n "$ns" -6 route add 2001:db8::31/128 via 2001:db8:1::2
ip -n "$net" -6 route add 2001:db8::/64 via 2001:db8:1::1

# The computer's DNS server and its records, a second one that serves the hosts file (reread on SIGHUP), and a rogue
# one: every name is a self-signed host.
dnsmasq=(dnsmasq -k -C /dev/null --no-resolv --user=root --group=root --pid-file= --bind-interfaces)
records=(
    --host-record=good.test,198.51.100.10 --host-record=good.test,198.51.100.11
    --cname=www.chain.test,cdn.chain.test --cname=cdn.chain.test,edge.chain.test
    --host-record=edge.chain.test,198.51.100.20 --host-record=edge.chain.test,198.51.100.21
    --host-record=v6sub.test,192.0.2.91,2001:db8::91 --host-record=v4only.test,192.0.2.93
    --host-record=dual.test,192.0.2.92,2001:db8::92 --host-record=site.test,192.0.2.31
    --host-record=site6.test,192.0.2.31,2001:db8::31 --host-record=other-cert.test,192.0.2.98
    --host-record=quiet443.test,192.0.2.97 --host-record=closed443.test,192.0.2.5
    --host-record=nulname.test,192.0.2.96 --host-record=longchain.test,192.0.2.95
    --host-record=trickle.test,192.0.2.94 --host-record=intra.corp.test,198.51.100.40
    --host-record=xn--e1afmkfd.xn--p1ai,198.51.100.30 --host-record=xn--j1ail.example,198.51.100.31
)
in_ns "${dnsmasq[@]}" --no-hosts --listen-address=127.0.0.1,192.0.2.1,::1 --local=/#/ --no-round-robin \
    --log-queries --log-facility="$art/dnsmasq.log" "${records[@]}" &
ip netns exec "$ns" "${dnsmasq[@]}" --listen-address=127.0.0.11,192.0.2.12 --local=/#/ \
    --log-queries --log-facility="$art/dnsmasq-hosts.log" & echo_dns=$! # not in_ns: $! is dnsmasq itself
in_ns "${dnsmasq[@]}" --no-hosts --listen-address=127.0.0.20 --address=/#/192.0.2.99 &

# A private root CA in the namespace's own trust store (ip netns exec mounts it over /etc/ssl), and the HTTPS
# stand-ins of https.py on the network: the genuine sites, another name's, a self-signed one, a silent one.
issue() { # NAME SUBJECT_ALT_NAME: a key of NAME and the CA's certificate for it
    openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -subj "/CN=$1" -addext "subjectAltName=$2" -out "$1.csr" &&
        openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 -copy_extensions copy \
            -out "$1.pem"
}
make_pki() ( # DIR: the CA, the certificates and keys that https.py serves
    cd "$1" || exit 1
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj /CN=tarnwell-e2e-ca &&
        issue site DNS:site.test,DNS:site6.test,DNS:pool.test && issue other DNS:other.test &&
        openssl req -x509 -newkey rsa:2048 -nodes -keyout self.key -out self.pem -days 1 -subj /CN=site.test \
            -addext subjectAltName=DNS:site.test || exit 1
    # subjectAltName as raw DER: one dNSName, "nulname.test" NUL ".other.test"
    local name
    name=$(printf 'nulname.test\0.other.test' | od -An -tx1 | tr -s ' \n' ':' | sed 's/^://;s/:$//')
    openssl req -newkey rsa:2048 -nodes -keyout nul.key -subj /CN=nul -out nul.csr &&
        openssl x509 -req -in nul.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 -out nul.pem \
            -extfile <(echo "subjectAltName=DER:30:1a:82:18:$name") || exit 1
    # a chain of 20 CAs below the root, the leaf for longchain.test; served leaf first, the root left out
    cp ca.pem ca0.pem && cp ca.key ca0.key || exit 1
    for k in {1..20}; do
        openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ca$k.key -subj /CN=ca$k -out ca$k.csr &&
            openssl x509 -req -in ca$k.csr -CA ca$((k - 1)).pem -CAkey ca$((k - 1)).key -CAcreateserial -days 1 \
                -out ca$k.pem -extfile <(echo basicConstraints=critical,CA:TRUE; echo keyUsage=keyCertSign) || exit 1
    done
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout long.key -subj /CN=long -out long.csr &&
        openssl x509 -req -in long.csr -CA ca20.pem -CAkey ca20.key -CAcreateserial -days 1 -out leaf.pem \
            -extfile <(echo subjectAltName=DNS:longchain.test) && cat leaf.pem ca{20..1}.pem >long.pem
)
pki=$art/pki
mkdir -p "$pki" "$etc/ssl/certs" && make_pki "$pki" >"$art/pki.log" 2>&1 &&
    cp "$pki/ca.pem" "$etc/ssl/certs/ca-certificates.crt" || exit 1
in_net python3 "$here/servers.py" 2>"$art/servers.log" &
in_net python3 "$here/https.py" "$pki" 2>"$art/https.log" &
listening() { ip netns exec "$1" ss -Hl"$2"n "sport = :$3" | wc -l; } # NS u|t PORT: how many sockets listen
for ((i = 0; i < 50; i++)); do
    (($(listening "$ns" u 53) >= 6 && $(listening "$net" u 53) >= 10 && $(listening "$net" t 443) >= 9)) && break
    sleep 0.1
done

# The report's pieces, each made from the row in r: domain, server, ip, dns, hosts and proof.
lines() { printf "%s$EOL" "$@"; }
lookup() {
    lines "Начало проверки. Домен: [${r[domain]}]" "" \
        "- Получаем IP адрес для домена [${r[domain]}] от DNS службы компьютера (Эмуляция работы браузера)" "" \
        "Результат:"
}
no_ip() {
    lookup
    lines "Ошибка! IP для Домена  [${r[domain]}] не определено" "" "Причины:" \
        "1. Отсутствует подключение к Интернет" "2. Указанный домен не существует."
}
got() { lookup; lines ${r[ip]} "" "- Получаем IP ${r[domain]} (Прямой запрос на DNS сервер)"; }
asked() {
    got
    lines "DNS сервер определен: ${r[server]%% *}" "" "Результат:"
    [[ -z ${r[dns]} ]] || lines ${r[dns]}
    proved
}
proved() { # the proof block, when the row has one
    [[ -n ${r[proof]} ]] || return 0
    local proof
    IFS='|' read -ra proof <<<"${r[proof]}"
    lines "" "- Проверяем подлинность сайта [${r[domain]}] (Соединение HTTPS)" "${proof[@]}"
}
culprit() { # the hosts file's lines for the domain: line 1 is localhost, then one per address of the row
    local n=1 address
    lines "" "Файл HOSTS: $hosts_file"
    [[ -n ${r[hosts]} ]] || { lines "Строк с доменом [${r[domain]}] в файле нет."; return; }
    for address in ${r[hosts]}; do lines "Строка $((++n)): $address ${r[domain]}"; done
}
match() { asked; lines "" "IP адреса совпадают. Проблем связанных с доменом [${r[domain]}] не обнаружено."; }
impostor() {
    local text="Внимание! Сайт по адресу ${r[ip]} не подтвердил подлинность домена [${r[domain]}]."
    text+=" Возможна подмена IP адреса DNS сервером или в локальной сети (роутер, провайдер, вредоносная программа)."
    text+=" Проверьте настройки DNS на компьютере и на роутере."
    asked
    lines "" "$text"
    culprit
}
proven() {
    local text="IP адреса различаются, но сайт по адресу ${r[ip]} подтвердил подлинность домена [${r[domain]}]"
    text+=" сертификатом. Подмены IP адреса не обнаружено."
    asked
    lines "" "$text"
}
echoed() {
    local text="DNS сервер работает на этом компьютере и может отвечать по тому же файлу HOSTS:"
    text+=" проверьте домен другим сервером (tarnwell-check --server АДРЕС ДОМЕН)."
    asked
    lines "" "$text"
    culprit
}
mismatch() {
    local text="Внимание! Нет совпадения IP адреса. Подмена IP адреса в DNS службе компьютера или локальной сети."
    text+=" Проверьте компьютер на вирусы и файл HOSTS."
    asked
    lines "" "$text" "" "Путь к фалу HOSTS по данным системного реестра:" "$hosts_dir"
    culprit
}
inconclusive() {
    asked
    lines "" "Нет ответа от DNS сервера. Сравнить IP адреса не удалось, повторите проверку позже."
    culprit
}
none() { :; }
reports=' no_ip got match impostor proven echoed mismatch inconclusive none '
report_of() { # KEY=VALUE... (the table's fields): the report of such a row
    named r "$row_fields" "$@"
    "${r[report]}"
}

# The table: a row checks one domain. Its fields:
#   num        the row's name; its files in e2e-artifacts are named after it
#   exit       the exit status
#   domain     the argument (left out: no domain at all)
#   hosts      the addresses that the hosts file gives the domain, after its line for localhost
#   server     the nameservers of resolv.conf (none: a resolv.conf without one)
#   report     how stdout is made: one of the pieces above (none: empty)
#   ip, dns    the addresses in the report from the system resolver and from the server
#   proof      the proof block's lines, | between them; a row without one runs with --no-proof
#   stderr     the line(s) on stderr, less the last line feed
#   stdout     full: /dev/full, closed: no descriptor; either way the report is not compared
#   min_ms, max_ms  the time's bounds, 0 and 3,000 ms unless given; under Wine 8,000 ms at most
#   skip_wine  why the row is not run under Wine
#   about      what the row is about
row_fields='num exit domain hosts server report ip dns proof stderr stdout min_ms max_ms skip_wine about'
declare -A r=() table=() && order=()
row() { # KEY=VALUE...: a row of the table, run in the order given
    local key
    named r "$row_fields" "$@"
    [[ -n ${r[num]} && -n ${r[exit]} && $reports == *" ${r[report]} "* && ! -v table[${r[num]}.num] ]] ||
        { echo "e2e: a row needs a num of its own, an exit and a report: $*" >&2; exit 70; }
    for key in $row_fields; do table[${r[num]}.$key]=${r[$key]}; done
    order+=("${r[num]}")
}
load() { # NUM: r holds the row NUM
    local key
    for key in $row_fields; do r[$key]=${table[$1.$key]}; done
}

good=198.51.100.10 good_dns='198.51.100.10 198.51.100.11' # the addresses of good.test
domen_error='Domen Error: Данные о домене некорректны'
unwritable='tarnwell-check: cannot write to standard output'
cert_ok='сертификат подтверждает домен' cert_bad='сертификат не подтверждает домен'
unproven='проверить не удалось'

row num=1 exit=0 domain=good.test server=127.0.0.1 report=match ip=$good dns="$good_dns" \
    about='two A records, not in hosts'
row num=2 exit=1 domain=good.test hosts=203.0.113.66 server=127.0.0.1 report=mismatch ip=203.0.113.66 \
    dns="$good_dns" proof="203.0.113.66: $unproven (нет соединения)" about='hosts maps it elsewhere'
row num=3 exit=0 domain=www.chain.test server=127.0.0.1 report=match ip=198.51.100.20 \
    dns='198.51.100.20 198.51.100.21' about='CNAME chain ending in A'
row num=4 exit=2 domain=nowhere.test server=127.0.0.1 report=no_ip about='no such domain'
row num=5 exit=3 domain=quiet.test hosts=203.0.113.5 server=192.0.2.2 report=inconclusive ip=203.0.113.5 \
    min_ms=4900 max_ms=6500 about='the server never answers' # the silent server's wait
row num=6 exit=3 domain=quiet.test hosts=203.0.113.5 server=192.0.2.3 report=inconclusive ip=203.0.113.5 \
    about='nothing listens on port 53'
row num=7a exit=0 domain=пример.рф server=127.0.0.1 report=match ip=198.51.100.30 dns=198.51.100.30 \
    about='IDN, Cyrillic top-level domain'
row num=7b exit=0 domain=кто.example server=127.0.0.1 report=match ip=198.51.100.31 dns=198.51.100.31 \
    about='IDN, mixed scripts'
row num=7c exit=2 domain=пример-.рф server=127.0.0.1 report=none stderr="$domen_error" \
    about='IDN that IDNA rejects (a hyphen ends a label)'
row num=8 exit=2 domain=quiet.test hosts=203.0.113.5 server=none report=got ip=203.0.113.5 \
    stderr='Error 002: DNS сервер не определен' about='resolv.conf names no server' \
    skip_wine="Wine's resolver takes 127.0.0.1 when resolv.conf names no server"
row num=9 exit=1 domain=only-hosts.test hosts=203.0.113.7 server=127.0.0.1 report=mismatch ip=203.0.113.7 \
    about='in hosts only, the server says NXDOMAIN'
row num=10 exit=0 domain=good.test. server=127.0.0.1 report=match ip=$good dns="$good_dns" \
    about='trailing dot, kept as typed'
row num=11 exit=0 domain=good.test server=192.0.2.4 report=match ip=$good dns="$good_dns" \
    about='3,000 bytes: a forgery, then the reply'
row num=12 exit=2 domain=a..good.test server=127.0.0.1 report=none stderr="$domen_error" about='empty label'
row num=64 exit=64 server=127.0.0.1 report=none about='no domain: usage on stderr' \
    stderr="tarnwell-check: expected at least one DOMAIN"$'\n'"Try 'tarnwell-check --help'."
row num=74 exit=74 domain=good.test server=127.0.0.1 report=none stdout=full stderr="$unwritable" \
    about='stdout cannot be written (/dev/full)'
row num=74c exit=74 domain=good.test server=127.0.0.1 report=none stdout=closed stderr="$unwritable" \
    about='stdout closed (Linux: its descriptor would go to the socket)' skip_wine='no descriptor to leak'
row num=13 exit=3 domain=tc.test hosts=198.51.100.1 server=192.0.2.5 report=inconclusive ip=198.51.100.1 \
    dns='203.0.113.1 203.0.113.2' about='TC set, two other addresses'
row num=14 exit=3 domain=cut.test hosts=198.51.100.1 server=192.0.2.6 report=inconclusive ip=198.51.100.1 \
    dns=203.0.113.1 about='cut in its last record'
row num=15 exit=3 domain=rdlength.test hosts=198.51.100.1 server=192.0.2.7 report=inconclusive ip=198.51.100.1 \
    about='an A record of RDLENGTH 5 first'
row num=16 exit=1 domain=other.test hosts=203.0.113.66 server=192.0.2.8 report=mismatch ip=203.0.113.66 \
    about='the address only for another name'
row num=17 exit=0 domain=turn.test hosts=198.51.100.11 server=192.0.2.9 report=match ip=198.51.100.11 \
    dns="$good_dns" about='asked again, the other address'
row num=18 exit=1 domain=good.test hosts='203.0.113.9 198.51.100.11' server=192.0.2.1 report=mismatch \
    ip=203.0.113.9 dns="$good_dns" about='hosts: a genuine second address behind another'
row num=19 exit=2 domain=10.70.0.4 server=127.0.0.1 report=none stderr="$domen_error" \
    about='an address typed as the domain'
row num=20 exit=2 domain=intra server=127.0.0.1 report=none stderr="$domen_error" \
    about='no dot: the search list would make intra.corp.test of it'
row num=21 exit=2 domain=$'exam\x1bple.test' server=127.0.0.1 report=none stderr="$domen_error" \
    about='a control character'
row num=22 exit=1 domain=good.test server=192.0.2.10 report=mismatch ip=$good dns=203.0.113.10 \
    about='only our query is answered otherwise: no hosts line'
row num=23 exit=3 domain=echo.test hosts=203.0.113.77 server=127.0.0.11 report=echoed ip=203.0.113.77 \
    dns=203.0.113.77 about='a local server serves the hosts file'
row num=24 exit=3 domain=echo.test hosts=203.0.113.77 server=192.0.2.12 report=echoed ip=203.0.113.77 \
    dns=203.0.113.77 about='the same on a LAN address of this computer'
row num=30 exit=1 domain=v6sub.test hosts=2001:db8::66 server=127.0.0.1 report=mismatch ip=2001:db8::66 \
    dns='192.0.2.91 2001:db8::91' about='an IPv6-only hosts line, A and AAAA in DNS'
row num=31 exit=1 domain=v4only.test hosts=2001:db8::66 server=127.0.0.1 report=mismatch ip=2001:db8::66 \
    dns=192.0.2.93 about='an IPv6 hosts line, only A in DNS'
row num=32 exit=0 domain=dual.test server=127.0.0.1 report=match ip='192.0.2.92 2001:db8::92' \
    dns='192.0.2.92 2001:db8::92' about='dual stack, both families shown'
row num=33 exit=0 domain=good.test server=::1 report=match ip=$good dns="$good_dns" about='the only server is IPv6'
row num=34 exit=0 domain=good.test server='::1 192.0.2.2' report=match ip=$good dns="$good_dns" \
    about='IPv6 first, a silent IPv4 second' \
    skip_wine="Windows takes the IPv4 servers of GetNetworkParams first, and asks IPv6 ones only when it lists none"
row num=40 exit=0 domain=site.test server=127.0.0.1 report=match ip=192.0.2.31 dns=192.0.2.31 \
    proof="192.0.2.31: $cert_ok" about='the genuine site proves its name'
row num=41 exit=0 domain=site6.test server=127.0.0.1 report=match ip='192.0.2.31 2001:db8::31' \
    dns='192.0.2.31 2001:db8::31' proof="2001:db8::31: $cert_ok|192.0.2.31: $cert_ok" about='and on IPv6'
row num=42 exit=1 domain=any.test server=127.0.0.20 report=impostor ip=192.0.2.99 dns=192.0.2.99 \
    proof="192.0.2.99: $cert_bad (издатель не является доверенным)" about='a rogue server, a self-signed host'
row num=43 exit=1 domain=other-cert.test server=127.0.0.1 report=impostor ip=192.0.2.98 dns=192.0.2.98 \
    proof="192.0.2.98: $cert_bad (выдан для другого домена)" about='a trusted certificate for another name'
row num=44 exit=0 domain=closed443.test server=127.0.0.1 report=match ip=192.0.2.5 dns=192.0.2.5 \
    proof="192.0.2.5: $unproven (нет соединения)" about='nothing on 443: the match stands'
row num=45 exit=0 domain=quiet443.test server=127.0.0.1 report=match ip=192.0.2.97 dns=192.0.2.97 \
    proof="192.0.2.97: $unproven (нет ответа)" min_ms=2500 max_ms=4500 \
    about='accepted, never answered: the match stands' # the proof's bound
row num=46 exit=0 domain=pool.test server=192.0.2.11 report=proven ip=192.0.2.31 dns=192.0.2.32 \
    proof="192.0.2.31: $cert_ok" about='a pool: another genuine address to our query'
row num=47 exit=1 domain=site.test hosts=192.0.2.32 server=127.0.0.1 report=mismatch ip=192.0.2.32 dns=192.0.2.31 \
    proof="192.0.2.32: $cert_ok" about='a hosts line pins another genuine node'
row num=48 exit=1 domain=site.test hosts='203.0.113.66 192.0.2.31' server=127.0.0.1 report=mismatch \
    ip=192.0.2.31 dns=192.0.2.31 proof="192.0.2.31: $cert_ok|203.0.113.66: $unproven (нет соединения)" \
    about='a genuine line beside a substituted one (the resolver puts the unreachable last)'
row num=49 exit=1 domain=nulname.test server=127.0.0.1 report=impostor ip=192.0.2.96 dns=192.0.2.96 \
    proof="192.0.2.96: $cert_bad (выдан для другого домена)" about='a NUL inside the certificate name'
row num=50 exit=1 domain=longchain.test server=127.0.0.1 report=impostor ip=192.0.2.95 dns=192.0.2.95 \
    proof="192.0.2.95: $cert_bad (ошибка сертификата)" about='a chain of 20 CAs'
row num=51 exit=0 domain=trickle.test server=127.0.0.1 report=match ip=192.0.2.94 dns=192.0.2.94 \
    proof="192.0.2.94: $unproven (нет ответа)" min_ms=2500 max_ms=4500 about='the handshake one byte at a time'

result() { # TITLE: ok, or FAIL with the reasons gathered in why (status 1)
    ((${#why[@]})) || { echo "ok   $1"; ((++passed)); return; }
    echo "FAIL $1: $(IFS=';'; echo "${why[*]}")"; ((++failed)); return 1
}
scenario() { # NUM: r holds the row NUM, the namespace is set up for it and its report is expected
    load "$1"
    local address
    {
        echo '127.0.0.1 localhost'
        for address in ${r[hosts]}; do printf '%s %s\n' "$address" "${r[domain]}"; done
    } >"$etc/hosts"
    [[ -n $wine ]] && cp "$etc/hosts" "$WINEPREFIX/drive_c/windows/system32/drivers/etc/hosts"
    [[ ${r[server]} == 127.0.0.11 ]] && kill -HUP "$echo_dns" && sleep 0.3 # it reads the hosts file anew
    if [[ ${r[server]} != none ]]; then printf 'search corp.test\n'; printf 'nameserver %s\n' ${r[server]}
    else echo 'options timeout:1 attempts:1'; fi >"$etc/resolv.conf"
    "${r[report]}" >"$art/${r[num]}.expected"
}

echo "e2e: $build/tarnwell-check$exe; outputs in $art"
[[ -n $wine ]] && program "$build/tarnwell-check.exe" --version >/dev/null 2>&1 # Wine's first start in the namespace
time_ok() { # MS: within the row's bounds (Wine's start, and Wine does not see the refused port, so its wait runs out)
    local min=${r[min_ms]:-0} max=${r[max_ms]:-3000}
    [[ -n $wine ]] && max=8000
    (($1 >= min && $1 <= max))
}
run_row() { # NUM: runs tarnwell-check for the row NUM and compares stdout, stderr, exit and time
    scenario "$1"
    [[ -n $wine && -n ${r[skip_wine]} ]] && { echo "skip ${r[num]} under Wine"; return; }
    local num=${r[num]} args=("${r[domain]}") t0 st ms
    local out=$art/$num.out err=$art/$num.err
    [[ -n ${r[proof]} ]] || args=(--no-proof "${r[domain]}")
    [[ -n ${r[domain]} ]] || args=(--no-proof)
    [[ ${r[stdout]} == full ]] && out=/dev/full
    why=()
    t0=${EPOCHREALTIME/[.,]/}
    if [[ ${r[stdout]} == closed ]]; then
        checker "${args[@]}" 2>"$err" >&-
    else
        checker "${args[@]}" 2>"$err" >"$out"
    fi
    st=$?
    ms=$(((${EPOCHREALTIME/[.,]/} - t0) / 1000))
    if [[ -n ${r[stderr]} ]]; then echo "${r[stderr]}"; fi >"$art/$num.expected-err"
    [[ -n ${r[stdout]} ]] || cmp -s "$art/$num.expected" "$out" || why+=("report differs")
    cmp -s "$art/$num.expected-err" "$err" || why+=("stderr differs")
    ((st == r[exit])) || why+=("exit $st, expected ${r[exit]}")
    time_ok "$ms" || why+=("took $ms ms")
    result "$(printf '%-3s %-46s exit %s, %s ms' "$num" "${r[about]}" "$st" "$ms")" && return
    [[ -n ${r[stdout]} ]] || diff -u --label expected --label actual "$art/$num.expected" "$out" | head -30
    diff -u --label expected-stderr --label stderr "$art/$num.expected-err" "$err" | head -10
}
for num in "${order[@]}"; do run_row "$num"; done

# The real window in scenario 2, its controls found by their object names (the layout's names): by the probe in the
# running window under Wine, in Qt by tests/tarnwell-qt-probe in a window of its own of the same class and layout.
# The report is read back by the probe under Wine, selected and read from the X selection in Qt.
if [[ -n $wine ]]; then # the probe prints the control's centre "X Y" on a line, then its text
    probe=$build/tests/win32/tarnwell-probe.exe
    click() { local at; at=$(program "$probe" "$1") && xdotool mousemove ${at%%$'\n'*} click 1; }
    text() { program "$probe" Txt_IP | tail -n +2; }
    ask() { program "$probe" --"$1"; } # ping: WM_NULL answered in 0.5 s; close: the close button's message
else # the probe prints the centre "X Y" of the control in the window's pixels
    declare -A centre=()
    for name in Cmb1 Cmd1 Txt_IP; do centre[$name]=$("$build/tests/tarnwell-qt-probe" "$name" 2>/dev/null); done
    click() { [[ -n ${centre[$1]} ]] && xdotool mousemove --window "$wid" ${centre[$1]} click 1; }
    text() { click Txt_IP && xdotool key ctrl+a && xclip -o -selection primary; }
    ask() { python3 "$here/wm.py" "$1" "$wid"; } # as a window manager asks
fi
start() { # DOMAIN: the window started, DOMAIN typed and the button clicked
    program "$build/tarnwell$exe" >"$art/window.log" 2>&1 </dev/null & pid=$!
    wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Tarnwell' | head -n1) && sleep 0.5 # painted
    [[ -n $wid ]] && click Cmb1 && xdotool key End shift+Home type --delay 20 "$1" && click Cmd1 ||
        why+=("no window or xdotool failed")
}
scenario 2
why=() shot=$art/tarnwell-window.png
start "${r[domain]}"
for ((i = 0; i < 50; i++)); do
    text >"$art/window.txt" 2>/dev/null && cmp -s "$art/2.expected" "$art/window.txt" && break || sleep 0.2
done
((i < 50)) || why+=("report differs")
xdotool key ctrl+Home sleep 0.3 # no selection in the picture
import -window "${wid:-root}" "$shot" 2>/dev/null
[[ $(identify -format '%[fx:standard_deviation>0.05]' "$shot" 2>/dev/null) == 1 ]] || why+=("blank screenshot")
result "2w  tarnwell$exe window: report read back, $shot" ||
    diff -u --label expected --label window "$art/2.expected" "$art/window.txt" | head -30
ask close && wait "$pid"

# Mid-check against the silent server of scenario 5, waiting for its reply (quiet.test is in hosts) and in the
# system resolver (slow.test is not): the window answers, and closed, the program exits 0 within 1 s.
scenario 5
for domain in quiet.test slow.test; do
    why=() && start "$domain" && sleep 1 && { ask ping || why+=("no answer mid-check"); }
    ask close && t0=${EPOCHREALTIME/[.,]/} && wait "$pid"
    st=$? ms=$(((${EPOCHREALTIME/[.,]/} - t0) / 1000))
    ((st == 0 && ms <= 1000)) || why+=("exit $st after $ms ms")
    result "$(printf '2a  %-46s exit %s, %s ms' "window answers mid-check, closes: $domain" "$st" "$ms")"
done

# Several domains, --json, --plugin, -t and --server in scenario 2 (hosts maps good.test elsewhere), with
# 127.0.0.20 a second dnsmasq that gives 192.0.2.99 for every name. A row: args (after --no-proof), exit, and one
# check of stdout: same (a file it equals), jq (a filter true of it), grep (a basic regular expression that a line
# of it matches) or line (one that a whole line matches).
scenario 2
{
    report_of report=mismatch domain=good.test server=127.0.0.1 hosts=203.0.113.66 ip=203.0.113.66 dns="$good_dns"
    lines ""
    report_of report=match domain=www.chain.test server=127.0.0.1 ip=198.51.100.20 dns='198.51.100.20 198.51.100.21'
} >"$art/two.expected"
json='[.[].outcome] == ["mismatch", "match", "unresolved"] and .[0].system_address == "203.0.113.66"'
json+=' and .[1].rcode == 0 and .[0].server_addresses == ["198.51.100.10", "198.51.100.11"]'
json+=' and .[1].query_name == "www.chain.test" and .[2].server == null'
json+=' and .[0].hosts_lines == [{"line": 2, "text": "203.0.113.66 good.test"}]'
json+=' and (.[0].hosts_file | type) == "string" and (.[2].elapsed_ms | type) == "number"'
fleets=0
fleet() { # KEY=VALUE...: tarnwell-check --no-proof with the row's args; its exit and the check of its stdout
    local -A f
    named f 'args exit same jq grep line' "$@"
    local n=$((++fleets)) args st
    local out=$art/fleet-$n.out err=$art/fleet-$n.err
    read -ra args <<<"${f[args]}"
    why=()
    checker --no-proof "${args[@]}" >"$out" 2>"$err"
    st=$?
    ((st == f[exit])) || why+=("exit $st, expected ${f[exit]}")
    if [[ -n ${f[same]} ]]; then cmp -s "${f[same]}" "$out" || why+=("stdout: not the same as ${f[same]}"); fi
    if [[ -n ${f[jq]} ]]; then jq -se "${f[jq]}" <"$out" >/dev/null || why+=("stdout: not jq ${f[jq]}"); fi
    if [[ -n ${f[grep]} ]]; then grep "${f[grep]}" <"$out" >/dev/null || why+=("stdout: no ${f[grep]}"); fi
    if [[ -n ${f[line]} ]]; then grep -x "${f[line]}" <"$out" >/dev/null || why+=("stdout: no line ${f[line]}"); fi
    result "$(printf 'f%-2s %-60s exit %s' "$n" "${f[args]}" "$st")" || head -5 "$out" "$err"
}
fleet exit=1 args='good.test www.chain.test' same="$art/two.expected"
fleet exit=1 args='--json good.test www.chain.test nowhere.test' jq="$json"
fleet exit=0 args='--plugin www.chain.test' grep='^TARNWELL OK - www.chain.test: 198.51.100.20 among'
fleet exit=1 args='--plugin nowhere.test' grep='^TARNWELL WARNING - nowhere.test: no address from the system resolver|'
fleet exit=2 args='--plugin good.test www.chain.test' \
    grep='^TARNWELL CRITICAL - 1 of 2 domains match; good.test: 203.0.113.66 not'
fleet exit=3 args='--plugin -t 1 --server 192.0.2.2 good.test' \
    grep='^TARNWELL UNKNOWN - good.test: no usable .* 192.0.2.2|time=1\.'
fleet exit=1 args='--server 127.0.0.20 www.chain.test' line='192.0.2.99.\?'
fleet exit=64 args='--server 127.0.0.256 good.test' same=/dev/null

# Nagios 4 in the namespace runs docs/nagios-tarnwell.cfg (the program's path put in) for one host and a service per
# outcome, each check forced through the command file; the states read back from status.dat within 60 s. A service:
# its name, the check's args and the state it must reach.
declare -A service_args=() service_state=() && services=()
nagios_service() {
    local -A s
    named s 'name args state' "$@"
    services+=("${s[name]}") service_args[${s[name]}]=${s[args]} service_state[${s[name]}]=${s[state]}
}
nagios_service name=match args=www.chain.test state=0
nagios_service name=mismatch args='good.test www.chain.test' state=2
nagios_service name=inconclusive args='-t 1 --server 192.0.2.2 good.test' state=3
ng=$art/nagios why=() states= && mkdir -p "$ng"
define() { printf 'define %s {\n' "$1"; printf '    %s\n' "${@:2}"; echo '}'; }
if [[ -z $wine ]]; then
    sed "s#/usr/bin/tarnwell-check#$build/tarnwell-check#" "$here/../../docs/nagios-tarnwell.cfg" >"$ng/tarnwell.cfg"
    for k in log_file status_file command_file temp_file query_socket; do echo "$k=$ng/${k%_*}"; done >"$ng/nagios.cfg"
    printf '%s\n' "cfg_file=$ng/tarnwell.cfg" "cfg_file=$ng/e2e.cfg" "check_result_path=$ng" status_update_interval=1 \
        check_external_commands=1 nagios_user=root nagios_group=root enable_notifications=0 >>"$ng/nagios.cfg"
    {
        define contact 'contact_name nobody' {host,service}_notification_commands\ check_tarnwell
        define host 'host_name e2e' 'max_check_attempts 1'
        for name in "${services[@]}"; do
            define service 'use tarnwell-service' 'host_name e2e' "service_description $name" \
                "check_command check_tarnwell!${service_args[$name]}"
        done
    } >"$ng/e2e.cfg"
    in_ns /usr/sbin/nagios4 "$ng/nagios.cfg" >"$ng/out" 2>&1 & nagios=$!
    for ((i = 0; i < 100; i++)); do [[ -p $ng/command ]] && break; sleep 0.1; done
    printf "[$(date +%s)] SCHEDULE_FORCED_SVC_CHECK;e2e;%s;$(date +%s)\n" "${services[@]}" |
        timeout 5 tee "$ng/command" >/dev/null
    for ((i = 0; i < 450; i++)); do # 60 s in all
        states=$(awk -F= '/service_description/ {s = $2} /has_been_checked/ {c = $2}
            /current_state/ && s && c {printf "%s=%s ", s, $2} /}/ {s = ""}' "$ng/status" 2>/dev/null)
        read -ra checked <<<"$states"
        ((${#checked[@]} == ${#services[@]})) && break || sleep 0.1
    done
    kill "$nagios"
    wanted=$(for name in $(printf '%s\n' "${services[@]}" | sort); do
        printf '%s=%s ' "$name" "${service_state[$name]}"
    done)
    [[ $states == "$wanted" ]] || why+=("states ${states:-none}")
    result "ng  Nagios 4 runs docs/nagios-tarnwell.cfg: UNKNOWN, OK, CRITICAL" || tail -3 "$ng/log"
fi

# Many domains at once through 192.0.2.13, which never answers for silent*.test (in the hosts file). A row: name,
# args and max_ms: tarnwell-check with those arguments within that time (5 s more under Wine), stdin a file it reads
# (else none). What it must do besides: exit (its status), min_ms (the least time), jq (a filter true of its stdout),
# serial (arguments that with -j 1 write the same but for the times, and exit alike), like (a row whose stdout and
# stderr these equal).
silent=$(printf ' silent%d.test' {1..20}) forty=$(for i in {1..20}; do printf ' good.test silent%d.test' $i; done)
mix='good.test silent1.test nowhere.test a..good.test www.chain.test silent2.test good.test'
printf '127.0.0.1 localhost\n203.0.113.5%s\n' "$silent" >"$etc/hosts"
[[ -n $wine ]] && cp "$etc/hosts" "$WINEPREFIX/drive_c/windows/system32/drivers/etc/hosts"
echo 'nameserver 192.0.2.13' >"$etc/resolv.conf"
printf '# the list\n\ngood.test\r\n  \n# silent ones\nsilent1.test\nnowhere.test\n' >"$art/list"
list=$art/list && [[ -n $wine ]] && list=Z:${list//\//\\}
untimed() { sed -E 's/("elapsed_ms":|time=)[0-9.]+/\1/' "$1"; }
serially() { # the row's serial arguments with -j 1 write what OUT and ERR hold but for the times, and exit ST
    local a=$art/many-${m[name]} serial
    read -ra serial <<<"${m[serial]}"
    checker -j 1 "${serial[@]}" >"$a.out1" 2>"$a.err1"
    [[ $? == "$st" && -s $out ]] && cmp -s <(untimed "$out") <(untimed "$a.out1") && cmp -s "$err" "$a.err1"
}
many() { # KEY=VALUE...: a row of the table above
    local -A m
    named m 'name args max_ms stdin exit min_ms jq serial like' "$@"
    local out=$art/many-${m[name]}.out err=$art/many-${m[name]}.err max=${m[max_ms]} t0 st ms args
    read -ra args <<<"${m[args]}"
    why=() t0=${EPOCHREALTIME/[.,]/}
    checker_from "${m[stdin]:-/dev/null}" "${args[@]}" >"$out" 2>"$err"
    st=$? ms=$(((${EPOCHREALTIME/[.,]/} - t0) / 1000))
    [[ -n $wine ]] && max=$((max + 5000))
    ((ms <= max)) || why+=("took $ms ms")
    [[ -z ${m[exit]} ]] || ((st == m[exit])) || why+=("exit $st, expected ${m[exit]}")
    [[ -z ${m[min_ms]} ]] || ((ms >= m[min_ms])) || why+=("took $ms ms, less than ${m[min_ms]}")
    [[ -z ${m[jq]} ]] || jq -se "${m[jq]}" "$out" >/dev/null || why+=("stdout: not jq ${m[jq]}")
    [[ -z ${m[serial]} ]] || serially || why+=("not as with -j 1 ${m[serial]}")
    [[ -z ${m[like]} ]] || { cmp -s "$out" "$art/many-${m[like]}.out" && cmp -s "$err" "$art/many-${m[like]}.err"; } ||
        why+=("not as the row ${m[like]}")
    result "$(printf 'm%-8s %-40.40s exit %s, %s ms' "${m[name]}" "${args[*]}" "$st" "$ms")" || head -5 "$out" "$err"
}
many name=forty args="--json -t 1 -j 40 $forty" max_ms=3000 exit=3 \
    jq='[.[].outcome] == [range(20) | "match", "inconclusive"]'
many name=report args="-t 1 $mix" max_ms=4000 serial="-t 1 $mix"
many name=json args="--json -t 1 $mix" max_ms=4000 serial="--json -t 1 $mix"
many name=plugin args="--plugin -t 1 $mix" max_ms=4000 exit=1 serial="--plugin -t 1 $mix"
many name=file args="-t 1 good.test -f $list" max_ms=3000 serial='-t 1 good.test good.test silent1.test nowhere.test'
many name=stdin args='-t 1 good.test -f -' stdin="$art/list" max_ms=3000 like=file
many name=lines args="--json -t 1 good.test -f $list" max_ms=3000 jq='[.[] | .line] == [null, 3, 6, 7]'
many name=deadline args="--json --deadline 2 -t 5 -j 1 ${silent% silent11*}" max_ms=2800 exit=3 min_ms=1900 \
    jq='[.[].outcome] == [range(10) | "timeout"]'
why=() && checker -j 1 -t 1 silent1.test silent2.test 2>"$art/many-pipe.err" | head -c 1 >/dev/null
st=${PIPESTATUS[0]} && ((st == 74)) || why+=("exit $st")
cmp -s <(echo "$unwritable") "$art/many-pipe.err" || why+=("stderr differs")
result "mpipe     the reader of the pipe goes away (| head -c 1)     exit $st"
echo "e2e: $passed passed, $failed failed, $SECONDS s"
((failed == 0))
