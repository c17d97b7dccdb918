#!/usr/bin/env bash
# MsiProductActivate with Profiles=1 run by Wine's msiexec for the package's
# product: the task profile context builds the store from the installed
# profiles.xml, the profile writer marks the profiles of the product type,
# and vtstore.exe reads the state back. A second run with another product
# type moves the profiles; the removal takes the product's key with it.
source "$(dirname "$0")/../lib.sh" "$1" "$2" task_profiles

TIME='[0-9]{2}:[0-9]{2}:[0-9]{2}'
PREFIX="^MSI \(X\) \(XX:XX\) \[$TIME:[0-9]{3}\]: "
PRODUCT_DIR="$WINEPREFIX/drive_c/Program Files/VantorModularityDemo"
PRODUCT_DIR_WIN='C:\Program Files\VantorModularityDemo'
PRODUCT_KEY='HKLM\Software\Vantor\ModularityDemo'

# A store left by an earlier run would carry its state into this one.
rm -f "$PRODUCT_DIR/profiles.xml.store"
e2e_package product || e2e_finish
# The custom action finds the product through this variable; Wine's custom
# action server inherits msiexec's environment.
export ProductInfoDLL="$PRODUCT_DIR_WIN\\product_info.dll"

# run LOG PRODUCT_TYPE MARKS: one activation of the profiles for a type, and
# the values the module set in the store, one a line.
run() {
  e2e_msiexec /i product "$1" "QVR_CAD=ProductType=$2|Profiles=1"
  [ "$E2E_RC" -eq 0 ] || e2e_fail "$1: msiexec returned $E2E_RC"
  e2e_expect "$1" "^Action ended $TIME: MsiProductActivate\. Return value 1\.$" "$1: end record"
  expect_value "$1" "$PRODUCT_KEY\\environment" ProductType "REG_SZ $2"
  e2e_same "$1: the store" "$(e2e_store "$PRODUCT_DIR_WIN\\profiles.xml" | grep -E ': (installed|enabled) = ')" "$3"
}

run first vmobpc 'tasks\Firewall: installed = dword 1
tasks\Scan: installed = dword 1
tasks\Scan\def: enabled = dword 1
tasks\Update: installed = dword 1'
e2e_expect first "${PREFIX}MsiProductActivate: ProductType=vmobpc, Files=, Registry=, Plugins=, ProtocolHandlers=, ProfilesActivation=1, mode=16$" "parameter line"
e2e_expect first "${PREFIX}\[VantorTmProfiles\]$(printf '\t')Create registry node from profiles\.xml : C:\\\\Program Files\\\\VantorModularityDemo\\\\profiles\.xml$" "store created"
# A framework trace record of the action, through the session tracer.
e2e_expect first "${PREFIX}Need to check and load new product info from '.*product_info\.dll'$" "trace record"

# The installed product again, for vmobfs: vmobpc's profiles are unmarked,
# then vmobfs's marked and switched off where Antivirus says so.
run second vmobfs 'tasks\Scan: installed = dword 1
tasks\Scan\def: enabled = dword 0
tasks\Update: installed = dword 1
tasks\Update\def: enabled = dword 0'

e2e_msiexec /x product removal
[ "$E2E_RC" -eq 0 ] || e2e_fail "removal returned $E2E_RC"
key_exists "$PRODUCT_KEY" && e2e_fail "the product key outlived the removal"
# The store is the product's state, not one of its files: the removal leaves it.
rm -f "$PRODUCT_DIR/profiles.xml.store"
rmdir "$PRODUCT_DIR" 2>/dev/null

e2e_finish
