#!/usr/bin/env bash
# Driver services and the filtering driver's WFP objects through qvrhost
# switch under Wine: two kernel-driver services made with sc.exe, a product
# whose Wall feature (type kis) names both, the start types read back with
# reg.exe and the engine's objects listed by wfpstate.exe (the prefix loads
# the engine stand-in). Switching to vmobpc disables both and removes the
# objects of the product's provider only; a switch back to kis finds the
# objects still registered after a failed removal and repairs them.
source "$(dirname "$0")/lib.sh" "$1" "$2" drivers
KEY="Software\\QvrTest\\e2e.$E2E_NAME"
PRODUCT="HKLM\\$KEY"
SERVICES='HKLM\SYSTEM\CurrentControlSet\Services'
PROVIDER='{BB08D0DC-7D81-4201-9A48-34401534F73A}'
FOREIGN='{0E4F1E0A-0000-4000-8000-000000000001}'
wfpstate() { wine_run "$E2E_BUILD/bin/standins/wfpstate.exe" "$@" </dev/null 2>&1 | tr -d '\r'; }
cleanup() {
  reg_exe delete "$PRODUCT" /f
  for service in vxwfp qvrtdrv; do wine_program sc delete "$service" </dev/null; done
  wfpstate clear
} >/dev/null 2>&1
cleanup
trap cleanup EXIT

for service in vxwfp qvrtdrv; do
  wine_program sc create "$service" type= kernel start= demand binPath= "C:\\windows\\system32\\drivers\\$service.sys" \
    </dev/null >/dev/null 2>&1 || e2e_fail "sc create $service"
done
wfpstate add-foreign >/dev/null || e2e_fail "wfpstate add-foreign"

# The switch writes the task profiles too: vtcore.dll's store of an empty
# profiles.xml (qvrhost --profiles).
cp "$E2E_BUILD/bin/product_info.dll" "$E2E_BUILD/bin/vtcore.dll" "$E2E_WORK/"
printf 'ProductRegistryKey=%s\n' "$KEY" >"$E2E_WORK/product_info.ini"
printf '<profiles version="1"/>\n' >"$E2E_WORK/profiles.xml"
reg_add "$PRODUCT\\environment" /v ProductType /t REG_SZ /d vmobpc
reg_add "$PRODUCT\\environment" /v ProductRoot /t REG_SZ /d "$E2E_WORK_WIN"
reg_add "$PRODUCT\\environment" /v ProfilesXmlPath /t REG_SZ /d "%ProductRoot%\\profiles.xml"
reg_add "$PRODUCT\\data"
for declarations in features profiles ProtoHandlers registry Selfregs Selfunregs environment\\kis environment\\vmob; do
  reg_add "$PRODUCT\\Installer\\$declarations"
done
reg_add "$PRODUCT\\Installer\\drivers" /v vxwfp /t REG_DWORD /d 1
reg_add "$PRODUCT\\Installer\\drivers" /v qvrtdrv /t REG_DWORD /d 2
reg_add "$PRODUCT\\Installer\\features\\Wall" /v ProductTypes /t REG_SZ /d kis
reg_add "$PRODUCT\\Installer\\features\\Wall" /v Drivers /t REG_SZ /d "vxwfp qvrtdrv"
reg_add "$PRODUCT\\Installer\\features\\Pc" /v ProductTypes /t REG_SZ /d vmobpc

expect_start() {  # RUN VXWFP QVRTDRV: the start types the service manager keeps
  expect_value "$1" "$SERVICES\\vxwfp" Start "REG_DWORD 0x$2"
  expect_value "$1" "$SERVICES\\qvrtdrv" Start "REG_DWORD 0x$3"
}
expect_objects() {  # RUN PROVIDER COUNT
  e2e_same "$1: objects of $2" "$(wfpstate count --provider "$2")" "$3"
}

# To kis: both enabled with their declared start types, their starts fail as
# Wine's do for every kernel driver, and all 38 objects are registered.
host_run enable --profiles --product-type kis switch
expect_rc enable 0
expect_only_records enable
expect_start enable 1 2
for service in vxwfp qvrtdrv; do
  grep -qx "\[3\] StartDriver: StartService($service) failed: 0x0000045A" "$E2E_WORK/enable.txt" ||
    e2e_fail "enable: no failed start of $service"
done
# The engine chooses the filters' weights.
e2e_same "enable: the provider's objects" \
  "$(wfpstate list --provider "$PROVIDER" | sed 's/ weight=u64:[0-9]* / weight=WEIGHT /')" \
  "$(cat "$E2E_SOURCE/tests/e2e/expected/wfp_objects.txt")"

# To vmobpc, with a commit of the engine that fails: the drivers are disabled
# all the same, the objects stay, and the run says so.
WFP_STANDIN_FAULT='FwpmTransactionCommit0:1:0x80320017' host_run failed --profiles --product-type vmobpc switch
expect_rc failed 0
expect_start failed 4 4
for line in 'RemoveVxwfpParameters: WfpMgrRemoveByEnumerate failed, err: 0x80320017' \
  'SetDriverParameters: removing vxwfp params failed' 'DisableDrivers: removing params for vxwfp failed'; do
  grep -qxF "[3] $line" "$E2E_WORK/failed.txt" || e2e_fail "failed: no line '$line'"
done
expect_objects failed "$PROVIDER" 38

# Back to kis over the objects left: the first run fails at the provider, the
# removal and the second run succeed.
host_run repair --profiles --product-type kis switch
expect_rc repair 0
expect_start repair 1 2
e2e_same "repair: the repair's lines" "$(grep -E '^\[[13]\] SetVxwfpParameters' "$E2E_WORK/repair.txt")" \
  "[1] SetVxwfpParameters: entry point
[3] SetVxwfpParameters: WfpmgrInstallEx2 first run failed, err: 0x80320009
[3] SetVxwfpParameters: WfpMgrRemoveByEnumerate, err: 0x0"
expect_objects repair "$PROVIDER" 38

# To vmobpc: disabled, and no object of the product's provider is left; the
# other provider's filter and the filter of no provider stay.
host_run disable --profiles --product-type vmobpc switch
expect_rc disable 0
expect_start disable 4 4
expect_objects disable "$PROVIDER" 0
expect_objects disable "$FOREIGN" 2
e2e_same "disable: every object left" "$(wfpstate list | grep -c '')" 3

e2e_finish
