#include "tests/unit/win/product_info/product_info_fixtures.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/support/msi_session.h"

namespace product_info_test {
namespace {

void DeleteTree(const std::wstring& path) {
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        DeleteTree(child);
      } else {
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryW(path.c_str());
}

// The folders made by this program, removed when it ends.
class CreatedFolders {
 public:
  ~CreatedFolders() {
    for (const std::wstring& folder : folders_) DeleteTree(folder);
  }
  void Add(const std::wstring& folder) { folders_.push_back(folder); }

 private:
  std::vector<std::wstring> folders_;
};

CreatedFolders& Folders() {
  static CreatedFolders folders;
  return folders;
}

std::wstring ReadCurrentDirectory() {
  std::wstring text(GetCurrentDirectoryW(0, nullptr), L'\0');
  text.resize(GetCurrentDirectoryW(static_cast<DWORD>(text.size()), text.data()));
  return text;
}

std::wstring ReadDllDirectory() {
  std::wstring text(GetDllDirectoryW(0, nullptr) + 1, L'\0');
  text.resize(GetDllDirectoryW(static_cast<DWORD>(text.size()), text.data()));
  return text;
}

constexpr wchar_t kVariable[] = L"ProductInfoDLL";

}  // namespace

LibraryFolder::LibraryFolder() {
  static int created = 0;
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, temp);
  path_ = std::wstring(temp) + L"qvr-product-info-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
          std::to_wstring(++created);
  EXPECT_TRUE(CreateDirectoryW(path_.c_str(), nullptr)) << "cannot create " << Narrow(path_) << ": " << GetLastError();
  Folders().Add(path_);
}

std::wstring LibraryFolder::File(std::wstring_view name) const { return path_ + L"\\" + std::wstring(name); }

std::wstring LibraryFolder::AddLibrary(const wchar_t* built, const wchar_t* name) const {
  const std::wstring source = qvrtest::BuildPath(std::wstring(L"bin/") + built);
  const std::wstring target = File(name);
  EXPECT_TRUE(CopyFileW(source.c_str(), target.c_str(), TRUE))
      << "cannot copy " << Narrow(source) << " to " << Narrow(target) << ": " << GetLastError();
  return target;
}

void LibraryFolder::WriteSettings(std::string_view text) const {
  std::ofstream file(std::filesystem::path(File(L"product_info.ini")), std::ios::binary);
  file << text;
  EXPECT_TRUE(file.good());
}

void LibraryFolder::WriteSettingsWithCallLog(std::string_view text) const {
  WriteSettings(std::string(text) + "\nCallLog=" + Narrow(File(L"calls.log")) + "\n");
}

int LibraryFolder::CallCount() const {
  std::ifstream file(std::filesystem::path(File(L"calls.log")), std::ios::binary);
  int count = 0;
  for (std::string line; std::getline(file, line);) {
    EXPECT_EQ(line, "GetProductVersionInfo2\r");
    ++count;
  }
  return count;
}

SearchStateScope::SearchStateScope()
    : currentDirectory_(ReadCurrentDirectory()), dllDirectory_(ReadDllDirectory()) {
  const DWORD size = GetEnvironmentVariableW(kVariable, nullptr, 0);
  if (size > 0) {
    variable_.resize(size);
    variable_.resize(GetEnvironmentVariableW(kVariable, variable_.data(), size));
    variableSet_ = true;
  }
  EXPECT_TRUE(SetCurrentDirectoryW(empty_.Path().c_str()));
  SetDllDirectoryW(nullptr);
  ClearProductInfoVariable();
}

SearchStateScope::~SearchStateScope() {
  SetCurrentDirectoryW(currentDirectory_.c_str());
  SetDllDirectoryW(dllDirectory_.empty() ? nullptr : dllDirectory_.c_str());
  SetEnvironmentVariableW(kVariable, variableSet_ ? variable_.c_str() : nullptr);
}

void SearchStateScope::SetProductInfoVariable(const std::wstring& value) {
  EXPECT_TRUE(SetEnvironmentVariableW(kVariable, value.c_str()));
}

void SearchStateScope::ClearProductInfoVariable() { SetEnvironmentVariableW(kVariable, nullptr); }

RecordingTracer::RecordingTracer() { oxa::ReplaceCurrentTracer(this); }

RecordingTracer::~RecordingTracer() {
  oxa::ReplaceCurrentTracer(nullptr);
  EXPECT_EQ(references_, 0u) << "a reference to the tracer was not released";
}

oxa::ResultCode RecordingTracer::QueryInterface(std::uint32_t id, void** out) {
  if (id != 0 && id != oxa::kTracerInterfaceId) return oxa::rc::InterfaceNotSupported;
  AddRef();
  *out = static_cast<oxa::ITracer*>(this);
  return oxa::rc::Ok;
}

oxa::ResultCode RecordingTracer::AllocateBuffer(oxa::TraceLevel level, char** buffer, std::size_t size) {
  // Growth requests carry another level: the record's is the first one.
  if (!*buffer) pendingLevel_ = level;
  void* grown = std::realloc(*buffer, size);
  if (!grown) {
    std::free(*buffer);
    *buffer = nullptr;
    return oxa::rc::OutOfMemory;
  }
  *buffer = static_cast<char*>(grown);
  return oxa::rc::Ok;
}

oxa::ResultCode RecordingTracer::CommitBuffer(char* buffer, std::size_t size) {
  records.push_back({pendingLevel_, std::string(buffer, size)});
  std::free(buffer);
  return oxa::rc::Ok;
}

void PrintTo(const RecordingTracer::Record& record, std::ostream* out) {
  *out << "[" << record.level << "] " << testing::PrintToString(record.text);
}

std::string Narrow(const std::wstring& text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr, nullptr);
  return narrow;
}

}  // namespace product_info_test
