#!/usr/bin/env bash
# Package checks: builds the Debian package from an already built tree,
# unpacks it into a temporary root and checks what a desktop install needs.
# Usage: tests/package/run.sh BUILD_DIR
# Prints one PASS/FAIL line per check and "N passed, N failed" at the end;
# exits non-zero when any check failed.
set -uo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 64
fi
build=$(cd "$1" 2>/dev/null && pwd) || { echo "package: no build directory '$1'" >&2; exit 2; }
app_id=example.tarnwell.Tarnwell
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwell-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "PASS: $1"; }
fail() {
  failed=$((failed + 1))
  echo "FAIL: $1"
  if [[ -n ${2:-} && -s $2 ]]; then sed 's/^/    /' "$2" | head -40; fi
}
skip() { echo "SKIP: $1"; }
finish() {
  echo "package: $passed passed, $failed failed"
  [[ $failed -eq 0 ]]
  exit
}

# The build: the package takes what the tree has built.
log=$work/log
if cmake --build "$build" --target tarnwell-check tarnwell tarnwell_man_pages >"$log" 2>&1; then
  pass "programs and man pages are built in $build"
else
  fail "programs and man pages are built in $build" "$log"
  finish
fi

# The package.
if (cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out") >"$log" 2>&1 &&
   deb=$(find "$work/out" -maxdepth 1 -name 'tarnwell_*.deb' | head -1) && [[ -n $deb ]]; then
  pass "cpack -G DEB built $(basename "$deb")"
else
  fail "cpack -G DEB builds the package" "$log"
  finish
fi

root=$work/root
if dpkg-deb -x "$deb" "$root" 2>"$log"; then
  pass "dpkg-deb -x unpacks the package"
else
  fail "dpkg-deb -x unpacks the package" "$log"
  finish
fi

# The control fields.
field() { dpkg-deb -f "$deb" "$1" 2>/dev/null; }
depends=$(field Depends)
depends_names=" $(tr ',|' '\n\n' <<<"$depends" | sed 's/(.*//; s/:.*//; s/[[:space:]]//g' | tr '\n' ' ') "
for need in libqt6widgets6 fonts-liberation; do
  if [[ $depends_names == *" $need "* ]]; then
    pass "Depends names $need"
  else
    fail "Depends names $need (Depends: $depends)"
  fi
done
[[ $(field Package) == tarnwell ]] && pass "Package is tarnwell" || fail "Package is tarnwell (got '$(field Package)')"
[[ $(field Version) == "$version" ]] && pass "Version is $version" || fail "Version is $version (got '$(field Version)')"
[[ $(field Section) == net ]] && pass "Section is net" || fail "Section is net (got '$(field Section)')"
maintainer=$(field Maintainer)
[[ $maintainer == *"<"*@*">" ]] && pass "Maintainer has an address: $maintainer" || fail "Maintainer has an address (got '$maintainer')"
description=$(field Description)
if [[ -n $description && $(wc -l <<<"$description") -ge 2 ]]; then
  pass "Description has a summary and a long text"
else
  fail "Description has a summary and a long text (got '$description')"
fi

# Both programs in bin; the console checker runs from the unpacked root.
for program in tarnwell tarnwell-check; do
  if [[ -x $root/usr/bin/$program ]]; then
    pass "usr/bin/$program is installed"
  else
    fail "usr/bin/$program is installed"
  fi
done
if out=$("$root/usr/bin/tarnwell-check" --version 2>"$log"); then
  if [[ $out == "tarnwell-check $version" ]]; then
    pass "installed tarnwell-check --version prints '$out'"
  else
    fail "installed tarnwell-check --version prints 'tarnwell-check $version' (got '$out')"
  fi
else
  fail "installed tarnwell-check --version exits 0" "$log"
fi
if out=$("$root/usr/bin/tarnwell-check" --help 2>"$log") && [[ $out == "Usage: tarnwell-check DOMAIN"* ]]; then
  pass "installed tarnwell-check --help prints the usage"
else
  fail "installed tarnwell-check --help prints the usage" "$log"
fi

# The desktop entry.
desktop=$root/usr/share/applications/$app_id.desktop
if [[ ! -f $desktop ]]; then
  fail "desktop entry at usr/share/applications/$app_id.desktop"
elif desktop-file-validate "$desktop" >"$log" 2>&1 && [[ ! -s $log ]]; then
  pass "desktop-file-validate accepts $app_id.desktop"
else
  fail "desktop-file-validate accepts $app_id.desktop" "$log"
fi
entry() { sed -n "s/^$1=//p" "$desktop" 2>/dev/null | head -1; }
[[ $(entry Exec) == tarnwell ]] && pass "desktop entry Exec=tarnwell" || fail "desktop entry Exec=tarnwell (got '$(entry Exec)')"
[[ $(entry Icon) == tarnwell ]] && pass "desktop entry Icon=tarnwell" || fail "desktop entry Icon=tarnwell (got '$(entry Icon)')"
[[ $(entry Categories) == Network\;* ]] && pass "desktop entry main category Network" || fail "desktop entry main category Network (got '$(entry Categories)')"

# The icons in the hicolor theme.
png=$root/usr/share/icons/hicolor/32x32/apps/tarnwell.png
svg=$root/usr/share/icons/hicolor/scalable/apps/tarnwell.svg
# A PNG starts with its 8-byte signature and the IHDR chunk: width and
# height are the big-endian words at bytes 16 and 20.
png_head() { od -An -tx1 -N24 "$1" 2>/dev/null | tr -d ' \n'; }
if [[ -f $png && $(png_head "$png") == 89504e470d0a1a0a0000000d494844520000002000000020 ]]; then
  pass "32x32 PNG icon at usr/share/icons/hicolor/32x32/apps/tarnwell.png"
else
  fail "32x32 PNG icon at usr/share/icons/hicolor/32x32/apps/tarnwell.png"
fi
if [[ -f $svg ]] && grep -q '<svg' "$svg"; then
  pass "SVG icon at usr/share/icons/hicolor/scalable/apps/tarnwell.svg"
else
  fail "SVG icon at usr/share/icons/hicolor/scalable/apps/tarnwell.svg"
fi

# The AppStream metainfo.
metainfo=$root/usr/share/metainfo/$app_id.metainfo.xml
if [[ ! -f $metainfo ]]; then
  fail "metainfo at usr/share/metainfo/$app_id.metainfo.xml"
elif ! command -v appstreamcli >/dev/null; then
  skip "appstreamcli validate (appstreamcli is not installed)"
elif appstreamcli validate --no-net "$metainfo" >"$log" 2>&1; then
  pass "appstreamcli validate --no-net accepts $app_id.metainfo.xml"
else
  fail "appstreamcli validate --no-net accepts $app_id.metainfo.xml" "$log"
fi
if [[ -f $metainfo ]] && grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo"; then
  pass "metainfo launches $app_id.desktop"
else
  fail "metainfo launches $app_id.desktop"
fi

# The man pages: present, and rendered without a warning.
for page in tarnwell-check tarnwell; do
  man_file=
  for candidate in "$root/usr/share/man/man1/$page.1.gz" "$root/usr/share/man/man1/$page.1"; do
    [[ -f $candidate ]] && { man_file=$candidate; break; }
  done
  if [[ -z $man_file ]]; then
    fail "man page usr/share/man/man1/$page.1[.gz] is installed"
    continue
  fi
  pass "man page ${man_file#"$root"/} is installed"
  source_page=$work/$page.1
  if [[ $man_file == *.gz ]]; then gzip -dc "$man_file" >"$source_page"; else cp "$man_file" "$source_page"; fi
  rendered=$work/$page.txt
  if command -v groff >/dev/null; then
    # -k: the page is UTF-8; -ww: every warning; anything on stderr fails.
    if groff -k -man -Tutf8 -P-cbou -ww "$source_page" >"$rendered" 2>"$log" && [[ ! -s $log ]] &&
       grep -q 'NAME' "$rendered"; then
      pass "groff renders $page(1) without warnings"
    else
      fail "groff renders $page(1) without warnings" "$log"
    fi
  elif command -v man >/dev/null; then
    if LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$man_file" >"$rendered" 2>"$log" && [[ ! -s $log ]]; then
      pass "man -l renders $page(1) without warnings"
    else
      fail "man -l renders $page(1) without warnings" "$log"
    fi
  else
    skip "rendering $page(1) (neither groff nor man is installed)"
  fi
done

# The man page states the exit statuses that --help gives.
page_text=$(groff -k -man -Tutf8 -P-cbou "$work/tarnwell-check.1" 2>/dev/null)
help_text=$("$root/usr/bin/tarnwell-check" --help 2>/dev/null)
missing=
for status in 0 1 2 3 64; do
  grep -q "[ ;:]$status " <<<"$help_text" || missing+=" $status(--help)"
  sed -n '/^EXIT STATUS/,/^[A-Z]/p' <<<"$page_text" | grep -Eq "^ +$status +[A-Z]" || missing+=" $status(man)"
done
if [[ -z $missing ]]; then
  pass "tarnwell-check(1) and --help both give exit statuses 0 1 2 3 64"
else
  fail "tarnwell-check(1) and --help both give exit statuses 0 1 2 3 64 (missing:$missing)"
fi

# The license where Debian keeps it.
if grep -q 'MIT License' "$root/usr/share/doc/tarnwell/copyright" 2>/dev/null; then
  pass "license at usr/share/doc/tarnwell/copyright"
else
  fail "license at usr/share/doc/tarnwell/copyright"
fi

# The changelog Debian expects of a native package, at this version.
changelog=$root/usr/share/doc/tarnwell/changelog.gz
if [[ ! -f $changelog ]]; then
  fail "changelog at usr/share/doc/tarnwell/changelog.gz"
else
  top=$(gzip -dc "$changelog" | sed -n '1s/^tarnwell (\([^)]*\)).*/\1/p')
  [[ $top == "$version" ]] && pass "changelog.gz starts at version $version" ||
    fail "changelog.gz starts at version $version (got '$top'; update packaging/changelog)"
fi

# Stripped programs: RelWithDebInfo debug info stays out of the package.
if ! command -v readelf >/dev/null; then
  skip "programs are stripped (readelf is not installed)"
else
  unstripped=
  for program in tarnwell tarnwell-check; do
    readelf -S "$root/usr/bin/$program" 2>/dev/null | grep -Eq ' \.(symtab|debug_info) ' && unstripped+=" $program"
  done
  [[ -z $unstripped ]] && pass "programs are stripped" || fail "programs are stripped (not:$unstripped)"
fi

finish
