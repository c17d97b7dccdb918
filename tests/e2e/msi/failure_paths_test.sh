#!/usr/bin/env bash
# Failures of MsiProductActivate run by Wine's msiexec, each ending the
# install with 1603 and its end record: declarations that cannot all be read
# (nothing is activated), an exception out of the component framework (a
# dump in the action's TEMP), and a product type change that fails after the
# old type was removed (the new type is stored for the rollback).
source "$(dirname "$0")/../lib.sh" "$1" "$2" failure_paths

TIME='[0-9]{2}:[0-9]{2}:[0-9]{2}'
PREFIX="^MSI \(X\) \(XX:XX\) \[$TIME:[0-9]{3}\]: "
PRODUCT_DIR="$WINEPREFIX/drive_c/Program Files/VantorModularityDemo"
PRODUCT_DIR_WIN='C:\Program Files\VantorModularityDemo'
PRODUCT_KEY='HKLM\Software\Vantor\ModularityDemo'
END_FAILED="^Action ended $TIME: MsiProductActivate\. Return value 3\.$"

rm -f "$PRODUCT_DIR/profiles.xml.store"
e2e_package product || e2e_finish
export ProductInfoDLL="$PRODUCT_DIR_WIN\\product_info.dll"

dumps() { find "$WINEPREFIX/drive_c" -name 'TRXINST.*.dmp' 2>/dev/null; }
dumps | while read -r dump; do rm -f "$dump"; done

# Each case is a first install, rolled back by the engine when it fails:
# no case builds on another.
forget_case() {
  reg_exe delete "$PRODUCT_KEY" /f >/dev/null
  rm -f "$PRODUCT_DIR/profiles.xml.store"
}

# A profile declaration without data: Initialize fails, nothing is activated.
reg_add "$PRODUCT_KEY\\Installer\\profiles" /v Broken /t REG_SZ /d ""
e2e_msiexec /i product unreadable "QVR_CAD=ProductType=vmobpc|Profiles=1"
[ "$E2E_RC" -eq 67 ] || e2e_fail "activation on unreadable declarations returned $E2E_RC, not 1603"
e2e_expect unreadable "^ReadProfiles: value Broken is empty$" "the reader's line"
e2e_expect unreadable "${PREFIX}MsiProductActivate: Initialize failed, nothing was activated$" "the action's line"
e2e_expect_not unreadable "ActivateProduct entry point" "no activation"
e2e_expect_not unreadable "^WriteProfiles: " "no profile written"
e2e_expect unreadable "$END_FAILED" "end record"
forget_case

# An exception thrown by the framework while the profiles are written.
VTCORE_FAULT=throw=installed e2e_msiexec /i product exception "QVR_CAD=ProductType=vmobpc|Profiles=1"
[ "$E2E_RC" -eq 67 ] || e2e_fail "activation with a throwing framework returned $E2E_RC, not 1603"
e2e_expect exception "^ActivateProduct: unexpected exception: vtcore: SetValue of installed threw$" "exception line"
e2e_expect exception "$END_FAILED" "end record after the exception"
[ -n "$(dumps)" ] || e2e_fail "no dump file after the exception"
dumps | while read -r dump; do rm -f "$dump"; done
forget_case

# vmobpc to vmobfs: vmobpc's resources go, then vmobfs's profiles fail; the
# new type is stored for the rollback and a later removal.
reg_add "$PRODUCT_KEY\\environment" /v ProductType /t REG_SZ /d vmobpc
VTCORE_FAULT=set=installed e2e_msiexec /i product change "QVR_CAD=ProductType=vmobfs|Profiles=1"
[ "$E2E_RC" -eq 67 ] || e2e_fail "failed type change returned $E2E_RC, not 1603"
order=$(e2e_lines change "^(ReadProductType|WriteProductType|WriteProfiles: can't)" | tr '\n' '|')
[ "$order" = "ReadProductType: current product type is vmobpc|WriteProductType: remove ProductType value|WriteProfiles: can't set value installed for profile tasks\\Scan: 0x8000004b|WriteProductType: set ProductType value: vmobfs|" ] \
  || e2e_fail "failed change: $order"
e2e_expect change "$END_FAILED" "end record of the failed change"
forget_case
rmdir "$PRODUCT_DIR" 2>/dev/null

e2e_finish
