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

# wine_run PROGRAM ARGUMENTS...: runs a Windows program in the prefix, without
# address-space randomization. Debian's wine64 has no preloader, which would
# reserve Wine's fixed low address ranges before the Unix libraries load. With
# randomization the C library's heap (brk) of every new Wine process starts
# anywhere between about 0x7d000000 and 0xbd000000, and now and then it covers
# 0x7ffe0000, where Wine must map the shared user data: the process then ends
# before it starts ("failed to map the shared user data: c0000018"), and a
# parent's CreateProcessW fails with ERROR_INTERNAL_ERROR. Without
# randomization the heap starts right after wine64 (0x7d005000), 48 MB below.
# The processes Wine starts in turn (services, msiexec's custom action server,
# plugin commands, children of test programs) inherit the setting.
wine_run() { setarch "$(uname -m)" --addr-no-randomize "$WINELOADER" "$@"; }

# wine_program NAME ARGUMENTS...: runs one of Wine's own programs
# (C:\windows\system32\NAME.exe) by its full Windows path. Given a bare
# name such as "reg", the loader finds no file of that name and runs
# start.exe /exec instead, which looks the name up and starts the program as
# a second process through CreateProcessW ("Application could not be started,
# ... ShellExecuteEx failed: Internal error." when that start fails). Given
# the full path, the loader loads the builtin program itself, in one process.
wine_program() {
  local name=$1
  shift
  wine_run "C:\\windows\\system32\\$name.exe" "$@"
}
