# Sourced by the tests of the Windows packages: a scratch folder, an Xvfb and
# a fresh Wine prefix of the test's own, and the installed module's whole
# road against the sandbox. The caller sets `set -euo pipefail` first.

pids=()
fail() { echo "FAILED: $*" >&2; exit 1; }
wait_for() {  # command, seconds
  local deadline=$((SECONDS + $2))
  until eval "$1"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
}

# Exits 77 (skipped) when a tool is missing.
require_tools() {
  local tool
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null; then
      echo "skipped: $tool is missing (scripts/setup installs it)"
      exit 77
    fi
  done
}

# A scratch folder ($work) removed at the end, with everything started in it.
start_scratch() {  # name
  work=$(mktemp -d "${TMPDIR:-/tmp}/lumivane-$1.XXXXXX")
  trap stop_scratch EXIT
}
stop_scratch() {
  local status=$? pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
  rm -rf "$work"
  exit "$status"
}

# Wine draws on an Xvfb of the test's own, there from the first Wine process
# on: a prefix started without a display cannot make windows later. A fresh
# prefix: its registry holds nothing but what the package writes. Sets
# $local_app_data, the user's AppData\Local.
start_wine() {
  Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp >"$work/display" 2>/dev/null &
  pids+=($!)
  wait_for '[ -s "$work/display" ]' 10 || fail "Xvfb did not start"
  export DISPLAY=":$(head -n 1 "$work/display")"
  export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  echo "creating a Wine prefix"
  wineboot -i >/dev/null 2>&1
  local_app_data=$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData/Local | grep -v /Public/ | head -n 1)
}

# The installed module through the whole road against the sandbox of the
# Linux build: the configurator opened, "Récupérer le devis" pressed, the
# exchange file written. Sets $picture_dir (the folder the exchange file
# names, as a Linux path) and $pictures (how many it holds).
run_installed_module() {  # module.exe (Linux path), Linux build
  local exe=$1 linux=$2 module status first
  if [ -z "${base:-}" ]; then
    "$linux/lumivane-sandbox" --port 0 --quiet >"$work/sandbox.url" &
    pids+=($!)
    wait_for '[ -s "$work/sandbox.url" ]' 10 || fail "the sandbox did not start"
    base=$(head -n 1 "$work/sandbox.url")
    # Wine opens web addresses with the desktop's xdg-open: a stand-in records them.
    mkdir -p "$work/bin"
    printf '#!/bin/sh\nprintf "%%s\\n" "$1" >>"%s"\n' "$work/browser.log" >"$work/bin/xdg-open"
    chmod +x "$work/bin/xdg-open"
    printf '[General]\r\nVersion=1\r\nConfigurateur=lumivane\r\n[Utilisateur]\r\nIdentifiant=demo@lumivane.test\r\nMotDePasse=demo\r\n' \
      >"$work/config.ini"
  fi
  rm -f "$work/browser.log" "$work/devis.xml"
  PATH="$work/bin:$PATH" LUMIVANE_GATEWAY_URL=$base LUMIVANE_QUOTE_SERVICE_URL=$base \
    wine "$exe" "Z:${work//\//\\}\\devis.xml" "Z:${work//\//\\}\\config.ini" \
    2>"$work/module.log" &
  module=$!
  pids+=($module)
  wait_for '[ -s "$work/browser.log" ]' 60 || { cat "$work/module.log" >&2; fail "the module did not open the configurator"; }
  local window
  window=$(xdotool search --sync --onlyvisible --name 'Configurateur lumivane' | head -n 1)
  # "Récupérer le devis" has the focus and is the default button: Return
  # presses it, wherever the window manager (none here) puts the window.
  xdotool windowfocus --sync "$window"
  xdotool key --clearmodifiers Return
  wait_for '! kill -0 "$module" 2>/dev/null' 60 || { cat "$work/module.log" >&2; fail "the module did not finish"; }
  status=0
  wait "$module" || status=$?
  [ "$status" -eq 0 ] || { cat "$work/module.log" >&2; fail "the module ended with code $status"; }
  grep -q '<Menuiserie' "$work/devis.xml" 2>/dev/null || { cat "$work/module.log" >&2; fail "no exchange file"; }
  first=$(grep -o '<Image>[^<]*</Image>' "$work/devis.xml" | head -n 1 | sed 's/<[^>]*>//g')
  [ -n "$first" ] || fail "the exchange file names no picture"
  picture_dir=$(realpath -m "$(dirname "$(winepath -u "$first" 2>/dev/null)")")
  pictures=$(ls "$picture_dir" 2>/dev/null | wc -l)
  [ "$pictures" -ge 1 ] || fail "no picture in $picture_dir"
}
