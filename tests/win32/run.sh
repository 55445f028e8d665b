#!/usr/bin/env bash
# tests/win32/run.sh [BUILD_DIR] - the Windows programs and their tests under Wine. Cross-builds everything
# with mingw-w64, tests and the zip included, in BUILD_DIR (default build/win-tests); a fresh Wine prefix there
# is Russian as the program's users have it (ru_RU.UTF-8, compiled into BUILD_DIR/locale, gives Wine the code
# pages 1251 and 866); on an Xvfb of its own: the unit tests, the window tests at 144 and 96 DPI, the end-to-end
# suite (tests/e2e/run.sh --wine, needs root), the zip's checks. Installs nothing (scripts/deps.sh does).
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(realpath -m "${1:-$root/build/win-tests}")
logs=$build/win32-logs passed=0 failed=0 skipped=0 xvfb=''
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LOCPATH=$build/locale
unset WINEARCH WINESERVER WINELOADER
W() { LC_ALL=ru_RU.UTF-8 LANG=ru_RU.UTF-8 wine "$@"; }
check() { # NAME COMMAND...: one check by the command's exit status
    if "${@:2}"; then echo "ok   $1"; ((++passed)); else echo "FAIL $1"; ((++failed)); return 1; fi
}
finish() { echo "win32: $passed passed, $failed failed, $skipped skipped, $SECONDS s"; exit $((failed > 0)); }
cleanup() { wineserver -k 2>/dev/null; [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null; wait; }
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
mkdir -p "$logs" "$LOCPATH" || exit 1

cross_build() { # test discovery waits for ctest: building runs no Windows program
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DTARNWELL_BUILD_TESTS=ON -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST &&
        cmake --build "$build" -j "$(nproc)" && cmake --build "$build" --target package
} >"$logs/build.log" 2>&1
check "cross build with mingw-w64, tests and the zip" cross_build || { tail -n 30 "$logs/build.log"; finish; }

[[ -e $LOCPATH/ru_RU.UTF-8/LC_CTYPE ]] || localedef -i ru_RU -f UTF-8 "$LOCPATH/ru_RU.UTF-8" >"$logs/localedef.log" 2>&1
wineserver -k 2>/dev/null && wineserver -w
rm -rf "$WINEPREFIX"
check "fresh Wine prefix" eval 'W wineboot -i >"$logs/wineboot.log" 2>&1 && wineserver -w' || finish
dpi() { # DPI: sets the prefix's DPI; no window manager runs, so Wine draws the frames
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n"Decorated"="Y"\n\n%s\n"LogPixels"=dword:%08x\n' \
        '[HKEY_CURRENT_USER\Control Panel\Desktop]' "$1" >"$build/prefix.reg" &&
        W regedit /S "$(winepath -w "$build/prefix.reg" 2>/dev/null)" && wineserver -k && wineserver -w
}

: >"$logs/display"
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$logs/display" &>"$logs/xvfb.log" </dev/null & xvfb=$!
for ((i = 0; i < 50; i++)); do read -r d <"$logs/display" && break; sleep 0.1; done
export DISPLAY=:${d-}

gtest() { # NAME EXE [DPI]: a googletest program under Wine; on failure its failures and its end
    local log=$logs/${1// /-}.log st
    TARNWELL_TEST_DPI=${3-} W "$2" --gtest_brief=1 >"$log" 2>&1; st=$?
    check "$1: $(grep -o '[0-9]* tests\? from [0-9]* test suites\? ran' "$log")" test $st = 0 ||
        { echo "log: $log"; grep -A12 ': Failure' "$log" | head -60; tail -n 8 "$log"; }
}
gtest "unit tests (code page 1251)" "$build/tests/tarnwell_tests.exe"
for d in 144 96; do # 96 last: the end-to-end run has the prefix as users mostly have it
    if dpi $d; then gtest "window tests at $d DPI" "$build/tests/win32/tarnwell_win32_tests.exe" $d
    else check "window tests at $d DPI: the DPI cannot be set" false; fi
done

"$root/tests/e2e/run.sh" --wine "$build" | tee "$logs/e2e.log"
st=${PIPESTATUS[0]} e2e=$(tail -n 1 "$logs/e2e.log")
if grep -q SKIPPED "$logs/e2e.log"; then ((++skipped)); else check "end to end under Wine (${e2e#e2e: })" test "$st" = 0; fi

pkg=$build/unpacked
rm -rf "$pkg" && mkdir -p "$pkg" && (cd "$pkg" && cmake -E tar xf "$build"/tarnwell-*-win64.zip)
check "the zip holds the two programs, the readme and the license" \
    test "$(cd "$pkg"/* && LC_ALL=C ls | tr '\n' ' ')" = "LICENSE README-windows.txt tarnwell-check.exe tarnwell.exe "
other=$(x86_64-w64-mingw32-objdump -p "$pkg"/*/*.exe | sed -n 's/^\tDLL Name: //p' | tr '[:upper:]' '[:lower:]' |
    grep -Ev '^(kernel32|user32|gdi32|ws2_32|ole32|oleaut32|shell32|normaliz|msvcrt|advapi32|secur32|crypt32|winhttp)\.dll$|^api-ms-win-')
check "the programs need only system DLLs${other:+, not ${other//$'\n'/ }}" test -z "$other"
finish
