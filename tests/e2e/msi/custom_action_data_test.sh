#!/usr/bin/env bash
# MsiProductActivate run by Wine's msiexec as a deferred action, for
# well-formed and malformed CustomActionData: the parameter line between the
# action's records, and a malformed text ending the action after its start
# record.
source "$(dirname "$0")/../lib.sh" "$1" "$2" custom_action_data

TIME='[0-9]{2}:[0-9]{2}:[0-9]{2}'
e2e_package product || e2e_finish
# Without ProductInfoDLL the activation finds no product, so it builds no
# profile store and fails: every run below ends with 1603.
unset ProductInfoDLL

e2e_msiexec /i product partial "QVR_CAD= ;ProductType=vmobfs|Registry=1 |Files=1|Files=0|Profiles=1"
# The first occurrence of a key wins; only the exact text "1" sets a bit.
lines=$(e2e_lines partial "MsiProductActivate" | sed -E 's/[0-9]{2}:[0-9]{2}:[0-9]{2}(:[0-9]{3})?/T/g' | tr '\n' '|')
e2e_same "records and parameter line" "$lines" "Action start T: MsiProductActivate.|MSI (X) (XX:XX) [T]: MsiProductActivate: ProductType=vmobfs, Files=1, Registry=1 , Plugins=, ProtocolHandlers=, ProfilesActivation=1, mode=20|Action ended T: MsiProductActivate. Return value 3.|"
[ "$E2E_RC" -eq 67 ] || e2e_fail "install of the failing activation returned $E2E_RC, not 1603"

for data in "Files" "=1" "a=b|c"; do
  e2e_msiexec /i product malformed "QVR_CAD=$data"
  e2e_expect malformed "^Action start $TIME: MsiProductActivate\.$" "$data: start record"
  e2e_expect_not malformed "MsiProductActivate: ProductType=|^Action ended $TIME: MsiProductActivate\." "$data: nothing after the start record"
  [ "$E2E_RC" -eq 67 ] || e2e_fail "$data: install returned $E2E_RC, not 1603"
done

e2e_finish
