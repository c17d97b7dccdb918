# Sourced by the build scripts: the private Wine prefix of one build tree.
# Usage: source scripts/wine-env.sh BUILD_DIR
_build_dir=$(cd "${1:?build dir}" && pwd)
export WINEPREFIX="$_build_dir/wineprefix"
export WINELOADER=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver64
export WINEDEBUG=-all
# No Mono or Gecko prompts in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64
unset DISPLAY
