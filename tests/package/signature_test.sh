#!/usr/bin/env bash
# Authenticode signatures of the Windows packages, checked by osslsigncode
# against a certificate authority made for the test (openssl): the shipped
# executable, the per-user installer, the uninstaller it installs (under
# Wine) and the MSI all carry a valid SHA-256 signature by the test's
# code-signing certificate; a signed file changed afterwards fails the check.
# No time-stamp server is contacted.
#
#   signature_test.sh <Module_Lumivane.exe> <strip> <version>
#
# Exit code 77 (skipped) without osslsigncode, openssl, wixl or Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
if [ $# -ne 3 ]; then
  echo "usage: signature_test.sh <Module_Lumivane.exe> <strip> <version>" >&2
  exit 2
fi
exe=$1 strip=$2 version=$3

. "$root/tests/package/wine_package_lib.sh"
require_tools osslsigncode openssl wixl msibuild makensis zip wine wineboot wineserver Xvfb
start_scratch signature-test

echo "making a certificate authority and a code-signing certificate"
ca=$work/ca
mkdir "$ca"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$ca/ca.key" -out "$ca/ca.pem" -days 2 \
  -subj "/CN=Lumivane test authority" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$ca/signer.key" -out "$ca/signer.csr" \
  -subj "/CN=Lumivane test signer/O=Lumivane" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
  >"$ca/signer.ext"
openssl x509 -req -in "$ca/signer.csr" -CA "$ca/ca.pem" -CAkey "$ca/ca.key" -CAcreateserial -days 2 \
  -extfile "$ca/signer.ext" -out "$ca/signer.pem" 2>/dev/null
printf 'un mot de passe\n' >"$ca/password"
openssl pkcs12 -export -inkey "$ca/signer.key" -in "$ca/signer.pem" -certfile "$ca/ca.pem" \
  -passout "file:$ca/password" -out "$ca/signer.p12"
# Another authority, which must not vouch for the files.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$ca/other.key" -out "$ca/other.pem" -days 2 \
  -subj "/CN=Another authority" 2>/dev/null

echo "making the packages with the certificate"
LUMIVANE_SIGN_PKCS12=$ca/signer.p12 LUMIVANE_SIGN_PASSWORD_FILE=$ca/password \
  "$root/packaging/windows/make-packages" "$version" "$exe" "$strip" "$root" "$work/files" "$work/out" \
  >"$work/make.log" 2>&1 || { cat "$work/make.log" >&2; fail "make-packages failed"; }
grep -q 'unsigned' "$work/make.log" && { cat "$work/make.log" >&2; fail "a file was left unsigned"; }

verify() {  # file, authority
  osslsigncode verify -CAfile "$2" -in "$1" >"$work/verify.log" 2>&1
}
check_signed() {  # file
  verify "$1" "$ca/ca.pem" || { cat "$work/verify.log" >&2; fail "$(basename "$1"): no valid signature"; }
  grep -q 'Message digest algorithm *: SHA256' "$work/verify.log" ||
    { cat "$work/verify.log" >&2; fail "$(basename "$1"): not signed with SHA-256"; }
  grep -q 'Subject: .*CN *= *Lumivane test signer' "$work/verify.log" ||
    { cat "$work/verify.log" >&2; fail "$(basename "$1"): not signed by the test's certificate"; }
  ! verify "$1" "$ca/other.pem" || fail "$(basename "$1"): another authority vouches for it"
}
# One byte changed in the middle of a copy: the signature no longer holds.
check_tamper_fails() {  # file
  local copy size
  copy=$work/tampered-$(basename "$1")
  cp "$1" "$copy"
  size=$(stat -c %s "$copy")
  printf '\xA5' | dd of="$copy" bs=1 seek=$((size / 2)) conv=notrunc status=none
  cmp -s "$1" "$copy" && printf '\x5A' | dd of="$copy" bs=1 seek=$((size / 2)) conv=notrunc status=none
  ! verify "$copy" "$ca/ca.pem" || fail "$(basename "$1") changed after signing still passes the check"
}

installer=$work/out/Module_Lumivane-$version-windows.exe
msi=$work/out/Module_Lumivane-$version-windows-x64.msi
for file in "$work/files/Module_Lumivane.exe" "$installer" "$msi"; do
  check_signed "$file"
  check_tamper_fails "$file"
  echo "$(basename "$file"): signed, and fails the check once changed"
done
# The zip holds the signed executable.
unzip -p "$work/out/Module_Lumivane-$version-windows-x64.zip" Module_Lumivane.exe | cmp -s - "$work/files/Module_Lumivane.exe" ||
  fail "the zip does not hold the signed executable"

echo "installing under Wine to check the uninstaller it writes"
start_wine
wine "$installer" /S
uninstaller=$local_app_data/Programs/Lumivane/Desinstaller.exe
[ -f "$uninstaller" ] || fail "the installer wrote no uninstaller"
check_signed "$uninstaller"
cmp -s "$local_app_data/Programs/Lumivane/Module_Lumivane.exe" "$work/files/Module_Lumivane.exe" ||
  fail "the installer does not hold the signed executable"
echo "Desinstaller.exe: signed"
