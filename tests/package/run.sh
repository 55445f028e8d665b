#!/usr/bin/env bash
# Package checks: cpack builds the two .debs of a built tree, lintian, desktop-file-validate and
# appstreamcli judge them; then what they cannot see: one version everywhere, man pages naming every option
# of --help, no Qt under tarnwell-check, the window's --help, --version and no-display exit.
set -uo pipefail
[[ $# -eq 1 ]] && build=$(cd "$1" && pwd) || { echo "usage: $0 BUILD_DIR" >&2; exit 64; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
work=$(mktemp -d) passed=0 failed=0 && trap 'rm -rf "$work"' EXIT
check() {  # check NAME COMMAND...: passes when COMMAND succeeds, shows its output when not
  local out; if out=$("${@:2}" 2>&1); then passed=$((passed + 1)); echo "PASS: $1"
  else failed=$((failed + 1)); echo "FAIL: $1"; sed 's/^/    /' <<<"$out" | head -30; fi; }
finish() { echo "package: $passed passed, $failed failed"; exit $((failed > 0)); }
nodisplay() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@"; }
debs() { cmake --build "$build" --target tarnwell tarnwell-check &&
  cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out"; }
check "build, cpack -G DEB" debs
cdeb=$(echo "$work"/out/tarnwell-check_*.deb) wdeb=$(echo "$work"/out/tarnwell_*.deb)
dpkg-deb -x "$cdeb" "$work/root" && dpkg-deb -x "$wdeb" "$work/root" && cd "$work/root/usr" || finish
lint() {  # errors, warnings, and the hints of missing hardening or stripping fail
  local out; out=$(lintian --pedantic -I --fail-on none "$@" 2>&1) || { echo "$out"; return 1; }
  ! grep -E '^[EW]: |hardening-no-(bindnow|fortify-functions)|binary-has-unneeded-section' <<<"$out"; }
check "lintian --pedantic" lint "$cdeb" "$wdeb"
quiet() { local out; out=$("$@" 2>&1); local rc=$?; echo "$out"; [[ $rc -eq 0 && -z $out ]]; }
check "desktop-file-validate" quiet desktop-file-validate share/applications/*.desktop
check "appstreamcli validate" appstreamcli validate --no-net share/metainfo/*.xml
same() { local bad=0; for pair; do [[ ${pair#*=} == "$version" ]] || { echo "$pair"; bad=1; }; done; return $bad; }
check "one version $version everywhere" same "tarnwell-check.deb=$(dpkg-deb -f "$cdeb" Version)" \
  "tarnwell.deb=$(dpkg-deb -f "$wdeb" Version)" \
  "its Depends=$(dpkg-deb -f "$wdeb" Depends | sed -n 's/.*tarnwell-check (= \([^)]*\)).*/\1/p')" \
  "tarnwell-check --version=$(bin/tarnwell-check --version 2>/dev/null | sed 's/^tarnwell-check //')" \
  "tarnwell --version=$(nodisplay bin/tarnwell --version 2>/dev/null | sed 's/^tarnwell //')" \
  "metainfo=$(grep -o 'release version="[^"]*"' share/metainfo/*.xml | cut -d'"' -f2 | sort -V | tail -1)" \
  "changelog=$(gzip -dc share/doc/tarnwell-check/changelog.gz | sed -n '1s/^[^ ]* (\([^)]*\)).*/\1/p')"
man_has_options() {  # every option PROGRAM --help lists is in PROGRAM(1); prints the missing ones
  local page opts; page=$(gzip -dc "share/man/man1/$1.1.gz" | sed 's/\\-/-/g')
  opts=$(nodisplay "bin/$1" --help | grep -E '^ +-' | grep -oE -- '--?[[:alpha:]][-[:alnum:]]*')
  [[ -n $opts ]] || { echo "$1 --help lists no option"; return 1; }
  ! for opt in $opts; do grep -qE -- "(^|[^-[:alnum:]])$opt([^-[:alnum:]]|\$)" <<<"$page" || echo "$opt"; done | grep .
}
for p in tarnwell-check tarnwell; do check "$p(1) has every option of --help" man_has_options $p; done
check "tarnwell-check.deb depends on no Qt" bash -c '! dpkg-deb -f "$1" Depends | grep -i qt' _ "$cdeb"
window() { local env=() args=() to=/dev/stdout a out rc  # STATUS PATTERN [VAR=VALUE]... [>FILE] ARGS...
  for a in "${@:3}"; do case $a in *=*) env+=("$a") ;; \>*) to=${a#>} ;; *) args+=("$a") ;; esac; done
  out=$(nodisplay env "${env[@]}" bin/tarnwell "${args[@]}" 2>&1 >"$to"); rc=$?
  echo "status $rc: $out"; [[ $rc -eq $1 && $out =~ $2 ]]; }
while read -r status pattern args; do  # STATUS OUTPUT-PATTERN ARGS, the pattern over all output
  check "tarnwell${args:+ $args} without a display: status $status" window "$status" "$pattern" $args
done <<<'0 ^Usage:.tarnwell.*--version --help
0 ^tarnwell.[0-9.]+$ --version
1 ^tarnwell:.no.display[^[:cntrl:]]*$
1 ^tarnwell:.no.display:.qt.qpa.xcb:[^[:cntrl:]]*$ DISPLAY=:77
1 ^tarnwell:.no.display:[^[:cntrl:]]*$ WAYLAND_DISPLAY=nowhere
1 ^tarnwell:.no.display:[^[:cntrl:]]*"bogus"[^[:cntrl:]]*$ QT_QPA_PLATFORM=bogus
64 ^tarnwell:.Unknown.option..bogus.[^[:cntrl:]]*$ --bogus
74 ^tarnwell:.cannot.write.to.standard.output$ >/dev/full --help'
finish
