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

reg_exe() { "$WINELOADER" reg "$@" </dev/null 2>/dev/null | tr -d '\r'; }
reg_add() { reg_exe add "$@" /f >/dev/null || e2e_fail "reg add $*"; }
cleanup() {
  reg_exe delete "$PRODUCT" /f >/dev/null
  reg_exe delete "$FLAGS" /f >/dev/null
  reg_exe delete "HKCR\\$SCHEME" /f >/dev/null
}
expect_value() {  # WHAT KEY NAME "TYPE DATA" (an empty NAME: the default value)
  local line
  if [ -n "$3" ]; then
    line=$(reg_exe query "$2" /v "$3" | sed -nE "s/^ +$3 +([A-Z_]+) +/\\1 /p")
  else
    line=$(reg_exe query "$2" /ve | sed -nE "s/^ +\\(Default\\) +([A-Z_]+) +/\\1 /p")
  fi
  [ "$line" = "$4" ] || e2e_fail "$1: $2\\$3 is '$line', expected '$4'"
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
e2e_msiexec /i product install "QVR_CAD=ProductType=vmobfs|Registry=1|Plugins=1|ProtocolHandlers=1"
[ "$E2E_RC" -eq 0 ] || e2e_fail "install returned $E2E_RC"
e2e_expect install "^Action ended $TIME: MsiProductActivate\. Return value 1\.$" "end record"
# vmobfs: Antivirus qualifies; Firewall is not of the type, Backup not installed.
expect_value install "$FLAGS" Antivirus "REG_DWORD 0x1"
expect_value install "$FLAGS" Firewall "REG_DWORD 0x0"
expect_value install "$FLAGS" Backup "REG_DWORD 0x0"
runs=$(tr -d '\r' <"$E2E_WORK/record.txt" 2>/dev/null | awk '$1 == "run" { print $NF }' | tr '\n' ' ')
[ "$runs" = "reg-Antivirus " ] || e2e_fail "install: self-registrations '$runs'"
expect_value install "HKCR\\$SCHEME" "URL Protocol" "REG_SZ "
expect_value install "HKCR\\$SCHEME\\shell\\open\\command" "" "REG_SZ $COMMAND"

# The installed product again, for vmobpc: Firewall's flag and registration
# come, and the protocol is registered again.
: >"$E2E_WORK/record.txt"
e2e_msiexec /i product again "QVR_CAD=ProductType=vmobpc|Registry=1|Plugins=1|ProtocolHandlers=1"
[ "$E2E_RC" -eq 0 ] || e2e_fail "second run returned $E2E_RC"
expect_value again "$FLAGS" Antivirus "REG_DWORD 0x1"
expect_value again "$FLAGS" Firewall "REG_DWORD 0x1"
expect_value again "$FLAGS" Backup "REG_DWORD 0x0"
runs=$(tr -d '\r' <"$E2E_WORK/record.txt" 2>/dev/null | awk '$1 == "run" { print $NF }' | tr '\n' ' ')
[ "$runs" = "reg-Antivirus reg-Firewall " ] || e2e_fail "second run: self-registrations '$runs'"
expect_value again "HKCR\\$SCHEME" "URL Protocol" "REG_SZ "

e2e_msiexec /x product removal
[ "$E2E_RC" -eq 0 ] || e2e_fail "removal returned $E2E_RC"
e2e_finish
