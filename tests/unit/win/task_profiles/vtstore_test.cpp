// vtstore.exe: the state of a store printed by a process that did not write
// it.
#include "Custom_Actions/COMMON/vantor_tm_profiles.h"

#include "tests/support/msi_session.h"
#include "tests/unit/win/task_profiles/profile_product.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using task_profiles_test::ProfileProduct;
using task_profiles_test::TestName;

struct Output {
  DWORD exitCode = 0;
  std::string text;  // stdout and stderr
};

// Runs vtstore.exe with `argument` and collects what it prints.
Output RunReader(const std::wstring& argument) {
  Output output;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  EXPECT_TRUE(CreatePipe(&read, &write, &inherit, 0));
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write;
  startup.hStdError = write;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process = {};
  std::wstring commandLine = L"\"" + qvrtest::BuildPath(L"bin/vtstore.exe") + L"\" \"" + argument + L"\"";
  const BOOL started =
      CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
  CloseHandle(write);
  EXPECT_TRUE(started) << GetLastError();
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(read, buffer, sizeof(buffer), &got, nullptr) && got > 0) output.text.append(buffer, got);
  CloseHandle(read);
  if (started) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &output.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  return output;
}

TEST(VtStore, PrintsTheStateFromAnotherProcess) {
  ProfileProduct product(TestName());
  // Before any store file: the declared tree.
  Output output = RunReader(product.XmlPath());
  EXPECT_EQ(output.exitCode, 0u) << output.text;
  EXPECT_EQ(output.text,
            "tasks\n"
            "tasks\\Never\n"
            "tasks\\Old\n"
            "tasks\\Old: installed = dword 1\n"
            "tasks\\Scan\n"
            "tasks\\Scan\\def\n"
            "tasks\\Scan\\def: enabled = dword 1\n"
            "tasks\\Update\n");

  // What this process writes through the store, the reader sees.
  {
    qvrtest::MsiSession session;
    qvr::VantorTmProfiles profiles(session.Handle());
    qvr::ProfileStore* store = profiles.Store();
    ASSERT_NE(store, nullptr);
    qvr::StoreHandle handle = 0;
    ASSERT_EQ(qvr::StoreEntry<qvr::StoreOpenFn>(store, qvr::kStoreOpenEntry)(store, &handle, 0, "tasks\\New\\def", 1),
              0);
    const std::uint32_t zero = 0;
    EXPECT_EQ(qvr::StoreEntry<qvr::StoreSetValueFn>(store, qvr::kStoreSetValueEntry)(store, handle, "enabled", 4,
                                                                                     &zero, 4, 1),
              0);
    EXPECT_EQ(qvr::StoreEntry<qvr::StoreDeleteValueFn>(store, qvr::kStoreDeleteValueEntry)(store, 0, "missing"),
              qvr::kStoreValueNotFound);
    EXPECT_EQ(qvr::StoreEntry<qvr::StoreCloseFn>(store, qvr::kStoreCloseEntry)(store, handle), 0);
    EXPECT_NE(qvr::StoreEntry<qvr::StoreCloseFn>(store, qvr::kStoreCloseEntry)(store, handle), 0)
        << "a handle closes once";
    // A node that profiles.xml does not declare is not opened without flag 1.
    EXPECT_EQ(qvr::StoreEntry<qvr::StoreOpenFn>(store, qvr::kStoreOpenEntry)(store, &handle, 0, "tasks\\Other", 0),
              static_cast<qvr::FrameworkResult>(0x8000D001u));
  }
  output = RunReader(product.XmlPath());
  EXPECT_EQ(output.exitCode, 0u) << output.text;
  EXPECT_NE(output.text.find("tasks\\New\\def: enabled = dword 0\n"), std::string::npos) << output.text;

  // A file it cannot take is reported, not printed.
  product.WriteProductFile(L"profiles.xml.store", "vtstore 1\nnode a\nnode a\n");
  output = RunReader(product.XmlPath());
  EXPECT_EQ(output.exitCode, 1u);
  EXPECT_NE(output.text.find("profiles.xml.store: 0x80000310 (Syntax error), line 3: node listed twice"),
            std::string::npos)
      << output.text;
  EXPECT_EQ(RunReader(product.Folder() + L"\\missing.xml").exitCode, 1u);
}

}  // namespace
