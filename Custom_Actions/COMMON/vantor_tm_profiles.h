// The task profile context of MsiProductActivate: loads the product's
// component framework vtcore.dll from the product directory and has it build
// the profile store from profiles.xml. Its lines go to the installer log.
#pragma once

#include <windows.h>
#include <msi.h>

#include <cstdint>
#include <memory>
#include <string>

#include "Custom_Actions/COMMON/framework_objects.h"
#include "component/oxa/system/unique_handle.h"

namespace qvr {

struct ProductInfo;

inline constexpr FrameworkResult kFrameworkNoObject = static_cast<FrameworkResult>(0x800000C7u);
inline constexpr FrameworkResult kFrameworkNotLoaded = static_cast<FrameworkResult>(0x800001C1u);
inline constexpr FrameworkResult kFrameworkLoadMissing = static_cast<FrameworkResult>(0x800001C4u);

// vtcore.dll and the root it gives. While a root exists it is also the
// process-wide root (ProcessFrameworkRoot).
class FrameworkLoader {
 public:
  FrameworkLoader() = default;
  // Unloads: VantorUnload with the root, then the library is freed.
  ~FrameworkLoader();
  FrameworkLoader(const FrameworkLoader&) = delete;
  FrameworkLoader& operator=(const FrameworkLoader&) = delete;

  // Loads vtcore.dll from `directory` (the bare name when it is empty) and
  // calls VantorLoad. Result(): 0x800001C1 when the library does not load,
  // 0x800001C4 without VantorLoad, else VantorLoad's result; 0 with no root
  // when the path is too long to be tried.
  void Load(const std::wstring& directory);

  FrameworkObject* Root() const { return root_; }
  FrameworkResult Result() const { return result_; }

 private:
  oxa::ModuleHandle module_;
  FrameworkObject* root_ = nullptr;
  FrameworkResult result_ = 0;
};

// The root of the framework loaded in this process, or null.
FrameworkObject* ProcessFrameworkRoot();

// The Windows version as major * 256 + minor; false when it cannot be read.
using WindowsVersionQuery = bool (*)(std::uint32_t& version);
bool QueryWindowsVersionNumber(std::uint32_t& version);

// "%Name%" references of `text` expanded from the environment key of the
// product that `info` describes (see ExpandProductVariables in
// product_variables.h), system variables as the fallback.
std::wstring ExpandProductVariables(const ProductInfo& info, const std::wstring& text);

class VantorTmProfiles {
 public:
  // Builds the profile store; writes its lines through `install`. Never
  // throws: every failure leaves the context without a store.
  // `windowsVersion` decides whether ucrtbase.dll of the product directory is
  // loaded first (below Windows 10, or when the version is unknown).
  explicit VantorTmProfiles(MSIHANDLE install,
                            WindowsVersionQuery windowsVersion = &QueryWindowsVersionNumber) noexcept;
  // Releases the store, unloads the framework, frees ucrtbase.dll.
  ~VantorTmProfiles();
  VantorTmProfiles(const VantorTmProfiles&) = delete;
  VantorTmProfiles& operator=(const VantorTmProfiles&) = delete;

  // Null when no store could be built.
  ProfileStore* Store() const { return store_; }
  // The product directory's ucrtbase.dll when it was loaded.
  HMODULE RuntimeModule() const { return runtime_.Get(); }

 private:
  void Create(WindowsVersionQuery windowsVersion);
  // Inside a catch handler: the line that names the exception.
  void ReportCreationFailure() noexcept;
  FrameworkResult CreateStore(const std::wstring& xmlPath);
  void ReleaseStore();

  MSIHANDLE install_;
  oxa::ModuleHandle runtime_;
  std::unique_ptr<FrameworkLoader> loader_;
  ProfileStore* store_ = nullptr;
};

}  // namespace qvr
