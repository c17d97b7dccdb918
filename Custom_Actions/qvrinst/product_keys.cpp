#include "Custom_Actions/qvrinst/product_keys.h"

#include <windows.h>

#include <exception>

#include "Custom_Actions/COMMON/product_info_checked.h"
#include "log/log_sink.h"

namespace qvr {
namespace {

constexpr wchar_t kProductInfoPathVariable[] = L"ProductInfoDLL";

// The value of an environment variable of the process; empty when unset.
std::wstring ReadEnvironmentVariable(const wchar_t* name) {
  std::wstring value;
  DWORD size = 0;
  for (;;) {
    const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
    if (length == 0) return {};
    if (length < size) {
      value.resize(length);
      return value;
    }
    // Too small: the answer is the size needed, terminator included.
    size = length;
    value.resize(size);
  }
}

// A file, directory or link at `path`; a query that fails counts as none.
bool FileSystemObjectExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

bool InitCommonRegKeys(LogSink* sink, CommonRegKeys& keys) {
  // Paths of an earlier call must not outlive a failure of this one.
  keys = CommonRegKeys{};
  const bool logging = sink && sink->IsEnabled();

  const std::wstring fromEnvironment = ReadEnvironmentVariable(kProductInfoPathVariable);
  if (logging) sink->Write(kLogInfo, L"Initialize common reg keys, path from env string: %ls", fromEnvironment.c_str());
  try {
    const std::wstring path = FileSystemObjectExists(fromEnvironment) ? fromEnvironment : LocateProductInfoLibrary();
    const ProductInfo info = LoadProductInfo(path);
    keys = DeriveCommonRegKeys(info.ProductRegistryKey.view());
    if (logging) {
      sink->Write(kLogInfo, L"Using common reg keys:\nproduct: %ls,\nenv: %ls,\ndata: %ls",
                  keys[kProductKey].c_str(), keys[kProductEnvironmentKey].c_str(),
                  keys[kProductDataKey].c_str());
    }
    return true;
  } catch (const std::exception& error) {
    if (logging) sink->Write(kLogError, L"Failed to initialize common reg keys, err: %hs", error.what());
    return false;
  }
}

}  // namespace qvr
