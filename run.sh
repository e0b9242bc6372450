#!/usr/bin/env bash
# Builds Quillon and shows a log: ./run.sh [LOG]  (default: the bundled sample log).
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
quillon_ensure_packages "${QUILLON_BUILD_PACKAGES[@]}"

log=${1:-examples/gateway-day.ilx}
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release --target quillon-cli >/dev/null
exec build/release/quillon-cli "$log"
