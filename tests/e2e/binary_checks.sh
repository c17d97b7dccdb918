#!/usr/bin/env bash
# Checks of the shipped binaries of both builds, read with mingw's binutils:
# architecture, the undecorated exports of the module (five), of vtcore.dll
# (two), of the cleaner library cleanapi.dll (three), of the verification libraries pxsverify.dll (six) and
# qsigverify.dll (ten) and of the filtering-engine stand-in (25), the module's key resources and the PXS trailer of
# the shipped product_info.dll, imports of system DLLs
# only (no mingw runtime; the module does not import fwpuclnt.dll, which it loads at its first use), and the module's
# version resource's file description.
# Usage: binary_checks.sh X64_BUILD_DIR [X86_BUILD_DIR]
set -uo pipefail
x64_build=${1:?x64 build dir}
x86_build=${2:-}
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Windows system DLLs: the names of Wine's builtin PE libraries.
system_dlls=$(ls /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows \
                 /usr/lib64/wine/x86_64-windows 2>/dev/null | grep -i '\.dll$' | tr 'A-Z' 'a-z')
[ -n "$system_dlls" ] || { echo "FAIL: Wine's builtin DLL folder not found"; exit 1; }

check_imports() {  # FILE OBJDUMP
  local dll dlls
  dlls=$("$2" -p "$1" | awk '/DLL Name:/ { print tolower($3) }')
  [ -n "$dlls" ] || fail "$1: no import table"
  for dll in $dlls; do
    case "$dll" in
      libstdc++*|libgcc_s*|libwinpthread*|libssp*|libgomp*) fail "$1 imports the mingw runtime $dll" ;;
      *) grep -qxF -- "$dll" <<<"$system_dlls" || fail "$1 imports $dll, which is not a system DLL" ;;
    esac
  done
}

check_exports() {  # FILE OBJDUMP NAME... (sorted)
  local file=$1 objdump=$2 exports
  shift 2
  exports=$("$objdump" -p "$file" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^\t\[ *[0-9]+\]/ { print $3 }' | LC_ALL=C sort)
  [ "$(echo $exports)" = "$*" ] || fail "$file exports [$(echo $exports)], not [$*]"
}

check_build() {  # BUILD_DIR TOOL_PREFIX FORMAT
  local module="$1/bin/qvrinst.dll" framework="$1/bin/vtcore.dll" cleaner="$1/bin/cleanapi.dll" file format
  local pxs="$1/bin/pxsverify.dll" qsig="$1/bin/qsigverify.dll" identity="$1/bin/product_info.dll"
  for file in "$module" "$1/bin/qvrhost.exe" "$framework" "$1/bin/vtstore.exe" "$cleaner" "$pxs" "$qsig" "$identity"; do
    [ -f "$file" ] || { fail "$file is missing"; continue; }
    format=$("$2objdump" -f "$file" | sed -n 's/.*file format //p')
    [ "$format" = "$3" ] || fail "$file: file format '$format', not '$3'"
    check_imports "$file" "$2objdump"
  done
  if [ -f "$module" ]; then
    check_exports "$module" "$2objdump" GetTracer GetVersionedQVRInstaller MsiProductActivate MsiProductDeactivate \
                  MsiProductRbActivate
    "$2objdump" -p "$module" | grep -qi 'DLL Name: fwpuclnt' && fail "$module imports fwpuclnt.dll"
    # The version resource's StringFileInfo entry: its key, then its value.
    [ "$("$2strings" -el "$module" | grep -A1 -xF FileDescription | sed -n 2p)" = "Modularity configurator" ] ||
      fail "$module: no FileDescription \"Modularity configurator\" in its version resource"
  fi
  [ -f "$framework" ] && check_exports "$framework" "$2objdump" VantorLoad VantorUnload
  [ -f "$pxs" ] && check_exports "$pxs" "$2objdump" PxsCheckExecutable PxsCheckFile PxsCreateContext PxsDestroyContext \
    PxsInitializeLibrary PxsUninitializeLibrary
  [ -f "$qsig" ] && check_exports "$qsig" "$2objdump" QsigAddHashingProp QsigAddKeyRegistry QsigCheck QsigCreateList \
    QsigDestroyList QsigInitialize QsigLoadRegistries QsigPrepareTarget QsigResetList QsigUninitialize
  [ -f "$module" ] && [ "$("$2strings" -el "$module" | grep -cxF QSIG_KEY)" -eq 0 ] && fail "$module: no QSIG_KEY resources"
  [ -f "$identity" ] && [ "$(tail -c 8 "$identity")" != QVRPXS01 ] && fail "$identity: not signed (no PXS trailer)"
  [ -f "$cleaner" ] && check_exports "$cleaner" "$2objdump" EnumCompetitorSoftwareFromMemA \
    RemoveCompetitorSoftwareFromMemExtA SetExternalTraceCallbackA
  local engine="$1/bin/standins/fwpuclnt.dll" kind functions=()
  for kind in Callout Filter Provider SubLayer; do
    functions+=("Fwpm${kind}Add0" "Fwpm${kind}CreateEnumHandle0" "Fwpm${kind}DeleteByKey0" "Fwpm${kind}DestroyEnumHandle0"
                "Fwpm${kind}Enum0")
  done
  functions+=(FwpmEngineClose0 FwpmEngineOpen0 FwpmFreeMemory0 FwpmTransactionAbort0 FwpmTransactionBegin0
              FwpmTransactionCommit0)
  if [ -f "$engine" ]; then
    check_exports "$engine" "$2objdump" $(printf '%s\n' "${functions[@]}" | LC_ALL=C sort)
  else
    fail "$engine is missing"
  fi
}

check_build "$x64_build" x86_64-w64-mingw32- pei-x86-64
echo "x64 build checked: $x64_build"
if [ -n "$x86_build" ]; then
  check_build "$x86_build" i686-w64-mingw32- pei-i386
  echo "x86 build checked: $x86_build"
else
  echo "x86 build not checked: this tree was configured without QVR_X86_BUILD_DIR (the Makefile passes it)"
fi

if [ "$failures" -ne 0 ]; then
  echo "binary checks: $failures failed"
  exit 1
fi
echo "binary checks: passed"
