#!/usr/bin/env bash
# Plugin self-registration through the setup host: Selfregs and Selfunregs
# declarations written with reg.exe under a product key of the test's own,
# the probe program as the registration program, and qvrhost.exe handing in
# its waiver-recording service locator. The probe and the locator append to
# the same record, so its lines show the order of grants and runs.
source "$(dirname "$0")/../lib.sh" "$1" "$2" host_plugins
source "$(dirname "$0")/host_lib.sh"
RECORD="$E2E_WORK_WIN\\record.txt"
PROBE="$E2E_WORK_WIN\\plugin_probe.exe"

cleanup() { reg_exe delete "$PRODUCT" /f >/dev/null; }
cleanup
trap cleanup EXIT

# The record as "grant" and "run LABEL" lines; a run whose process was not
# the one granted just before is marked "ungranted".
record_order() {
  tr -d '\r' <"$E2E_WORK/record.txt" |
    awk '$1 == "grant" { granted = $2; print "grant"; next }
         $1 == "run" { print "run " $NF ($2 == granted ? "" : " ungranted"); granted = "" }'
}

expect_order() {  # WHAT EXPECTED ACTUAL
  [ "$3" = "$2" ] || e2e_fail "$1: in this order:
$3
expected:
$2"
}

# The product: identity library and its settings, the probe, declarations.
cp "$E2E_BUILD/bin/product_info.dll" "$E2E_WORK/product_info.dll"
printf 'ProductRegistryKey=%s\n' "$KEY" >"$E2E_WORK/product_info.ini"
cp "$E2E_BUILD/testdata/plugin_probe.exe" "$E2E_WORK/plugin_probe.exe"
# The profile store, so that a full switch runs to its end.
host_profile_store
reg_add "$PRODUCT\\Installer\\environment\\kis"
# Every declaration key, so that Initialize reads them all.
for declarations in features profiles drivers ProtoHandlers registry; do
  reg_add "$PRODUCT\\Installer\\$declarations"
done

selfreg() { reg_add "$PRODUCT\\Installer\\$1" /v "$2" /t REG_SZ /d "$3"; }
selfreg Selfregs pA "$PROBE $RECORD reg-A"
selfreg Selfregs pB "$PROBE $RECORD reg-B"
selfreg Selfregs pK "$PROBE $RECORD reg-K"
selfreg Selfregs pMissing "$E2E_WORK_WIN\\no-such-program.exe /register"
selfreg Selfunregs uA "$PROBE $RECORD unreg-A"
selfreg Selfunregs uB "$PROBE $RECORD unreg-B"
selfreg Selfunregs uK "$PROBE $RECORD unreg-K"

feature() {  # NAME INSTALLED PRODUCT_TYPES SELFREGS SELFUNREGS
  local key="$PRODUCT\\Installer\\features\\$1"
  reg_add "$key" /v installed /t REG_DWORD /d "$2"
  reg_add "$key" /v ProductTypes /t REG_SZ /d "$3"
  reg_add "$key" /v Selfregs /t REG_SZ /d "$4"
  reg_add "$key" /v SelfUnregs /t REG_SZ /d "$5"
}
feature F1 1 "vmobpc kis" "pA pB" "uA"
feature F2 1 "vmobpc" "pB undeclared pMissing" "uB uA"
feature F3 0 "vmobpc" "pA" "uA"
feature F4 1 "kis" "pK" "uK"

# Plugins alone for vmobpc: each qualifying feature's names in feature-table
# order, a name listed by two features twice, each process granted its
# waiver before it ran.
host_run activate --product-type vmobpc --waiver-log "$RECORD" activate 1
[ "$HOST_RC" -eq 0 ] || e2e_fail "activate: exit code $HOST_RC"
expect_order activate "grant
run reg-A
grant
run reg-B
grant
run reg-B" "$(record_order)"
expect_order "activate records" "RegisterPlugins: self-registering pA requested by feature F1
RegisterPlugins: self-registering pB requested by feature F1
RegisterPlugins: self-registering pB requested by feature F2
RegisterPlugins: self-registering pMissing requested by feature F2" \
  "$(sed -n 's/^\[1\] \(RegisterPlugins: self-registering .*\)$/\1/p' "$E2E_WORK/activate.txt")"
[ "$(grep -c '^\[1\] Set waiver result: 0x00000000$' "$E2E_WORK/activate.txt")" -eq 3 ] \
  || e2e_fail "activate: not three granted waivers"
grep -qx '\[1\] RegisterPluginImpl: Exec function execret: 1, retcode: 0' "$E2E_WORK/activate.txt" \
  || e2e_fail "activate: the missing program did not log execret 1"
grep -qx "\[3\] RegisterPlugins: self-registering $(sed 's/\\/\\\\/g' <<<"$E2E_WORK_WIN")\\\\no-such-program.exe /register failed" \
  "$E2E_WORK/activate.txt" || e2e_fail "activate: the missing program's failure is not logged"
grep -q 'm_sl = null' "$E2E_WORK/activate.txt" && e2e_fail "activate: the host's locator was not used"
grep -q 'unreg-' "$E2E_WORK/record.txt" && e2e_fail "activate: an unregistration ran"
stored=$(reg_exe query "$PRODUCT\\environment" /v ProductType | sed -n 's/^    ProductType    REG_SZ    //p')
[ "$stored" = vmobpc ] || e2e_fail "activate: stored product type '$stored'"

# The full switch to kis, without a service locator: vmobpc's
# unregistrations run first (F1 uA, then F2 uB uA), then kis's registrations
# (F1 pA pB, F4 pK), each launch saying that there is no locator.
: >"$E2E_WORK/record.txt"
host_run switch --profiles --product-type kis switch
[ "$HOST_RC" -eq 0 ] || e2e_fail "switch: exit code $HOST_RC"
expect_order switch "run unreg-A ungranted
run unreg-B ungranted
run unreg-A ungranted
run reg-A ungranted
run reg-B ungranted
run reg-K ungranted" "$(record_order)"
grep -q '^grant' "$E2E_WORK/record.txt" && e2e_fail "switch: a waiver was granted without a locator"
[ "$(grep -c '^\[1\] m_sl = null$' "$E2E_WORK/switch.txt")" -ge 3 ] || e2e_fail "switch: no 'm_sl = null' per launch"
grep -qx '\[1\] UnegisterPlugins: unself-registering uB requested by feature F2' "$E2E_WORK/switch.txt" \
  || e2e_fail "switch: no record of uB requested by F2"
# The old type's unregistrations come before any registration of the new one.
first_run=$(record_order | head -1)
[ "$first_run" = "run unreg-A ungranted" ] || e2e_fail "switch: first run is '$first_run'"
grep -q 'unreg-K' "$E2E_WORK/record.txt" && e2e_fail "switch: kis's unregistration ran"

e2e_finish
