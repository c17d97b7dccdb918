#!/usr/bin/env bash
# MsiProductActivate with Profiles=1 run by Wine's msiexec for the package's
# product: the task profile context builds the store from the installed
# profiles.xml, the profile writer marks the profiles of the product type,
# and vtstore.exe, another process, reads the state back. The removal takes
# the product's key with it.
source "$(dirname "$0")/../lib.sh" "$1" "$2" task_profiles

PRODUCT_DIR="$WINEPREFIX/drive_c/Program Files/VantorModularityDemo"
PRODUCT_KEY='HKLM\Software\Vantor\ModularityDemo'

# A store left by an earlier run would carry its state into this one.
rm -f "$PRODUCT_DIR/profiles.xml.store"
e2e_package product || e2e_finish
# The custom action finds the product through this variable; Wine's custom
# action server inherits msiexec's environment.
export ProductInfoDLL='C:\Program Files\VantorModularityDemo\product_info.dll'

e2e_msiexec /i product install "QVR_CAD=ProductType=vmobpc|Profiles=1"
[ "$E2E_RC" -eq 0 ] || e2e_fail "install: msiexec returned $E2E_RC"
e2e_expect install "^Action ended [0-9:]{8}: MsiProductActivate\. Return value 1\.$" "end record"
# A framework trace record of the action, through the session tracer.
e2e_expect install "^MSI \(X\) \(XX:XX\) \[[0-9:]{12}\]: Need to check and load new product info from '.*product_info\.dll'$" \
  "trace record"
expect_value install "$PRODUCT_KEY\\environment" ProductType "REG_SZ vmobpc"
e2e_same "the store" "$(e2e_store 'C:\Program Files\VantorModularityDemo\profiles.xml' | grep -E ': (installed|enabled) = ')" \
  'tasks\Firewall: installed = dword 1
tasks\Scan: installed = dword 1
tasks\Scan\def: enabled = dword 1
tasks\Update: installed = dword 1'

e2e_msiexec /x product removal
[ "$E2E_RC" -eq 0 ] || e2e_fail "removal returned $E2E_RC"
key_exists "$PRODUCT_KEY" && e2e_fail "the product key outlived the removal"
# The store is the product's state, not one of its files: the removal leaves it.
rm -f "$PRODUCT_DIR/profiles.xml.store"
rmdir "$PRODUCT_DIR" 2>/dev/null

e2e_finish
