#!/usr/bin/env bash
# The setup host driving the resources of a product of the test's own:
# declarations written with reg.exe, qvrhost.exe running activate (with its
# waiver-recording service locator), switch and deactivate, and the machine
# state read back with reg.exe, the probe's record and vtstore.exe. The probe
# and the locator append to the same record, so its lines show the order of
# grants and runs.
source "$(dirname "$0")/../lib.sh" "$1" "$2" host_activation
source "$(dirname "$0")/host_lib.sh"
FLAGS="HKLM\\$KEY\\Flags"
RECORD="$E2E_WORK_WIN\\record.txt"
ENVIRONMENT="$PRODUCT\\environment"

reg_exe delete "$PRODUCT" /f >/dev/null
trap 'reg_exe delete "$PRODUCT" /f >/dev/null' EXIT

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
  reg_add "$PRODUCT\\Installer\\registry" /v "$3" /t REG_SZ /d "Key=$KEY\\Flags|Name=$3"
  reg_add "$PRODUCT\\Installer\\profiles" /v "$4" /t REG_SZ /d "tasks\\$4"
  reg_add "$PRODUCT\\Installer\\Selfregs" /v "reg-$1" /t REG_SZ /d "$E2E_WORK_WIN\\plugin_probe.exe $RECORD reg-$1"
  reg_add "$PRODUCT\\Installer\\Selfunregs" /v "unreg-$1" /t REG_SZ /d "$E2E_WORK_WIN\\plugin_probe.exe $RECORD unreg-$1"
  reg_add "$PRODUCT\\Installer\\environment\\${2%pc}" /v Skin /t REG_SZ /d "$5"
}
feature Pc vmobpc A Scan small
feature Kis kis B Update home

# expect_state RUN TYPE SKIN A B PROFILES RECORD: the stored type, the
# environment value Skin, flags A and B, the profiles marked installed in the
# store, and the record since the last run as "grant" and "run LABEL", a run
# whose process was not the one granted just before marked "ungranted".
expect_state() {
  expect_only_records "$1"
  expect_value "$1" "$ENVIRONMENT" ProductType "REG_SZ $2"
  expect_value "$1" "$ENVIRONMENT" Skin "REG_SZ $3"
  expect_value "$1" "$FLAGS" A "REG_DWORD 0x$4"
  expect_value "$1" "$FLAGS" B "REG_DWORD 0x$5"
  e2e_same "$1: installed profiles" "$(e2e_store "$E2E_WORK_WIN\\profiles.xml" | sed -n 's/: installed = dword 1$//p' |
    paste -sd' ')" "$6"
  e2e_same "$1: record" "$(tr -d '\r' <"$E2E_WORK/record.txt" |
    awk '$1 == "grant" { granted = $2; print "grant"; next }
         $1 == "run" { print "run " $NF ($2 == granted ? "" : " ungranted"); granted = "" }' | paste -sd'|')" "$7"
  : >"$E2E_WORK/record.txt"
}

# Every resource of vmobpc, each process granted its waiver before it ran.
host_run activate --profiles --product-type vmobpc --waiver-log "$RECORD" activate 27
expect_rc activate 0
expect_state activate vmobpc small 1 0 'tasks\Scan' "grant|run reg-Pc"

# The full switch to kis removes vmobpc's resources, then creates kis's.
host_run switch --profiles --product-type kis switch
expect_rc switch 0
expect_state switch kis home 0 1 'tasks\Update' "run unreg-Pc ungranted|run reg-Kis ungranted"

# Deactivating kis removes its resources but the profiles, and keeps the
# stored type and the environment. (Its result also counts the removal of
# shortcuts, which this product does not declare, so only the state is
# checked.)
host_run deactivate deactivate
expect_state deactivate kis home 0 0 'tasks\Update' "run unreg-Kis ungranted"

e2e_finish
