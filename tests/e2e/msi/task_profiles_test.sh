#!/usr/bin/env bash
# MsiProductActivate with Profiles=1 run by Wine's msiexec for the package's
# product: the task profile context builds the store from the installed
# profiles.xml, the profile writer marks the profiles of the product type,
# and vtstore.exe (a process of its own) reads the state back. A second run
# with another product type moves the profiles; the removal takes the
# product's key with it.
source "$(dirname "$0")/../lib.sh" "$1" "$2" task_profiles

TIME='[0-9]{2}:[0-9]{2}:[0-9]{2}'
PREFIX="^MSI \(X\) \(XX:XX\) \[$TIME:[0-9]{3}\]: "
TAB=$'\t'
PRODUCT_DIR="$WINEPREFIX/drive_c/Program Files/VantorModularityDemo"
PRODUCT_DIR_WIN='C:\Program Files\VantorModularityDemo'
PRODUCT_KEY='HKLM\Software\Vantor\ModularityDemo'
XML_PATTERN='C:\\Program Files\\VantorModularityDemo\\profiles\.xml'

# A store left by an earlier run would carry its state into this one.
rm -f "$PRODUCT_DIR/profiles.xml.store"
e2e_package product || e2e_finish
# The custom action finds the product through this variable; Wine's custom
# action server inherits msiexec's environment.
export ProductInfoDLL="$PRODUCT_DIR_WIN\\product_info.dll"

store_state() {
  wine_run "$E2E_BUILD/bin/vtstore.exe" "$PRODUCT_DIR_WIN\\profiles.xml" </dev/null 2>&1 | tr -d '\r'
}
product_type() {
  wine_program reg query "$PRODUCT_KEY\\environment" /v ProductType </dev/null 2>/dev/null | tr -d '\r' |
    sed -nE 's/^ *ProductType +REG_SZ +//p'
}
expect_state() {  # WHAT EXPECTED
  local state
  state=$(store_state)
  [ "$state" = "$2" ] || e2e_fail "$1: the store holds
$state
instead of
$2"
}

e2e_msiexec /i product first "QVR_CAD=ProductType=vmobpc|Profiles=1"
[ "$E2E_RC" -eq 0 ] || e2e_fail "first install returned $E2E_RC"
e2e_expect first "${PREFIX}MsiProductActivate: ProductType=vmobpc, Files=, Registry=, Plugins=, ProtocolHandlers=, ProfilesActivation=1, mode=16$" "parameter line"
e2e_expect first "${PREFIX}\[VantorTmProfiles\]${TAB}processing profiles\.xml : ${XML_PATTERN}$" "profiles.xml path"
# A framework trace record of the action, through the session tracer.
e2e_expect first "${PREFIX}Need to check and load new product info from '.*product_info\.dll'$" "trace record"
e2e_expect first "${PREFIX}\[VantorTmProfiles\]${TAB}Create registry node from profiles\.xml : ${XML_PATTERN}$" "store created"
e2e_expect first "^ReadProfiles: profile Scan = tasks\\\\Scan$" "profile declarations read"
e2e_expect first "^ActivateProfiles: profile Firewall requested by feature Firewall$" "profile requested"
e2e_expect_not first "requested by feature Backup" "a feature that is not installed"
e2e_expect first "^WriteProfiles: setting profile Backup to not installed, enable state to not changed$" "unrequested profile"
e2e_expect first "^Action ended $TIME: MsiProductActivate\. Return value 1\.$" "end record"
expect_state "vmobpc" 'tasks
tasks\Backup
tasks\Firewall
tasks\Firewall: installed = dword 1
tasks\Scan
tasks\Scan: installed = dword 1
tasks\Scan: schedule = string "daily"
tasks\Scan\def
tasks\Scan\def: enabled = dword 1
tasks\Update
tasks\Update: installed = dword 1
tasks\Update: schedule = string "hourly"'
[ "$(product_type)" = vmobpc ] || e2e_fail "ProductType after the first run: '$(product_type)'"

# The installed product again, for vmobfs: vmobpc's profiles are unmarked,
# then vmobfs's marked and switched off where Antivirus says so.
e2e_msiexec /i product second "QVR_CAD=ProductType=vmobfs|Profiles=1"
[ "$E2E_RC" -eq 0 ] || e2e_fail "second run returned $E2E_RC"
e2e_expect second "^DeactivateProfiles: profile Firewall requested by feature Firewall$" "old type's profiles"
e2e_expect second "^WriteProfiles: setting profile Scan to installed, enable state to disabled$" "disabled profile"
e2e_expect second "^Action ended $TIME: MsiProductActivate\. Return value 1\.$" "end record of the second run"
order=$(e2e_lines second "^(DeactivateProfiles|ActivateProfiles|WriteProductType): " | sed -E 's/:.*//' | uniq | tr '\n' '|')
[ "$order" = "DeactivateProfiles|WriteProductType|ActivateProfiles|WriteProductType|" ] \
  || e2e_fail "steps of the type change out of order: $order"
expect_state "vmobfs" 'tasks
tasks\Backup
tasks\Firewall
tasks\Scan
tasks\Scan: installed = dword 1
tasks\Scan: schedule = string "daily"
tasks\Scan\def
tasks\Scan\def: enabled = dword 0
tasks\Update
tasks\Update: installed = dword 1
tasks\Update: schedule = string "hourly"
tasks\Update\def
tasks\Update\def: enabled = dword 0'
[ "$(product_type)" = vmobfs ] || e2e_fail "ProductType after the second run: '$(product_type)'"

e2e_msiexec /x product removal
[ "$E2E_RC" -eq 0 ] || e2e_fail "removal returned $E2E_RC"
key_exists "$PRODUCT_KEY" && e2e_fail "the product key outlived the removal"
# The store is the product's state, not one of its files: the removal leaves it.
rm -f "$PRODUCT_DIR/profiles.xml.store"
rmdir "$PRODUCT_DIR" 2>/dev/null

e2e_finish
