#!/usr/bin/env bash
# Failures of MsiProductActivate run by Wine's msiexec in its custom action
# server, each ending the install with 1603 and the action's end record:
# declarations that cannot all be read (nothing is activated), and an
# exception out of the component framework while the profiles are written
# (a dump in the action's TEMP). qvrhost explain reads both logs.
source "$(dirname "$0")/../lib.sh" "$1" "$2" failure_paths

PRODUCT_DIR="$WINEPREFIX/drive_c/Program Files/VantorModularityDemo"
dumps() { find "$WINEPREFIX/drive_c" -name 'TRXINST.*.dmp' 2>/dev/null; }
forget() {
  reg_exe delete 'HKLM\Software\Vantor\ModularityDemo' /f >/dev/null
  rm -f "$PRODUCT_DIR/profiles.xml.store"
  dumps | while read -r dump; do rm -f "$dump"; done
}
forget
e2e_package product || e2e_finish
export ProductInfoDLL='C:\Program Files\VantorModularityDemo\product_info.dll'

END_FAILED="^Action ended [0-9:]{8}: MsiProductActivate\. Return value 3\.$"
reg_add 'HKLM\Software\Vantor\ModularityDemo\Installer\profiles' /v Broken /t REG_SZ /d ""
e2e_msiexec /i product unreadable "QVR_CAD=ProductType=vmobpc|Profiles=1"
[ "$E2E_RC" -eq 67 ] || e2e_fail "activation on unreadable declarations returned $E2E_RC, not 1603"
e2e_expect unreadable "^ReadProfiles: value Broken is empty$" "the reader's line"
e2e_expect unreadable "^MSI \(X\) \(XX:XX\) \[[0-9:]{12}\]: MsiProductActivate: Initialize failed, nothing was activated$" "the action's line"
e2e_expect_not unreadable "^(ActivateProduct entry point|WriteProfiles: )" "nothing activated"
e2e_expect unreadable "$END_FAILED" "end record"
# explain_log LOG EXPECTED: qvrhost explain's account of the log, its line
# numbers replaced by those of the lines it names.
explain_log() {
  host_run "explain-$1" explain "$E2E_WORK_WIN\\$1.log"
  expect_rc "explain-$1" 1
  local expected=$2 pattern number
  while read -r pattern; do
    number=$(grep -nE -- "$pattern" "$E2E_WORK/$1.txt" | head -1 | cut -d: -f1)
    expected=${expected/"@$pattern@"/$number}
  done < <(grep -o '@[^@]*@' <<<"$2" | tr -d @)
  e2e_same "explain $1" "$(cat "$E2E_WORK/explain-$1.txt")" "$expected"
}
explain_log unreadable "MsiProductActivate (line @^Action start .*MsiProductActivate@): failed (return value 3)
  line @^ReadProfiles: value Broken@, error: ReadProfiles: value Broken is empty"
forget

VTCORE_FAULT=throw=installed e2e_msiexec /i product exception "QVR_CAD=ProductType=vmobpc|Profiles=1"
[ "$E2E_RC" -eq 67 ] || e2e_fail "activation with a throwing framework returned $E2E_RC, not 1603"
e2e_expect exception "^ActivateProduct: unexpected exception: vtcore: SetValue of installed threw$" "exception line"
e2e_expect exception "$END_FAILED" "end record after the exception"
[ -n "$(dumps)" ] || e2e_fail "no dump file after the exception"
explain_log exception "MsiProductActivate (line @^Action start .*MsiProductActivate@): failed (return value 3)
  line @unexpected exception@, error: ActivateProduct: unexpected exception: vtcore: SetValue of installed threw"
forget
rmdir "$PRODUCT_DIR" 2>/dev/null

e2e_finish
