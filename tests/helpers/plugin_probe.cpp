// plugin_probe: a stand-in for a plugin's registration program and for an
// application's uninstaller.
//   plugin_probe.exe RECORD [exit=N | hang | unkey=KEY] [WORD...]
// Appends one line "run <process id> <arguments after RECORD>" to RECORD, so
// the line order of RECORD is the order of the runs, then exits with N (0
// when not given), with "hang" waits until it is killed, or with "unkey"
// deletes the key KEY below the Uninstall key of
// HKLM\Software\Microsoft\Windows\CurrentVersion, as an uninstaller does
// (exit code 102 when that fails).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 100;
  // Appending only: the host's waiver log may write to the same file.
  FILE* record = _wfopen(argv[1], L"ab");
  if (!record) return 101;
  std::fprintf(record, "run %lu", GetCurrentProcessId());
  for (int i = 2; i < argc; ++i) std::fprintf(record, " %ls", argv[i]);
  std::fputc('\n', record);
  if (std::fclose(record) != 0) return 101;
  const wchar_t* action = argc > 2 ? argv[2] : L"";
  if (std::wcscmp(action, L"hang") == 0) Sleep(INFINITE);
  if (std::wcsncmp(action, L"exit=", 5) == 0) return static_cast<int>(std::wcstoul(action + 5, nullptr, 10));
  if (std::wcsncmp(action, L"unkey=", 6) == 0) {
    const std::wstring key = std::wstring(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + (action + 6);
    if (RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str()) != ERROR_SUCCESS) return 102;
  }
  return 0;
}
