#!/usr/bin/env bash
# make bench: builds qvrbench, makes its 50 MB cleaner pack with gcab in the
# build tree, and runs it under Wine in the tree's prefix. The table goes to
# standard output, the JSON to BUILD/bench/results.json.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?build dir}" && pwd)
cmake --build "$build" --target qvrbench -j2 >/dev/null
source "$here/wine-env.sh" "$build"
bench="$build/bench"
bench_win="Z:${bench//\//\\}"
mkdir -p "$bench/pack/db"
cp "$build/bin/product_info.dll" "$build/bin/vtcore.dll" "$bench/"
printf 'ProductRegistryKey=Software\\QvrTest\\bench\n' >"$bench/product_info.ini"
# The pack: the cleaner library, an index that selects nothing, and 50 MB of
# database that the extraction has to write out.
if [ ! -f "$bench/sweeper.pack" ]; then
  cp "$build/bin/cleanapi.dll" "$bench/pack/"
  printf '[other]\nfile=db\\other.db\nFirewall=1\n' >"$bench/pack/cleanapi.ini"
  head -c 52428800 /dev/urandom >"$bench/pack/db/payload.db"
  (cd "$bench/pack" && gcab -cz "$bench/sweeper.pack" cleanapi.dll cleanapi.ini db/payload.db)
fi
"$here/wine-prefix.sh" start "$build"
(cd "$bench" && ProductInfoDLL="$bench_win\\product_info.dll" wine_run "$build/bin/qvrbench.exe" "$bench_win" </dev/null)
