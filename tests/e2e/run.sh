#!/usr/bin/env bash
# tests/e2e/run.sh [--wine] BUILD_DIR - the end-to-end suite: one table of scenarios against
# BUILD_DIR/tarnwell-check (LF lines, hosts in /etc/) or, with --wine, tarnwell-check.exe under Wine
# (CRLF lines, Wine's hosts directory; WINEPREFIX and LOCPATH as tests/win32/run.sh sets them). Per
# scenario: stdout byte for byte against a report built from its pieces, stderr, exit status and time.
# Then the real window on Xvfb in scenario 2, driven with xdotool: domain typed, button clicked, report
# read back, a screenshot in BUILD_DIR/e2e-artifacts/. Needs root (else SKIPPED) for a network namespace
# of its own: lo with 192.0.2.254 (else AI_ADDRCONFIG finds no IPv4 address); hosts, resolv.conf and
# nsswitch.conf in /etc/netns/NS/; as nameserver 127.0.0.1 dnsmasq (the records below, any other name
# NXDOMAIN; on 192.0.2.1 too, an address not on loopback), 192.0.2.3 nothing (refused), the small servers
# of servers.py on 192.0.2.2 and .4 to .11, and 127.0.0.11 a dnsmasq that serves the namespace's hosts file.
set -uo pipefail
wine=
[[ ${1-} == --wine ]] && { wine=1; shift; }
[[ $# -eq 1 && -d $1 ]] || { echo "usage: $0 [--wine] BUILD_DIR" >&2; exit 64; }
[[ $(id -u) == 0 ]] || { echo "e2e: SKIPPED: needs root for network namespaces"; exit 0; }
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
ns=tarnwell-e2e-$$ net=tarnwell-net-$$
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
program() { in_ns "${run[@]}" "$@"; } # a program of the build, natively or under Wine
checker() { timeout 30 ip netns exec "$ns" "${run[@]}" "$build/tarnwell-check$exe" "$@" </dev/null; }

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
ip netns add "$net" && ip -n "$net" link set lo up && ip link add twa$$ netns "$ns" type veth peer name twb$$ netns "$net" || exit 1
ip -n "$ns" link set twa$$ up && ip -n "$net" link set twb$$ up
ip -n "$ns" addr add 192.0.2.200/32 dev twa$$ && ip -n "$net" route add 192.0.2.200/32 dev twb$$ &&
    ip -n "$net" route add 192.0.2.1/32 dev twb$$ # the relay of servers.py asks the computer's dnsmasq
ip -n "$ns" -6 addr add 2001:db8:1::1/64 dev twa$$ nodad && ip -n "$net" -6 addr add 2001:db8:1::2/64 dev twb$$ nodad
for h in {2..11} 13 31 32 {94..99}; do ip -n "$net" addr add 192.0.2.$h/32 dev lo; ip -n "$ns" route add 192.0.2.$h/32 dev twa$$; done
ip -n "$net" -6 addr add 2001:db8::31/128 dev lo nodad && ip -n "$ns" -6 route add 2001:db8::31/128 via 2001:db8:1::2
ip -n "$net" -6 route add 2001:db8::/64 via 2001:db8:1::1
in_ns dnsmasq -k -C /dev/null --no-resolv --no-hosts --user=root --group=root --pid-file= --bind-interfaces \
    --listen-address=127.0.0.1,192.0.2.1,::1 --local=/#/ --no-round-robin --log-queries --log-facility="$art/dnsmasq.log" \
    --host-record=good.test,198.51.100.10 --host-record=good.test,198.51.100.11 \
    --cname=www.chain.test,cdn.chain.test --cname=cdn.chain.test,edge.chain.test \
    --host-record=edge.chain.test,198.51.100.20 --host-record=edge.chain.test,198.51.100.21 \
    --host-record=v6sub.test,192.0.2.91,2001:db8::91 --host-record=v4only.test,192.0.2.93 \
    --host-record=dual.test,192.0.2.92,2001:db8::92 --host-record=site.test,192.0.2.31 \
    --host-record=site6.test,192.0.2.31,2001:db8::31 --host-record=other-cert.test,192.0.2.98 \
    --host-record=quiet443.test,192.0.2.97 --host-record=closed443.test,192.0.2.5 \
    --host-record=nulname.test,192.0.2.96 --host-record=longchain.test,192.0.2.95 --host-record=trickle.test,192.0.2.94 \
    --host-record=intra.corp.test,198.51.100.40 --host-record=xn--e1afmkfd.xn--p1ai,198.51.100.30 --host-record=xn--j1ail.example,198.51.100.31 &
ip netns exec "$ns" dnsmasq -k -C /dev/null --no-resolv --user=root --group=root --pid-file= --bind-interfaces \
    --listen-address=127.0.0.11,192.0.2.12 --local=/#/ --log-queries --log-facility="$art/dnsmasq-hosts.log" & echo_dns=$! # serves the hosts file
in_ns dnsmasq -k -C /dev/null --no-resolv --no-hosts --user=root --group=root --pid-file= --bind-interfaces \
    --listen-address=127.0.0.20 --address=/#/192.0.2.99 & # a rogue server: every name is a self-signed host
# A private root CA in the namespace's own trust store (ip netns exec mounts it over /etc/ssl), and the HTTPS
# stand-ins of https.py on the network: the genuine sites, another name's, a self-signed one, a silent one.
pki=$art/pki && mkdir -p "$pki" "$etc/ssl/certs" && (cd "$pki" &&
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj /CN=tarnwell-e2e-ca &&
    for c in 'site:DNS:site.test,DNS:site6.test,DNS:pool.test' 'other:DNS:other.test'; do
        openssl req -newkey rsa:2048 -nodes -keyout ${c%%:*}.key -subj /CN=${c%%:*} -addext subjectAltName=${c#*:} -out ${c%%:*}.csr &&
        openssl x509 -req -in ${c%%:*}.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 -copy_extensions copy -out ${c%%:*}.pem
    done && openssl req -x509 -newkey rsa:2048 -nodes -keyout self.key -out self.pem -days 1 -subj /CN=site.test \
        -addext subjectAltName=DNS:site.test &&
    # subjectAltName as raw DER: one dNSName, "nulname.test" NUL ".other.test"
    openssl req -newkey rsa:2048 -nodes -keyout nul.key -subj /CN=nul -out nul.csr &&
    openssl x509 -req -in nul.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 -out nul.pem -extfile <(echo \
        "subjectAltName=DER:30:1a:82:18:$(printf 'nulname.test\0.other.test' | od -An -tx1 | tr -s ' \n' ':' | sed 's/^://;s/:$//')") &&
    # a chain of 20 CAs below the root, the leaf for longchain.test; served leaf first, the root left out
    cp ca.pem ca0.pem && cp ca.key ca0.key && for k in {1..20}; do
        openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ca$k.key -subj /CN=ca$k -out ca$k.csr &&
        openssl x509 -req -in ca$k.csr -CA ca$((k - 1)).pem -CAkey ca$((k - 1)).key -CAcreateserial -days 1 -out ca$k.pem \
            -extfile <(echo basicConstraints=critical,CA:TRUE; echo keyUsage=keyCertSign) || exit 1
    done && openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout long.key -subj /CN=long -out long.csr &&
    openssl x509 -req -in long.csr -CA ca20.pem -CAkey ca20.key -CAcreateserial -days 1 -out leaf.pem \
        -extfile <(echo subjectAltName=DNS:longchain.test) && cat leaf.pem ca{20..1}.pem >long.pem
    ) >"$art/pki.log" 2>&1 && cp "$pki/ca.pem" "$etc/ssl/certs/ca-certificates.crt" || exit 1
ip netns exec "$net" python3 "$here/servers.py" 2>"$art/servers.log" &
ip netns exec "$net" python3 "$here/https.py" "$pki" 2>"$art/https.log" &
for ((i = 0; i < 50; i++)); do [[ $(in_ns ss -Hlun 'sport = :53' | wc -l) -ge 6 && $(ip netns exec "$net" ss -Hlun 'sport = :53' | wc -l) -ge 10 &&
    $(ip netns exec "$net" ss -Hltn 'sport = :443' | wc -l) -ge 9 ]] && break; sleep 0.1; done

# The report's pieces; each report function takes DOMAIN SERVER [HOST_IP [SERVER_ADDRESS...]].
lines() { printf "%s$EOL" "$@"; }
lookup() { lines "Начало проверки. Домен: [$1]" "" \
    "- Получаем IP адрес для домена [$1] от DNS службы компьютера (Эмуляция работы браузера)" "" "Результат:"; }
no_ip() { lookup "$1"; lines "Ошибка! IP для Домена  [$1] не определено" "" "Причины:" \
    "1. Отсутствует подключение к Интернет" "2. Указанный домен не существует."; }
got() { lookup "$1"; lines ${3//+/ } "" "- Получаем IP $1 (Прямой запрос на DNS сервер)"; } # HOST_IP+IPV6...
asked() { got "$@"; lines "DNS сервер определен: ${2%%,*}" "" "Результат:"; shift 3; (($#)) && lines "$@"; proved; }
proved() { # the proof block of the row, its lines apart by |
    [[ -n ${proof[$num]-} ]] || return 0
    local IFS='|'; lines "" "- Проверяем подлинность сайта [$domain] (Соединение HTTPS)" ${proof[$num]}; }
match() { asked "$@"; lines "" "IP адреса совпадают. Проблем связанных с доменом [$1] не обнаружено."; }
impostor() { asked "$@"; lines "" "Внимание! Сайт по адресу $3 не подтвердил подлинность домена [$1]. Возможна подмена IP адреса DNS сервером или в локальной сети (роутер, провайдер, вредоносная программа). Проверьте настройки DNS на компьютере и на роутере."
    culprit "$1"; }
proven() { asked "$@"; lines "" "IP адреса различаются, но сайт по адресу $3 подтвердил подлинность домена [$1] сертификатом. Подмены IP адреса не обнаружено."; }
culprit() { # the hosts file's lines for the domain: line 1 is localhost, then one per address of the row
    local n=1 ip; lines "" "Файл HOSTS: $hosts_file"
    [[ $hosts == - ]] && { lines "Строк с доменом [$1] в файле нет."; return; }
    for ip in ${hosts//,/ }; do lines "Строка $((++n)): $ip $1"; done
}
echoed() { asked "$@"; lines "" \
    "DNS сервер работает на этом компьютере и может отвечать по тому же файлу HOSTS: проверьте домен другим сервером (tarnwell-check --server АДРЕС ДОМЕН)."
    culprit "$1"; }
mismatch() { asked "$@"; lines "" "Внимание! Нет совпадения IP адреса. Подмена IP адреса в DNS службе компьютера или локальной сети. Проверьте компьютер на вирусы и файл HOSTS." \
    "" "Путь к фалу HOSTS по данным системного реестра:" "$hosts_dir"; culprit "$1"; }
inconclusive() { asked "$@"; lines "" "Нет ответа от DNS сервера. Сравнить IP адреса не удалось, повторите проверку позже."
    culprit "$1"; }
none() { :; }

# NUM EXIT DOMAIN HOSTS_IP NAMESERVER REPORT [HOST_IP SERVER_ADDRESS...] # what it is
# (- for no hosts entry; "none" as nameserver: a resolv.conf without one)
table='1 0 good.test - 127.0.0.1 match 198.51.100.10 198.51.100.10 198.51.100.11 # two A records, not in hosts
2 1 good.test 203.0.113.66 127.0.0.1 mismatch 203.0.113.66 198.51.100.10 198.51.100.11 # hosts maps it elsewhere
3 0 www.chain.test - 127.0.0.1 match 198.51.100.20 198.51.100.20 198.51.100.21 # CNAME chain ending in A
4 2 nowhere.test - 127.0.0.1 no_ip # no such domain
5 3 quiet.test 203.0.113.5 192.0.2.2 inconclusive 203.0.113.5 # the server never answers
6 3 quiet.test 203.0.113.5 192.0.2.3 inconclusive 203.0.113.5 # nothing listens on port 53
7a 0 пример.рф - 127.0.0.1 match 198.51.100.30 198.51.100.30 # IDN, Cyrillic top-level domain
7b 0 кто.example - 127.0.0.1 match 198.51.100.31 198.51.100.31 # IDN, mixed scripts
7c 2 пример-.рф - 127.0.0.1 none # IDN that IDNA rejects (a hyphen ends a label)
8 2 quiet.test 203.0.113.5 none got 203.0.113.5 # resolv.conf names no server
9 1 only-hosts.test 203.0.113.7 127.0.0.1 mismatch 203.0.113.7 # in hosts only, the server says NXDOMAIN
10 0 good.test. - 127.0.0.1 match 198.51.100.10 198.51.100.10 198.51.100.11 # trailing dot, kept as typed
11 0 good.test - 192.0.2.4 match 198.51.100.10 198.51.100.10 198.51.100.11 # 3,000 bytes: a forgery, then the reply
12 2 a..good.test - 127.0.0.1 none # empty label
64 64 - - 127.0.0.1 none # no domain: usage on stderr
74 74 good.test - 127.0.0.1 none # stdout cannot be written (/dev/full)
74c 74 good.test - 127.0.0.1 none # stdout closed (Linux: its descriptor would go to the socket)
13 3 tc.test 198.51.100.1 192.0.2.5 inconclusive 198.51.100.1 203.0.113.1 203.0.113.2 # TC set, two other addresses
14 3 cut.test 198.51.100.1 192.0.2.6 inconclusive 198.51.100.1 203.0.113.1 # cut in its last record
15 3 rdlength.test 198.51.100.1 192.0.2.7 inconclusive 198.51.100.1 # an A record of RDLENGTH 5 first
16 1 other.test 203.0.113.66 192.0.2.8 mismatch 203.0.113.66 # the address only for another name
17 0 turn.test 198.51.100.11 192.0.2.9 match 198.51.100.11 198.51.100.10 198.51.100.11 # asked again, the other address
18 1 good.test 203.0.113.9,198.51.100.11 192.0.2.1 mismatch 203.0.113.9 198.51.100.10 198.51.100.11 # hosts: a genuine second address behind another
19 2 10.70.0.4 - 127.0.0.1 none # an address typed as the domain
20 2 intra - 127.0.0.1 none # no dot: the search list would make intra.corp.test of it
21 2 exam\x1bple.test - 127.0.0.1 none # a control character
22 1 good.test - 192.0.2.10 mismatch 198.51.100.10 203.0.113.10 # only our query is answered otherwise: no hosts line
23 3 echo.test 203.0.113.77 127.0.0.11 echoed 203.0.113.77 203.0.113.77 # a local server serves the hosts file
24 3 echo.test 203.0.113.77 192.0.2.12 echoed 203.0.113.77 203.0.113.77 # the same on a LAN address of this computer
30 1 v6sub.test 2001:db8::66 127.0.0.1 mismatch 2001:db8::66 192.0.2.91 2001:db8::91 # an IPv6-only hosts line, A and AAAA in DNS
31 1 v4only.test 2001:db8::66 127.0.0.1 mismatch 2001:db8::66 192.0.2.93 # an IPv6 hosts line, only A in DNS
32 0 dual.test - 127.0.0.1 match 192.0.2.92+2001:db8::92 192.0.2.92 2001:db8::92 # dual stack, both families shown
33 0 good.test - ::1 match 198.51.100.10 198.51.100.10 198.51.100.11 # the only server is IPv6
34 0 good.test - ::1,192.0.2.2 match 198.51.100.10 198.51.100.10 198.51.100.11 # IPv6 first, a silent IPv4 second
40 0 site.test - 127.0.0.1 match 192.0.2.31 192.0.2.31 # the genuine site proves its name
41 0 site6.test - 127.0.0.1 match 192.0.2.31+2001:db8::31 192.0.2.31 2001:db8::31 # and on IPv6
42 1 any.test - 127.0.0.20 impostor 192.0.2.99 192.0.2.99 # a rogue server, a self-signed host
43 1 other-cert.test - 127.0.0.1 impostor 192.0.2.98 192.0.2.98 # a trusted certificate for another name
44 0 closed443.test - 127.0.0.1 match 192.0.2.5 192.0.2.5 # nothing on 443: the match stands
45 0 quiet443.test - 127.0.0.1 match 192.0.2.97 192.0.2.97 # accepted, never answered: the match stands
46 0 pool.test - 192.0.2.11 proven 192.0.2.31 192.0.2.32 # a pool: another genuine address to our query
47 1 site.test 192.0.2.32 127.0.0.1 mismatch 192.0.2.32 192.0.2.31 # a hosts line pins another genuine node
48 1 site.test 203.0.113.66,192.0.2.31 127.0.0.1 mismatch 192.0.2.31 192.0.2.31 # a genuine line beside a substituted one (the resolver puts the unreachable last)
49 1 nulname.test - 127.0.0.1 impostor 192.0.2.96 192.0.2.96 # a NUL inside the certificate name
50 1 longchain.test - 127.0.0.1 impostor 192.0.2.95 192.0.2.95 # a chain of 20 CAs
51 0 trickle.test - 127.0.0.1 match 192.0.2.94 192.0.2.94 # the handshake one byte at a time'
domen_error='Domen Error: Данные о домене некорректны'
ok='сертификат подтверждает домен' # the proof's lines per row; the rows without one run with --no-proof
declare -A proof=([2]='203.0.113.66: проверить не удалось (нет соединения)' [40]="192.0.2.31: $ok" [41]="2001:db8::31: $ok|192.0.2.31: $ok"
    [42]='192.0.2.99: сертификат не подтверждает домен (издатель не является доверенным)'
    [43]='192.0.2.98: сертификат не подтверждает домен (выдан для другого домена)'
    [44]='192.0.2.5: проверить не удалось (нет соединения)' [45]='192.0.2.97: проверить не удалось (нет ответа)'
    [49]='192.0.2.96: сертификат не подтверждает домен (выдан для другого домена)'
    [50]='192.0.2.95: сертификат не подтверждает домен (ошибка сертификата)'
    [51]='192.0.2.94: проверить не удалось (нет ответа)'
    [46]="192.0.2.31: $ok" [47]="192.0.2.32: $ok" [48]="192.0.2.31: $ok|203.0.113.66: проверить не удалось (нет соединения)")
declare -A stderr=([8]='Error 002: DNS сервер не определен' [12]=$domen_error [7c]=$domen_error [19]=$domen_error
    [20]=$domen_error [21]=$domen_error
    [74]='tarnwell-check: cannot write to standard output' [74c]='tarnwell-check: cannot write to standard output'
    [64]="tarnwell-check: expected at least one DOMAIN"$'\n'"Try 'tarnwell-check --help'.")

result() { # TITLE: ok, or FAIL with the reasons gathered in why (status 1)
    ((${#why[@]})) || { echo "ok   $1"; ((++passed)); return; }
    echo "FAIL $1: $(IFS=';'; echo "${why[*]}")"; ((++failed)); return 1
}
scenario() { # LINE: sets up the namespace for the table's LINE and the variables of the row
    title=${1#*# }
    read -r num status domain hosts server report args <<<"${1%% #*}"
    domain=$(printf '%b' "$domain")
    { echo '127.0.0.1 localhost'; [[ $hosts == - ]] || printf "%s $domain\n" ${hosts//,/ }; } >"$etc/hosts"
    [[ -n $wine ]] && cp "$etc/hosts" "$WINEPREFIX/drive_c/windows/system32/drivers/etc/hosts"
    [[ $server == 127.0.0.11 ]] && kill -HUP "$echo_dns" && sleep 0.3 # it reads the hosts file anew
    if [[ $server != none ]]; then printf 'search corp.test\n'; printf 'nameserver %s\n' ${server//,/ }
    else echo 'options timeout:1 attempts:1'; fi >"$etc/resolv.conf"
    $report "$domain" "$server" $args >"$art/$num.expected"
}

echo "e2e: $build/tarnwell-check$exe; outputs in $art"
[[ -n $wine ]] && program "$build/tarnwell-check.exe" --version >/dev/null 2>&1 # Wine's first start in the namespace
time_ok() { # MS: within the row's bounds (the silent server's wait; Wine's start, and Wine does not see
    local min=0 max=3000 #   the refused port, so its wait runs out)
    [[ $server == 192.0.2.2 ]] && min=4900 max=6500
    [[ $num == 45 || $num == 51 ]] && min=2500 max=4500 # the proof's bound
    [[ -n $wine ]] && max=8000
    (($1 >= min && $1 <= max))
}
run_row() { # LINE: runs tarnwell-check for the table's LINE and compares stdout, stderr, exit and time
    scenario "$1"
    # Wine: 74c, no descriptor to leak; 8, Wine's resolver takes 127.0.0.1 when resolv.conf names no server; 34,
    # Windows takes the IPv4 servers of GetNetworkParams first, and asks IPv6 ones only when it lists none.
    [[ -n $wine && $num =~ ^(74c|8|34)$ ]] && { echo "skip $num under Wine"; return; }
    local out=$art/$num.out err=$art/$num.err args=("$domain") t0 st ms
    [[ -n ${proof[$num]-} ]] || args=(--no-proof "$domain")
    why=()
    [[ $domain == - ]] && args=(--no-proof)
    [[ $num == 74 ]] && out=/dev/full
    t0=${EPOCHREALTIME/[.,]/}
    if [[ $num == 74c ]]; then checker "${args[@]}" 2>"$err" >&-; else checker "${args[@]}" 2>"$err" >"$out"; fi
    st=$?
    ms=$(((${EPOCHREALTIME/[.,]/} - t0) / 1000))
    if [[ -n ${stderr[$num]-} ]]; then echo "${stderr[$num]}"; fi >"$art/$num.expected-err"
    [[ $num == 74* ]] || cmp -s "$art/$num.expected" "$out" || why+=("report differs")
    cmp -s "$art/$num.expected-err" "$err" || why+=("stderr differs")
    ((st == status)) || why+=("exit $st, expected $status")
    time_ok "$ms" || why+=("took $ms ms")
    result "$(printf '%-3s %-46s exit %s, %s ms' "$num" "$title" "$st" "$ms")" && return
    [[ $num == 74* ]] || diff -u --label expected --label actual "$art/$num.expected" "$out" | head -30
    diff -u --label expected-stderr --label stderr "$art/$num.expected-err" "$err" | head -10
}
while read -r line; do run_row "$line"; done <<<"$table"

# The real window in scenario 2, its controls found by their layout names: by the probe in the running window
# under Wine, by object name in Qt (in the probe's window of the same class and layout). The report is read
# back by the probe under Wine, selected and read from the X selection in Qt.
if [[ -n $wine ]]; then # the probe prints the control's centre "X Y" on a line, then its text
    probe=$build/tests/win32/tarnwell-probe.exe
    click() { local at; at=$(program "$probe" "$1") && xdotool mousemove ${at%%$'\n'*} click 1; }
    text() { program "$probe" Txt_IP | tail -n +2; }
    ask() { program "$probe" --"$1"; } # ping: WM_NULL answered in 0.5 s; close: the close button's message
else
    declare -A at && for c in Cmb1 Cmd1 Txt_IP; do at[$c]=$("$build/tests/tarnwell-qt-probe" $c 2>/dev/null); done
    click() { [[ -n ${at[$1]} ]] && xdotool mousemove --window "$wid" ${at[$1]} click 1; }
    text() { click Txt_IP && xdotool key ctrl+a && xclip -o -selection primary; }
    ask() { python3 "$here/wm.py" "$1" "$wid"; } # as a window manager asks
fi
start() { # DOMAIN: the window started, DOMAIN typed and the button clicked
    program "$build/tarnwell$exe" >"$art/window.log" 2>&1 </dev/null & pid=$!
    wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Tarnwell' | head -n1) && sleep 0.5 # painted
    [[ -n $wid ]] && click Cmb1 && xdotool key End shift+Home type --delay 20 "$1" && click Cmd1 ||
        why+=("no window or xdotool failed")
}
scenario "$(grep '^2 ' <<<"$table")"
why=() shot=$art/tarnwell-window.png
start "$domain"
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
scenario "$(grep '^5 ' <<<"$table")"
for domain in quiet.test slow.test; do
    why=() && start "$domain" && sleep 1 && { ask ping || why+=("no answer mid-check"); }
    ask close && t0=${EPOCHREALTIME/[.,]/} && wait "$pid"
    st=$? ms=$(((${EPOCHREALTIME/[.,]/} - t0) / 1000))
    ((st == 0 && ms <= 1000)) || why+=("exit $st after $ms ms")
    result "$(printf '2a  %-46s exit %s, %s ms' "window answers mid-check, closes: $domain" "$st" "$ms")"
done

# Several domains, --json, --plugin, -t and --server in scenario 2 (hosts maps good.test elsewhere), with
# 127.0.0.20 a second dnsmasq that gives 192.0.2.99 for every name. ROW: EXIT ARGS ~ CHECK of stdout.
scenario "$(grep '^2 ' <<<"$table")"
num=fleet # run with --no-proof
{ mismatch good.test 127.0.0.1 203.0.113.66 198.51.100.10 198.51.100.11 && lines "" &&
    match www.chain.test 127.0.0.1 198.51.100.20 198.51.100.20 198.51.100.21; } >"$art/two.expected"
json='[.[].outcome] == ["mismatch", "match", "unresolved"] and .[0].system_address == "203.0.113.66" and .[1].rcode == 0 and .[0].server_addresses == ["198.51.100.10", "198.51.100.11"] and .[1].query_name == "www.chain.test" and .[2].server == null'
json+=' and .[0].hosts_lines == [{"line": 2, "text": "203.0.113.66 good.test"}] and (.[0].hosts_file | type) == "string" and (.[2].elapsed_ms | type) == "number"'
fleet_row() { # N EXIT ARGS ~ CHECK: tarnwell-check with ARGS; its exit and CHECK run on its stdout
    local args=${3%% ~ *} test=${3#* ~ } out=$art/fleet-$1.out err=$art/fleet-$1.err st
    why=()
    checker --no-proof $args >"$out" 2>"$err"
    st=$?
    ((st == $2)) || why+=("exit $st, expected $2")
    eval "$test" <"$out" >/dev/null || why+=("stdout: $test")
    result "$(printf 'f%-2s %-60s exit %s' "$1" "$args" "$st")" || head -5 "$out" "$err"
}
row=0
while read -r status rest; do fleet_row $((++row)) "$status" "$rest"; done <<<'1 good.test www.chain.test ~ cmp -s "$art/two.expected"
1 --json good.test www.chain.test nowhere.test ~ jq -se "$json"
0 --plugin www.chain.test ~ grep "^TARNWELL OK - www.chain.test: 198.51.100.20 among"
1 --plugin nowhere.test ~ grep "^TARNWELL WARNING - nowhere.test: no address from the system resolver|"
2 --plugin good.test www.chain.test ~ grep "^TARNWELL CRITICAL - 1 of 2 domains match; good.test: 203.0.113.66 not"
3 --plugin -t 1 --server 192.0.2.2 good.test ~ grep "^TARNWELL UNKNOWN - good.test: no usable .* 192.0.2.2|time=1\."
1 --server 127.0.0.20 www.chain.test ~ grep -x "192.0.2.99.\?"
64 --server 127.0.0.256 good.test ~ cmp -s /dev/null'

# Nagios 4 in the namespace runs docs/nagios-tarnwell.cfg (the program's path put in) for one host and a service
# per outcome, each check forced through the command file; the states read back from status.dat within 60 s.
ng=$art/nagios why=() states= && mkdir -p "$ng"
define() { printf 'define %s {\n' "$1"; printf '    %s\n' "${@:2}"; echo '}'; }
if [[ -z $wine ]]; then
    sed "s#/usr/bin/tarnwell-check#$build/tarnwell-check#" "$(dirname "$0")/../../docs/nagios-tarnwell.cfg" >"$ng/tarnwell.cfg"
    for k in log_file status_file command_file temp_file query_socket; do echo "$k=$ng/${k%_*}"; done >"$ng/nagios.cfg"
    printf '%s\n' "cfg_file=$ng/tarnwell.cfg" "cfg_file=$ng/e2e.cfg" "check_result_path=$ng" status_update_interval=1 \
        check_external_commands=1 nagios_user=root nagios_group=root enable_notifications=0 >>"$ng/nagios.cfg"
    { define contact 'contact_name nobody' {host,service}_notification_commands\ check_tarnwell
        define host 'host_name e2e' 'max_check_attempts 1'
        for s in 'match!www.chain.test' 'mismatch!good.test www.chain.test' 'inconclusive!-t 1 --server 192.0.2.2 good.test'; do
            define service 'use tarnwell-service' 'host_name e2e' "service_description ${s%%!*}" "check_command check_tarnwell!${s#*!}"
        done; } >"$ng/e2e.cfg"
    in_ns /usr/sbin/nagios4 "$ng/nagios.cfg" >"$ng/out" 2>&1 & nagios=$!
    for ((i = 0; i < 100; i++)); do [[ -p $ng/command ]] && break; sleep 0.1; done
    printf "[$(date +%s)] SCHEDULE_FORCED_SVC_CHECK;e2e;%s;$(date +%s)\n" match mismatch inconclusive | timeout 5 tee "$ng/command" >/dev/null
    for ((i = 0; i < 450; i++)); do # 60 s in all
        states=$(awk -F= '/service_description/ {s = $2} /has_been_checked/ {c = $2} /current_state/ && s && c {printf "%s=%s ", s, $2} /}/ {s = ""}' "$ng/status" 2>/dev/null)
        [[ $states == *=*=*=* ]] && break || sleep 0.1
    done
    kill "$nagios"
    [[ $states == 'inconclusive=3 match=0 mismatch=2 ' ]] || why+=("states ${states:-none}")
    result "ng  Nagios 4 runs docs/nagios-tarnwell.cfg: UNKNOWN, OK, CRITICAL" || tail -3 "$ng/log"
fi

# Many domains at once through 192.0.2.13, which never answers for silent*.test (in the hosts file). ROW:
# NAME%MAX_MS%CHECK%ARGS: tarnwell-check with ARGS within MAX_MS; CHECK on its stdout, stderr, exit ($out $err $st).
silent=$(printf ' silent%d.test' {1..20}) forty=$(for i in {1..20}; do printf ' good.test silent%d.test' $i; done)
mix='good.test silent1.test nowhere.test a..good.test www.chain.test silent2.test good.test'
printf '127.0.0.1 localhost\n203.0.113.5%s\n' "$silent" >"$etc/hosts"
[[ -n $wine ]] && cp "$etc/hosts" "$WINEPREFIX/drive_c/windows/system32/drivers/etc/hosts"
echo 'nameserver 192.0.2.13' >"$etc/resolv.conf"
printf '# the list\n\ngood.test\r\n  \n# silent ones\nsilent1.test\nnowhere.test\n' >"$art/list"
list=$art/list && [[ -n $wine ]] && list=Z:${list//\//\\}
untimed() { sed -E 's/("elapsed_ms":|time=)[0-9.]+/\1/' "$1"; }
same() { # NAME ARGS...: ARGS with -j 1 write the same but for the times, and exit alike
    local a=$art/many-$1 && shift && checker -j 1 "$@" >"$a.out1" 2>"$a.err1"
    [[ $? == "$st" && -s $out ]] && cmp -s <(untimed "$out") <(untimed "$a.out1") && cmp -s "$err" "$a.err1"
}
many_row() {
    local name=$1 max=$2 test=$3 out=$art/many-$1.out err=$art/many-$1.err t0 st ms args
    read -ra args <<<"$4"
    why=() t0=${EPOCHREALTIME/[.,]/}
    if [[ $name == stdin ]]; then timeout 30 ip netns exec "$ns" "${run[@]}" "$build/tarnwell-check$exe" "${args[@]}" <"$art/list"
    else checker "${args[@]}"; fi >"$out" 2>"$err"
    st=$? ms=$(((${EPOCHREALTIME/[.,]/} - t0) / 1000))
    [[ -n $wine ]] && max=$((max + 5000))
    ((ms <= max)) || why+=("took $ms ms")
    eval "$test" || why+=("$test")
    result "$(printf 'm%-8s %-40.40s exit %s, %s ms' "$name" "${args[*]}" "$st" "$ms")" || head -5 "$out" "$err"
}
while IFS=% read -r name max test args; do many_row "$name" "$max" "$test" "$args"; done <<EOF
forty%3000%((st == 3)) && jq -se '[.[].outcome] == [range(20) | "match", "inconclusive"]' "\$out" >/dev/null%--json -t 1 -j 40 $forty
report%4000%same report -t 1 $mix%-t 1 $mix
json%4000%same json --json -t 1 $mix%--json -t 1 $mix
plugin%4000%((st == 1)) && same plugin --plugin -t 1 $mix%--plugin -t 1 $mix
file%3000%same file -t 1 good.test good.test silent1.test nowhere.test%-t 1 good.test -f $list
stdin%3000%cmp -s "\$out" "$art/many-file.out" && cmp -s "\$err" "$art/many-file.err"%-t 1 good.test -f -
lines%3000%jq -se '[.[] | .line] == [null, 3, 6, 7]' "\$out" >/dev/null%--json -t 1 good.test -f $list
deadline%2800%((st == 3 && ms >= 1900)) && jq -se '[.[].outcome] == [range(10) | "timeout"]' "\$out" >/dev/null%--json --deadline 2 -t 5 -j 1${silent% silent11*}
EOF
why=() && checker -j 1 -t 1 silent1.test silent2.test 2>"$art/many-pipe.err" | head -c 1 >/dev/null
st=${PIPESTATUS[0]} && ((st == 74)) || why+=("exit $st")
cmp -s <(echo 'tarnwell-check: cannot write to standard output') "$art/many-pipe.err" || why+=("stderr differs")
result "mpipe     the reader of the pipe goes away (| head -c 1)     exit $st"
echo "e2e: $passed passed, $failed failed, $SECONDS s"
((failed == 0))
