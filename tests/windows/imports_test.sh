#!/bin/sh
# The executable stands alone: it imports system DLLs only (no DLL to ship
# beside it). Usage: imports_test.sh MODULE.exe
set -u
imports=$(x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$imports" ] || { echo "no import table read from $1" >&2; exit 1; }
echo "$imports"
others=$(echo "$imports" | grep -viE '^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|shlwapi|winhttp|msvcrt|ole32|oleaut32|ws2_32|crypt32|advapi32|windowscodecs|uxtheme|version)\.dll$')
if [ -n "$others" ]; then
  echo "not a system DLL: $others" >&2
  exit 1
fi
