#!/usr/bin/env bash
# MsiProductActivate run by Wine's msiexec as a deferred action: the
# parameter line and the action records in the verbose log, for well-formed
# and malformed CustomActionData.
source "$(dirname "$0")/../lib.sh" "$1" "$2" custom_action_data

TIME='[0-9]{2}:[0-9]{2}:[0-9]{2}'
PREFIX="^MSI \(X\) \(XX:XX\) \[$TIME:[0-9]{3}\]: "

e2e_package product || e2e_finish
# Without ProductInfoDLL the activation finds no product, so it builds no
# profile store and fails: every run below ends with 1603.
unset ProductInfoDLL

e2e_msiexec /i product full "QVR_CAD=ProductType=vmobpc|Files=1|Registry=1|Plugins=1|ProtocolHandlers=1|Profiles=1"
e2e_expect full "^Action start $TIME: MsiProductActivate\.$" "start record"
e2e_expect full "${PREFIX}MsiProductActivate: ProductType=vmobpc, Files=1, Registry=1, Plugins=1, ProtocolHandlers=1, ProfilesActivation=1, mode=31$" "parameter line"
e2e_expect full "${PREFIX}\[VantorTmProfiles\]$(printf '\t')GetEnvironmentVariableW failed, err = 203$" "no product"
e2e_expect full "^Action ended $TIME: MsiProductActivate\. Return value 3\.$" "end record"
[ "$E2E_RC" -eq 67 ] || e2e_fail "install of the failing activation returned $E2E_RC, not 1603"
order=$(e2e_lines full "MsiProductActivate" | sed -E 's/.*(Action start|MsiProductActivate: |Action ended).*/\1/' | tr '\n' '|')
[ "$order" = "Action start|MsiProductActivate: |Action ended|" ] || e2e_fail "records out of order: $order"

e2e_msiexec /i product partial "QVR_CAD= ;ProductType=vmobfs|Registry=1 |Files=1|Files=0|Extra=x"
e2e_expect partial "${PREFIX}MsiProductActivate: ProductType=vmobfs, Files=1, Registry=1 , Plugins=, ProtocolHandlers=, ProfilesActivation=, mode=4$" "first value wins, blank keeps bit off"

case_number=0
for data in "Files" "=1" "a=b|c"; do
  case_number=$((case_number + 1))
  name="malformed$case_number"
  e2e_msiexec /i product "$name" "QVR_CAD=$data"
  e2e_expect "$name" "^Action start $TIME: MsiProductActivate\.$" "$data: start record"
  e2e_expect_not "$name" "MsiProductActivate: ProductType=" "$data: parameter line"
  e2e_expect_not "$name" "^Action ended $TIME: MsiProductActivate\." "$data: end record"
  [ "$E2E_RC" -eq 67 ] || e2e_fail "$data: install returned $E2E_RC, not 1603"
done

e2e_finish
