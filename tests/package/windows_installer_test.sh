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

. "$root/tests/package/wine_package_lib.sh"
require_tools makensis wine wineboot wineserver winepath Xvfb xdotool
start_scratch installer-test

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

start_wine
install_dir=$local_app_data/Programs/Lumivane
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
run_installed_module "$install_dir/Module_Lumivane.exe" "$linux"
[ "$picture_dir" = "$install_dir/images" ] ||
  fail "the pictures went to $picture_dir, not beside the installed module"
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
