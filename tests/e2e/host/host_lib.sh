# Sourced by the setup-host tests after lib.sh: a product key of the test's
# own written with reg.exe, and qvrhost.exe runs.
HOST="$E2E_BUILD/bin/qvrhost.exe"
KEY="Software\\QvrTest\\e2e.$E2E_NAME"
PRODUCT="HKLM\\$KEY"

# host_product: the identity library with a product_info.ini naming the
# test's product key, and every declaration key the readers need.
host_product() {
  cp "$E2E_BUILD/bin/product_info.dll" "$E2E_WORK/product_info.dll"
  printf 'ProductRegistryKey=%s\n' "$KEY" >"$E2E_WORK/product_info.ini"
  reg_add "$PRODUCT\\environment"
  local declarations
  for declarations in features profiles drivers ProtoHandlers registry Selfregs Selfunregs environment; do
    reg_add "$PRODUCT\\Installer\\$declarations"
  done
}

# host_profile_store [NODES]: vtcore.dll and a profiles.xml whose "tasks"
# node holds NODES, found through the product's ProductRoot and
# ProfilesXmlPath, so that qvrhost --profiles builds the store.
host_profile_store() {
  cp "$E2E_BUILD/bin/vtcore.dll" "$E2E_WORK/vtcore.dll"
  printf '<?xml version="1.0" encoding="utf-8"?>\n<profiles version="1">\n  <node name="tasks">%s</node>\n</profiles>\n' \
    "${1:-}" >"$E2E_WORK/profiles.xml"
  reg_add "$PRODUCT\\environment" /v ProductRoot /t REG_SZ /d "$E2E_WORK_WIN"
  reg_add "$PRODUCT\\environment" /v ProfilesXmlPath /t REG_SZ /d "%ProductRoot%\\profiles.xml"
}

# host_run NAME ARGUMENTS...: qvrhost with the test's product; HOST_RC is its
# exit code, NAME.txt its records, NAME.err its errors.
host_run() {
  local name=$1
  shift
  (cd "$E2E_WORK" && ProductInfoDLL="$E2E_WORK_WIN\\product_info.dll" wine_run "$HOST" "$@" \
    </dev/null >"$E2E_WORK/$name.out" 2>"$E2E_WORK/$name.err")
  HOST_RC=$?
  tr -d '\r' <"$E2E_WORK/$name.out" >"$E2E_WORK/$name.txt"
}

expect_rc() {  # NAME RC
  [ "$HOST_RC" -eq "$2" ] || e2e_fail "$1: exit code $HOST_RC, not $2 ($(grep '^\[3\]' "$E2E_WORK/$1.txt" | head -3))"
}

# Standard output holds records: "[LEVEL] text", continued on lines
# indented by four blanks.
expect_only_records() {  # NAME
  local out="$E2E_WORK/$1.txt"
  if grep -Evq '^(\[(0|1|3)\] |    )' "$out" || grep -q '^    ' <(head -1 "$out"); then
    e2e_fail "$1: output that is not records: $(head -5 "$out")"
  fi
}
