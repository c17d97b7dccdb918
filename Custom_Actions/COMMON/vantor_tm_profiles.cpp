#include "Custom_Actions/COMMON/vantor_tm_profiles.h"

#include "Custom_Actions/COMMON/product_info_checked.h"
#include "Custom_Actions/COMMON/product_variables.h"
#include "log/installer_log.h"
#include "component/oxa/exception/check_sites.h"
#include "platform/util/scoped_reg_key.h"
#include "platform/util/windows_version.h"

#include <cstdarg>
#include <cwchar>
#include <exception>
#include <new>

namespace qvr {
namespace {

constexpr wchar_t kFrameworkLibrary[] = L"vtcore.dll";
constexpr wchar_t kRuntimeLibrary[] = L"ucrtbase.dll";
constexpr std::size_t kMaxLibraryPathChars = 32000;  // with the terminating zero
constexpr std::uint32_t kWindows10 = 10 * 256;

FrameworkObject* g_processRoot = nullptr;

std::wstring JoinPath(const std::wstring& directory, const wchar_t* name) {
  if (directory.empty()) return name;
  std::wstring path = directory;
  if (path.back() != L'\\') path += L'\\';
  return path + name;
}

// One line of the context in the installer log.
void WriteContextLine(MSIHANDLE install, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  InstallerLog(install).LineV(format, args);
  va_end(args);
}

template <typename Function>
Function Export(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Values of the product's environment key, system variables behind them.
class EnvironmentKeyVariables final : public ProductVariableSource {
 public:
  explicit EnvironmentKeyVariables(const ProductInfo& info)
      : root_(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(info.RegistryRoot)))),
        path_(info.ProductRegistryKey.str() + L"\\environment") {}

  std::wstring StoredValue(const std::wstring& name) override {
    ScopedRegKey key;
    std::wstring value;
    if (key.Open(root_, path_.c_str(), KEY_READ) != ERROR_SUCCESS ||
        key.ReadString(name.c_str(), StringPolicy::kSzOrExpandSz, value) != ERROR_SUCCESS)
      return {};
    // A value is one text: what follows an embedded NUL is not part of it.
    value.resize(std::wcslen(value.c_str()));
    return value;
  }

  std::wstring SystemExpansion(const std::wstring& reference) override {
    DWORD size = ExpandEnvironmentStringsW(reference.c_str(), nullptr, 0);
    // The environment may grow between the calls; a few rounds settle it.
    for (int round = 0; round < 5 && size != 0; ++round) {
      std::wstring expanded(size, L'\0');
      const DWORD needed = ExpandEnvironmentStringsW(reference.c_str(), expanded.data(), size);
      if (needed == 0) break;
      if (needed <= size) {
        expanded.resize(needed - 1);
        return expanded;
      }
      size = needed;
    }
    return reference;
  }

 private:
  HKEY root_;
  std::wstring path_;
};

}  // namespace

FrameworkObject* ProcessFrameworkRoot() { return g_processRoot; }

void FrameworkLoader::Load(const std::wstring& directory) {
  std::wstring path;
  try {
    path = JoinPath(directory, kFrameworkLibrary);
  } catch (const std::bad_alloc&) {
    return;
  }
  if (path.size() + 1 > kMaxLibraryPathChars) return;
  module_.Reset(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!module_) {
    result_ = kFrameworkNotLoaded;
    return;
  }
  result_ = kFrameworkLoadMissing;
  const auto load = Export<VantorLoadFn>(module_.Get(), "VantorLoad");
  if (!load) return;
  FrameworkObject* root = nullptr;
  result_ = load(&root, 1, 0, nullptr, nullptr);
  // A root that came with a failure is not taken.
  if (OXA_SUCCEEDED(result_) && root) {
    root_ = root;
    g_processRoot = root;
  }
}

FrameworkLoader::~FrameworkLoader() {
  if (!module_) return;
  if (const auto unload = Export<VantorUnloadFn>(module_.Get(), "VantorUnload")) result_ = unload(root_);
  if (g_processRoot == root_) g_processRoot = nullptr;
  root_ = nullptr;
  module_.Reset();
}

bool QueryWindowsVersionNumber(std::uint32_t& version) {
  WindowsVersion windows;
  if (OXA_FAILED(GetWindowsVersion(windows))) return false;
  version = windows.major * 256 + windows.minor;
  return true;
}

std::wstring ExpandProductVariables(const ProductInfo& info, const std::wstring& text) {
  EnvironmentKeyVariables variables(info);
  return ExpandProductVariables(text, variables);
}

VantorTmProfiles::VantorTmProfiles(MSIHANDLE install, WindowsVersionQuery windowsVersion) noexcept
    : install_(install) {
  try {
    Create(windowsVersion);
  } catch (...) {
    ReportCreationFailure();
  }
}

void VantorTmProfiles::ReportCreationFailure() noexcept {
  // Writing the line allocates; when that fails too, the missing store still
  // tells the caller.
  try {
    try {
      throw;
    } catch (const oxa::Exception& error) {
      WriteContextLine(install_, L"[VantorTmProfiles]\toxa::Exception occurred: %ls", error.GetDescription().c_str());
    } catch (const std::exception& error) {
      WriteContextLine(install_, L"[VantorTmProfiles]\texception occurred: %hs", error.what());
    } catch (...) {
      WriteContextLine(install_, L"[VantorTmProfiles]\texception of unknown type occurred");
    }
  } catch (...) {
  }
}

VantorTmProfiles::~VantorTmProfiles() {
  ReleaseStore();
  loader_.reset();
  runtime_.Reset();
}

void VantorTmProfiles::Create(WindowsVersionQuery windowsVersion) {
  std::wstring libraryPath(GetEnvironmentVariableW(L"ProductInfoDLL", nullptr, 0), L'\0');
  const DWORD length =
      libraryPath.empty() ? 0
                          : GetEnvironmentVariableW(L"ProductInfoDLL", libraryPath.data(),
                                                    static_cast<DWORD>(libraryPath.size()));
  if (length == 0 || length >= libraryPath.size()) {
    WriteContextLine(install_, L"[VantorTmProfiles]\tGetEnvironmentVariableW failed, err = %u", GetLastError());
    return;
  }
  libraryPath.resize(length);

  const ProductInfo info = LoadProductInfo(libraryPath);
  const std::wstring productRoot = ExpandProductVariables(info, L"%ProductRoot%");

  std::uint32_t version = 0;
  if (!windowsVersion(version) || version < kWindows10) {
    runtime_.Reset(LoadLibraryExW(JoinPath(productRoot, kRuntimeLibrary).c_str(), nullptr,
                                  LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!runtime_) {
      const DWORD error = GetLastError();
      if (error != 0) oxa::ThrowCheckResultFailed(oxa::ResultFromWin32Error(error), oxa::CheckSite::kRuntimeLoadFailed);
    }
  }

  loader_.reset();
  loader_ = std::make_unique<FrameworkLoader>();
  loader_->Load(productRoot);
  if (!loader_->Root()) {
    WriteContextLine(install_, L"[VantorTmProfiles]\tVantor init failed, err = %08X", loader_->Result());
    return;
  }

  const std::wstring xmlPath = ExpandProductVariables(info, L"%ProfilesXmlPath%");
  WriteContextLine(install_, L"[VantorTmProfiles]\tprocessing profiles.xml : %ls", xmlPath.c_str());
  const FrameworkResult result = CreateStore(xmlPath);
  if (OXA_FAILED(result)) {
    WriteContextLine(install_, L"[VantorTmProfiles]\tCreateRegistry failed, err = %08X", result);
  } else {
    WriteContextLine(install_, L"[VantorTmProfiles]\tCreate registry node from profiles.xml : %ls", xmlPath.c_str());
  }
}

FrameworkResult VantorTmProfiles::CreateStore(const std::wstring& xmlPath) {
  FrameworkObject* root = ProcessFrameworkRoot();
  if (!root) return kFrameworkNotLoaded;
  FrameworkObject* object = nullptr;
  FrameworkResult result =
      ObjectEntry<CreateObjectFn>(root, kCreateObjectEntry)(root, &object, kStoreInterfaceType, kStorePlugin, 0);
  if (OXA_SUCCEEDED(result) && !object) return kFrameworkNoObject;
  if (OXA_SUCCEEDED(result)) {
    result = ObjectEntry<SetStringPropertyFn>(object, kSetStringPropertyEntry)(
        object, nullptr, kSourcePathProperty, xmlPath.c_str(), 0, kUtf16CodePage);
  }
  auto setDword = [&](std::uint32_t property, std::uint32_t value) {
    return ObjectEntry<SetDwordPropertyFn>(object, kSetDwordPropertyEntry)(object, property, value);
  };
  if (OXA_SUCCEEDED(result)) result = setDword(kFormatVersionProperty, 1);
  if (OXA_SUCCEEDED(result)) result = setDword(kReadOnlyProperty, 0);
  if (OXA_SUCCEEDED(result)) result = setDword(kPersistentProperty, 1);
  if (OXA_SUCCEEDED(result)) {
    result = ObjectEntry<SetBoolPropertyFn>(object, kSetBoolPropertyEntry)(object, kAddDeclaredNodesProperty, 1);
  }
  if (OXA_SUCCEEDED(result)) result = ObjectEntry<CompleteCreationFn>(object, kCompleteCreationEntry)(object);
  if (OXA_FAILED(result)) {
    if (object) ObjectEntry<ReleaseObjectFn>(object, kReleaseObjectEntry)(object);
    return result;
  }
  ReleaseStore();
  store_ = static_cast<ProfileStore*>(object);
  return 0;
}

void VantorTmProfiles::ReleaseStore() {
  if (store_) ObjectEntry<ReleaseObjectFn>(store_, kReleaseObjectEntry)(store_);
  store_ = nullptr;
}

}  // namespace qvr
