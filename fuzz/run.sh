#!/usr/bin/env bash
# Runs one fuzz target: fuzz/run.sh TARGET [SECONDS] [BUILD_DIR], TARGET one of
#   ikev1-decode, ikev2-decode  load and show every visible node's texts (fast: long runs)
#   ikev1, ikev2                the whole round trip: print, save, reload, pieces, follow
# e.g. an hour of decoding, then half an hour of round trips, one run at a time:
#   fuzz/run.sh ikev1-decode 3600 && fuzz/run.sh ikev1 1800
# The corpus lives in BUILD_DIR/corpus-FORMAT (shared by a format's two targets) and starts from
# the sample logs of that format;
# inputs are kept small (-max_len) so that each run is fast, and the dictionary holds the
# format's keywords so that mutations make lines the readers recognise.
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?ikev1, ikev2, ikev1-decode or ikev2-decode}
format=${target%-decode}
binary=log_fuzz_$format
decode=()
if [ "$target" != "$format" ]; then
  binary=${binary}_decode
  # The entropic scheduler weighs every feature of every run: on the decode target that costs
  # more than the run itself (260 against 500 and more runs a second).
  decode=(-entropic=0)
fi
seconds=${2:-600}
build=${3:-build/fuzz}
corpus="$build/corpus-$format"
seeds="$build/seeds-$format"
mkdir -p "$corpus" "$seeds"
# The committed corpus (fuzz/corpus-FORMAT.tar.xz: the inputs of the last long runs, minimised
# with -merge=1) seeds an empty corpus directory, so that a run starts where those ended.
if [ -z "$(ls -A "$corpus")" ] && [ -f "fuzz/corpus-$format.tar.xz" ]; then
  tar -xJf "fuzz/corpus-$format.tar.xz" -C "$corpus"
fi
if [ "$format" = ikev1 ]; then pattern='*.ilx'; else pattern='*.xml'; fi
# The samples cut into pieces no longer than -max_len, each a seed.
for sample in examples/$pattern; do
  split -b 8192 -d "$sample" "$seeds/$(basename "$sample")."
done
# Findings go to BUILD_DIR/findings-FORMAT; with FUZZ_GO_ON=1 the run goes on after one (one
# child process at a time), and inputs whose saved log reads back differently are only recorded
# there (save-*), so that a known finding does not end a long run.
findings="$build/findings-$format"
mkdir -p "$findings"
go_on=()
if [ "${FUZZ_GO_ON:-0}" = 1 ]; then
  go_on=(-fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1)
  export QUILLON_FUZZ_RECORD="$findings"
fi
exec "$build/fuzz/$binary" "${go_on[@]}" "${decode[@]}" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
  -dict="fuzz/$format.dict" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$findings/" \
  "$corpus" "$seeds"
