# Sourced by the end-to-end tests: the build tree's Wine prefix, packages built
# with wixl, installs through Wine's msiexec, checks of the verbose log, and
# reg.exe read-backs.
# Usage in a test: source lib.sh BUILD_DIR SOURCE_DIR TEST_NAME
set -uo pipefail
E2E_BUILD=$(cd "$1" && pwd)
E2E_SOURCE=$(cd "$2" && pwd)
E2E_NAME=$3
source "$E2E_SOURCE/scripts/wine-env.sh" "$E2E_BUILD"
E2E_WORK="$WINEPREFIX/drive_c/qvr-e2e/$E2E_NAME"
E2E_WORK_WIN="C:\\qvr-e2e\\$E2E_NAME"
E2E_FAILURES=0
rm -rf "$E2E_WORK"
mkdir -p "$E2E_WORK"

e2e_fail() { echo "FAIL: $*"; E2E_FAILURES=$((E2E_FAILURES + 1)); }

# e2e_package NAME: builds the product package into the work folder. wixl
# takes only relative SourceFile paths, so it runs in the build tree. The
# package's components are forgotten first: a product that an earlier run
# left registered (a removal that failed) would still hold them, and this
# run's removal would then leave their files and keys in place.
e2e_package() {
  local packaging guid
  for guid in $(sed -n 's/.*<Component [^>]*Guid="\([^"]*\)".*/\1/p' "$E2E_SOURCE/packaging/product.wxs"); do
    reg_exe delete "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\$(squished "$guid")" /f \
      >/dev/null
  done
  packaging=$(realpath --relative-to="$E2E_BUILD" "$E2E_SOURCE/packaging")
  (cd "$E2E_BUILD" && wixl -a x64 -D QvrBinDir=bin -D QvrPackagingDir="$packaging" -o "$E2E_WORK/$1.msi" \
                       "$E2E_SOURCE/packaging/product.wxs") \
    || { e2e_fail "wixl could not build $1.msi"; return 1; }
}

# e2e_msiexec OPERATION PACKAGE LOG [PROPERTY=VALUE...]: runs msiexec quietly
# with a verbose log; E2E_RC is its result (the low byte of the Windows
# result: 1603 shows as 67).
e2e_msiexec() {
  local op=$1 package=$2 log=$3
  shift 3
  # Wine's own messages (a crash of msiexec among them) go beside the log.
  wine_program msiexec "$op" "$E2E_WORK_WIN\\$package.msi" /qn /l*v "$E2E_WORK_WIN\\$log.log" "$@" </dev/null \
    >/dev/null 2>"$E2E_WORK/$log.wine.txt"
  E2E_RC=$?
  tr -d '\r' <"$E2E_WORK/$log.log" >"$E2E_WORK/$log.txt" 2>/dev/null || e2e_fail "no log $log"
}

# e2e_expect LOG ERE WHAT / e2e_expect_not LOG ERE WHAT: a line of the log
# matches (does not match) the extended regular expression.
e2e_expect() { grep -Eq -- "$2" "$E2E_WORK/$1.txt" || e2e_fail "$3: no line matches /$2/ in $1"; }
e2e_expect_not() { ! grep -Eq -- "$2" "$E2E_WORK/$1.txt" || e2e_fail "$3: unexpected line /$2/ in $1"; }

# e2e_lines LOG ERE: the matching lines, for order checks.
e2e_lines() { grep -E -- "$2" "$E2E_WORK/$1.txt"; }

# squished GUID: the installer's registry form of a GUID (the first three
# groups reversed, the bytes of the last two with their digits swapped).
squished() {
  local g out="" i
  g=$(tr -d '{}-' <<<"$1" | tr 'a-f' 'A-F')
  for i in 7 6 5 4 3 2 1 0 11 10 9 8 15 14 13 12; do out+=${g:i:1}; done
  for ((i = 16; i < 32; i += 2)); do out+=${g:i+1:1}${g:i:1}; done
  echo "$out"
}

# Registry access through Wine's reg.exe, a tool that is not ours (by its
# full path: see wine_program in wine-env.sh).
reg_exe() { wine_program reg "$@" </dev/null 2>&1 | tr -d '\r'; }

reg_add() { reg_exe add "$@" /f >/dev/null || e2e_fail "reg add $*"; }  # KEY [reg add arguments]

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

key_exists() { wine_program reg query "$1" </dev/null >/dev/null 2>&1; }

# host_run NAME ARGUMENTS...: qvrhost ($HOST, the built one unless set)
# with the product identity library of the work folder; HOST_RC is its exit
# code, NAME.txt its output, NAME.err its errors.
HOST="$E2E_BUILD/bin/qvrhost.exe"
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
# The host's records: "[LEVEL] text", continued on lines indented by four
# blanks; other lines (the names the cleaner operations print) are its
# results.
expect_only_records() {  # NAME
  local out="$E2E_WORK/$1.txt"
  if grep -Evq '^(\[(0|1|3)\] |    )' "$out" || grep -q '^    ' <(head -1 "$out"); then
    e2e_fail "$1: output that is not records: $(head -5 "$out")"
  fi
}
host_names() { grep -Ev '^(\[(0|1|3)\] |    )' "$E2E_WORK/$1.txt" | paste -sd' '; }  # NAME

e2e_finish() {
  [ "$E2E_FAILURES" -eq 0 ] && { echo "$E2E_NAME: passed"; exit 0; }
  echo "$E2E_NAME: $E2E_FAILURES check(s) failed; logs in $E2E_WORK"
  exit 1
}

# e2e_same WHAT ACTUAL EXPECTED: the two texts are the same.
e2e_same() { [ "$2" = "$3" ] || e2e_fail "$1:"$'\n'"$2"$'\n'"instead of"$'\n'"$3"; }

# e2e_store PROFILES_XML_WIN: the profile store of that profiles.xml as
# vtstore.exe, a process of its own, prints it.
e2e_store() { wine_run "$E2E_BUILD/bin/vtstore.exe" "$1" </dev/null 2>&1 | tr -d '\r'; }
