#!/usr/bin/env bash
# Runs every test: the Windows tests under Wine in the x64 tree's private
# prefix, the native units under ASan/UBSan, and each fuzzer for a bounded time.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
x64=$(cd "${1:?x64 build dir}" && pwd)
native=$(cd "${2:?native build dir}" && pwd)
fuzz_seconds=${QVR_FUZZ_SECONDS:-20}

"$here/wine-prefix.sh" start "$x64"
trap '"$here/wine-prefix.sh" stop "$x64"' EXIT

status=0
echo "== Windows tests (x64 under Wine)"
(cd "$x64" && ctest -j2 --output-on-failure --timeout 600) || status=1

echo "== Native tests (ASan/UBSan)"
(cd "$native" && ctest -j2 --output-on-failure --timeout 300) || status=1

echo "== Fuzzers (${fuzz_seconds}s each)"
for fuzzer in "$native"/tests/fuzz/*_fuzz; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  corpus="$native/fuzz-corpus/$name"
  mkdir -p "$corpus"
  seeds="$here/../tests/fuzz/corpus/$name"
  if "$fuzzer" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$native/$name-" "$corpus" $( [ -d "$seeds" ] && echo "$seeds") \
       >"$native/$name.log" 2>&1; then
    echo "$name: $(grep -Eo 'Done [0-9]+ runs' "$native/$name.log" | tail -1)"
  else
    echo "$name: FAILED"; tail -40 "$native/$name.log"; status=1
  fi
done
exit $status
