#!/usr/bin/env bash
# scripts/setup against stand-ins for dpkg-query, apt-get and sudo: it waits
# while another program holds the package database, gives up after its time
# limit, and stops at once on any other apt-get failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/lumivane-setup-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"

# Every package present but nsis.
cat >"$work/bin/dpkg-query" <<'SH'
#!/bin/sh
for last; do :; done
[ "$last" = nsis ] && exit 1
printf 'install ok installed'
SH
# Fails with apt's lock message the first $LOCKED_CALLS times (or with
# another error when $OTHER_ERROR is set), then succeeds; logs each call.
cat >"$work/bin/apt-get" <<'SH'
#!/bin/sh
n=$(($(cat "$STATE/calls" 2>/dev/null || echo 0) + 1))
echo "$n" >"$STATE/calls"
if [ -n "${OTHER_ERROR:-}" ]; then
  echo "E: Unable to locate package nsis" >&2
  exit 100
fi
if [ "$n" -le "$LOCKED_CALLS" ]; then
  echo "E: Could not get lock /var/lib/apt/lists/lock. It is held by process 4242 (unattended-upgr)" >&2
  echo "E: Unable to lock directory /var/lib/apt/lists/" >&2
  exit 100
fi
echo "apt-get $*" >>"$STATE/done"
SH
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin/"*

failures=0
check() {  # description, then a command that must succeed
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

run_setup() {  # case name; environment set by the caller
  rm -f "$work/calls" "$work/done"
  STATE=$work PATH="$work/bin:$PATH" LUMIVANE_APT_LOCK_POLL=0.1 "$root/scripts/setup" \
    >"$work/out" 2>&1
}

# The lock held for three tries: setup waits, says so once, then installs.
export LOCKED_CALLS=3
LUMIVANE_APT_LOCK_WAIT=60 run_setup && status=0 || status=$?
check "waits for the lock and then succeeds" [ "$status" -eq 0 ]
check "says once that it waits, naming the holder" \
  [ "$(grep -c 'waiting for it (up to 1 min)' "$work/out")" -eq 1 ]
check "names the process that holds the lock" grep -q 'held by process 4242 (unattended-upgr)' "$work/out"
check "updates, then installs only what is missing" \
  [ "$(cat "$work/done" 2>/dev/null)" = "$(printf 'apt-get update -qq\napt-get install -y -qq --no-install-recommends nsis')" ]

# The lock never released: setup gives up after its limit, with a clear line.
LOCKED_CALLS=1000000 LUMIVANE_APT_LOCK_WAIT=1 run_setup && status=0 || status=$?
check "gives up when the lock stays" [ "$status" -ne 0 ]
check "says the database is still locked" grep -q 'still locked after 1 s' "$work/out"

# Any other failure is not waited for.
OTHER_ERROR=1 LUMIVANE_APT_LOCK_WAIT=60 run_setup && status=0 || status=$?
check "stops at once on another error" [ "$status" -ne 0 -a "$(cat "$work/calls")" -eq 1 ]
check "shows apt-get's own error" grep -q 'Unable to locate package nsis' "$work/out"

if [ "$failures" -ne 0 ]; then
  echo "--- output of the last run:"
  cat "$work/out"
  exit 1
fi
