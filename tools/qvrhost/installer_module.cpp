#include "tools/qvrhost/installer_module.h"

#include "component/oxa/system/module_file.h"

#include <cwchar>

namespace qvrhost {
namespace {

std::wstring HexCode(std::uint32_t code) {
  wchar_t text[16];
  _snwprintf(text, 16, L"0x%08x", code);
  text[15] = L'\0';
  return text;
}

std::wstring OwnFolder() {
  const std::wstring path = oxa::ModuleFileName(nullptr);
  const size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
}

}  // namespace

InstallerModule::InstallerModule() : path_(OwnFolder() + L"qvrinst.dll"), module_(LoadLibraryW(path_.c_str())) {
  if (!module_) loadError_ = GetLastError();
}

InstallerPtr InstallerModule::Create(std::uint32_t version, std::wstring& error) const {
  if (!module_) {
    error = L"cannot load " + path_ + L": " + HexCode(loadError_);
    return nullptr;
  }
  const auto factory = reinterpret_cast<qvr::GetVersionedQVRInstallerFn>(
      reinterpret_cast<void*>(GetProcAddress(module_.Get(), "GetVersionedQVRInstaller")));
  if (!factory) {
    error = path_ + L" does not export GetVersionedQVRInstaller";
    return nullptr;
  }
  qvr::VersionedInstaller* installer = nullptr;
  const std::int32_t result = factory(version, &installer);
  if (result != 0 || !installer) {
    error = L"GetVersionedQVRInstaller(" + std::to_wstring(version) + L") returned " +
            HexCode(static_cast<std::uint32_t>(result));
    return nullptr;
  }
  return InstallerPtr(installer);
}

}  // namespace qvrhost
