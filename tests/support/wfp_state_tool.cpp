#include "tests/support/wfp_state_tool.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "tests/support/msi_session.h"

namespace qvrtest {

std::string RunWfpState(const std::string& arguments, const wchar_t* fault) {
  // The child inherits the variable; this process's own faults are restored.
  std::vector<wchar_t> saved(4096, L'\0');
  const DWORD savedLength = GetEnvironmentVariableW(L"WFP_STANDIN_FAULT", saved.data(), 4096);
  SetEnvironmentVariableW(L"WFP_STANDIN_FAULT", fault);
  // The build path has no blanks.
  const std::wstring command =
      BuildPath(L"bin/standins/wfpstate.exe ") + std::wstring(arguments.begin(), arguments.end()) + L" 2>&1";
  FILE* pipe = _wpopen(command.c_str(), L"rb");
  SetEnvironmentVariableW(L"WFP_STANDIN_FAULT", savedLength && savedLength < 4096 ? saved.data() : nullptr);
  std::string out;
  for (int c; pipe && (c = std::fgetc(pipe)) != EOF;) out.push_back(static_cast<char>(c));
  return std::to_string(pipe ? _pclose(pipe) : -1) + " " + out;
}

std::string ProductWfpObjects() { return RunWfpState("count --provider {BB08D0DC-7D81-4201-9A48-34401534F73A}"); }

}  // namespace qvrtest
