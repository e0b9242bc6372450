# Shared by the whole-process benchmark scripts (sourced, not run).
# The median of the numbers on standard input, one per line.
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# Runs the command, appending its wall time in seconds to $1 and its peak memory in KiB to $2.
# Wall time is taken to the millisecond from the clock around the run (the time tool's own
# figure is in hundredths, too coarse for a 0.1 s run); the peak memory comes from the time tool.
timed() {
  times=$1 peaks=$2
  shift 2
  start=$(date +%s%N)
  /usr/bin/time -f "%M" -a -o "$peaks" "$@" >/dev/null
  end=$(date +%s%N)
  echo "$start $end" | awk '{ printf "%.4f\n", ($2 - $1) / 1e9 }' >>"$times"
}
