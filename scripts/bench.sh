#!/usr/bin/env bash
# bench.sh BUILD [FIGURE...] (make bench): builds qvrbench, makes its 50 MB
# cleaner pack with gcab in the build tree, and runs it under Wine in the
# tree's prefix: every figure, or those named (initialize, switch, cabinet,
# log). The table goes to standard output, the JSON to
# BUILD/bench/results.json.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?build dir}" && pwd)
cmake --build "$build" --target qvrbench -j2 >/dev/null
source "$here/wine-env.sh" "$build"
bench="$build/bench"
bench_win="Z:${bench//\//\\}"
mkdir -p "$bench/pack/db"
cp "$build/bin/product_info.dll" "$build/bin/vtcore.dll" "$bench/"
printf 'ProductRegistryKey=Software\\QvrTest\\bench.product\n' >"$bench/product_info.ini"
# The pack: the cleaner library, its index and database, and 50 MB of data.
if [ ! -f "$bench/sweeper.pack" ]; then
  cp "$build/bin/cleanapi.dll" "$bench/pack/"
  printf '[scan]\nfile=db\\scan.db\nODS=1\n' >"$bench/pack/cleanapi.ini"
  printf '[application qvrbench-absent]\ncategory=0\nfile=C:\\qvrbench-absent\n' >"$bench/pack/db/scan.db"
  head -c 52428800 /dev/urandom >"$bench/pack/db/payload.bin"
  (cd "$bench/pack" && gcab -cz "$bench/sweeper.pack" cleanapi.dll cleanapi.ini db/scan.db db/payload.bin)
fi
"$here/wine-prefix.sh" start "$build"
trap '"$here/wine-prefix.sh" stop "$build"' EXIT
(cd "$bench" && ProductInfoDLL="$bench_win\\product_info.dll" wine_run "$build/bin/qvrbench.exe" "$bench_win" "${@:2}" </dev/null)
