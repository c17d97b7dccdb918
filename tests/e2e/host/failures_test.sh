#!/usr/bin/env bash
# Failures the setup host must be told about, each a false result with a
# level-3 record while the host keeps running: an identity library that
# fails (no key paths: nothing is read or written, not even at the root of
# HKLM), a profile path without a narrow form, and a full switch that fails
# after the old type was removed (the new type is stored for the rollback).
source "$(dirname "$0")/../lib.sh" "$1" "$2" host_failures
source "$(dirname "$0")/host_lib.sh"

cleanup() { reg_exe delete "$PRODUCT" /f >/dev/null; rm -f "$E2E_WORK/profiles.xml.store"; }
cleanup
trap cleanup EXIT

host_product
ENVIRONMENT="$PRODUCT\\environment"
host_profile_store '<node name="Scan"/>'
reg_add "$PRODUCT\\Installer\\profiles" /v Scan /t REG_SZ /d 'tasks\Scan'
reg_add "$PRODUCT\\Installer\\features\\Antivirus" /v ProductTypes /t REG_SZ /d "A B"
reg_add "$PRODUCT\\Installer\\features\\Antivirus" /v Profiles /t REG_SZ /d "Scan"
reg_add "$ENVIRONMENT" /v ProductType /t REG_SZ /d A

# The identity library answers a failure: no key paths.
printf 'ProductRegistryKey=%s\nResult=0x80004005\n' "$KEY" >"$E2E_WORK/product_info.ini"
for command in "activate 18" switch deactivate; do
  name=${command%% *}
  host_run "$name" --product-type B $command
  expect_rc "$name" 1
  operation=$(case $name in activate) echo ActivateProduct;; switch) echo SwitchProductType;;
                            deactivate) echo DeactivateCurrentType;; esac)
  e2e_expect "$name" "^\[3\] $operation: the product's registry keys are unknown \(Initialize failed\)$" "$name refused"
  e2e_expect_not "$name" "^\[[0-9]\] (ActivateProduct entry point|WriteProductType)" "$name did nothing"
done
[ -z "$(reg_value 'HKLM' ProductType)" ] || e2e_fail "a ProductType value at the root of HKLM"
expect_value "stored type untouched" "$ENVIRONMENT" ProductType "REG_SZ A"
printf 'ProductRegistryKey=%s\n' "$KEY" >"$E2E_WORK/product_info.ini"

# A profile path that has no form in the runtime's narrow character set.
reg_add "$PRODUCT\\Installer\\profiles" /v Wide /t REG_SZ /d 'tasks\中文'
reg_add "$PRODUCT\\Installer\\features\\Antivirus" /v Profiles /t REG_SZ /d "Scan Wide"
host_run wide --profiles --product-type A activate 16
expect_rc wide 1
e2e_expect wide '^\[3\] WriteProfiles: path tasks\\中文 of profile Wide has no form in the current character set$' "wide path"
reg_exe delete "$PRODUCT\\Installer\\profiles" /v Wide /f >/dev/null
reg_add "$PRODUCT\\Installer\\features\\Antivirus" /v Profiles /t REG_SZ /d "Scan"

# A to B: A's resources go, then B's profiles fail to be written.
VTCORE_FAULT=set=installed host_run switch-fails --profiles --product-type B switch
expect_rc switch-fails 1
e2e_expect switch-fails "^\[3\] WriteProfiles: can't set value installed for profile tasks\\\\Scan: 0x8000004b$" "failed step"
expect_value "new type stored for the rollback" "$ENVIRONMENT" ProductType "REG_SZ B"

e2e_finish
