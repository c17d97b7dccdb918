#!/usr/bin/env bash
# Starts or stops the persistent wineserver of a build tree's private prefix.
#   wine-prefix.sh start BUILD_DIR   create/boot the prefix (Windows 10), start the server
#   wine-prefix.sh stop BUILD_DIR    wait for the prefix's processes, stop the server
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cmd=${1:?start|stop}
source "$here/wine-env.sh" "${2:?build dir}"
case "$cmd" in
  start)
    mkdir -p "$WINEPREFIX"
    # Detached from the caller's pipes so that CTest does not wait on it.
    setsid "$WINESERVER" -p </dev/null >/dev/null 2>&1 &
    if [ ! -f "$WINEPREFIX/.qvr-booted" ]; then
      wine_program wineboot -i </dev/null >/dev/null 2>&1
      wine_program winecfg /v win10 </dev/null >/dev/null 2>&1
      touch "$WINEPREFIX/.qvr-booted"
      # The first boot can leave a second service manager behind, after which
      # RpcSs never starts and every COM user waits 10 s for it: restart.
      "$WINESERVER" -k 2>/dev/null || true
      "$WINESERVER" -w 2>/dev/null || true
      setsid "$WINESERVER" -p </dev/null >/dev/null 2>&1 &
    fi
    # No debugger for unhandled exceptions: with Wine's default (winedbg
    # --auto) a crashing program ends with exit code 0, so a test that
    # crashes would pass. Without one it ends with the exception's code.
    # (Also the quick process that makes sure the server answers.)
    wine_program reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d '' /f \
      </dev/null >/dev/null 2>&1
    # Wine's filtering engine is not implemented: every process of the prefix
    # (msiexec's custom action server included) loads our stand-in instead.
    standin="$_build_dir/bin/standins/fwpuclnt.dll"
    if [ -f "$standin" ]; then
      cp -f "$standin" "$WINEPREFIX/drive_c/windows/system32/fwpuclnt.dll"
    fi
    # The product's verification libraries, which the module loads from its
    # own folder or the system folder (msiexec runs it from a folder of its own).
    for library in qsigverify.dll pxsverify.dll; do
      [ -f "$_build_dir/bin/$library" ] && cp -f "$_build_dir/bin/$library" "$WINEPREFIX/drive_c/windows/system32/"
    done
    ;;
  stop)
    # The prefix's services (winedevice) never end on their own, so the
    # server is stopped rather than waited for.
    "$WINESERVER" -k 2>/dev/null || true
    ;;
  *) echo "usage: $0 start|stop BUILD_DIR" >&2; exit 2 ;;
esac
