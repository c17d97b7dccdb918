#!/usr/bin/env bash
# The cleaner through qvrhost under Wine: a product whose FileShieldFeature
# and PacketWallFeature qualify, with a sweeper.pack (testdata/cleaner/
# apps.pack) whose database knows three applications, of categories 0, 1
# and 2; the last two are installed (uninstall keys written with reg.exe,
# their uninstaller the probe, which records its run and deletes its key).
source "$(dirname "$0")/lib.sh" "$1" "$2" cleaner
KEY="Software\\QvrTest\\e2e.$E2E_NAME"
PRODUCT="HKLM\\$KEY"
UNINSTALL='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
RECORD="$E2E_WORK_WIN\\record.txt"
cleanup() {
  reg_exe delete "$PRODUCT" /f
  for app in QvrTest.Safe QvrTest.Custom; do reg_exe delete "$UNINSTALL\\$app" /f; done
} >/dev/null
cleanup
trap cleanup EXIT

cp "$E2E_BUILD/bin/product_info.dll" "$E2E_BUILD/testdata/plugin_probe.exe" "$E2E_WORK/"
printf 'ProductRegistryKey=%s\n' "$KEY" >"$E2E_WORK/product_info.ini"
reg_add "$PRODUCT\\environment" /v ProductRoot /t REG_SZ /d "$E2E_WORK_WIN"
reg_add "$PRODUCT\\environment" /v ProductVersion /t REG_SZ /d "21.3.0.1"
for declarations in features profiles ProtoHandlers registry Selfregs Selfunregs environment; do
  reg_add "$PRODUCT\\Installer\\$declarations"
done
for feature in FileShieldFeature PacketWallFeature; do
  reg_add "$PRODUCT\\Installer\\features\\$feature" /v ProductTypes /t REG_SZ /d "vmobpc"
done
installed() {  # UNINSTALL_KEY
  reg_add "$UNINSTALL\\$1" /v QuietUninstallString /t REG_SZ /d "$E2E_WORK_WIN\\plugin_probe.exe $RECORD unkey=$1"
}

# Without the pack the cleaner cannot start: both operations fail.
host_run nopack --product-type vmobpc check-apps 1
expect_rc nopack 1
grep -qF "[1] Sweeper pack file not found: $E2E_WORK_WIN\\sweeper.pack" "$E2E_WORK/nopack.txt" ||
  e2e_fail "nopack: no line names the missing pack"
grep -qx '\[3\] ExtractCleanerData: InitializeProductTypes error = 3' "$E2E_WORK/nopack.txt" ||
  e2e_fail "nopack: no InitializeProductTypes error"

cp "$E2E_BUILD/testdata/cleaner/apps.pack" "$E2E_WORK/sweeper.pack"
installed QvrTest.Safe
installed QvrTest.Custom

# check-apps 1: the category-1 application present, and the library's lines
# in the order it traced them, since it detected something.
host_run check --product-type vmobpc check-apps 1
expect_rc check 0
e2e_same "check: names" "$(host_names check)" "qvrtest-safe"
e2e_same "check: library lines" "$(sed -n 's/^\[1\] cleanapi: //p' "$E2E_WORK/check.txt" | paste -sd'|')" \
  "database db\\apps.db: 3 applications|database db\\other.db: 1 application|read 2 database files: 4 applications|checking qvrtest-detect|checking qvrtest-safe|detected qvrtest-safe (QvrTest Safe 100%%)|checking qvrtest-custom|detected qvrtest-custom (QvrTest Custom)|checking qvrtest-other|2 applications of 4 present"
grep -qx "\[1\] CheckForApplicationsToRemove: detected alien software  'QvrTest Safe 100%%'" "$E2E_WORK/check.txt" ||
  e2e_fail "check: no detection line"
# The scratch folder went with the object.
scratch=$(sed -n "s/^\[1\] InitializeCleaner: ExtractCleanerData from '.*' to '\(.*\)' product version '21.3.0.1'\$/\1/p" \
  "$E2E_WORK/check.txt")
[ -n "$scratch" ] || e2e_fail "check: no scratch folder named"
unix_scratch=$(wine_program winepath -u "$scratch" 2>/dev/null | tr -d '\r')
[ -n "$unix_scratch" ] && [ ! -e "$unix_scratch" ] || e2e_fail "check: the scratch folder $scratch is still there"

# remove-apps NAME: its uninstaller ran, its key is gone, its name returned.
host_run remove --product-type vmobpc remove-apps qvrtest-safe
expect_rc remove 0
e2e_same "remove: names" "$(host_names remove)" "qvrtest-safe"
grep -q 'unkey=QvrTest.Safe$' "$E2E_WORK/record.txt" || e2e_fail "remove: the uninstaller did not run"
key_exists "$UNINSTALL\\QvrTest.Safe" && e2e_fail "remove: the application's key is still there"
key_exists "$UNINSTALL\\QvrTest.Custom" || e2e_fail "remove: another application went too"

# remove-apps without names: every detected application, whatever its category.
host_run all --product-type vmobpc remove-apps
expect_rc all 0
e2e_same "all: names" "$(host_names all)" "qvrtest-custom"
key_exists "$UNINSTALL\\QvrTest.Custom" && e2e_fail "all: the application's key is still there"

# A clean machine: nothing listed, and none of the library's lines.
host_run clean --product-type vmobpc check-apps 2
expect_rc clean 0
e2e_same "clean: names" "$(host_names clean)" ""
grep -q '^\[1\] cleanapi: ' "$E2E_WORK/clean.txt" && e2e_fail "clean: the library's lines were written"

e2e_finish
