#!/usr/bin/env bash
# The Windows installer under Wine, as a user without administrator rights
# gets it: silent install (/S) into %LOCALAPPDATA%\Programs\Lumivane with an
# uninstaller registered for the user, the installed module through the whole
# road against the sandbox (its pictures in images\ beside it), then a silent
# uninstall that leaves nothing of the module but the user's pictures.
#
#   windows_installer_test.sh <installer.exe> <Linux build folder>
#   windows_installer_test.sh --stand-in <Linux build folder>
#
# The Windows build's suite runs the first form on the installer it has just
# made. The second, for the Linux suite, builds an installer around a
# stand-in executable and checks installing and uninstalling alone; the line
# "the installed module's run: skipped" says so. Exit code 77 (skipped)
# without makensis, Wine or Xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
usage="usage: windows_installer_test.sh <installer.exe>|--stand-in <Linux build>"
installer=${1:?$usage}
linux=${2:?$usage}

for tool in makensis wine wineboot wineserver Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is missing (scripts/setup installs it)"
    exit 77
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/lumivane-installer-test.XXXXXX")
pids=()
cleanup() {
  local status=$?
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT

fail() { echo "FAILED: $*" >&2; exit 1; }
wait_for() {  # command, seconds
  local deadline=$((SECONDS + $2))
  until eval "$1"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
}

if [ "$installer" = --stand-in ]; then
  echo "checking the installer of a stand-in executable"
  printf 'stand-in\n' >"$work/Module_Lumivane.exe"
  installer=$work/Module_Lumivane-0.0.0.0-windows.exe
  makensis -V2 -INPUTCHARSET UTF8 -DVERSION=0.0.0.0 -DEXE="$work/Module_Lumivane.exe" \
    -DGUIDE="$root/README.md" -DPICTURE="$root/docs/window.png" -DOUTFILE="$installer" \
    "$root/packaging/windows/lumivane.nsi" >/dev/null
  stand_in=1
fi
[ -f "$installer" ] || fail "no installer at $installer (cmake --build build-windows --target installer)"

# Wine draws on an Xvfb of the test's own, there from the first Wine process
# on: a prefix started without a display cannot make windows later.
Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp >"$work/display" 2>/dev/null &
pids+=($!)
wait_for '[ -s "$work/display" ]' 10 || fail "Xvfb did not start"
export DISPLAY=":$(head -n 1 "$work/display")"

# A fresh prefix: its registry holds nothing but what the installer writes.
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
echo "creating a Wine prefix"
wineboot -i >/dev/null 2>&1
user_dir=$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData/Local | grep -v /Public/ | head -n 1)
install_dir=$user_dir/Programs/Lumivane
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Module_Lumivane'

echo "installing silently: $(basename "$installer") /S"
wine "$installer" /S
for f in Module_Lumivane.exe Desinstaller.exe README.md docs/window.png; do
  [ -f "$install_dir/$f" ] || fail "$f is not in $install_dir"
done
wine reg query "$key" /v UninstallString | grep -q 'Desinstaller.exe' ||
  fail "no uninstaller registered for the user under $key"
wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Module_Lumivane' >/dev/null 2>&1 &&
  fail "the installer wrote to the machine's registry"

if [ -n "${stand_in:-}" ]; then
  echo "the installed module's run: skipped (no Windows build); a picture stands for the user's"
  mkdir "$install_dir/images"
  printf 'jpeg' >"$install_dir/images/20261208_091500_DV-2026-00042.jpeg"
  pictures=1
else
echo "running the installed module through the whole road"
"$linux/lumivane-sandbox" --port 0 --quiet >"$work/sandbox.url" &
pids+=($!)
wait_for '[ -s "$work/sandbox.url" ]' 10 || fail "the sandbox did not start"
base=$(head -n 1 "$work/sandbox.url")
# Wine opens web addresses with the desktop's xdg-open: a stand-in records them.
mkdir "$work/bin"
printf '#!/bin/sh\nprintf "%%s\\n" "$1" >>"%s"\n' "$work/browser.log" >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
printf '[General]\r\nVersion=1\r\nConfigurateur=lumivane\r\n[Utilisateur]\r\nIdentifiant=demo@lumivane.test\r\nMotDePasse=demo\r\n' \
  >"$work/config.ini"
PATH="$work/bin:$PATH" LUMIVANE_GATEWAY_URL=$base LUMIVANE_QUOTE_SERVICE_URL=$base \
  wine "$install_dir/Module_Lumivane.exe" "Z:${work//\//\\}\\devis.xml" "Z:${work//\//\\}\\config.ini" \
  2>"$work/module.log" &
module=$!
pids+=($module)
wait_for '[ -s "$work/browser.log" ]' 60 || { cat "$work/module.log" >&2; fail "the module did not open the configurator"; }
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
pictures=$(ls "$install_dir/images" 2>/dev/null | wc -l)
[ "$pictures" -ge 1 ] || fail "no picture in $install_dir/images"
grep -q 'AppData\\Local\\Programs\\Lumivane\\images\\' "$work/devis.xml" ||
  fail "the exchange file does not name the pictures beside the installed module"
fi

echo "uninstalling silently"
wine "$install_dir/Desinstaller.exe" /S
# The uninstaller runs on from a copy of itself: wait until it is done.
wait_for '[ ! -f "$install_dir/Desinstaller.exe" ]' 30 || fail "the uninstaller left itself behind"
WINEPREFIX=$WINEPREFIX wineserver -w
[ -d "$install_dir/images" ] || fail "the uninstaller removed the user's pictures"
left=$(cd "$install_dir" && find . -mindepth 1 ! -path './images' ! -path './images/*' | sort)
[ -z "$left" ] || fail "left after uninstalling: $left"
[ "$(ls "$install_dir/images" | wc -l)" -eq "$pictures" ] || fail "the user's pictures did not all stay"
wine reg query "$key" >/dev/null 2>&1 && fail "the uninstaller is still registered"
if [ -n "${stand_in:-}" ]; then
  echo "installed and uninstalled for the user alone; the user's picture stayed"
else
  echo "installed, used and uninstalled for the user alone; the user's $pictures pictures stayed"
fi
