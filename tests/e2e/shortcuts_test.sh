#!/usr/bin/env bash
# Shortcuts in the prefix's all-users folders, real shortcut files made and
# read back by shortcut_probe (IShellLinkW): the package's product activated
# with Files=1 by msiexec (with PayGuardFeature installed and without) and
# removed; then qvrhost on a product of the test's own: activate 4, icons
# VARIANT, and remove-shortcuts while another process holds the main desktop
# shortcut open (retried, then scheduled at the restart), with the
# secure-banking shortcut and the toast shortcut named in the user's hive.
# Nothing may be written outside the all-users folders and the test's own.
source "$(dirname "$0")/lib.sh" "$1" "$2" shortcuts
DESKTOP="$WINEPREFIX/drive_c/users/Public/Desktop"
PROGRAMS="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
DEMO='HKLM\Software\Vantor\ModularityDemo'
DEMO_DIR="$WINEPREFIX/drive_c/Program Files/VantorModularityDemo"
KEY="Software\\QvrTest\\e2e.$E2E_NAME"
PRODUCT="HKLM\\$KEY"
SESSION='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager'
# The toast shortcut lies in a folder of the test's own in the user's profile
# (whose Desktop and Documents are links out of the prefix).
TOAST_DIR_WIN="$(reg_value 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\ProfileList\S-1-5-21-0-0-0-1000' \
  ProfileImagePath | cut -d' ' -f2-)\\Temp\\qvr-e2e-$E2E_NAME"
TOAST_DIR=$(wine_program winepath -u "$TOAST_DIR_WIN" 2>/dev/null | tr -d '\r')
pending_before=$(reg_value "$SESSION" PendingFileRenameOperations)
cleanup() {
  for key in "$DEMO" "$PRODUCT" "HKCU\\$KEY"; do reg_exe delete "$key" /f; done
  [ -z "$pending_before" ] && reg_exe delete "$SESSION" /v PendingFileRenameOperations /f
  rm -rf "$DESKTOP"/QVR*.lnk "$PROGRAMS"/QVR*.lnk "$DEMO_DIR/Desktop" "$DEMO_DIR/StartMenu" "$TOAST_DIR"
} >/dev/null 2>&1
cleanup
trap cleanup EXIT
touch "$E2E_WORK/.start"
cp "$E2E_BUILD/testdata/shortcut_probe.exe" "$E2E_BUILD/bin/product_info.dll" "$E2E_WORK/"
probe() { wine_run "$E2E_WORK/shortcut_probe.exe" "$@" </dev/null 2>&1 | tr -d '\r'; }
make_lnk() { probe make "$1" 'C:\windows\notepad.exe' || e2e_fail "the probe could not make $1"; }
names() { (cd "$1" && ls QVR*.lnk 2>/dev/null | paste -sd'|'); }

mkdir -p "$DEMO_DIR/Desktop" "$DEMO_DIR/StartMenu"
for lnk in 'Desktop\QVR Demo' 'Desktop\QVR PayGuard' 'StartMenu\QVR Demo'; do
  make_lnk "C:\\Program Files\\VantorModularityDemo\\$lnk.lnk"
done
reg_add "$DEMO\\Installer\\shortcuts" /v LaunchShortcutName /t REG_SZ /d "QVR Demo"
reg_add "$DEMO\\Installer\\shortcuts" /v PayGuardShortcutName /t REG_SZ /d "QVR PayGuard"
reg_add "$DEMO\\Installer\\features\\PayGuardFeature" /v ProductTypes /t REG_SZ /d vmobpc
e2e_package product || e2e_finish
export ProductInfoDLL='C:\Program Files\VantorModularityDemo\product_info.dll'
for run in "payguard 1 QVR Demo.lnk|QVR PayGuard.lnk" "plain 0 QVR Demo.lnk"; do
  read -r log installed desktop <<<"$run"
  reg_add "$DEMO\\Installer\\features\\PayGuardFeature" /v installed /t REG_DWORD /d "$installed"
  rm -f "$DESKTOP"/QVR*.lnk
  e2e_msiexec /i product "$log" "QVR_CAD=ProductType=vmobpc|Files=1"
  [ "$E2E_RC" -eq 0 ] || e2e_fail "$log: msiexec returned $E2E_RC"
  e2e_same "$log: desktop and programs" "$(names "$DESKTOP") $(names "$PROGRAMS")" "$desktop QVR Demo.lnk"
done
e2e_msiexec /x product removal
e2e_same "removal: desktop and programs" "$E2E_RC $(names "$DESKTOP")$(names "$PROGRAMS")" "0 "
unset ProductInfoDLL

# The host's product: its shortcuts in the work folder, the neutral skin's small-office icon of the variant "dark"
# (there is no de-DE skin), a version above 6.2, so the toast shortcuts go too.
printf 'ProductRegistryKey=%s\n' "$KEY" >"$E2E_WORK/product_info.ini"
ICON_DIR=skin/resources/neutral/vmob/images/taskbar/scale-100/dark
mkdir -p "$E2E_WORK/Desktop" "$E2E_WORK/StartMenu" "$E2E_WORK/$ICON_DIR" "$TOAST_DIR"
: >"$E2E_WORK/$ICON_DIR/qvruilauncher.ico"
for lnk in 'Desktop\QVR Host' 'Desktop\QVR Pay' 'StartMenu\QVR Host'; do make_lnk "$E2E_WORK_WIN\\$lnk.lnk"; done
for declarations in features profiles ProtoHandlers registry Selfregs Selfunregs environment; do
  reg_add "$PRODUCT\\Installer\\$declarations"
done
reg_add "$PRODUCT\\environment" /v ProductRoot /t REG_SZ /d "$E2E_WORK_WIN"
reg_add "$PRODUCT\\environment" /v Localization /t REG_SZ /d de-DE
reg_add "$PRODUCT\\data" /v inmobver /t REG_QWORD /d 0x0007000000000000
reg_add "$PRODUCT\\Installer\\shortcuts" /v LaunchShortcutName /t REG_SZ /d "QVR Host"
reg_add "$PRODUCT\\Installer\\shortcuts" /v PayGuardShortcutName /t REG_SZ /d "QVR Pay"
reg_add "$PRODUCT\\Installer\\features\\PayGuardFeature" /v ProductTypes /t REG_SZ /d vmobpc

host_run activate --product-type vmobpc activate 4
expect_rc activate 0
e2e_same "activate: desktop and programs" "$(names "$DESKTOP") $(names "$PROGRAMS")" "QVR Host.lnk|QVR Pay.lnk QVR Host.lnk"
host_run icons icons dark
expect_rc icons 0
e2e_same "icons" "$(for lnk in 'C:\users\Public\Desktop\QVR Host.lnk' 'C:\users\Public\Desktop\QVR Pay.lnk' \
  'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\QVR Host.lnk'; do probe icon "$lnk"; done | paste -sd'|')" \
  "$E2E_WORK_WIN\\${ICON_DIR//\//\\}\\qvruilauncher.ico,0|,0|$E2E_WORK_WIN\\${ICON_DIR//\//\\}\\qvruilauncher.ico,0"

make_lnk 'C:\users\Public\Desktop\QVR Bank.lnk'
make_lnk "$TOAST_DIR_WIN\\QVR Toast.lnk"
reg_add "$PRODUCT\\environment" /v GuardedBankingShortcut /t REG_SZ /d 'C:\users\Public\Desktop\QVR Bank.lnk'
reg_add "HKCU\\$KEY\\W8Toaster" /v LnkName /t REG_SZ /d "$TOAST_DIR_WIN\\QVR Toast.lnk"
QVR_SHORTCUT_RETRY_MS=1 HOST="$E2E_WORK/shortcut_probe.exe" host_run remove hold 'C:\users\Public\Desktop\QVR Host.lnk' \
  "\"$(wine_program winepath -w "$HOST" 2>/dev/null | tr -d '\r')\" remove-shortcuts"
expect_rc remove 0
grep -qxF "[1] [usr_hives]	Use already loaded profile S-1-5-21-0-0-0-1000" "$E2E_WORK/remove.txt" ||
  e2e_fail "remove: the user's hive was not visited"
e2e_same "remove: desktop (the one held open) and programs" "$(names "$DESKTOP") $(names "$PROGRAMS")" "QVR Host.lnk "
reg_value "$SESSION" PendingFileRenameOperations | grep -qF '\??\C:\users\Public\Desktop\QVR Host.lnk' ||
  e2e_fail "remove: the shortcut in use is not scheduled at the restart"
expect_value remove "$PRODUCT\\environment" GuardedBankingShortcut ""
[ -e "$TOAST_DIR/QVR Toast.lnk" ] && e2e_fail "remove: the toast shortcut is still there"
expect_value remove "HKCU\\$KEY\\W8Toaster" LnkName "REG_SZ $TOAST_DIR_WIN\\QVR Toast.lnk"

# Nothing written elsewhere in the prefix (Wine's own folder aside), nor through the user's links out of it.
e2e_same "files written elsewhere" "$(find "$WINEPREFIX/drive_c" -newer "$E2E_WORK/.start" -type f ! -path "$E2E_WORK/*" \
  ! -path "$DESKTOP/*" ! -path "$PROGRAMS/*" ! -path "$DEMO_DIR/*" ! -path "$TOAST_DIR/*" \
  ! -path "$WINEPREFIX/drive_c/windows/*"; find -L "$WINEPREFIX"/drive_c/users/*/ -maxdepth 2 -newer "$E2E_WORK/.start" \
  -name '*.lnk' ! -path "$TOAST_DIR/*" ! -path "$DESKTOP/*")" ""
e2e_finish
