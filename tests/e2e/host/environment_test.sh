#!/usr/bin/env bash
# Product type and environment values through the setup host: from no stored
# type to vmobfs with the registry bit, then a full switch to kis, with the
# product's profile store built from profiles.xml (--profiles). Declarations
# are written and the machine state is read back with reg.exe.
source "$(dirname "$0")/../lib.sh" "$1" "$2" host_environment
source "$(dirname "$0")/host_lib.sh"

cleanup() { reg_exe delete "$PRODUCT" /f >/dev/null; }
cleanup
trap cleanup EXIT

host_product
ENVIRONMENT="$PRODUCT\\environment"
host_profile_store '<node name="Scan"/>'
reg_add "$ENVIRONMENT" /v Localization /t REG_SZ /d "en-US"
reg_add "$PRODUCT\\Installer\\environment\\vmob" /v Localization /t REG_SZ /d "de-DE"
reg_add "$PRODUCT\\Installer\\environment\\vmob" /v Skin /t REG_SZ /d "small"
reg_add "$PRODUCT\\Installer\\environment\\kis" /v Skin /t REG_SZ /d "home"

host_run activate --profiles --product-type vmobfs activate 2
expect_rc activate 0
expect_value "vmobfs environment" "$ENVIRONMENT" Localization "REG_SZ de-DE"
expect_value "vmobfs environment" "$ENVIRONMENT" Skin "REG_SZ small"
expect_value "stored type" "$ENVIRONMENT" ProductType "REG_SZ vmobfs"
expect_value "undeclared value untouched" "$ENVIRONMENT" ProductRoot "REG_SZ $E2E_WORK_WIN"
e2e_expect activate '^\[1\] ActivateProduct entry point$' "entry line"
e2e_expect activate '^\[1\] ActivateEnvironment: Set value Skin = small$' "environment line"
e2e_expect activate '^\[3\] WriteProductType: set ProductType value: vmobfs$' "product type line"
e2e_expect activate '^\[1\] ReadProductType: can.t query ProductType value: 0x00000002$' "no stored type before"

# A full switch: the old type's resources go, the new type's come, and the
# environment of the new type is written last over the old values.
host_run switch --profiles --product-type kis switch
expect_rc switch 0
expect_value "kis environment" "$ENVIRONMENT" Skin "REG_SZ home"
expect_value "kept from vmobfs (nothing is deleted)" "$ENVIRONMENT" Localization "REG_SZ de-DE"
expect_value "stored type" "$ENVIRONMENT" ProductType "REG_SZ kis"
e2e_expect switch '^\[1\] ReadProductType: current product type is vmobfs$' "switch reads the stored type"
order=$(grep -oE '^\[[0-9]\] (WriteProductType: set|ActivateEnvironment: Set value Skin)' "$E2E_WORK/switch.txt" |
  sed 's/^\[[0-9]\] //' | tr '\n' '|')
[ "$order" = "WriteProductType: set|ActivateEnvironment: Set value Skin|" ] || e2e_fail "switch order: $order"

# Without a product type the host keeps the stored one: activating the
# environment only rewrites kis's values.
reg_add "$ENVIRONMENT" /v Skin /t REG_SZ /d "changed"
host_run again activate 32
expect_rc again 0
expect_value "environment only" "$ENVIRONMENT" Skin "REG_SZ home"

# An undeclared type fails with the environment's line and stores nothing new.
host_run undeclared --profiles --product-type kav activate 2
expect_rc undeclared 1
e2e_expect undeclared "^\[3\] ActivateEnvironment: can't open installer environment key for current type: 0x00000002, type = kav$" "undeclared type"
rm -f "$E2E_WORK/profiles.xml.store"
e2e_finish
