#!/usr/bin/env bash
# qvrhost's tools on a product of the test's own (imported with reg.exe):
# plan prints the switch from kis to vmobpc step by step and lint finds
# nothing; both write nothing. Then faults are added, one of each kind, and
# lint lists each of them and Initialize's failure. (explain is tested on the
# logs of real failed installs, in msi/failure_paths_test.sh.)
source "$(dirname "$0")/lib.sh" "$1" "$2" tools
KEY="Software\\QvrTest\\e2e.$E2E_NAME"
PRODUCT="HKLM\\$KEY"
REG_KEY='HKEY_LOCAL_MACHINE\'"$KEY"
reg_exe delete "$PRODUCT" /f >/dev/null
trap 'reg_exe delete "$PRODUCT" /f >/dev/null' EXIT
cp "$E2E_BUILD/bin/product_info.dll" "$E2E_WORK/"
printf 'ProductRegistryKey=%s\n' "$KEY" >"$E2E_WORK/product_info.ini"

# reg_import NAME: imports the .reg text on standard input.
reg_import() {
  { printf 'Windows Registry Editor Version 5.00\n\n'; sed "s|@KEY@|${REG_KEY//\\/\\\\}|g"; } >"$E2E_WORK/$1.reg"
  reg_exe import "$E2E_WORK_WIN\\$1.reg" >/dev/null || e2e_fail "reg import $1"
}
reg_import product <<'REG'
[@KEY@\environment]
"ProductType"="kis"
[@KEY@\Installer\features\Av]
"ProductTypes"="kis vmobpc"
"Profiles"="Scan"
"Registry"="A"
"Selfregs"="reg-av"
"SelfUnregs"="unreg-av"
"Drivers"="avdrv"
[@KEY@\Installer\features\Fw]
"installed"=dword:00000001
"ProductTypes"="vmobpc"
"Profiles"="Update"
"Registry"="B"
[@KEY@\Installer\profiles]
"Scan"="tasks\\Scan"
"Update"="tasks\\Update"
[@KEY@\Installer\registry]
"A"="Key=Software\\QvrTest\\e2e.tools\\Flags|Name=A"
"B"="Root=HKCU|Key=Software\\QvrTest\\e2e.tools\\Flags|Name=B"
[@KEY@\Installer\Selfregs]
"reg-av"="C:\\av\\plugin.exe /register"
[@KEY@\Installer\Selfunregs]
"unreg-av"="C:\\av\\plugin.exe /unregister"
[@KEY@\Installer\drivers]
"avdrv"=dword:00000002
[@KEY@\Installer\ProtoHandlers\qvrt]
"Command"="C:\\av\\open.exe %1"
"Descr"="URL:qvrt"
[@KEY@\Installer\environment\kis]
"Edition"="home"
[@KEY@\Installer\environment\vmob]
"Edition"="office"
REG

host_run plan plan vmobpc
expect_rc plan 0
e2e_same "plan" "$(cat "$E2E_WORK/plan.txt")" "$(cat <<'EOF'
SwitchProductType from 'kis' to 'vmobpc'
RemoveProductShortcuts: the product's shortcuts deleted from the all-users folders, with the users' toasts
UnregisterPlugins: run C:\av\plugin.exe /unregister (feature Av)
DisableDrivers: driver avdrv start type 4 (disabled) (feature Av)
DeactivateRegistry: registry value A requested (feature Av)
DeactivateRegistry: HKLM\Software\QvrTest\e2e.tools\Flags [A] = 0
DeactivateRegistry: HKCU\Software\QvrTest\e2e.tools\Flags [B] = 0
UnRegisterProtoHandlers: HKCR\qvrt deleted
ActivateProfiles: profile Scan requested (feature Av)
ActivateProfiles: profile Update requested (feature Fw)
ActivateProfiles: profile Scan (tasks\Scan): installed
ActivateProfiles: profile Update (tasks\Update): installed
ActivateStartMenu: the main shortcut copied to the all-users programs folder
CreateDesktopShortcuts: the main (and secure-banking) shortcut copied to the all-users desktop
WriteProductType: ProductType = vmobpc
RegisterPlugins: run C:\av\plugin.exe /register (feature Av)
EnableDrivers: driver avdrv start type 2, started (feature Av)
RegisterProtoHandlers: HKCR\qvrt = URL:qvrt, command C:\av\open.exe %1
ActivateRegistry: registry value A requested (feature Av)
ActivateRegistry: registry value B requested (feature Fw)
ActivateRegistry: HKLM\Software\QvrTest\e2e.tools\Flags [A] = 1
ActivateRegistry: HKCU\Software\QvrTest\e2e.tools\Flags [B] = 1
ActivateEnvironment: environment\Edition = office
EOF
)"
host_run clean lint
expect_rc clean 0
e2e_same "lint of the product" "$(cat "$E2E_WORK/clean.txt")" "Initialize: reads the declarations"
expect_value "plan and lint" "$PRODUCT\\environment" ProductType "REG_SZ kis"
key_exists "$PRODUCT\\Flags" && e2e_fail "plan wrote the flags"
key_exists 'HKCR\qvrt' && e2e_fail "plan registered the protocol"

LONG_NAME=$(printf 'x%.0s' {1..300})
reg_import faults <<REG
[@KEY@\environment]
"ProductType"="retired"
[@KEY@\Installer\features\Odd]
"installed"="yes"
"ProductTypes"=hex(7):6b,00,69,00,73,00,00,00,00,00
"Profiles"="Ghost"
"Drivers"="nodrv"
[@KEY@\Installer\profiles]
"Bad"=dword:00000001
[@KEY@\Installer\registry]
"C"="no pairs here"
[@KEY@\Installer\Selfregs]
"$LONG_NAME"="C:\\\\av\\\\long.exe"
[@KEY@\Installer\drivers]
"textdrv"="2"
[@KEY@\Installer\ProtoHandlers\bare]
[@KEY@\Installer\environment\old]
REG
host_run faults --product-type vmobfs lint
expect_rc faults 1
e2e_same "lint of the faults" "$(cat "$E2E_WORK/faults.txt")" "$(cat <<'EOF'
Installer\profiles\Bad: is REG_DWORD, not REG_SZ: Initialize fails
Installer\features\Odd\installed: is REG_SZ, not a REG_DWORD: taken as installed
Installer\features\Odd\ProductTypes: is REG_MULTI_SZ, not REG_SZ: read as an empty list
Installer\Selfregs\xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...: its name has 300 characters, more than 255: skipped
Installer\drivers\textdrv: is REG_SZ of 4 bytes, not a REG_DWORD: skipped
Installer\ProtoHandlers\bare: has no Command: Initialize fails
Installer\ProtoHandlers\bare: has no Descr string: an error line, and an empty description is registered
Installer\registry\C: 'no pairs here' does not parse as Root=...|Key=...|Name=...: skipped
Installer\features\Odd\Profiles: names profile 'Ghost', which is not declared: left out
Installer\features\Odd\Drivers: names driver 'nodrv', which is not declared: left out
product type 'retired': no feature declares it: nothing feature-driven is activated
product type 'vmobfs': no feature declares it: nothing feature-driven is activated
Installer\environment\old: environment of a product type that no feature declares
Initialize: fails
Initialize: ReadProfiles: can't query value Bad: 0x0000065d
EOF
)"
expect_value "lint" "$PRODUCT\\environment" ProductType "REG_SZ retired"
e2e_finish
