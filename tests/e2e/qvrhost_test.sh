#!/usr/bin/env bash
# qvrhost.exe under Wine: its command line and exit codes, the installer
# object's records on standard output, and the module loaded from the
# program's own folder.
source "$(dirname "$0")/lib.sh" "$1" "$2" qvrhost
HOST="$E2E_BUILD/bin/qvrhost.exe"

# host_run NAME ARGUMENTS...: runs qvrhost from a folder without the module;
# HOST_RC is its exit code, NAME.out and NAME.err its output.
host_run() {
  local name=$1
  shift
  (cd "$E2E_WORK" && wine_run "$HOST" "$@" </dev/null >"$E2E_WORK/$name.out" 2>"$E2E_WORK/$name.err")
  HOST_RC=$?
}

expect_rc() {  # NAME RC
  [ "$HOST_RC" -eq "$2" ] || e2e_fail "$1: exit code $HOST_RC, not $2 ($(head -c 300 "$E2E_WORK/$1.err"))"
}

# Standard output holds records: "[LEVEL] text", continued on lines
# indented by four blanks.
expect_only_records() {  # NAME
  local out="$E2E_WORK/$1.out"
  if grep -Evq '^(\[(0|1|3)\] |    )' "$out" || grep -q '^    ' <(head -1 "$out"); then
    e2e_fail "$1: output that is not records: $(head -5 "$out")"
  fi
}

host_run help --help
expect_rc help 0
grep -q '^Usage: qvrhost \[--product-type TYPE\] COMMAND' "$E2E_WORK/help.out" || e2e_fail "help: no usage line"
for command in initialize switch activate deactivate remove-shortcuts icons check-apps remove-apps always-succeeds; do
  grep -q "^  $command" "$E2E_WORK/help.out" || e2e_fail "help: $command is not documented"
done

# Usage errors: exit code 2 and a message, before the module is touched.
host_run none
expect_rc none 2
grep -q 'no command given' "$E2E_WORK/none.err" || e2e_fail "none: no message"
host_run badmode activate thirty
expect_rc badmode 2
grep -q "MODE must be a 32-bit number" "$E2E_WORK/badmode.err" || e2e_fail "badmode: no message"

# The object's records and the operation's result.
host_run always always-succeeds
expect_rc always 0
expect_only_records always
host_run initialize --product-type vmobpc initialize
# The prefix holds no product: Initialize cannot find the product's identity.
expect_rc initialize 1
expect_only_records initialize
grep -q '^\[3\] ' "$E2E_WORK/initialize.out" || e2e_fail "initialize: no error record says why it failed"
host_run check check-apps 0
expect_rc check 1
expect_only_records check
# A failing RemoveApplications hands back no names: the list given stays the host's.
host_run remove remove-apps AppA AppB
expect_rc remove 1
expect_only_records remove
host_run activate activate 0x10
expect_only_records activate

# Without qvrinst.dll beside it the host says so and fails.
mkdir -p "$E2E_WORK/alone"
cp "$HOST" "$E2E_WORK/alone/qvrhost.exe"
HOST="$E2E_WORK/alone/qvrhost.exe"
host_run alone always-succeeds
expect_rc alone 1
grep -q 'cannot load .*alone.qvrinst\.dll' "$E2E_WORK/alone.err" || e2e_fail "alone: no message naming the module's path"

e2e_finish
