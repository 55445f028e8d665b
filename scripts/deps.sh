#!/usr/bin/env bash
# Installs the Debian packages that a task needs and that are missing.
# Usage: scripts/deps.sh GROUP...   (groups: build test windows fuzz package)
set -euo pipefail

declare -A GROUPS_=(
  [build]="cmake ninja-build g++ pkgconf qt6-base-dev libgl-dev fonts-liberation googletest libgtest-dev libidn2-dev nlohmann-json3-dev libssl-dev libcurl4-openssl-dev ca-certificates duktape-dev libglib2.0-dev gsettings-desktop-schemas"
  [test]="xvfb xauth xdotool x11-utils xclip imagemagick dnsmasq-base iproute2 bind9-dnsutils procps python3 jq nagios4-core"
  [windows]="g++-mingw-w64-x86-64-posix wine wine64 xvfb xdotool imagemagick zip locales"
  [fuzz]="clang libclang-rt-14-dev libbenchmark-dev hyperfine"
  [package]="dpkg-dev desktop-file-utils appstream groff-base lintian"
)

want=()
for group in "$@"; do
  [[ -n "${GROUPS_[$group]+x}" ]] || { echo "deps.sh: unknown group '$group'" >&2; exit 2; }
  for pkg in ${GROUPS_[$group]}; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      want+=("$pkg")
    fi
  done
done
[[ ${#want[@]} -eq 0 ]] && exit 0

sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
echo "Installing: ${want[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${want[@]}" >/dev/null
