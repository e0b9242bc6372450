#!/bin/sh
# Whole-process comparison of `quillon-cli --stats` with `LC_ALL=C wc -w` on the same generated
# logs: wall time and peak resident memory of each, in alternating runs, and the median of each.
#
#   bench/compare_wc.sh [BUILD_DIR] [RUNS]      (defaults: build/release, 5)
#
# The logs are generated once by load_bench into the temporary directory (IKEv1 200 MB, IKEv2
# 50 MB and 200 MB). The load average is printed with the figures: on a shared machine they
# are noisy.
set -eu
build=${1:-build/release}
runs=${2:-5}
cli="$build/quillon-cli"
tmp=${TMPDIR:-/tmp}
"$build/bench/load_bench" 200 >/dev/null
"$build/bench/load_bench" 50 --ikev2 >/dev/null
"$build/bench/load_bench" 200 --ikev2 >/dev/null

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

for file in "$tmp/quillon_load_200mb.ilx" "$tmp/quillon_load_50mb_v2.xml" "$tmp/quillon_load_200mb_v2.xml"; do
  q=$(mktemp) w=$(mktemp)
  i=0
  while [ "$i" -lt "$runs" ]; do
    /usr/bin/time -f "%e %M" -a -o "$q" "$cli" --stats "$file" >/dev/null
    LC_ALL=C /usr/bin/time -f "%e %M" -a -o "$w" wc -w "$file" >/dev/null
    i=$((i + 1))
  done
  size=$(stat -c %s "$file")
  qt=$(cut -d' ' -f1 "$q" | median); qm=$(cut -d' ' -f2 "$q" | median)
  wt=$(cut -d' ' -f1 "$w" | median)
  awk -v f="$(basename "$file")" -v s="$size" -v qt="$qt" -v qm="$qm" -v wt="$wt" -v load="$(cut -d' ' -f1-3 /proc/loadavg)" 'BEGIN {
    printf "%-26s %6.1f MB  quillon-cli %.2f s  wc -w %.2f s  ratio %.2f  peak %.0f MiB = %.2f x file  (load %s)\n",
           f, s / 1048576, qt, wt, (wt > 0 ? qt / wt : 0), qm / 1024, qm * 1024 / s, load }'
  rm -f "$q" "$w"
done
