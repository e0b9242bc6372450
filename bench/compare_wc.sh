#!/bin/sh
# Whole-process comparison of `quillon-cli --stats` with `LC_ALL=C wc -w` on the same generated
# logs: wall time and peak resident memory of each, in alternating runs, and the median of each.
#
#   bench/compare_wc.sh [BUILD_DIR] [RUNS]      (defaults: build/release, 5)
#
# The logs are generated once by load_bench into the temporary directory (IKEv1 200 MB, IKEv2
# 50 MB and 200 MB), with one hostile log of restarts. Wall times are taken to the millisecond
# from the clock around each run (the time tool's own figure is in hundredths, too coarse for
# a 0.1 s run); the peak memory comes from the time tool. The load average is printed with the
# figures: on a shared machine they are noisy.
set -eu
# wc counts words in the C locale (quillon-cli does not look at the locale).
export LC_ALL=C
build=${1:-build/release}
runs=${2:-5}
cli="$build/quillon-cli"
tmp=${TMPDIR:-/tmp}
"$build/bench/load_bench" 200 >/dev/null
"$build/bench/load_bench" 50 --ikev2 >/dev/null
"$build/bench/load_bench" 200 --ikev2 >/dev/null
# Hostile input: a recorded fuzz input with daemon restarts and regrouped peers, doubled 14
# times (64 MB, about 50,000 restarts). Each restart closes every negotiation still open: a
# load that walked all of a tunnel's negotiations at each restart took minutes here.
restarts="$tmp/quillon_restarts_64mb.ilx"
if [ ! -s "$restarts" ]; then
  cp "$(dirname "$0")/../fuzz/known/merged-stretch-filled-over-a-kept-one.ilx" "$restarts.part"
  i=0
  while [ "$i" -lt 14 ]; do cat "$restarts.part" "$restarts.part" >"$restarts.next"; mv "$restarts.next" "$restarts.part"; i=$((i + 1)); done
  mv "$restarts.part" "$restarts"
fi

. "$(dirname "$0")/timing.sh"

for file in "$tmp/quillon_load_200mb.ilx" "$tmp/quillon_load_50mb_v2.xml" "$tmp/quillon_load_200mb_v2.xml" "$restarts"; do
  q=$(mktemp) qp=$(mktemp) w=$(mktemp) wp=$(mktemp)
  i=0
  while [ "$i" -lt "$runs" ]; do
    timed "$q" "$qp" "$cli" --stats "$file"
    timed "$w" "$wp" wc -w "$file"
    i=$((i + 1))
  done
  size=$(stat -c %s "$file")
  qt=$(median <"$q"); qm=$(median <"$qp")
  wt=$(median <"$w")
  awk -v f="$(basename "$file")" -v s="$size" -v qt="$qt" -v qm="$qm" -v wt="$wt" -v load="$(cut -d' ' -f1-3 /proc/loadavg)" 'BEGIN {
    printf "%-26s %6.1f MB  quillon-cli %.3f s  wc -w %.3f s  ratio %.2f  peak %.0f MiB = %.2f x file  (load %s)\n",
           f, s / 1048576, qt, wt, (wt > 0 ? qt / wt : 0), qm / 1024, qm * 1024 / s, load }'
  rm -f "$q" "$qp" "$w" "$wp"
done
