#!/usr/bin/env bash
# Checks of the shipped binaries of both builds, read with mingw's objdump:
# architecture, the undecorated exports of the module (five) and of vtcore.dll
# (two), imports of system DLLs only (no mingw runtime), and the module's
# version resource's file description.
# Usage: binary_checks.sh X64_BUILD_DIR [X86_BUILD_DIR]
set -uo pipefail
x64_build=${1:?x64 build dir}
x86_build=${2:-}
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Windows system DLLs: the names of Wine's builtin PE libraries.
system_dlls=
for dir in /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows /usr/lib64/wine/x86_64-windows; do
  if [ -d "$dir" ]; then
    system_dlls=$(cd "$dir" && ls -- *.dll | tr 'A-Z' 'a-z')
    break
  fi
done
[ -n "$system_dlls" ] || { echo "FAIL: Wine's builtin DLL folder not found"; exit 1; }

# The bytes of a text in UTF-16LE, as lower-case hex.
utf16_hex() { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -d ' \n'; }

check_format() {  # FILE OBJDUMP FORMAT
  local format
  format=$("$2" -f "$1" | sed -n 's/.*file format //p')
  [ "$format" = "$3" ] || fail "$1: file format '$format', not '$3'"
}

check_imports() {  # FILE OBJDUMP
  local dll lower
  local dlls
  dlls=$("$2" -p "$1" | awk '/DLL Name:/ { print $3 }')
  [ -n "$dlls" ] || fail "$1: no import table"
  for dll in $dlls; do
    lower=$(printf '%s' "$dll" | tr 'A-Z' 'a-z')
    case "$lower" in
      libstdc++*|libgcc_s*|libwinpthread*|libssp*|libgomp*) fail "$1 imports the mingw runtime $dll" ;;
      *) grep -qxF -- "$lower" <<<"$system_dlls" || fail "$1 imports $dll, which is not a system DLL" ;;
    esac
  done
}

check_exports() {  # FILE OBJDUMP NAME...
  local file=$1 objdump=$2 exports expected
  shift 2
  exports=$("$objdump" -p "$file" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^\t\[ *[0-9]+\]/ { print $3 }' | sort)
  expected=$(printf '%s\n' "$@" | sort)
  [ "$exports" = "$expected" ] || fail "$file exports [$(echo $exports)], not [$(echo $expected)]"
}

check_file_description() {  # FILE OBJDUMP
  # The StringFileInfo entry: its key, the key's terminator and padding to a
  # 32-bit boundary, then the value with its terminator.
  local resources pattern
  resources=$("$2" -s -j .rsrc "$1" | sed -nE 's/^ [0-9a-f]+ (.{35}).*/\1/p' | tr -d ' \n')
  pattern="$(utf16_hex FileDescription)0000(0000)?$(utf16_hex 'Modularity configurator')0000"
  grep -Eq -- "$pattern" <<<"$resources" || fail "$1: no FileDescription \"Modularity configurator\" in its version resource"
}

check_build() {  # BUILD_DIR OBJDUMP FORMAT
  local module="$1/bin/qvrinst.dll" host="$1/bin/qvrhost.exe" framework="$1/bin/vtcore.dll" file
  for file in "$module" "$host" "$framework" "$1/bin/vtstore.exe"; do
    [ -f "$file" ] || { fail "$file is missing"; continue; }
    check_format "$file" "$2" "$3"
    check_imports "$file" "$2"
  done
  if [ -f "$module" ]; then
    check_exports "$module" "$2" GetTracer GetVersionedQVRInstaller MsiProductActivate MsiProductDeactivate \
                  MsiProductRbActivate
    check_file_description "$module" "$2"
  fi
  [ -f "$framework" ] && check_exports "$framework" "$2" VantorLoad VantorUnload
}

check_build "$x64_build" x86_64-w64-mingw32-objdump pei-x86-64
echo "x64 build checked: $x64_build"
if [ -n "$x86_build" ]; then
  check_build "$x86_build" i686-w64-mingw32-objdump pei-i386
  echo "x86 build checked: $x86_build"
else
  echo "x86 build not checked: this tree was configured without QVR_X86_BUILD_DIR (the Makefile passes it)"
fi

if [ "$failures" -ne 0 ]; then
  echo "binary checks: $failures failed"
  exit 1
fi
echo "binary checks: passed"
