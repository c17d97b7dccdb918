#include "cleaner/cleaner.h"

#include <windows.h>
// sddl.h needs the Windows types.
#include <sddl.h>

#include <cstddef>
#include <cstdio>
#include <exception>
#include <mutex>
#include <set>
#include <stdexcept>

#include "cabinet/cabinet.h"
#include "cleaner/cleaner_index.h"
#include "cleaner/dir_utils.h"
#include "component/oxa/system/file/detail/filesystem_impl.h"
#include "component/oxa/system/file/path.h"
#include "component/oxa/system/unique_handle.h"
#include "component/oxa/text/utf.h"

namespace qvr {
namespace {

// A record as the library hands it to the callbacks.
struct CleanApiRecord {
  std::uint32_t reserved;
  const char* name;
  const char* displayName;
  std::uint32_t category;
  std::uint64_t reserved2;
  const char* details;
};
static_assert(sizeof(void*) != 4 ||
              (offsetof(CleanApiRecord, name) == 4 && offsetof(CleanApiRecord, displayName) == 8 &&
               offsetof(CleanApiRecord, category) == 12 && offsetof(CleanApiRecord, details) == 24));

using EnumCallback = int(__stdcall*)(std::uint32_t, const CleanApiRecord*, void*);
using RemoveCallback = int(__stdcall*)(std::uint32_t, const CleanApiRecord*, void*);
using TraceCallback = void(__stdcall*)(const char*, std::uint32_t, void*, std::uint32_t);
template <class Entry>
using EnumFunction = int(__stdcall*)(const Entry*, std::uint32_t, void*, EnumCallback);
template <class Entry>
using RemoveFunction = int(__stdcall*)(const Entry*, std::uint32_t, std::uint32_t*, void*, RemoveCallback);
using SetTraceFunction = int(__stdcall*)(TraceCallback, void*, std::uint32_t, std::uint32_t);

constexpr char kEnumFunction[] = "EnumCompetitorSoftwareFromMemA";
constexpr char kRemoveFunction[] = "RemoveCompetitorSoftwareFromMemExtA";
constexpr char kSetTraceFunction[] = "SetExternalTraceCallbackA";
constexpr std::uint32_t kRemovalFailed = 0x80004005;
constexpr std::uint32_t kNoPack = 3;
constexpr std::uint32_t kExtractionFailed = 13;
constexpr std::uint32_t kNoExtractor = 14;
// The library's removal events.
constexpr std::uint32_t kAboutToRemove = 0;
constexpr std::uint32_t kRemoved = 1;

std::wstring Widen(const char* text) {
  std::wstring wide;
  if (text) oxa::Utf8ToUtf16(std::string_view(text), wide, oxa::InvalidText::Replace);
  return wide;
}

DetectedApp ToDetectedApp(const CleanApiRecord& record) {
  return {Widen(record.name), Widen(record.displayName), Widen(record.details), record.category};
}

std::wstring Decimal(std::uint32_t code) { return std::to_wstring(code); }

// A diagnostic line that cannot be written is lost, never thrown.
void WriteTrace(const CleanerTrace& trace, const std::wstring& line) noexcept {
  try {
    if (trace) trace(line);
  } catch (...) {
  }
}

// A function of the library, bound by name; the library stays loaded while
// the binding lives.
class LibraryFunction {
 public:
  // Writes what it does through `trace`; 0, or the Windows error.
  DWORD Bind(const CleanerTrace& trace, const std::wstring& libraryPath, const char* name) {
    WriteTrace(trace, L"Load library " + libraryPath);
    library_.Reset(LoadLibraryW(libraryPath.c_str()));
    if (!library_) {
      const DWORD error = GetLastError();
      WriteTrace(trace, L"Cannot load " + libraryPath + L", err: " + Decimal(error));
      return error;
    }
    const std::wstring wideName(name, name + std::char_traits<char>::length(name));
    WriteTrace(trace, L"Get address of the procedure " + wideName);
    address_ = GetProcAddress(library_.Get(), name);
    if (!address_) {
      const DWORD error = GetLastError();
      WriteTrace(trace, L"Cannot get addr of " + wideName + L", err: " + Decimal(error));
      library_.Reset();
      return error;
    }
    wchar_t address[2 + 2 * sizeof(void*) + 1];
    std::swprintf(address, std::size(address), L"0x%0*llX", static_cast<int>(2 * sizeof(void*)),
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(address_)));
    WriteTrace(trace, std::wstring(L"Address of the procedure is ") + address);
    return ERROR_SUCCESS;
  }
  bool Bound() const noexcept { return address_ != nullptr; }
  template <class Function>
  Function As() const noexcept {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address_));
  }

 private:
  oxa::ModuleHandle library_;
  FARPROC address_ = nullptr;
};

// The scratch folder: new, and writable only by this account, the
// administrators and the system, so that nobody else can put a library of
// their own in place of the one extracted into it.
DWORD CreatePrivateFolder(const std::wstring& path) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return GetLastError();
  const oxa::KernelHandle tokenOwner(token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<std::byte> user(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) return GetLastError();
  wchar_t* sidText = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid, &sidText))
    return GetLastError();
  const oxa::LocalMemory sidOwner(sidText);
  const std::wstring sddl = L"D:P(A;OICI;FA;;;" + std::wstring(sidText) + L")(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    return GetLastError();
  const oxa::LocalMemory descriptorOwner(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  return CreateDirectoryW(path.c_str(), &attributes) ? ERROR_SUCCESS : GetLastError();
}

// The whole content of a file; "File not found." when it is not there.
std::string ReadIndexFile(const std::wstring& path) {
  std::unique_ptr<oxa::File> file;
  const DWORD opened = oxa::FileSystem().OpenFile(path, GENERIC_READ, OPEN_EXISTING, nullptr, &file);
  if (opened == ERROR_FILE_NOT_FOUND || opened == ERROR_PATH_NOT_FOUND) throw std::runtime_error("File not found.");
  if (opened != ERROR_SUCCESS) throw std::runtime_error("Cannot open the file, error " + std::to_string(opened) + ".");
  std::string text;
  char chunk[4096];
  for (;;) {
    DWORD done = 0;
    const DWORD read = file->Read(chunk, sizeof chunk, done);
    if (read != ERROR_SUCCESS) throw std::runtime_error("Cannot read the file, error " + std::to_string(read) + ".");
    if (done == 0) return text;
    text.append(chunk, done);
  }
}

}  // namespace

// The library's trace channel: lines arriving before the first enumeration
// that found something (or failed) are held back, later ones are written at
// once. The library may call from a thread of its own.
class Cleaner::TraceImpl {
 public:
  TraceImpl(const CleanerTrace& trace, const std::wstring& libraryPath) : trace_(trace) {
    setTrace_.Bind(trace_, libraryPath, kSetTraceFunction);
    if (setTrace_.Bound())
      setTrace_.As<SetTraceFunction>()(&TraceImpl::Callback, this, 1000, 1);
    else
      Write(L"Cleaner::TraceImpl: not found SetExternalTraceCallbackA");
  }
  ~TraceImpl() {
    if (setTrace_.Bound())
      setTrace_.As<SetTraceFunction>()(&TraceImpl::Callback, this, 1000, 0);
    else
      Write(L"Cleaner::~TraceImpl: not found SetExternalTraceCallbackA");
  }
  TraceImpl(const TraceImpl&) = delete;
  TraceImpl& operator=(const TraceImpl&) = delete;

  void Flush() {
    const std::lock_guard<std::mutex> hold(lock_);
    live_ = true;
    for (const std::wstring& line : buffered_) Write(L"cleanapi: " + line);
    buffered_.clear();
  }

 private:
  static void __stdcall Callback(const char* text, std::uint32_t bytes, void* context, std::uint32_t) {
    if (!text || !context) return;
    try {
      std::string_view line(text, bytes);
      while (!line.empty() && (line.back() == '\0' || line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
      std::wstring wide;
      oxa::Utf8ToUtf16(line, wide, oxa::InvalidText::Replace);
      static_cast<TraceImpl*>(context)->Line(std::move(wide));
    } catch (...) {
      // Nothing may unwind into the library; a line that cannot be kept is lost.
    }
  }

  void Line(std::wstring line) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (live_)
      Write(L"cleanapi: " + line);
    else
      buffered_.push_back(std::move(line));
  }

  void Write(const std::wstring& line) const noexcept { WriteTrace(trace_, line); }

  LibraryFunction setTrace_;
  std::mutex lock_;
  bool live_ = false;
  std::vector<std::wstring> buffered_;
  CleanerTrace trace_;
};

namespace {

// What the removal callback needs.
struct RemovalContext {
  const std::function<bool(const DetectedApp&)>& skip;
  const std::function<void(const DetectedApp&)>& removed;
};

int __stdcall CollectDetected(std::uint32_t, const CleanApiRecord* record, void* context) {
  if (!record || !context) return 0;
  try {
    static_cast<std::vector<DetectedApp>*>(context)->push_back(ToDetectedApp(*record));
  } catch (...) {
    // Nothing may unwind into the library; the application goes unreported.
  }
  return 0;
}

int __stdcall OnRemoval(std::uint32_t event, const CleanApiRecord* record, void* context) {
  if (!record || !context) return 0;
  const auto& removal = *static_cast<const RemovalContext*>(context);
  try {
    if (event == kAboutToRemove) return removal.skip && removal.skip(ToDetectedApp(*record)) ? 1 : 0;
    if (event == kRemoved && removal.removed) removal.removed(ToDetectedApp(*record));
  } catch (...) {
    // Nothing may unwind into the library; an application that cannot be
    // judged is left alone.
    return event == kAboutToRemove ? 1 : 0;
  }
  return 0;
}

}  // namespace

Cleaner::Cleaner(CleanerTrace trace) : trace_(std::move(trace)) {}

Cleaner::~Cleaner() { Shutdown(); }

void Cleaner::Trace(const std::wstring& line) const noexcept { WriteTrace(trace_, line); }

std::wstring Cleaner::LibraryPath() const { return oxa::JoinPath(workFolder_, L"cleanapi.dll"); }

std::uint32_t Cleaner::CreateWorkFolder(const std::wstring& scratchFolder) {
  const oxa::PathSplit split = oxa::SplitAtLastSeparator(scratchFolder);
  const std::wstring parent(split.directory);
  DWORD error = parent.empty() ? ERROR_SUCCESS : DirEnsureExists(parent);
  if (error == ERROR_SUCCESS) {
    error = CreatePrivateFolder(scratchFolder);
    if (error == ERROR_ALREADY_EXISTS) {
      Trace(L"Scratch folder " + scratchFolder + L" exists already: not used");
      return error;
    }
  }
  if (error == ERROR_SUCCESS) {
    workFolder_ = oxa::JoinPath(scratchFolder, L"Cleaner");
    error = DirEnsureExists(workFolder_);
  }
  if (error != ERROR_SUCCESS) Trace(L"DirEnsureExists error " + Decimal(error));
  return error;
}

std::uint32_t Cleaner::InitializeProductTypes(const std::wstring& packPath,
                                              const std::vector<std::wstring>& filterNames,
                                              const std::wstring& scratchFolder) {
  const DWORD attributes = GetFileAttributesW(packPath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    Trace(L"Sweeper pack file not found: " + packPath);
    return kNoPack;
  }
  filterNames_ = filterNames;
  if (const std::uint32_t error = CreateWorkFolder(scratchFolder)) return error;
  const CabExtractorPtr extractor = CreateCabExtractor(nullptr);
  if (!extractor) {
    Trace(L"Failed to create cab extractor");
    return kNoExtractor;
  }
  CabResult result;
  extractor->ExtractFileToFolder(result, packPath, workFolder_, [](const std::wstring& name, std::int64_t) {
    return name == L"cleanapi.dll" || name == L"cleanapi.ini";
  });
  if (result.failed) {
    Trace(L"Cleaner: failed extract data from " + packPath + L", " + CabErrorText(result));
    return kExtractionFailed;
  }
  if (const std::uint32_t error = FiltrateIniFiles(*extractor, packPath)) {
    Trace(L"FiltrateIniFiles error " + Decimal(error));
    return error;
  }
  return ERROR_SUCCESS;
}

std::uint32_t Cleaner::FiltrateIniFiles(CabExtractor& extractor, const std::wstring& packPath) {
  std::set<std::wstring> selected;
  try {
    const IniSections sections = ParseCleanerIni(ReadIndexFile(oxa::JoinPath(workFolder_, L"cleanapi.ini")));
    for (const std::string& file : SelectDatabaseFiles(sections, filterNames_)) selected.insert(Widen(file.c_str()));
  } catch (const std::exception& error) {
    Trace(L"Cleaner: failed to enumerate sections in cleanapi.ini. Error: " + Widen(error.what()));
    return kExtractionFailed;
  }
  databaseFiles_.clear();
  databaseTable_.clear();
  std::vector<CabMemoryFile> files;
  CabResult result;
  extractor.ExtractFileToMemory(result, packPath, files,
                                [&](const std::wstring& name, std::int64_t) { return selected.count(name) != 0; });
  if (result.failed) {
    Trace(L"Cleaner: failed extract data from " + packPath + L", " + CabErrorText(result));
    return kExtractionFailed;
  }
  for (CabMemoryFile& file : files) {
    std::string content(file.content.begin(), file.content.end());
    content.push_back('\0');
    databaseFiles_.push_back({oxa::ToUtf8(file.name), std::move(content)});
  }
  for (const DatabaseFile& file : databaseFiles_) databaseTable_.push_back({file.name.c_str(), file.content.c_str()});
  return ERROR_SUCCESS;
}

std::uint32_t Cleaner::Enumerate(std::vector<DetectedApp>& apps) {
  const std::wstring library = LibraryPath();
  if (!traceImpl_) traceImpl_ = std::make_unique<TraceImpl>(trace_, library);
  LibraryFunction enumerate;
  if (const DWORD error = enumerate.Bind(trace_, library, kEnumFunction)) return error;
  std::vector<DetectedApp> found;
  const int succeeded = enumerate.As<EnumFunction<DatabaseEntry>>()(
      databaseTable_.data(), static_cast<std::uint32_t>(databaseTable_.size()), &found, &CollectDetected);
  if (!succeeded || !found.empty()) traceImpl_->Flush();
  if (!succeeded) return 1;
  apps.insert(apps.end(), found.begin(), found.end());
  return ERROR_SUCCESS;
}

std::uint32_t Cleaner::Remove(const std::function<bool(const DetectedApp&)>& skip,
                              const std::function<void(const DetectedApp&)>& removed) {
  LibraryFunction remove;
  if (const DWORD error = remove.Bind(trace_, LibraryPath(), kRemoveFunction)) return error;
  std::uint32_t value = 0;
  RemovalContext context{skip, removed};
  const int succeeded = remove.As<RemoveFunction<DatabaseEntry>>()(
      databaseTable_.data(), static_cast<std::uint32_t>(databaseTable_.size()), &value, &context, &OnRemoval);
  if (succeeded) return ERROR_SUCCESS;
  Trace(L"RemoveCompetitorSoftware return error");
  return kRemovalFailed;
}

std::uint32_t Cleaner::RemoveByName(const std::wstring& name, std::vector<DetectedApp>& removed) {
  return Remove([&](const DetectedApp& app) { return app.name != name; },
                [&](const DetectedApp& app) { removed.push_back(app); });
}

void Cleaner::Shutdown() noexcept {
  traceImpl_.reset();
  if (workFolder_.empty()) return;
  // Back to the scratch folder, keeping its trailing separator.
  std::wstring& scratch = workFolder_;
  while (!scratch.empty() && !oxa::IsPathSeparator(scratch.back())) scratch.pop_back();
  const DWORD error = RecursiveDelete(scratch);
  try {
    if (error != ERROR_SUCCESS) Trace(L"Cleaner: cannot delete " + scratch + L", err: " + Decimal(error));
  } catch (...) {  // no memory for the line
  }
  workFolder_.clear();
}

}  // namespace qvr
