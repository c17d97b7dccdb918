// plugin_probe: a stand-in for a plugin's registration program.
//   plugin_probe.exe RECORD [exit=N | hang] [WORD...]
// Appends one line "run <process id> <command line>" (UTF-8) to RECORD, so
// the line order of RECORD is the order of the runs, then exits with N (0
// when not given) or, with "hang", waits until it is killed.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

bool AppendLine(const wchar_t* path, const std::string& line) {
  // Opened for appending only, so lines of programs run one after another
  // never overwrite each other.
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
                  written == line.size();
  CloseHandle(file);
  return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 100;
  const std::wstring line = L"run " + std::to_wstring(GetCurrentProcessId()) + L" " + GetCommandLineW() + L"\n";
  if (!AppendLine(argv[1], Utf8(line))) return 101;
  if (argc < 3) return 0;
  const std::wstring action = argv[2];
  if (action == L"hang") Sleep(INFINITE);
  if (action.rfind(L"exit=", 0) == 0) return static_cast<int>(std::wcstoul(action.c_str() + 5, nullptr, 10));
  return 0;
}
