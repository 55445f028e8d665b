#!/usr/bin/env bash
# tests/e2e/run.sh BUILD_DIR - the end-to-end suite.
#
# Every scenario gets a network namespace of its own (tests/e2e/netns.sh):
# loopback only, its own hosts file and resolv.conf ("nameserver 127.0.0.1"),
# and on 127.0.0.1:53 a dnsmasq with the scenario's records, a listener that
# never answers, or nothing. Nothing leaves the machine and nothing outside
# the namespaces is asked. Each scenario runs twice:
#   console  BUILD_DIR/tarnwell-check DOMAIN: stdout, stderr, exit status
#   window   BUILD_DIR/tests/tarnwell_e2e_window_tests: the check in the Qt
#            window (offscreen) with the real platform layer; also compares
#            its report with the console's, byte for byte
# and the whole report must equal one built here from the report's pieces.
# Scenario 2 also drives the real BUILD_DIR/tarnwell under Xvfb with xdotool
# and keeps screenshots in BUILD_DIR/e2e-artifacts/ (with every output).
# Needs root and working `ip netns`; without them it says SKIPPED, exit 0.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
[[ $# -eq 1 && -d $1 ]] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
art=$build/e2e-artifacts

scenarios=(s1 s2 s3 s4 s5 s6 s7a s7b s7c s8)
checks=$((${#scenarios[@]} * 2 + 1)) # two modes each, and the program under Xvfb

NETNS_NO_TRAP=1 # this script cleans up itself (Xvfb and the program too)
# shellcheck source=tests/e2e/netns.sh
source "$here/netns.sh"

reason=$(netns_require 2>&1)
rc=$?
if ((rc == NETNS_SKIP)); then
    echo "e2e: SKIPPED: ${reason#SKIP: netns.sh: }"
    echo "e2e: 0 passed, 0 failed, $checks skipped"
    exit 0
fi
if ((rc != 0)) || ! netns_require; then
    echo "e2e: cannot use network namespaces: $reason" >&2
    exit 1
fi

missing=()
for f in tarnwell-check tarnwell tests/tarnwell_e2e_window_tests; do
    [[ -x $build/$f ]] || missing+=("$build/$f")
done
for t in dnsmasq cc Xvfb xdotool import identify compare timeout; do
    command -v "$t" >/dev/null || missing+=("$t")
done
if ((${#missing[@]})); then
    echo "e2e: missing ${missing[*]} (build BUILD_DIR; bash scripts/deps.sh build test)" >&2
    echo "e2e: 0 passed, $checks failed"
    exit 1
fi

xvfb_pid='' gui_pid=''
cleanup() {
    local -
    set +eu
    # _netns_kill: TERM, up to 2 s, then KILL, and reap
    [[ -n $gui_pid ]] && _netns_kill "$gui_pid"
    [[ -n $xvfb_pid ]] && _netns_kill "$xvfb_pid"
    gui_pid='' xvfb_pid=''
    netns_cleanup
}
trap cleanup EXIT
for sig in INT TERM HUP; do
    # shellcheck disable=SC2064 # $sig is meant to expand now
    trap "cleanup; trap - $sig EXIT; kill -s $sig \$\$" "$sig"
done

rm -rf "$art"
mkdir -p "$art" || exit 1

passed=0 failed=0
result() { # OK(0/1) MODE DETAIL
    local line
    line=$(printf '%-3s %-34s %-8s %s' "$num" "$title" "$2" "$3")
    if (($1)); then
        echo "ok   $line"
        ((++passed))
    else
        echo "FAIL $line"
        ((++failed))
    fi
}
now_us() { echo "${EPOCHREALTIME/[.,]/}"; }
as_console() { cat "$1"; [[ -z $(tail -c1 "$1") ]] || echo; } # the console ends the report with a line break

# shellcheck source=tests/e2e/reports.sh
source "$here/reports.sh"

expect() { # REPORT_FUNCTION ARG...: one more acceptable report
    local f=$art/$num.expected.$((${#expected[@]} + 1)).txt
    "$@" >"$f"
    expected+=("$f")
}
expect_two() { # REPORT_FUNCTION DOMAIN A B: either address first at the resolver and the server
    local ip
    for ip in "$3" "$4"; do
        expect "$1" "$2" "$ip" "$3" "$4"
        expect "$1" "$2" "$ip" "$4" "$3"
    done
}
box() { printf '%s\n' "$1" >>"$boxes"; } # one expected message box "TITLE: PROMPT"

begin() { # NUM TITLE DOMAIN STATUS [HOSTS_LINE...]
    num=$1 title=$2 domain=$3 status=$4
    shift 4
    expected=() min_ms=0 max_ms=2000
    boxes=$art/$num.boxes
    : >"$boxes"
    netns_create ns "$@"
}

# The scenarios: namespace, DNS server, expected reports.
s1() {
    begin 1 "two A records, not in hosts" good.test 0 &&
        netns_dnsmasq "$ns" good.test=198.51.100.10,198.51.100.11 --no-round-robin &&
        expect_two r_match good.test 198.51.100.10 198.51.100.11
}
s2() {
    gui=1 # also the real program under Xvfb
    begin 2 "hosts maps it elsewhere" good.test 1 '203.0.113.66 good.test' &&
        netns_dnsmasq "$ns" good.test=198.51.100.10,198.51.100.11 --no-round-robin &&
        expect r_mismatch good.test 203.0.113.66 198.51.100.10 198.51.100.11 &&
        expect r_mismatch good.test 203.0.113.66 198.51.100.11 198.51.100.10
}
s3() {
    begin 3 "CNAME chain ending in A records" www.chain.test 0 &&
        netns_dnsmasq "$ns" cname:www.chain.test=cdn.chain.test cname:cdn.chain.test=edge.chain.test \
            edge.chain.test=198.51.100.20,198.51.100.21 --no-round-robin &&
        expect_two r_match www.chain.test 198.51.100.20 198.51.100.21
}
s4() {
    begin 4 "domain does not exist" nowhere.test 2 &&
        netns_dnsmasq "$ns" good.test=198.51.100.10 nxdomain &&
        expect r_no_ip nowhere.test
}
s5() {
    begin 5 "server never answers" quiet.test 3 '203.0.113.5 quiet.test' &&
        netns_silent "$ns" &&
        expect r_mismatch quiet.test 203.0.113.5 &&
        min_ms=4900 max_ms=6000
}
s6() {
    begin 6 "nothing listens on port 53" quiet.test 3 '203.0.113.5 quiet.test' &&
        expect r_mismatch quiet.test 203.0.113.5
}
s7a() {
    begin 7a "IDN, Cyrillic top-level domain" пример.рф 0 &&
        netns_dnsmasq "$ns" xn--e1afmkfd.xn--p1ai=198.51.100.30 nxdomain &&
        expect r_match пример.рф 198.51.100.30 198.51.100.30
}
s7b() {
    begin 7b "IDN, mixed scripts" кто.example 0 &&
        netns_dnsmasq "$ns" xn--j1ail.example=198.51.100.31 nxdomain &&
        expect r_match кто.example 198.51.100.31 198.51.100.31
}
s7c() {
    begin 7c "IDN that IDNA rejects" ая.ру€ 2 &&
        netns_dnsmasq "$ns" xn--e1afmkfd.xn--p1ai=198.51.100.30 nxdomain &&
        expect r_no_ip ая.ру€
}
s8() {
    begin 8 "resolv.conf names no server" quiet.test 2 '203.0.113.5 quiet.test' &&
        netns_resolv "$ns" 'options timeout:1 attempts:1' &&
        expect r_no_server quiet.test 203.0.113.5 &&
        box "Error 002: DNS сервер не определен"
}

run_console() {
    local out=$art/$num.console.out err=$art/$num.console.err st=0 t0 ms f ok=0 why=()
    t0=$(now_us)
    netns_exec "$ns" "$build/tarnwell-check" "$domain" >"$out" 2>"$err" </dev/null || st=$?
    ms=$((($(now_us) - t0) / 1000))
    for f in "${expected[@]}"; do
        as_console "$f" | cmp -s - "$out" && ok=1
    done
    ((ok)) || why+=("report differs")
    cmp -s "$boxes" "$err" || why+=("stderr differs")
    ((st == status)) || why+=("exit $st, expected $status")
    ((ms >= min_ms && ms <= max_ms)) || why+=("took ${ms} ms, expected ${min_ms}..${max_ms} ms")
    if ((${#why[@]})); then
        result 0 console "$(IFS=';'; echo "${why[*]}")"
        as_console "${expected[0]}" | diff -u --label expected --label actual - "$out" | head -40
        diff -u --label expected-stderr --label stderr "$boxes" "$err" | head -10
    else
        result 1 console "exit $st, $ms ms"
    fi
}

run_window() {
    local log=$art/$num.window.log st=0 click
    netns_exec "$ns" env QT_QPA_PLATFORM=offscreen E2E_DOMAIN="$domain" \
        E2E_EXPECTED="$(IFS=:; echo "${expected[*]}")" E2E_CONSOLE="$art/$num.console.out" \
        E2E_BOXES="$boxes" E2E_STATUS="$status" E2E_MIN_MS="$min_ms" E2E_MAX_MS="$max_ms" \
        "$build/tests/tarnwell_e2e_window_tests" >"$log" 2>&1 </dev/null || st=$?
    click=$(sed -n 's/.*click took \([0-9]*\) ms.*/\1/p' "$log" | head -1)
    if ((st == 0)) && grep -q '^PASS   : WindowE2ETest::clickGivesTheExpectedReport()' "$log"; then
        result 1 window "status $status, click $click ms"
    else
        result 0 window "exit $st (log: $log)"
        grep -E '^(FAIL|SKIP|QWARN|QFATAL)|^   Loc|Actual|Expected|^report:' -A1 "$log" | head -40
    fi
}

# The real program under its own Xvfb, driven with xdotool as a user would:
# click into the domain box, select all, type, click the button, and keep a
# screenshot of the finished report.
run_gui() {
    local shot=$art/tarnwell-window-scenario-$num.png empty=$art/tarnwell-window-before.png
    local dfile=$art/xvfb.display disp='' wid='' i queries before diff sd prev='' why=() qlog
    qlog=$(netns_dns_log "$ns")
    : >"$dfile"
    Xvfb -displayfd 3 -nolisten tcp -screen 0 800x600x24 3>"$dfile" >"$art/xvfb.log" 2>&1 </dev/null &
    xvfb_pid=$!
    for ((i = 0; i < 100; i++)); do
        read -r disp <"$dfile" 2>/dev/null
        [[ -n $disp ]] && break
        sleep 0.05
    done
    X() { DISPLAY=:$disp timeout 10 xdotool "$@"; }
    if [[ -z $disp ]]; then
        why+=("Xvfb did not start (see $art/xvfb.log)")
    else
        DISPLAY=:$disp NETNS_NAME=$ns ip netns exec "$ns" "$build/tarnwell" \
            >"$art/tarnwell.log" 2>&1 </dev/null &
        gui_pid=$!
        wid=$(X search --sync --onlyvisible --name Tarnwell | head -n1)
        [[ -n $wid ]] || why+=("no window named Tarnwell (see $art/tarnwell.log)")
    fi
    if [[ -n $wid ]]; then
        sleep 0.5 # first paint
        DISPLAY=:$disp import -window "$wid" "$empty"
        before=$(grep -c "query\[A\] $domain from" "$qlog")
        # Cmb1's text field (Frame1 at 8,8; Cmb1 at 8,19 in it), then Cmd1
        # (at 336,19 in Frame1, 145x25): window-relative pixels.
        X mousemove --window "$wid" 116 39 click 1 && X key ctrl+a && X type --delay 20 "$domain" &&
            X mousemove --window "$wid" 416 39 click 1 || why+=("xdotool failed")
        for ((i = 0; i < 50; i++)); do # the check asks the server: it ran, for the typed domain
            queries=$(grep -c "query\[A\] $domain from" "$qlog")
            ((queries > before)) && break
            sleep 0.1
        done
        ((queries > before)) || why+=("no query for $domain reached the server")
        for ((i = 0; i < 20; i++)); do # until the picture stands still
            sleep 0.25
            DISPLAY=:$disp import -window "$wid" "$shot"
            [[ -n $prev ]] && [[ $(compare -metric AE "$prev" "$shot" null: 2>&1) == 0 ]] && break
            prev=$art/.prev.png
            cp "$shot" "$prev"
        done
        rm -f "$art/.prev.png"
        sd=$(identify -format '%[fx:standard_deviation]' "$shot" 2>/dev/null)
        diff=$(compare -metric AE "$empty" "$shot" null: 2>&1)
        [[ -s $shot ]] || why+=("no screenshot")
        awk -v s="${sd:-0}" 'BEGIN { exit !(s > 0.01) }' || why+=("blank screenshot (deviation ${sd:-?})")
        [[ $diff =~ ^[0-9]+$ ]] && ((diff > 2000)) || why+=("report not drawn (${diff} pixels changed)")
    fi
    _netns_kill $gui_pid $xvfb_pid
    gui_pid='' xvfb_pid=''
    if ((${#why[@]})); then
        result 0 "Xvfb" "$(IFS=';'; echo "${why[*]}")"
    else
        result 1 "Xvfb" "screenshot ${shot#"$PWD"/} ($diff pixels changed)"
    fi
}

start=$SECONDS
echo "e2e: scenarios in network namespaces; outputs in $art"
for s in "${scenarios[@]}"; do
    num='?' title=$s gui=''
    if "$s"; then
        run_console
        run_window
        [[ -n $gui ]] && run_gui
    else
        result 0 setup "could not set up the namespace"
        ((++failed))
        [[ -n $gui ]] && ((++failed))
    fi
    [[ -n ${ns-} ]] && netns_destroy "$ns"
    ns=
done
cleanup
echo "e2e: $((SECONDS - start)) s"
echo "e2e: $passed passed, $failed failed"
((failed == 0))
