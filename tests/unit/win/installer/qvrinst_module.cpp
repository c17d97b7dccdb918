#include "tests/unit/win/installer/qvrinst_module.h"

#include "tests/support/msi_session.h"

#include <gtest/gtest.h>

namespace installer_test {

QvrinstModule::QvrinstModule() {
  const std::wstring path = qvrtest::BuildPath(L"bin/qvrinst.dll");
  module_.Reset(LoadLibraryW(path.c_str()));
  EXPECT_TRUE(module_) << "cannot load qvrinst.dll: " << GetLastError();
}

void* QvrinstModule::Export(const char* name) const {
  void* address = module_ ? reinterpret_cast<void*>(GetProcAddress(module_.Get(), name)) : nullptr;
  EXPECT_NE(address, nullptr) << "qvrinst.dll does not export " << name;
  return address;
}

qvr::GetVersionedQVRInstallerFn QvrinstModule::Factory() const {
  return reinterpret_cast<qvr::GetVersionedQVRInstallerFn>(Export("GetVersionedQVRInstaller"));
}

QvrinstModule::CustomAction QvrinstModule::Action(const char* name) const {
  return reinterpret_cast<CustomAction>(Export(name));
}

}  // namespace installer_test
