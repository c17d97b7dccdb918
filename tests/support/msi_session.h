// A real Windows Installer session in the test process: a package opened with
// MsiOpenPackage, whose information records are collected as they are sent.
#pragma once

#include <windows.h>
#include <msi.h>

#include <string>
#include <vector>

namespace qvrtest {

// A path below the build tree ($QVR_BUILD_DIR), in a form Wine opens.
std::wstring BuildPath(const std::wstring& relative);

class MsiSession {
 public:
  // Opens testdata/session.msi; lines of every information message sent
  // through the handle are collected until the session ends. One at a time.
  MsiSession();
  ~MsiSession();
  MsiSession(const MsiSession&) = delete;
  MsiSession& operator=(const MsiSession&) = delete;

  MSIHANDLE Handle() const { return handle_; }
  void SetProperty(const wchar_t* name, const wchar_t* value);

  // The texts of the information messages sent so far, as the engine
  // formatted them.
  std::vector<std::wstring> Lines() const;
  void ClearLines();

 private:
  MSIHANDLE handle_ = 0;
};

}  // namespace qvrtest

namespace qvrtest {

// Whole-string ECMAScript match (GoogleTest's own regex is the "simple" kind on Windows).
bool FullMatch(const std::wstring& text, const char* pattern);
// Whether some line matches `pattern` whole.
bool AnyMatch(const std::vector<std::wstring>& lines, const std::string& pattern);
// The patterns of an action's start and end records, and of the prefix of a
// time-stamped line.
std::string StartRecord(const char* action);
std::string EndRecord(const char* action, int value);
inline constexpr char kLinePrefix[] = "MSI \\(X\\) \\(XX:XX\\) \\[[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3}\\]: ";
// Lines of a session for failure messages.
std::string Printable(const std::vector<std::wstring>& lines);
// "Suite.Name" of the running test, for keys and folders of its own.
std::wstring TestName();

}  // namespace qvrtest
