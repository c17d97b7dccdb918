#!/usr/bin/env bash
# MsiProductActivate with Registry=1, Plugins=1 and ProtocolHandlers=1 run by
# Wine's msiexec for the package's product. The package's own features get
# registry flags, self-registrations run by the probe program and a protocol
# handler, declared with reg.exe before the install; the machine state is read
# back with reg.exe and the probe's record.
source "$(dirname "$0")/../lib.sh" "$1" "$2" msi_activators

TIME='[0-9]{2}:[0-9]{2}:[0-9]{2}'
PRODUCT_DIR_WIN='C:\Program Files\VantorModularityDemo'
PRODUCT='HKLM\Software\Vantor\ModularityDemo'
FLAGS="HKLM\\Software\\QvrTest\\e2e.$E2E_NAME"
SCHEME=qvre2emsi
COMMAND='"C:\Program Files\VantorModularityDemo\open.exe" "%1"'
RECORD="$E2E_WORK_WIN\\record.txt"
PROBE="$E2E_WORK_WIN\\plugin_probe.exe"

cleanup() {
  reg_exe delete "$PRODUCT" /f >/dev/null
  reg_exe delete "$FLAGS" /f >/dev/null
  reg_exe delete "HKCR\\$SCHEME" /f >/dev/null
}
cleanup
trap cleanup EXIT

cp "$E2E_BUILD/testdata/plugin_probe.exe" "$E2E_WORK/plugin_probe.exe"
declare_feature() {  # FEATURE FLAG SELFREG
  reg_add "$PRODUCT\\Installer\\features\\$1" /v Registry /t REG_SZ /d "$2"
  reg_add "$PRODUCT\\Installer\\features\\$1" /v Selfregs /t REG_SZ /d "$3"
  reg_add "$PRODUCT\\Installer\\registry" /v "$2" /t REG_SZ /d "Key=Software\\QvrTest\\e2e.$E2E_NAME|Name=$1"
  reg_add "$PRODUCT\\Installer\\Selfregs" /v "$3" /t REG_SZ /d "$PROBE $RECORD reg-$1"
}
declare_feature Antivirus FlagAv pAv
declare_feature Firewall FlagFw pFw
declare_feature Backup FlagBk pBk
reg_add "$PRODUCT\\Installer\\ProtoHandlers\\$SCHEME" /v Descr /t REG_SZ /d "URL:QVR msi e2e"
reg_add "$PRODUCT\\Installer\\ProtoHandlers\\$SCHEME" /v Command /t REG_SZ /d "$COMMAND"

e2e_package product || e2e_finish
export ProductInfoDLL="$PRODUCT_DIR_WIN\\product_info.dll"

# activate LOG PRODUCT_TYPE ANTIVIRUS FIREWALL BACKUP "RUNS": one run of the
# package for a product type, the three features' flags (1 or 0) it must
# leave, and the probe's runs in order. The protocol is registered every time.
activate() {
  : >"$E2E_WORK/record.txt"
  e2e_msiexec /i product "$1" "QVR_CAD=ProductType=$2|Registry=1|Plugins=1|ProtocolHandlers=1"
  [ "$E2E_RC" -eq 0 ] || e2e_fail "$1: msiexec returned $E2E_RC"
  e2e_expect "$1" "^Action ended $TIME: MsiProductActivate\. Return value 1\.$" "$1: end record"
  expect_value "$1" "$FLAGS" Antivirus "REG_DWORD 0x$3"
  expect_value "$1" "$FLAGS" Firewall "REG_DWORD 0x$4"
  expect_value "$1" "$FLAGS" Backup "REG_DWORD 0x$5"
  local runs
  runs=$(tr -d '\r' <"$E2E_WORK/record.txt" | awk '$1 == "run" { print $NF }' | tr '\n' ' ')
  [ "$runs" = "$6" ] || e2e_fail "$1: self-registrations '$runs', expected '$6'"
  expect_value "$1" "HKCR\\$SCHEME" "" "REG_SZ URL:QVR msi e2e"
  expect_value "$1" "HKCR\\$SCHEME" "URL Protocol" "REG_SZ "
  expect_value "$1" "HKCR\\$SCHEME\\shell\\open\\command" "" "REG_SZ $COMMAND"
}

# vmobfs: Antivirus qualifies; Firewall is not of the type, Backup not
# installed. Then the installed product again for vmobpc, where Firewall
# qualifies too.
activate install vmobfs 1 0 0 "reg-Antivirus "
activate again vmobpc 1 1 0 "reg-Antivirus reg-Firewall "
# A type that no feature names, with the engine's template characters in it:
# every line that holds it reaches the log as written, and so does the store.
reg_add "$PRODUCT\\Installer\\environment\\[vm]{pc}" /v Edition /t REG_SZ /d "[Edition]"
activate brackets '[vm]{pc}' 0 0 0 ""
e2e_expect brackets "^MSI \(X\) \(XX:XX\) \[$TIME:[0-9]{3}\]: MsiProductActivate: ProductType=\[vm\]\{pc\}, Files=, Registry=1, Plugins=1, ProtocolHandlers=1, ProfilesActivation=, mode=[0-9]+$" "parameter line"
e2e_expect brackets "^ReadProductType: current product type is vmobpc$" "stored type read"
e2e_expect brackets "^ActivateEnvironment: Set value Edition = \\[Edition\\]$" "bracketed value copied"
e2e_expect brackets "^WriteProductType: set ProductType value: \[vm\]\{pc\}$" "bracketed type stored"
expect_value brackets "$PRODUCT\\environment" ProductType "REG_SZ [vm]{pc}"

e2e_msiexec /x product removal
[ "$E2E_RC" -eq 0 ] || e2e_fail "removal returned $E2E_RC"
e2e_expect removal "^ReadProductType: current product type is \[vm\]\{pc\}$" "bracketed type read back"
e2e_finish
