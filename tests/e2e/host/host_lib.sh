# Sourced by the setup-host tests after ../lib.sh: a product key of the
# test's own written with reg.exe, qvrhost.exe runs, and reg.exe read-backs.
HOST="$E2E_BUILD/bin/qvrhost.exe"
KEY="Software\\QvrTest\\e2e.$E2E_NAME"
PRODUCT="HKLM\\$KEY"

reg_exe() { "$WINELOADER" reg "$@" </dev/null 2>&1 | tr -d '\r'; }

reg_add() {  # KEY [reg add arguments]
  reg_exe add "$@" /f >/dev/null || e2e_fail "reg add $*"
}

# reg_value KEY NAME: "TYPE DATA" of a value ("" for the default value), or
# nothing when it is absent.
reg_value() {
  local output
  if [ -z "$2" ]; then output=$(reg_exe query "$1" /ve); else output=$(reg_exe query "$1" /v "$2"); fi
  local name=${2:-(Default)}
  sed -n "s/^    $name    \(REG_[A-Z_]*\)    \(.*\)\$/\1 \2/p" <<<"$output"
}

expect_value() {  # WHAT KEY NAME "TYPE DATA"
  local actual
  actual=$(reg_value "$2" "$3")
  [ "$actual" = "$4" ] || e2e_fail "$1: $2 [$3] is '$actual', not '$4'"
}

key_exists() { "$WINELOADER" reg query "$1" </dev/null >/dev/null 2>&1; }

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

# host_run NAME ARGUMENTS...: qvrhost with the test's product; HOST_RC is its
# exit code, NAME.txt its records, NAME.err its errors.
host_run() {
  local name=$1
  shift
  (cd "$E2E_WORK" && ProductInfoDLL="$E2E_WORK_WIN\\product_info.dll" "$WINELOADER" "$HOST" "$@" \
    </dev/null >"$E2E_WORK/$name.out" 2>"$E2E_WORK/$name.err")
  HOST_RC=$?
  tr -d '\r' <"$E2E_WORK/$name.out" >"$E2E_WORK/$name.txt"
}

expect_rc() {  # NAME RC
  [ "$HOST_RC" -eq "$2" ] || e2e_fail "$1: exit code $HOST_RC, not $2 ($(grep '^\[3\]' "$E2E_WORK/$1.txt" | head -3))"
}
