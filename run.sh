#!/usr/bin/env bash
# Builds Quillon and shows a log: ./run.sh [LOG]  (default: a bundled sample log).
# With a display ($DISPLAY or $WAYLAND_DISPLAY) the desktop viewer opens the log; without one
# the tree is printed by the command-line tool.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
quillon_ensure_packages "${QUILLON_BUILD_PACKAGES[@]}"

if [ $# -ge 1 ]; then
  log=$1
else
  log=""
  for sample in examples/gateway-day.ilx examples/ikev2-site-to-site.xml; do
    if [ -e "$sample" ]; then log=$sample; break; fi
  done
  [ -n "$log" ] || { echo "run.sh: no sample log found in examples/" >&2; exit 1; }
fi

build_dir=build/release
# Quiet when all is well; the compiler's output when a build fails.
build() {
  local output
  if ! output=$(cmake --build "$build_dir" --target "$1" 2>&1); then
    printf '%s\n' "$output" >&2
    exit 1
  fi
}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  build quillon
  exec "$build_dir/app/quillon" "$log"
fi

echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): printing the tree of $log instead." >&2
build quillon-cli
exec "$build_dir/quillon-cli" "$log"
