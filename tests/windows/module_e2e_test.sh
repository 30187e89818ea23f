#!/usr/bin/env bash
# The Windows executable under Wine and Xvfb against lumivane-sandbox (a Linux
# program), beside the Linux executable on the same road:
#   1. the happy road gives the same exchange file, byte for byte, apart from
#      the token, the picture stamps and the path form (Z:\...\images\);
#   2. a refused gateway answer shows its report, then the module ends;
#   3. a failed retrieval shows its error and keeps the window;
#   4. "Annuler" during a retrieval whose pictures take 20 s ends the module
#      within 3 s, without writing and without a pictures folder;
#   5. a standard error pipe already full, never read: the message box still
#      comes, the module ends once it is dismissed, the message in the journal.
# Usage: module_e2e_test.sh MODULE.exe LINUX_MODULE SANDBOX WINE_RUN WINE_PREFIX
set -u
exe=$1 linux_module=$2 sandbox=$3 wine_run=$4 prefix=$5
work=$(mktemp -d "${TMPDIR:-/tmp}/lumivane-wine-e2e.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }
wait_for() {  # condition, seconds
  local deadline=$((SECONDS + $2))
  until eval "$1"; do
    [ $SECONDS -ge "$deadline" ] && return 1
    sleep 0.2
  done
}

"$sandbox" --port 0 >"$work/sandbox.url" 2>"$work/sandbox.log" &
pids+=($!)
wait_for '[ -s "$work/sandbox.url" ]' 10 || { echo "sandbox did not start" >&2; exit 1; }
base=$(head -n 1 "$work/sandbox.url")
Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp >"$work/display" 2>/dev/null &
pids+=($!)
wait_for '[ -s "$work/display" ]' 10 || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")" LC_ALL=C.UTF-8
export LUMIVANE_GATEWAY_URL=$base LUMIVANE_QUOTE_SERVICE_URL=$base LUMIVANE_JOURNAL=off
fault() { curl -fsS -X POST -H 'Content-Type: application/json' -d "$1" "$base/_control/fault" >/dev/null; }

# One run in a folder of its own: run NAME KIND(linux|windows) PASSWORD
run() {
  local dir="$work/$1"
  mkdir -p "$dir/module" "$dir/bin" "$dir/runtime"
  chmod 700 "$dir/runtime"
  printf '#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s/browser.log"\n' "$dir" >"$dir/bin/xdg-open"
  chmod +x "$dir/bin/xdg-open"
  printf '[General]\r\nVersion=1\r\nConfigurateur=lumivane\r\n\r\n[Utilisateur]\r\nIdentifiant=demo@lumivane.test\r\nMotDePasse=%s\r\n' "$3" >"$dir/config.ini"
  printf 'avant\r\n' >"$dir/devis.xml"
  if [ "$2" = windows ]; then
    cp "$exe" "$dir/module/"
    PATH="$dir/bin:$PATH" "$wine_run" "$prefix" "$dir/module/$(basename "$exe")" "$dir/devis.xml" \
      "$dir/config.ini" 2>"$dir/stderr" &
  else
    cp "$linux_module" "$dir/module/"
    XDG_RUNTIME_DIR="$dir/runtime" PATH="$dir/bin:$PATH" "$dir/module/$(basename "$linux_module")" \
      "$dir/devis.xml" "$dir/config.ini" 2>"$dir/stderr" &
  fi
  module=$!
  pids+=($module)
}
main_window() { xdotool search --onlyvisible --name '^Brevance - Configurateur lumivane$' 2>/dev/null | head -n 1; }
click() { local w; w=$(main_window); [ -n "$w" ] && xdotool mousemove --window "$w" "$1" "$2" click 1; }
ended() { wait_for '! kill -0 "$module" 2>/dev/null' "${1:-30}"; }
# The exchange file with what differs between runs and systems made even
# (each saved quote gets the next id and number from the sandbox).
normalised() {
  iconv -f ISO-8859-1 -t UTF-8 "$1" | sed -E -e 's#<Jeton>[0-9a-f]+</Jeton>#<Jeton>T</Jeton>#g' \
    -e 's#<Image>[^<]*[/\\]images[/\\][0-9]{8}_[0-9]{6}(-[0-9]+)?_#<Image>IMAGES/#g' \
    -e 's#DV-[0-9]{4}-[0-9]+#NUMERO#g' -e 's#<Project>[0-9]+</Project>#<Project>ID</Project>#g'
}

happy_road() {  # NAME KIND
  run "$1" "$2" demo
  local dir="$work/$1"
  wait_for '[ -s "$dir/browser.log" ]' 60 || { fail "$1: no browser ($(cat "$dir/stderr"))"; return; }
  local token
  token=$(sed -n 's/.*jeton=//p' "$dir/browser.log" | head -n 1)
  curl -fsS -X POST -H 'Content-Type: application/json' \
    --data '{"lignes":[{"produit":"FEN-001","quantite":2},{"produit":"POR-001","quantite":1},{"produit":"VOL-001","quantite":3}]}' \
    "$base/configurateur/devis?jeton=$token" >/dev/null
  wait_for '[ -n "$(main_window)" ]' 30 || { fail "$1: no window"; return; }
  click 84 183
  ended 60 || fail "$1: did not end after the retrieval"
  [ "$(ls "$dir/module/images" 2>/dev/null | wc -l)" -eq 3 ] || fail "$1: three pictures expected"
}

echo "1. happy road, Linux then Windows"
happy_road linux linux
happy_road windows windows
if ! diff <(normalised "$work/linux/devis.xml") <(normalised "$work/windows/devis.xml"); then
  fail "the exchange files differ"
fi
grep -q 'Z:\\' "$work/windows/devis.xml" || fail "Windows picture paths are not Windows paths"

echo "2. refused gateway answer"
run refused windows pas-le-bon
wait_for 'grep -qs GetJetonEtUrlsErreurs "$work/refused/stderr"' 60 || fail "refused: no report"
sleep 0.5
xdotool key Return
ended 30 || fail "refused: did not end"
[ "$(cat "$work/refused/devis.xml")" = "$(printf 'avant\r\n')" ] || fail "refused: exchange file changed"

echo "3. failed retrieval keeps the window"
fault '{"endpoint":"quote","status":500}'
run failed windows demo
wait_for '[ -s "$work/failed/browser.log" ] && [ -n "$(main_window)" ]' 60 || fail "failed: not ready"
click 84 183
wait_for 'grep -qs "répondu 500" "$work/failed/stderr"' 30 || fail "failed: no error shown"
sleep 0.5
xdotool key Return
sleep 1
kill -0 "$module" 2>/dev/null || fail "failed: the module ended"
click 264 183
ended 30 || fail "failed: Annuler did not end it"
[ "$(cat "$work/failed/devis.xml")" = "$(printf 'avant\r\n')" ] || fail "failed: exchange file changed"
fault '{"endpoint":"quote"}'

echo "4. Annuler during a slow retrieval"
fault '{"endpoint":"picture","delay_ms":20000}'
run annuler windows demo
wait_for '[ -s "$work/annuler/browser.log" ] && [ -n "$(main_window)" ]' 60 || fail "annuler: not ready"
click 84 183
sleep 1.5
kill -0 "$module" 2>/dev/null || fail "annuler: the retrieval did not wait for its pictures"
pressed=$(date +%s%N)
click 264 183
if ended 3; then
  echo "   \"Annuler\" to the module's exit: $((($(date +%s%N) - pressed) / 1000000)) ms"
else
  fail "annuler: still running 3 s after Annuler"
fi
[ "$(cat "$work/annuler/devis.xml")" = "$(printf 'avant\r\n')" ] || fail "annuler: exchange file changed"
# The folder made for the pictures stays (another module may have chosen
# it), with no picture in it; a transfer abandoned under Wine may leave this
# run's private folder, for the next retrieval to remove.
[ -z "$(find "$work/annuler/module/images" -name '*.jpeg' 2>/dev/null)" ] ||
  fail "annuler: pictures are left"
fault '{"endpoint":"picture"}'

echo "5. a standard error pipe already full"
dir="$work/plein"
mkdir -p "$dir/module"
cp "$exe" "$dir/module/"
mkfifo "$dir/stderr.fifo"
exec 7<>"$dir/stderr.fifo"  # the host's end, read only after the module
# Filled without waiting; the module's end of it waits, as a host's does.
dd if=/dev/zero of="$dir/stderr.fifo" bs=1 count=131072 oflag=nonblock status=none 2>/dev/null
LUMIVANE_JOURNAL="Z:$dir/journal.log" "$wine_run" "$prefix" "$dir/module/$(basename "$exe")" \
  "$dir/devis.xml" "$dir/absent.ini" 2>"$dir/stderr.fifo" &
module=$!
pids+=($module)
message_box() { xdotool search --onlyvisible --name '^Module_Lumivane$' 2>/dev/null | head -n 1; }
if wait_for '[ -n "$(message_box)" ]' 60; then
  sleep 0.5
  xdotool key Return
  ended 10 || fail "full pipe: still running 10 s after its box was dismissed"
else
  fail "full pipe: no message box"
fi
grep -qs "message : Le configurateur Lumivane n'est pas configuré" "$dir/journal.log" ||
  fail "full pipe: the message is not in the journal"
exec 7<&-

echo "module under Wine: $failures failure(s)"
[ "$failures" -eq 0 ]
