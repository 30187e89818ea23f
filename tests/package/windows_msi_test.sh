#!/usr/bin/env bash
# The per-machine MSI under Wine, as an IT department deploys it:
#   1. msiexec /i <msi> /qn installs into %ProgramFiles%\Lumivane, registered
#      for the machine;
#   2. the installed module runs the whole road against the sandbox;
#   3. the MSI of a newer version replaces it in place: one product
#      registered, the newer one, and the user's pictures still there;
#   4. msiexec /x <msi> /qn removes every file and folder the MSI put there,
#      and its registration, leaving the user's pictures.
# Both MSIs are made by packaging/windows/make-packages from the executable.
#
#   windows_msi_test.sh <Module_Lumivane.exe> <strip> <version> <Linux build>
#
# Exit code 77 (skipped) without wixl, Wine or Xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
if [ $# -ne 4 ]; then
  echo "usage: windows_msi_test.sh <Module_Lumivane.exe> <strip> <version> <Linux build>" >&2
  exit 2
fi
exe=$1 strip=$2 version=$3 linux=$4

. "$root/tests/package/wine_package_lib.sh"
require_tools wixl msibuild msiinfo makensis zip wine wineboot wineserver winepath Xvfb xdotool
start_scratch msi-test

# The newer version: the third number up, the one Windows Installer compares
# (it ignores the fourth).
IFS=. read -r major minor build _ <<<"$version"
newer=$major.$minor.$((build + 1)).0
for v in "$version" "$newer"; do
  (unset LUMIVANE_SIGN_PKCS12
   "$root/packaging/windows/make-packages" "$v" "$exe" "$strip" "$root" "$work/files-$v" "$work/out-$v" >/dev/null)
done
msi_old=$work/out-$version/Module_Lumivane-$version-windows-x64.msi
msi_new=$work/out-$newer/Module_Lumivane-$newer-windows-x64.msi
product_code() { msiinfo export "$1" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p'; }
old_code=$(product_code "$msi_old")
new_code=$(product_code "$msi_new")
[ -n "$old_code" ] && [ "$old_code" != "$new_code" ] || fail "the two versions' MSIs share the product code $old_code"

start_wine
install_dir="$WINEPREFIX/drive_c/Program Files/Lumivane"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
registered_version() {  # product code -> DisplayVersion, or nothing
  wine reg query "$uninstall_key\\$1" /v DisplayVersion 2>/dev/null | tr -d '\r' |
    sed -n 's/.*DisplayVersion[[:space:]]*REG_SZ[[:space:]]*//p'
}
shipped=(Module_Lumivane.exe README.md docs/window.png)

echo "installing silently: msiexec /i $(basename "$msi_old") /qn"
wine msiexec /i "Z:${msi_old//\//\\}" /qn
for f in "${shipped[@]}"; do
  cmp -s "$install_dir/$f" "$work/files-$version/$f" || fail "$f is not in $install_dir as shipped"
done
[ "$(registered_version "$old_code")" = "${version%.*}" ] ||
  [ "$(registered_version "$old_code")" = "$version" ] ||
  fail "$old_code is not registered for the machine with version $version"

echo "running the installed module through the whole road"
run_installed_module "$install_dir/Module_Lumivane.exe" "$linux"
# On Windows a user cannot write in Program Files: the pictures go to
# %LOCALAPPDATA%\Lumivane\images. Wine lets the user write there: they go
# beside the module. Either way they are the user's, not the MSI's.
case $picture_dir in
  "$install_dir/images" | "$local_app_data/Lumivane/images") ;;
  *) fail "the pictures went to $picture_dir" ;;
esac
echo "the module wrote the exchange file and $pictures pictures into $picture_dir"

echo "upgrading silently: msiexec /i $(basename "$msi_new") /qn"
wine msiexec /i "Z:${msi_new//\//\\}" /qn
[ -n "$(registered_version "$new_code")" ] || fail "the newer version is not registered"
[ -z "$(registered_version "$old_code")" ] || fail "the older version is still registered after the upgrade"
for f in "${shipped[@]}"; do
  cmp -s "$install_dir/$f" "$work/files-$newer/$f" || fail "$f is not the newer version's after the upgrade"
done
[ "$(ls "$picture_dir" | wc -l)" -eq "$pictures" ] || fail "the upgrade touched the user's pictures"

echo "uninstalling silently: msiexec /x $(basename "$msi_new") /qn"
wine msiexec /x "Z:${msi_new//\//\\}" /qn
wineserver -w
[ -z "$(registered_version "$new_code")" ] || fail "the module is still registered after msiexec /x"
for f in "${shipped[@]}" docs; do
  [ ! -e "$install_dir/$f" ] || fail "msiexec /x left $f in $install_dir"
done
if [ "$picture_dir" = "$install_dir/images" ]; then
  left=$(cd "$install_dir" && find . -mindepth 1 ! -path './images' ! -path './images/*' | sort)
  [ -z "$left" ] || fail "left after uninstalling: $left"
else
  [ ! -e "$install_dir" ] || fail "msiexec /x left $install_dir"
fi
[ "$(ls "$picture_dir" | wc -l)" -eq "$pictures" ] || fail "the user's pictures did not all stay"
echo "installed for the machine, used, upgraded to $newer and removed; the user's $pictures pictures stayed"
