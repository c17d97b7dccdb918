// shortcut_probe: the shell's side of the shortcut tests.
//   shortcut_probe.exe make LNK TARGET   a shortcut LNK to TARGET (exit 1 when it cannot be saved)
//   shortcut_probe.exe icon LNK          prints "<icon file>,<index>" of LNK
//   shortcut_probe.exe hold FILE COMMAND runs COMMAND while it holds FILE open for
//                                        reading (others may only read it), and
//                                        exits with COMMAND's exit code
#include <windows.h>

#include <cstdio>
#include <string>

#include "component/oxa/system/unique_handle.h"
#include "tests/support/shell_links.h"

namespace {

int Hold(const wchar_t* file, std::wstring command) {
  const oxa::FileHandle held(CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!held) return 101;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
    return 102;
  const oxa::KernelHandle process(started.hProcess);
  const oxa::KernelHandle thread(started.hThread);
  DWORD code = 103;
  if (WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.Get(), &code))
    return 103;
  return static_cast<int>(code);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"make" && argc == 4) return qvrtest::MakeShortcut(argv[2], argv[3]) ? 0 : 1;
  if (command == L"icon" && argc == 3) {
    std::printf("%ls\n", qvrtest::ShortcutIcon(argv[2]).c_str());
    return 0;
  }
  if (command == L"hold" && argc == 4) return Hold(argv[2], argv[3]);
  return 100;
}
