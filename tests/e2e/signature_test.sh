#!/usr/bin/env bash
# The product identity's signature through qvrhost under Wine: Initialize
# succeeds with the signed product_info.dll the build makes, and fails with
# the unsigned build, a copy with one byte changed and one signed by a key
# that is not the product's, whose code never runs (the library records each
# of its loads in PRODUCT_INFO_LOAD_LOG).
source "$(dirname "$0")/lib.sh" "$1" "$2" signature
KEY="Software\\QvrTest\\e2e.$E2E_NAME"
PRODUCT="HKLM\\$KEY"
export PRODUCT_INFO_LOAD_LOG="$E2E_WORK_WIN\\load.log"

reg_exe delete "$PRODUCT" /f >/dev/null
trap 'reg_exe delete "$PRODUCT" /f >/dev/null' EXIT
for declarations in features profiles drivers ProtoHandlers registry Selfregs Selfunregs shortcuts environment; do
  reg_add "$PRODUCT\\Installer\\$declarations"
done
printf 'ProductRegistryKey=%s\n' "$KEY" >"$E2E_WORK/product_info.ini"

# identity NAME FILE EXPECTED_RC: Initialize with FILE as the product's product_info.dll.
identity() {
  cp "$2" "$E2E_WORK/product_info.dll"
  rm -f "$E2E_WORK/load.log"
  host_run "$1" initialize
  expect_rc "$1" "$3"
}

identity signed "$E2E_BUILD/bin/product_info.dll" 0
grep -q "^\[1\] Using common reg keys:" "$E2E_WORK/signed.txt" || e2e_fail "signed: the product's key paths are not used"
[ "$(tr -d '\r' <"$E2E_WORK/load.log" 2>/dev/null)" = DllMain ] || e2e_fail "signed: the library was not loaded once"

cp "$E2E_BUILD/bin/product_info.dll" "$E2E_WORK/changed.dll"
printf 'X' | dd of="$E2E_WORK/changed.dll" bs=1 seek=80 conv=notrunc status=none
for rejected in "unsigned $E2E_BUILD/unsigned/product_info.dll" "changed $E2E_WORK/changed.dll" \
                "foreign $E2E_BUILD/testdata/signature/qsig_foreign.dll"; do
  set -- $rejected
  identity "$1" "$2" 1
  # The check failure carries no text of its own (its position: the unit tests).
  grep -qx "\[3\] Failed to initialize common reg keys, err: Unknown exception" "$E2E_WORK/$1.txt" ||
    e2e_fail "$1: Initialize does not fail through the identity's signature check"
  [ -e "$E2E_WORK/load.log" ] && e2e_fail "$1: the library's code ran"
done
e2e_finish
