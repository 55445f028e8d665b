#!/usr/bin/env bash
# tests/win32/run.sh - the Windows programs and their tests, under Wine.
#
#   1. cross-builds everything with mingw-w64 (cmake/mingw-w64-x86_64.cmake)
#      in build/win-tests/build, tests included, and the zip;
#   2. makes a fresh Wine prefix in build/win-tests/wineprefix, Russian as
#      the program's users have it: the locale ru_RU.UTF-8 (compiled into
#      build/win-tests/locale, nothing installed) gives Wine the ANSI code
#      page 1251 and the OEM code page 866;
#   3. runs the portable unit tests (tarnwell_tests.exe);
#   4. runs the Win32 window tests on its own Xvfb, at 96 and at 144 DPI;
#   5. end to end, inside a network namespace of its own (tests/e2e/netns.sh:
#      loopback only, its own hosts file, resolv.conf and DNS server):
#      tarnwell-check.exe in each scenario, its whole report, exit status and
#      time, and the real tarnwell.exe window driven with xdotool, its report
#      read back and a screenshot kept in build/win-tests/artifacts/;
#   6. checks the zip: its files, that the programs need only system DLLs,
#      and that the unpacked checker runs.
#
# Installs nothing (scripts/deps.sh does); the end-to-end part needs root and
# is skipped without it. Exit status non-zero when anything failed.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
out=$root/build/win-tests
build=$out/build
art=$out/artifacts
jobs=$(nproc 2>/dev/null || echo 2)
start=$SECONDS

export WINEPREFIX=$out/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WINEARCH WINESERVER WINELOADER DISPLAY # the display is this script's own Xvfb
# Wine takes its code pages from the locale; given to Wine's processes only.
wine_env=(LOCPATH="$out/locale" LC_ALL=ru_RU.UTF-8 LANG=ru_RU.UTF-8)

passed=0 failed=0 skipped=0
ok() { echo "ok   $*"; passed=$((passed + 1)); }
fail() { echo "FAIL $*"; failed=$((failed + 1)); }
check() { # NAME COMMAND...: one check by its exit status
    local name=$1
    shift
    if "$@"; then ok "$name"; else fail "$name"; fi
}
finish() {
    echo "win32: $((SECONDS - start)) s"
    echo "win32: $passed passed, $failed failed, $skipped skipped"
    ((failed == 0))
    exit
}

missing=()
for t in cmake ninja x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-objdump wine wineboot wineserver \
    Xvfb xdotool import identify localedef; do
    command -v "$t" >/dev/null || missing+=("$t")
done
if ((${#missing[@]})); then
    echo "win32: missing ${missing[*]} (bash scripts/deps.sh windows test)" >&2
    fail "tools"
    finish
fi

# Everything this script starts ends with it.
xvfb_pid='' gui_pid='' e2e=''
cleanup() {
    local -
    set +eu
    [[ -n $gui_pid ]] && kill "$gui_pid" 2>/dev/null
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    [[ -n $e2e ]] && netns_cleanup
    if [[ -n $xvfb_pid ]]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
    gui_pid='' xvfb_pid='' e2e=''
}
trap cleanup EXIT
for sig in INT TERM HUP; do
    # shellcheck disable=SC2064 # $sig is meant to expand now
    trap "cleanup; trap - $sig EXIT; kill -s $sig \$\$" "$sig"
done

rm -rf "$art"
mkdir -p "$art" "$out"

# 1. The cross build. Test discovery waits for ctest, so building runs no
#    Windows program.
echo "win32: cross build in ${build#"$root"/}"
if cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTARNWELL_BUILD_TESTS=ON \
    -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST >"$art/configure.log" 2>&1 &&
    cmake --build "$build" -j "$jobs" >"$art/build.log" 2>&1 &&
    cmake --build "$build" --target package >"$art/package.log" 2>&1; then
    ok "cross build with mingw-w64 and the zip"
else
    tail -n 30 "$art/configure.log" "$art/build.log" "$art/package.log" 2>/dev/null
    fail "cross build with mingw-w64 and the zip"
    finish
fi

# 2. The locale and the prefix.
if [[ ! -e $out/locale/ru_RU.UTF-8/LC_CTYPE ]]; then
    mkdir -p "$out/locale"
    localedef -i ru_RU -f UTF-8 "$out/locale/ru_RU.UTF-8" >"$art/localedef.log" 2>&1
fi
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
rm -rf "$WINEPREFIX"
t0=$SECONDS
if env "${wine_env[@]}" wineboot -i >"$art/wineboot.log" 2>&1 && wineserver -w; then
    ok "fresh Wine prefix ($((SECONDS - t0)) s)"
else
    cat "$art/wineboot.log"
    fail "fresh Wine prefix"
    finish
fi
# No window manager runs on the Xvfb: Wine draws the frames itself.
cat >"$out/prefix.reg" <<'EOF'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"Decorated"="Y"

[HKEY_CURRENT_USER\Control Panel\Desktop]
"LogPixels"=dword:00000060
EOF
set_dpi() {
    sed -i "s/^\"LogPixels\"=dword:.*/\"LogPixels\"=dword:$(printf %08x "$1")/" "$out/prefix.reg" &&
        env "${wine_env[@]}" wine regedit /S "$(winepath -w "$out/prefix.reg" 2>/dev/null)" &&
        wineserver -k && wineserver -w
}
set_dpi 96 || fail "prefix settings"

display_file=$art/xvfb.display
: >"$display_file"
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$display_file" >"$art/xvfb.log" 2>&1 </dev/null &
xvfb_pid=$!
display=''
for ((i = 0; i < 100; i++)); do
    read -r display <"$display_file" 2>/dev/null
    [[ -n $display ]] && break
    sleep 0.05
done
if [[ -z $display ]]; then
    fail "Xvfb did not start (see $art/xvfb.log)"
    finish
fi
export DISPLAY=:$display

W() { env "${wine_env[@]}" wine "$@"; }

# 3. The portable tests.
gtest() { # NAME EXE [ENV...]
    local name=$1 exe=$2 log
    shift 2
    log=$art/$name.log
    if env "$@" "${wine_env[@]}" wine "$exe" --gtest_brief=1 >"$log" 2>&1; then
        ok "$name: $(grep -o '[0-9]* tests\? from [0-9]* test suites\? ran' "$log")"
    else
        fail "$name (log: ${log#"$root"/})"
        grep -B2 -A12 'Failure$' "$log" | head -60
        tail -n 8 "$log"
    fi
}
gtest "unit tests (code page 1251)" "$build/tests/tarnwell_tests.exe"

# 4. The window, at the prefix's 96 DPI, then at 144.
gtest "window tests at 96 DPI" "$build/tests/win32/tarnwell_win32_tests.exe" TARNWELL_TEST_DPI=96
if set_dpi 144; then
    gtest "window tests at 144 DPI" "$build/tests/win32/tarnwell_win32_tests.exe" TARNWELL_TEST_DPI=144
else
    fail "window tests at 144 DPI: the DPI cannot be set"
fi
set_dpi 96 || fail "prefix back at 96 DPI"

# 5. End to end, in a namespace. Wine's sockets belong to its server, so the
#    server starts inside the namespace: none may run from outside then.
NETNS_NO_TRAP=1
# shellcheck source=tests/e2e/netns.sh
source "$root/tests/e2e/netns.sh"
reason=$(netns_require 2>&1)
rc=$?
scenario_count=8
if ((rc == NETNS_SKIP)); then
    echo "win32: end to end SKIPPED: ${reason#SKIP: netns.sh: }"
    skipped=$((skipped + scenario_count))
elif ((rc != 0)) || ! netns_require || ! command -v dnsmasq >/dev/null; then
    fail "end to end: cannot use network namespaces or dnsmasq: $reason"
else
    e2e=1
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    hosts_dir=$(W reg query 'HKLM\SYSTEM\CurrentControlSet\Services\Tcpip\Parameters' /v DataBasePath |
        tr -d '\r' | sed -n 's/^ *DataBasePath *REG_[A-Z_]*SZ *//p' | tr '[:upper:]' '[:lower:]')
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    [[ $hosts_dir == 'c:\windows\system32\drivers\etc' ]] ||
        fail "Wine's registry names the hosts directory '$hosts_dir'"

    netns_create ns || { fail "namespace"; finish; }
    X() { netns_exec "$ns" env "${wine_env[@]}" wine "$@"; }
    # The first program in the namespace starts Wine's server there.
    X "$build/tarnwell-check.exe" --version >"$art/version.txt" 2>&1
    check "tarnwell-check.exe --version in the namespace" grep -q '^tarnwell-check 1.1.0' "$art/version.txt"

    # The reports with CRLF, Wine's hosts directory, and the console's line
    # break after a report that ends without one.
    REPORT_EOL=$'\r\n' REPORT_HOSTS_DIR=$hosts_dir
    # shellcheck source=tests/e2e/reports.sh
    source "$root/tests/e2e/reports.sh"
    r_console_match() { r_match "$@"; printf '\r\n'; }
    expect() { # REPORT ARG...: one more acceptable output
        local f=$art/$num.expected.$((${#expected[@]} + 1)).txt
        "$@" >"$f" && expected+=("$f")
    }
    expect_two() { # REPORT DOMAIN HOST_IP A B: the server's two addresses in either order
        expect "$1" "$2" "$3" "$4" "$5"
        expect "$1" "$2" "$3" "$5" "$4"
    }
    now_ms() { echo $((${EPOCHREALTIME/[.,]/} / 1000)); }

    console() { # NUM TITLE DOMAIN STATUS MIN_MS MAX_MS
        local out=$art/$1.out err=$art/$1.err st=0 t0 ms f same='' why=()
        t0=$(now_ms)
        X "$build/tarnwell-check.exe" "$3" >"$out" 2>"$err" </dev/null || st=$?
        ms=$(($(now_ms) - t0))
        for f in "${expected[@]}"; do cmp -s "$f" "$out" && same=1; done
        [[ -n $same ]] || why+=("report differs")
        [[ -s $err ]] && why+=("stderr: $(head -c 200 "$err")")
        ((st == $4)) || why+=("exit $st, expected $4")
        ((ms >= $5 && ms <= $6)) || why+=("took $ms ms, expected $5..$6 ms")
        if ((${#why[@]})); then
            fail "e2e $1 $2: $(IFS=';'; echo "${why[*]}")"
            diff -u --label expected --label actual "${expected[0]}" "$out" | head -30
        else
            ok "e2e $1 $2: tarnwell-check.exe exit $st, $ms ms"
        fi
    }

    # The window under Xvfb, driven as a user would: the domain typed into
    # the box, the button clicked; the report read back from the running
    # program by tarnwell-probe.exe.
    window() { # NUM DOMAIN
        local probe="$build/tests/win32/tarnwell-probe.exe" shot=$art/tarnwell-wine.png
        local at text=$art/$1.window.txt wid='' i st=0 same='' why=() f sd
        netns_exec "$ns" env "${wine_env[@]}" wine "$build/tarnwell.exe" >"$art/tarnwell.log" 2>&1 </dev/null &
        gui_pid=$!
        for ((i = 0; i < 100; i++)); do
            at=$(X "$probe" center Cmb1 2>/dev/null) && break
            sleep 0.1
        done
        wid=$(xdotool search --onlyvisible --name '^Tarnwell 1\.1' 2>/dev/null | head -n1)
        if [[ -z $at || -z $wid ]]; then
            why+=("no window")
        else
            # shellcheck disable=SC2086 # "X Y"
            xdotool mousemove $at click 1 sleep 0.2 key End shift+Home sleep 0.1 &&
                xdotool type --delay 30 "$2" &&
                at=$(X "$probe" center Cmd1) &&
                xdotool mousemove $at click 1 || why+=("xdotool failed")
            for ((i = 0; i < 100; i++)); do
                X "$probe" text Txt_IP >"$text" 2>/dev/null
                grep -q 'реестра:' "$text" && break
                sleep 0.1
            done
            for f in "${expected[@]}"; do cmp -s "$f" "$text" && same=1; done
            [[ -n $same ]] || why+=("report differs")
            sleep 0.3 # painted
            import -window "$wid" "$shot" 2>/dev/null
            sd=$(identify -format '%[fx:standard_deviation]' "$shot" 2>/dev/null)
            awk -v s="${sd:-0}" 'BEGIN { exit !(s > 0.05) }' || why+=("blank screenshot")
            X "$probe" close || why+=("cannot close")
        fi
        for ((i = 0; i < 50; i++)); do
            kill -0 "$gui_pid" 2>/dev/null || break
            sleep 0.1
        done
        if kill -0 "$gui_pid" 2>/dev/null; then
            why+=("still running after close")
            kill "$gui_pid" 2>/dev/null
        fi
        wait "$gui_pid" 2>/dev/null || st=$?
        gui_pid=''
        ((st == 0)) || why+=("exit $st")
        if ((${#why[@]})); then
            fail "e2e $1 tarnwell.exe window: $(IFS=';'; echo "${why[*]}")"
            [[ -s $text ]] && diff -u --label expected --label window "${expected[0]}" "$text" | head -30
        else
            ok "e2e $1 tarnwell.exe window: report read back, screenshot ${shot#"$root"/}"
        fi
    }

    num=1 expected=()
    netns_hosts "$ns" && netns_dnsmasq "$ns" good.test=198.51.100.10,198.51.100.11 --no-round-robin &&
        expect_two r_console_match good.test 198.51.100.10 198.51.100.10 198.51.100.11 &&
        expect_two r_console_match good.test 198.51.100.11 198.51.100.10 198.51.100.11 &&
        console 1 "two A records, not in hosts" good.test 0 0 3000 || fail "e2e 1 setup"

    num=2 expected=()
    netns_hosts "$ns" '203.0.113.66 good.test' &&
        expect_two r_mismatch good.test 203.0.113.66 198.51.100.10 198.51.100.11 &&
        console 2 "hosts maps it elsewhere" good.test 1 0 3000 &&
        window 2 good.test || fail "e2e 2 setup"

    num=3 expected=()
    netns_hosts "$ns" && netns_dnsmasq "$ns" cname:www.chain.test=cdn.chain.test \
        cname:cdn.chain.test=edge.chain.test edge.chain.test=198.51.100.20,198.51.100.21 --no-round-robin &&
        expect_two r_console_match www.chain.test 198.51.100.20 198.51.100.20 198.51.100.21 &&
        expect_two r_console_match www.chain.test 198.51.100.21 198.51.100.20 198.51.100.21 &&
        console 3 "CNAME chain ending in A records" www.chain.test 0 0 3000 || fail "e2e 3 setup"

    num=4 expected=()
    netns_dnsmasq "$ns" good.test=198.51.100.10 nxdomain && expect r_no_ip nowhere.test &&
        console 4 "domain does not exist" nowhere.test 2 0 3000 || fail "e2e 4 setup"

    num=5 expected=()
    netns_hosts "$ns" '203.0.113.5 quiet.test' && netns_silent "$ns" &&
        expect r_mismatch quiet.test 203.0.113.5 &&
        console 5 "server never answers" quiet.test 3 4900 6000 || fail "e2e 5 setup"

    # Windows reports the refused port (ICMP port unreachable) to the next
    # receive at once; Wine reports it to neither select nor recv, so here
    # the wait runs out, and the bound is that of the silent server.
    num=6 expected=()
    netns_dns_stop "$ns" && expect r_mismatch quiet.test 203.0.113.5 &&
        console 6 "nothing listens on port 53" quiet.test 3 0 6000 || fail "e2e 6 setup"

    num=7 expected=()
    netns_hosts "$ns" && netns_dnsmasq "$ns" xn--e1afmkfd.xn--p1ai=198.51.100.30 nxdomain &&
        expect r_console_match пример.рф 198.51.100.30 198.51.100.30 &&
        console 7 "IDN through Windows' IdnToAscii" пример.рф 0 0 3000 || fail "e2e 7 setup"

    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    netns_cleanup
    e2e=''
fi

# 6. The zip.
zip=$build/tarnwell-1.1.0-win64.zip
unpacked=$out/unpacked
rm -rf "$unpacked"
mkdir -p "$unpacked"
listing=$( (cd "$unpacked" && cmake -E tar xvf "$zip") 2>&1 | sed 's/^x //' | sort | tr '\n' ' ')
check "zip holds the two programs, the readme and the license" [ "$listing" = \
    "tarnwell-1.1.0-win64/LICENSE tarnwell-1.1.0-win64/README-windows.txt tarnwell-1.1.0-win64/tarnwell-check.exe tarnwell-1.1.0-win64/tarnwell.exe " ]
dlls() { x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^\tDLL Name: //p' | tr '[:upper:]' '[:lower:]' | sort | tr '\n' ' '; }
system_only() {
    local f bad
    for f in "$@"; do
        bad=$(dlls "$f" | tr ' ' '\n' | grep -Ev '^$|^(kernel32|user32|gdi32|ws2_32|ole32|oleaut32|shell32|normaliz|msvcrt|advapi32)\.dll$|^api-ms-win-')
        [[ -z $bad ]] || { echo "  $f needs $bad"; return 1; }
    done
}
pkg=$unpacked/tarnwell-1.1.0-win64
check "the programs need only system DLLs" system_only "$pkg/tarnwell.exe" "$pkg/tarnwell-check.exe"
# (grep -c, not -q: an early exit of grep would fail the pipeline)
subsystem() { x86_64-w64-mingw32-objdump -p "$1" | grep -c "^Subsystem.*($2)" >/dev/null; }
has_text() { strings -el "$1" | grep -cx "$2" >/dev/null; } # UTF-16 text in the file
check "tarnwell.exe is a window program, tarnwell-check.exe a console one" \
    eval 'subsystem "$pkg/tarnwell.exe" "Windows GUI" && subsystem "$pkg/tarnwell-check.exe" "Windows CUI"'
check "version resource 1.1.0, product Tarnwell" \
    eval 'has_text "$pkg/tarnwell.exe" 1.1.0 && has_text "$pkg/tarnwell.exe" Tarnwell &&
          has_text "$pkg/tarnwell-check.exe" https://tarnwell.example'
check "readme tells how to run and the exit statuses" \
    eval 'grep -q "tarnwell-check.exe DOMAIN" "$pkg/README-windows.txt" && grep -q "64  usage error" "$pkg/README-windows.txt"'
# Usage only: the unpacked checker runs and touches no network.
st=0
W "$pkg/tarnwell-check.exe" >"$art/usage.out" 2>"$art/usage.err" || st=$?
check "unpacked tarnwell-check.exe runs (usage, exit 64)" eval '((st == 64)) && grep -q "^Usage: tarnwell-check DOMAIN" "$art/usage.err"'

cleanup
finish
