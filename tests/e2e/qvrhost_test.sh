#!/usr/bin/env bash
# qvrhost.exe under Wine: its help, usage errors and exit codes, the installer
# object's records on standard output, the module loaded from the program's
# own folder; then the host driving the resources of a product of the test's
# own (declared with reg.exe): activate with its waiver-recording service
# locator, switch and deactivate, the machine state read back with reg.exe,
# the probe's record and vtstore.exe. The probe and the locator append to the
# same record, so its lines show the order of grants and runs.
source "$(dirname "$0")/lib.sh" "$1" "$2" qvrhost
KEY="Software\\QvrTest\\e2e.$E2E_NAME"
PRODUCT="HKLM\\$KEY"
RECORD="$E2E_WORK_WIN\\record.txt"

host_run help --help
expect_rc help 0
grep -q '^Usage: qvrhost \[--product-type TYPE\] COMMAND' "$E2E_WORK/help.txt" || e2e_fail "help: no usage line"
for command in initialize switch activate deactivate remove-shortcuts icons check-apps remove-apps always-succeeds lint plan explain; do
  grep -q "^  $command" "$E2E_WORK/help.txt" || e2e_fail "help: $command is not documented"
done

# Usage errors: exit code 2 and a message, before the module is touched.
host_run none
expect_rc none 2
grep -q 'no command given' "$E2E_WORK/none.err" || e2e_fail "none: no message"
host_run badmode activate thirty
expect_rc badmode 2
grep -q "MODE must be a 32-bit number" "$E2E_WORK/badmode.err" || e2e_fail "badmode: no message"
grep -q "^Try 'qvrhost --help' for the commands\.$" "$E2E_WORK/badmode.err" || e2e_fail "badmode: no hint"

# No product yet: Initialize cannot find the product's identity, and an
# error record says so. A failing RemoveApplications hands back no names:
# the list given stays the host's.
host_run initialize --product-type vmobpc initialize
expect_rc initialize 1
expect_only_records initialize
grep -q '^\[3\] ' "$E2E_WORK/initialize.txt" || e2e_fail "initialize: no error record says why it failed"
host_run remove remove-apps AppA AppB
expect_rc remove 1
expect_only_records remove

# Without qvrinst.dll beside it the host says so and fails.
mkdir -p "$E2E_WORK/alone"
cp "$HOST" "$E2E_WORK/alone/qvrhost.exe"
HOST="$E2E_WORK/alone/qvrhost.exe" host_run alone always-succeeds
expect_rc alone 1
grep -q 'cannot load .*alone.qvrinst\.dll' "$E2E_WORK/alone.err" || e2e_fail "alone: no message naming the module's path"

# The product: the identity library with a product_info.ini naming its key,
# every declaration key the readers need, and vtcore.dll with a profiles.xml
# found through ProductRoot and ProfilesXmlPath, for qvrhost --profiles.
reg_exe delete "$PRODUCT" /f >/dev/null
trap 'reg_exe delete "$PRODUCT" /f >/dev/null' EXIT
cp "$E2E_BUILD/bin/product_info.dll" "$E2E_BUILD/bin/vtcore.dll" "$E2E_BUILD/testdata/plugin_probe.exe" "$E2E_WORK/"
printf 'ProductRegistryKey=%s\n' "$KEY" >"$E2E_WORK/product_info.ini"
printf '<profiles version="1"><node name="tasks"><node name="Scan"/><node name="Update"/></node></profiles>\n' \
  >"$E2E_WORK/profiles.xml"
reg_add "$PRODUCT\\environment" /v ProductRoot /t REG_SZ /d "$E2E_WORK_WIN"
reg_add "$PRODUCT\\environment" /v ProfilesXmlPath /t REG_SZ /d "%ProductRoot%\\profiles.xml"
for declarations in features profiles drivers ProtoHandlers registry Selfregs Selfunregs environment; do
  reg_add "$PRODUCT\\Installer\\$declarations"
done
# feature NAME TYPE FLAG PROFILE: a feature of one product type with a
# registry flag, a profile, a self-registration and unregistration run by the
# probe, and the type's (empty) environment.
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
  reg_add "$PRODUCT\\Installer\\environment\\${2%pc}"
}
feature Pc vmobpc A Scan
feature Kis kis B Update

# expect_state RUN TYPE A B PROFILES RECORD: the stored type, flags A and B,
# the profiles marked installed in the store, and the record since the last
# run as "grant" and "run LABEL", a run whose process was not the one granted
# just before marked "ungranted".
expect_state() {
  expect_only_records "$1"
  expect_value "$1" "$PRODUCT\\environment" ProductType "REG_SZ $2"
  expect_value "$1" "$PRODUCT\\Flags" A "REG_DWORD 0x$3"
  expect_value "$1" "$PRODUCT\\Flags" B "REG_DWORD 0x$4"
  e2e_same "$1: installed profiles" "$(e2e_store "$E2E_WORK_WIN\\profiles.xml" | sed -n 's/: installed = dword 1$//p' |
    paste -sd' ')" "$5"
  e2e_same "$1: record" "$(tr -d '\r' <"$E2E_WORK/record.txt" |
    awk '$1 == "grant" { granted = $2; print "grant"; next }
         $1 == "run" { print "run " $NF ($2 == granted ? "" : " ungranted"); granted = "" }' | paste -sd'|')" "$6"
  : >"$E2E_WORK/record.txt"
}

# Every resource of vmobpc, each process granted its waiver before it ran.
host_run activate --profiles --product-type vmobpc --waiver-log "$RECORD" activate 27
expect_rc activate 0
expect_state activate vmobpc 1 0 'tasks\Scan' "grant|run reg-Pc"

# The full switch to kis removes vmobpc's resources, then creates kis's.
host_run switch --profiles --product-type kis switch
expect_rc switch 0
expect_state switch kis 0 1 'tasks\Update' "run unreg-Pc ungranted|run reg-Kis ungranted"

# Deactivating kis removes its resources but the profiles, and keeps the
# stored type. (Its result also counts the removal of shortcuts, which this
# product does not declare, so only the state is checked.)
host_run deactivate deactivate
expect_state deactivate kis 0 0 'tasks\Update' "run unreg-Kis ungranted"

e2e_finish
