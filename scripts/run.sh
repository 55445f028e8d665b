#!/usr/bin/env bash
# Installs what is missing, builds in Release and starts the window.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh build
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWELL_BUILD_TESTS=OFF >/dev/null
cmake --build build/release --target tarnwell tarnwell-check
exec build/release/tarnwell "$@"
