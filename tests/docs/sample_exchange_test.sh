#!/usr/bin/env bash
# The sample exchange file of README.md is the one scripts/demo writes:
# runs `scripts/demo --sample` on the build in $1 and compares its output with
# the block that follows the marker line in the guide.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?usage: sample_exchange_test.sh <build folder>}
marker='<!-- sample exchange file: scripts/demo --sample -->'

expected=$(awk -v marker="$marker" '
  $0 == marker { found = 1; next }
  found && /^```/ { if (inside) exit; inside = 1; next }
  inside { print }
' "$root/README.md")
if [ -z "$expected" ]; then
  echo "README.md has no sample block after the line: $marker" >&2
  exit 1
fi

actual=$(LUMIVANE_BUILD_DIR=$build LUMIVANE_DEMO_BUILT=1 "$root/scripts/demo" --sample 2>"$build/sample-demo.log") || {
  echo "scripts/demo --sample failed:" >&2
  cat "$build/sample-demo.log" >&2
  exit 1
}
if [ "$actual" != "$expected" ]; then
  echo "The sample exchange file in README.md is not what scripts/demo writes." >&2
  echo "Replace the block after \"$marker\" with the output of scripts/demo --sample." >&2
  diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") >&2 || true
  exit 1
fi
echo "README.md's sample exchange file is the demo's"
