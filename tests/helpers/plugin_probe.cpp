// plugin_probe: a stand-in for a plugin's registration program.
//   plugin_probe.exe RECORD [exit=N | hang] [WORD...]
// Appends one line "run <process id> <arguments after RECORD>" to RECORD, so
// the line order of RECORD is the order of the runs, then exits with N (0
// when not given) or, with "hang", waits until it is killed.
#include <windows.h>

#include <cstdio>
#include <cwchar>

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
  return 0;
}
