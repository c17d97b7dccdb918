#!/usr/bin/env bash
# The setup host driving every kind of resource of a product of the test's
# own: declarations written with reg.exe, qvrhost.exe running activate (with
# its waiver-recording service locator), switch and deactivate, and the
# machine state read back with reg.exe, the probe's record and vtstore.exe.
# The probe and the locator append to the same record, so its lines show the
# order of grants and runs.
source "$(dirname "$0")/../lib.sh" "$1" "$2" host_activation
source "$(dirname "$0")/host_lib.sh"
FLAGS="HKLM\\$KEY\\Flags"
USER_FLAGS="HKCU\\Software\\QvrTest\\e2e.$E2E_NAME"
SCHEME="qvre2e-host"
COMMAND='"%ProgramFiles%\QVR\qvr.exe" "%1"'
RECORD="$E2E_WORK_WIN\\record.txt"
ENVIRONMENT="$PRODUCT\\environment"

cleanup() {
  for key in "$PRODUCT" "$USER_FLAGS" "HKCR\\$SCHEME"; do reg_exe delete "$key" /f >/dev/null; done
  # The tests' common parent goes when nothing else is below it.
  if ! reg_exe query 'HKCU\Software\QvrTest' | grep -qE '^(HKEY_CURRENT_USER\\Software\\QvrTest\\|    )'; then
    reg_exe delete 'HKCU\Software\QvrTest' /f >/dev/null
  fi
}
cleanup
trap cleanup EXIT

host_product
host_profile_store '<node name="Scan"/><node name="Update"/>'
cp "$E2E_BUILD/testdata/plugin_probe.exe" "$E2E_WORK/plugin_probe.exe"
# feature NAME TYPE FLAG PROFILE SKIN: a feature of one product type with a
# registry flag, a profile, a self-registration and unregistration run by the
# probe, and the type's environment value Skin.
feature() {
  local key="$PRODUCT\\Installer\\features\\$1"
  reg_add "$key" /v ProductTypes /t REG_SZ /d "$2"
  reg_add "$key" /v Registry /t REG_SZ /d "$3"
  reg_add "$key" /v Profiles /t REG_SZ /d "$4"
  reg_add "$key" /v Selfregs /t REG_SZ /d "reg-$1"
  reg_add "$key" /v SelfUnregs /t REG_SZ /d "unreg-$1"
  reg_add "$PRODUCT\\Installer\\profiles" /v "$4" /t REG_SZ /d "tasks\\$4"
  reg_add "$PRODUCT\\Installer\\Selfregs" /v "reg-$1" /t REG_SZ /d "$E2E_WORK_WIN\\plugin_probe.exe $RECORD reg-$1"
  reg_add "$PRODUCT\\Installer\\Selfunregs" /v "unreg-$1" /t REG_SZ /d "$E2E_WORK_WIN\\plugin_probe.exe $RECORD unreg-$1"
  reg_add "$PRODUCT\\Installer\\environment\\${2%pc}" /v Skin /t REG_SZ /d "$5"
}
feature Pc vmobpc FlagA Scan small
feature Kis kis FlagC Update home
reg_add "$PRODUCT\\Installer\\registry" /v FlagA /t REG_SZ /d "Key=$KEY\\Flags|Name=A"
reg_add "$PRODUCT\\Installer\\registry" /v FlagC /t REG_SZ /d "Root=HKCU|Key=Software\\QvrTest\\e2e.$E2E_NAME|Name=C"
reg_add "$PRODUCT\\Installer\\ProtoHandlers\\$SCHEME" /v Descr /t REG_SZ /d "URL:QVR e2e"
reg_add "$PRODUCT\\Installer\\ProtoHandlers\\$SCHEME" /v Command /t REG_EXPAND_SZ /d "$COMMAND"

# expect_state RUN TYPE SKIN A C PROTOCOL PROFILES RECORD: the stored type,
# the environment value Skin, flags A and C, whether the protocol is
# registered, the profiles marked installed in the store, and the record
# since the last run as "grant" and "run LABEL", a run whose process was not
# the one granted just before marked "ungranted".
expect_state() {
  expect_value "$1" "$ENVIRONMENT" ProductType "REG_SZ $2"
  expect_value "$1" "$ENVIRONMENT" Skin "REG_SZ $3"
  expect_value "$1" "$FLAGS" A "REG_DWORD 0x$4"
  expect_value "$1" "$USER_FLAGS" C "REG_DWORD 0x$5"
  if [ "$6" = registered ]; then
    expect_value "$1" "HKCR\\$SCHEME" "" "REG_SZ URL:QVR e2e"
    expect_value "$1" "HKCR\\$SCHEME" "URL Protocol" "REG_SZ "
    expect_value "$1" "HKCR\\$SCHEME\\shell\\open\\command" "" "REG_SZ $COMMAND"
    key_exists "HKCR\\$SCHEME\\Marker" && e2e_fail "$1: the protocol's old key tree survived"
  else
    key_exists "HKCR\\$SCHEME" && e2e_fail "$1: HKCR\\$SCHEME is still there"
  fi
  e2e_same "$1: installed profiles" "$(e2e_store "$E2E_WORK_WIN\\profiles.xml" | sed -n 's/: installed = dword 1$//p' |
    paste -sd' ')" "$7"
  e2e_same "$1: record" "$(tr -d '\r' <"$E2E_WORK/record.txt" |
    awk '$1 == "grant" { granted = $2; print "grant"; next }
         $1 == "run" { print "run " $NF ($2 == granted ? "" : " ungranted"); granted = "" }' | paste -sd'|')" "$8"
  : >"$E2E_WORK/record.txt"
}

# Every resource of vmobpc, each process granted its waiver before it ran.
host_run activate --profiles --product-type vmobpc --waiver-log "$RECORD" activate 27
expect_rc activate 0
expect_state activate vmobpc small 1 0 registered 'tasks\Scan' "grant|run reg-Pc"

# The full switch to kis removes vmobpc's resources, the protocol's whole
# key tree included, then creates kis's.
reg_add "HKCR\\$SCHEME\\Marker"
host_run switch --profiles --product-type kis switch
expect_rc switch 0
expect_state switch kis home 0 1 registered 'tasks\Update' "run unreg-Pc ungranted|run reg-Kis ungranted"

# Deactivating kis removes its resources but the profiles, and keeps the
# stored type and the environment. (Its result also counts the removal of
# shortcuts, which this product does not declare, so only the state is
# checked.)
host_run deactivate deactivate
expect_state deactivate kis home 0 0 removed 'tasks\Update' "run unreg-Kis ungranted"

e2e_finish
