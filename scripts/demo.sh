#!/usr/bin/env bash
# The demo: installs the product package under Wine with a sample
# CustomActionData, prints the module's lines from the verbose installer log
# and the state of the product's task profiles as vtstore.exe reads it, then
# has the setup host qvrhost check the machine for incompatible software
# with the product's cleaner pack.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/.." && pwd)
build=$(cd "${1:?x64 build dir}" && pwd)
custom_action_data=${QVR_DEMO_DATA:-"ProductType=vmobpc|Files=1|Registry=1|Plugins=1|ProtocolHandlers=1|Profiles=1"}

"$here/wine-prefix.sh" start "$build"
trap '"$here/wine-prefix.sh" stop "$build"' EXIT
source "$here/wine-env.sh" "$build"

work="$WINEPREFIX/drive_c/qvr-demo"
rm -rf "$work" && mkdir -p "$work"
packaging=$(realpath --relative-to="$build" "$source_dir/packaging")
(cd "$build" && wixl -a x64 -D QvrBinDir=bin -D QvrPackagingDir="$packaging" -o "$work/product.msi" \
                   "$source_dir/packaging/product.wxs") || exit 1
# The module finds the product through its identity library; a profile store
# left by an earlier demo would carry its state into this one.
product_dir_win='C:\Program Files\VantorModularityDemo'
export ProductInfoDLL="$product_dir_win\\product_info.dll"
rm -f "$WINEPREFIX/drive_c/Program Files/VantorModularityDemo/profiles.xml.store"

echo "Installing the demo package with CustomActionData \"$custom_action_data\""
wine_program msiexec /i 'C:\qvr-demo\product.msi' /qn /l*v 'C:\qvr-demo\install.log' "QVR_CAD=$custom_action_data" \
  </dev/null >/dev/null 2>&1
result=$?
echo "msiexec finished with $result$([ $result -eq 67 ] && echo ' (1603, installation failed)')"
echo "The module's lines in C:\\qvr-demo\\install.log:"
# From the module's start record (its time is zero-padded, the engine's is
# not) to the engine's end of the package action that ran it.
tr -d '\r' <"$work/install.log" | awk '
  /^Action start [0-9][0-9]:[0-9][0-9]:[0-9][0-9]: Msi/ { inside = 1 }
  inside && /^Action ended [0-9]?[0-9]:[0-9][0-9]:[0-9][0-9]: Qvr/ { inside = 0; next }
  inside { print "  " $0 }'
echo "The task profiles in the product's store (vtstore.exe, another process):"
wine_run "$build/bin/vtstore.exe" "$product_dir_win\\profiles.xml" </dev/null 2>&1 | tr -d '\r' | sed 's/^/  /'
echo "The cleaner, as the setup host drives it (qvrhost --product-type vmobpc check-apps 1):"
wine_run "$build/bin/qvrhost.exe" --product-type vmobpc check-apps 1 </dev/null 2>&1 | tr -d '\r' | sed 's/^/  /'
# Leave the prefix as it was: remove the demo product when it got installed.
wine_program msiexec /x 'C:\qvr-demo\product.msi' /qn </dev/null >/dev/null 2>&1 || true
rm -f "$WINEPREFIX/drive_c/Program Files/VantorModularityDemo/profiles.xml.store"
rmdir "$WINEPREFIX/drive_c/Program Files/VantorModularityDemo" 2>/dev/null
exit 0
