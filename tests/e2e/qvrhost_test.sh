#!/usr/bin/env bash
# qvrhost.exe under Wine without a product: its help and usage errors, exit
# codes, the installer object's records on standard output, and the module
# loaded from the program's own folder.
source "$(dirname "$0")/lib.sh" "$1" "$2" qvrhost
source "$(dirname "$0")/host/host_lib.sh"

host_run help --help
expect_rc help 0
grep -q '^Usage: qvrhost \[--product-type TYPE\] COMMAND' "$E2E_WORK/help.txt" || e2e_fail "help: no usage line"
for command in initialize switch activate deactivate remove-shortcuts icons check-apps remove-apps always-succeeds; do
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

# The prefix holds no product: Initialize cannot find the product's
# identity, and an error record says so.
host_run initialize --product-type vmobpc initialize
expect_rc initialize 1
expect_only_records initialize
grep -q '^\[3\] ' "$E2E_WORK/initialize.txt" || e2e_fail "initialize: no error record says why it failed"
# A failing RemoveApplications hands back no names: the list given stays the host's.
host_run remove remove-apps AppA AppB
expect_rc remove 1
expect_only_records remove

# Without qvrinst.dll beside it the host says so and fails.
mkdir -p "$E2E_WORK/alone"
cp "$HOST" "$E2E_WORK/alone/qvrhost.exe"
HOST="$E2E_WORK/alone/qvrhost.exe"
host_run alone always-succeeds
expect_rc alone 1
grep -q 'cannot load .*alone.qvrinst\.dll' "$E2E_WORK/alone.err" || e2e_fail "alone: no message naming the module's path"

e2e_finish
