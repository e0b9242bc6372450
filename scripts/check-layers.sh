#!/usr/bin/env bash
# Checks that every source folder includes only the layers below it:
#   model            the node base and the log root: knows no log format
#   ikev1, ikev2     the two log formats: the model only, never each other
#   logs             what knows both formats (choosing the reader, opening a log file)
#   export           what is handed over from a loaded log (packet capture, report): reads both
#                    formats' nodes, like logs
#   cli, app         the command-line tool and the viewer: the model, logs and export, never a format
#   platform         what the executables need from the system: the model's plain interfaces
#                    (a byte sink to write to) at most
# The core (model, ikev1, ikev2, logs) includes no Qt header either. Prints every include that
# breaks the order and exits 1 when there is one. Usage: check-layers.sh [SOURCE_DIR]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

declare -A allowed=(
  [model]="model"
  [ikev1]="model ikev1"
  [ikev2]="model ikev2"
  [logs]="model ikev1 ikev2 logs"
  [export]="model ikev1 ikev2 export"
  [cli]="model logs export cli platform"
  [app]="model logs export app platform"
  [platform]="platform model"
)

status=0
for folder in "${!allowed[@]}"; do
  [ -d "$folder" ] || continue
  # Every quoted include names a path from the source root: its first part is the layer.
  while IFS=: read -r file line text; do
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"/]*)\/.*/\1/' <<<"$text")
    if [[ "$target" == "$text" ]]; then
      echo "$file:$line: include without a layer folder: $text"
      status=1
    elif [[ " ${allowed[$folder]} " != *" $target "* ]]; then
      echo "$file:$line: $folder/ may not include $target/: $text"
      status=1
    fi
  done < <(grep -rnE --include='*.h' --include='*.cpp' '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$folder" || true)
done

for folder in model ikev1 ikev2 logs export; do
  [ -d "$folder" ] || continue
  if grep -rnE --include='*.h' --include='*.cpp' '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$folder"; then
    echo "$folder/ is standard library only: no Qt header"
    status=1
  fi
done

[ "$status" -eq 0 ] || echo "Include direction between layers broken (see scripts/check-layers.sh)."
exit "$status"
