#!/usr/bin/env bash
# Registry flags and protocol handlers through the setup host: declarations
# written with reg.exe under a product key of the test's own, qvrhost.exe
# driving activate, switch and deactivate, and the machine state read back
# with reg.exe.
source "$(dirname "$0")/../lib.sh" "$1" "$2" host_registry_proto
source "$(dirname "$0")/host_lib.sh"
FLAGS="HKLM\\$KEY\\Flags"
USER_FLAGS="HKCU\\Software\\QvrTest\\e2e.$E2E_NAME"
SCHEME="qvre2e-host"  # at most 24 characters
COMMAND='"%ProgramFiles%\QVR\qvr.exe" "%1"'

cleanup() {
  for key in "$PRODUCT" "$USER_FLAGS" "HKCR\\$SCHEME"; do reg_exe delete "$key" /f >/dev/null; done
  # The tests' common parent goes when nothing else is below it.
  if ! reg_exe query 'HKCU\Software\QvrTest' | grep -qE '^(HKEY_CURRENT_USER\\Software\\QvrTest\\|    )'; then
    reg_exe delete 'HKCU\Software\QvrTest' /f >/dev/null
  fi
}
cleanup
trap cleanup EXIT

# The product: identity library and its settings, declaration keys. (Wine's
# reg.exe gives a key it adds without /v an empty default value, which the
# module must pass over: the registry declarations key has one.)
cp "$E2E_BUILD/bin/product_info.dll" "$E2E_WORK/product_info.dll"
printf 'ProductRegistryKey=%s\n' "$KEY" >"$E2E_WORK/product_info.ini"
# The profile store, so that a full switch runs to its end.
host_profile_store
for declarations in features profiles drivers ProtoHandlers registry Selfregs Selfunregs environment\\vmob environment\\kis; do
  reg_add "$PRODUCT\\Installer\\$declarations"
done

feature() {  # NAME PRODUCT_TYPES REGISTRY INSTALLED
  local key="$PRODUCT\\Installer\\features\\$1"
  reg_add "$key" /v installed /t REG_DWORD /d "$4"
  reg_add "$key" /v ProductTypes /t REG_SZ /d "$2"
  reg_add "$key" /v Registry /t REG_SZ /d "$3"
}
feature Pc vmobpc "FlagA FlagB" 1
feature Kis kis "FlagB FlagC" 1
feature Off vmobpc "FlagD" 0

flag() { reg_add "$PRODUCT\\Installer\\registry" /v "$1" /t REG_SZ /d "$2"; }
flag FlagA "Key=$KEY\\Flags|Name=A"
flag FlagB "Key=$KEY\\Flags|Name=B"
flag FlagC "Root=HKCU|Key=Software\\QvrTest\\e2e.$E2E_NAME|Name=C"
flag FlagD "Key=$KEY\\Flags|Name=D"

reg_add "$PRODUCT\\Installer\\ProtoHandlers\\$SCHEME" /v Descr /t REG_SZ /d "URL:QVR e2e"
reg_add "$PRODUCT\\Installer\\ProtoHandlers\\$SCHEME" /v Command /t REG_EXPAND_SZ /d "$COMMAND"
expect_value "declaration" "$PRODUCT\\Installer\\ProtoHandlers\\$SCHEME" Command "REG_EXPAND_SZ $COMMAND"

expect_registered() {  # WHAT
  expect_value "$1" "HKCR\\$SCHEME" "" "REG_SZ URL:QVR e2e"
  expect_value "$1" "HKCR\\$SCHEME" "URL Protocol" "REG_SZ "
  expect_value "$1" "HKCR\\$SCHEME\\shell\\open\\command" "" "REG_SZ $COMMAND"
}

# Registry values and protocol handlers for vmobpc: the flags of the
# installed vmobpc feature are 1, every other declared flag 0.
host_run activate --product-type vmobpc activate 10
expect_rc activate 0
expect_value activate "$FLAGS" A "REG_DWORD 0x1"
expect_value activate "$FLAGS" B "REG_DWORD 0x1"
expect_value activate "$USER_FLAGS" C "REG_DWORD 0x0"
expect_value activate "$FLAGS" D "REG_DWORD 0x0"
expect_registered activate
expect_value activate "$PRODUCT\\environment" ProductType "REG_SZ vmobpc"
grep -qx '\[1\] ActivateRegistry: registry value FlagA requested by feature Pc' "$E2E_WORK/activate.txt" \
  || e2e_fail "activate: no record of FlagA requested by Pc"

# The full switch to kis first removes vmobpc's flags and the protocol's
# whole key tree, then writes the flags of kis and registers the protocol
# again, without what the old tree held.
reg_add "HKCR\\$SCHEME\\Marker"
host_run switch --profiles --product-type kis switch
expect_rc switch 0
expect_value switch "$FLAGS" A "REG_DWORD 0x0"
expect_value switch "$FLAGS" B "REG_DWORD 0x1"
expect_value switch "$USER_FLAGS" C "REG_DWORD 0x1"
expect_value switch "$FLAGS" D "REG_DWORD 0x0"
expect_registered switch
key_exists "HKCR\\$SCHEME\\Marker" && e2e_fail "switch: the old tree of HKCR\\$SCHEME survived"
expect_value switch "$PRODUCT\\environment" ProductType "REG_SZ kis"
order=$(grep -oE '^\[1\] (Deactivate|Activate)Registry: registry value Flag[A-D] requested by feature [A-Za-z]+' \
  "$E2E_WORK/switch.txt" | sed 's/^\[1\] //')
expected="DeactivateRegistry: registry value FlagA requested by feature Pc
DeactivateRegistry: registry value FlagB requested by feature Pc
ActivateRegistry: registry value FlagB requested by feature Kis
ActivateRegistry: registry value FlagC requested by feature Kis"
[ "$order" = "$expected" ] || e2e_fail "switch: registry records: $order"

# Forgetting the stored type (an empty target) and activating kis writes the
# flags for kis and registers the protocol again, without the old tree.
reg_add "HKCR\\$SCHEME\\Marker"
host_run forget --product-type "" activate 0
expect_rc forget 0
expect_value forget "$PRODUCT\\environment" ProductType ""
key_exists "HKCR\\$SCHEME" && e2e_fail "forget: HKCR\\$SCHEME was not removed"
host_run kis --product-type kis activate 10
expect_rc kis 0
expect_value kis "$FLAGS" A "REG_DWORD 0x0"
expect_value kis "$FLAGS" B "REG_DWORD 0x1"
expect_value kis "$USER_FLAGS" C "REG_DWORD 0x1"
expect_value kis "$FLAGS" D "REG_DWORD 0x0"
expect_registered kis
key_exists "HKCR\\$SCHEME\\Marker" && e2e_fail "kis: the protocol's old key tree is back"
expect_value kis "$PRODUCT\\environment" ProductType "REG_SZ kis"
order=$(grep -oE '^\[1\] ActivateRegistry: registry value Flag[A-D] requested by feature [A-Za-z]+' "$E2E_WORK/kis.txt" \
  | sed 's/^\[1\] //')
expected=$'ActivateRegistry: registry value FlagB requested by feature Kis\nActivateRegistry: registry value FlagC requested by feature Kis'
[ "$order" = "$expected" ] || e2e_fail "kis: registry records: $order"

# Deactivating kis unregisters the protocol and clears kis's flags; the
# stored type stays. (Its result also counts the removal of shortcuts, which
# this product does not declare, so only the state is checked.)
host_run deactivate deactivate
expect_value deactivate "$FLAGS" B "REG_DWORD 0x0"
expect_value deactivate "$USER_FLAGS" C "REG_DWORD 0x0"
key_exists "HKCR\\$SCHEME" && e2e_fail "deactivate: HKCR\\$SCHEME is still there"
expect_value deactivate "$PRODUCT\\environment" ProductType "REG_SZ kis"
grep -q '^\[1\] DeactivateRegistry: registry value FlagC requested by feature Kis' "$E2E_WORK/deactivate.txt" \
  || e2e_fail "deactivate: no record of FlagC"

# Protocol handlers alone for the same type: registered, flags untouched.
host_run protocols activate 8
expect_rc protocols 0
expect_registered protocols
expect_value protocols "$FLAGS" B "REG_DWORD 0x0"
grep -qE '^\[1\] (ActivateRegistry|WriteRegistry):' "$E2E_WORK/protocols.txt" && e2e_fail "protocols: registry values were written"

e2e_finish
