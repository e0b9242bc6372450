#!/bin/sh
# Whole-process figures of the hand-over outputs against the load alone: `quillon-cli --stats`
# (the load), then `--pcap`, `--report` and `--events` on the same generated log, each run RUNS
# times in turn; the median wall time and peak resident memory of each, and each against the
# load's.
#
#   bench/handover_wc.sh [BUILD_DIR] [RUNS] [LOG]
#       (defaults: build/release, 3, the 200 MB IKEv1 log load_bench generates)
set -eu
build=${1:-build/release}
runs=${2:-3}
cli="$build/quillon-cli"
tmp=${TMPDIR:-/tmp}
log=${3:-}
if [ -z "$log" ]; then
  "$build/bench/load_bench" 200 >/dev/null
  log="$tmp/quillon_load_200mb.ilx"
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

. "$(dirname "$0")/timing.sh"

for name in load pcap report events; do : >"$out/$name.t"; : >"$out/$name.m"; done
i=0
while [ "$i" -lt "$runs" ]; do
  timed "$out/load.t" "$out/load.m" "$cli" --stats "$log"
  timed "$out/pcap.t" "$out/pcap.m" "$cli" --pcap "$out/out.pcapng" "$log"
  timed "$out/report.t" "$out/report.m" "$cli" --report "$out/out.html" "$log"
  timed "$out/events.t" "$out/events.m" "$cli" --events "$log"
  i=$((i + 1))
done
lt=$(median <"$out/load.t") lm=$(median <"$out/load.m")
printf '%s, %.1f MB, median of %s (load %s)\n' "$(basename "$log")" "$(stat -c %s "$log" | awk '{ print $1 / 1048576 }')" \
  "$runs" "$(cut -d' ' -f1-3 /proc/loadavg)"
for name in load pcap report events; do
  t=$(median <"$out/$name.t") m=$(median <"$out/$name.m")
  awk -v n="$name" -v t="$t" -v m="$m" -v lt="$lt" -v lm="$lm" 'BEGIN {
    printf "%-7s %7.3f s = %.2f x load   peak %6.0f MiB = %.2f x load\n", n, t, t / lt, m / 1024, m / lm }'
done
