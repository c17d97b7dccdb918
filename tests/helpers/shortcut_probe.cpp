// shortcut_probe: the shell's side of the shortcut tests.
//   shortcut_probe.exe make LNK TARGET   a shortcut LNK to TARGET (exit 1 when it cannot be saved)
//   shortcut_probe.exe icon LNK          prints "<icon file>,<index>" of LNK
//   shortcut_probe.exe hold FILE COMMAND runs COMMAND while it holds FILE open for reading (others may only
//                                        read it); exits with COMMAND's exit code
#include <windows.h>

#include <cstdio>
#include <string>

#include "activators/process_launcher.h"
#include "component/oxa/system/unique_handle.h"
#include "tests/support/shell_links.h"

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"make" && argc == 4) return qvrtest::MakeShortcut(argv[2], argv[3]) ? 0 : 1;
  if (command == L"icon" && argc == 3) return std::printf("%ls\n", qvrtest::ShortcutIcon(argv[2]).c_str()) < 0;
  if (command != L"hold" || argc != 4) return 100;
  const oxa::FileHandle held(CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  std::uint32_t exitCode = 0;
  if (!held || qvr::ProcessLauncher(nullptr, nullptr).Run(argv[3], exitCode) != qvr::LaunchResult::kCompleted)
    return 101;
  return static_cast<int>(exitCode);
}
