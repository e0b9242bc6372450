#!/bin/sh
# Writes the expected outputs of tests/golden/cases.txt with a built quillon-cli.
# Usage: scripts/update-golden.sh [BUILD_DIR]   (default build/release)
# Run it only after checking that every difference GoldenTest reports is intended.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cli="$root/${1:-build/release}/quillon-cli"
[ -x "$cli" ] || { echo "no quillon-cli at $cli (build it first)" >&2; exit 1; }
cd "$root"
grep -v '^#' tests/golden/cases.txt | grep -v '^[[:space:]]*$' | while read -r out args; do
  # shellcheck disable=SC2086  # the arguments are split on blanks, as the test splits them
  "$cli" $args > "tests/golden/$out"
  echo "tests/golden/$out"
done
