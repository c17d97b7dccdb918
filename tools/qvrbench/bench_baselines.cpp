#include "tools/qvrbench/bench_baselines.h"

#include <windows.h>
// These need the Windows types.
#include <fcntl.h>
#include <fdi.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdlib>
#include <stdexcept>

#include "Custom_Actions/COMMON/framework_objects.h"
#include "component/oxa/system/unique_handle.h"
#include "tools/qvrbench/bench_product.h"

namespace qvrbench {
namespace {

void SetString(HKEY key, const wchar_t* name, const std::wstring& text) {
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

oxa::RegistryKeyHandle CreateKey(HKEY parent, const std::wstring& path) {
  HKEY key = nullptr;
  RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  return oxa::RegistryKeyHandle(key);
}

// FDICopy of the whole pack into `folder` through the C runtime's files.
namespace fdi {
FNALLOC(Alloc) { return std::malloc(cb); }
FNFREE(Free) { std::free(pv); }
FNOPEN(Open) { return _open(pszFile, oflag | _O_BINARY, pmode); }
FNREAD(Read) { return static_cast<UINT>(_read(static_cast<int>(hf), pv, cb)); }
FNWRITE(Write) { return static_cast<UINT>(_write(static_cast<int>(hf), pv, cb)); }
FNCLOSE(Close) { return _close(static_cast<int>(hf)); }
FNSEEK(Seek) { return _lseek(static_cast<int>(hf), dist, seektype); }
std::string g_folder;
FNFDINOTIFY(Notify) {
  switch (fdint) {
    case fdintCOPY_FILE: {
      const std::string path = g_folder + "\\" + pfdin->psz1;
      for (std::size_t at = path.find('\\', g_folder.size() + 1); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
      return _open(path.c_str(), _O_BINARY | _O_CREAT | _O_WRONLY | _O_TRUNC, _S_IREAD | _S_IWRITE);
    }
    case fdintCLOSE_FILE_INFO:
      _close(static_cast<int>(pfdin->hf));
      return TRUE;
    default:
      return 0;
  }
}
}  // namespace fdi

}  // namespace

void BareEnumeration() {
  auto open = [](const std::wstring& path) {
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key);
    return oxa::RegistryKeyHandle(key);
  };
  wchar_t name[256];
  BYTE data[4096];
  auto values = [&](const std::wstring& path) {
    const oxa::RegistryKeyHandle key = open(path);
    for (DWORD i = 0;; ++i) {
      DWORD nameChars = 256, bytes = sizeof data;
      if (RegEnumValueW(key.Get(), i, name, &nameChars, nullptr, nullptr, data, &bytes) != ERROR_SUCCESS) break;
    }
  };
  const std::wstring installer = std::wstring(kBenchKey) + L"\\Installer\\";
  {
    const oxa::RegistryKeyHandle environment = open(std::wstring(kBenchKey) + L"\\environment");
    DWORD bytes = sizeof data;
    RegQueryValueExW(environment.Get(), L"ProductType", nullptr, nullptr, data, &bytes);
  }
  values(installer + L"profiles");
  const oxa::RegistryKeyHandle features = open(installer + L"features");
  for (DWORD i = 0;; ++i) {
    DWORD nameChars = 256;
    if (RegEnumKeyExW(features.Get(), i, name, &nameChars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY child = nullptr;
    RegOpenKeyExW(features.Get(), name, 0, KEY_READ, &child);
    const oxa::RegistryKeyHandle feature(child);
    for (const wchar_t* value : {L"installed", L"ProductTypes", L"DisabledProductTypes", L"Profiles", L"Selfregs",
                                 L"SelfUnregs", L"Drivers", L"Registry"}) {
      DWORD bytes = sizeof data;
      RegQueryValueExW(feature.Get(), value, nullptr, nullptr, data, &bytes);
    }
  }
  values(installer + L"Selfregs");
  values(installer + L"Selfunregs");
  values(installer + L"drivers");
  const oxa::RegistryKeyHandle handlers = open(installer + L"ProtoHandlers");
  for (DWORD i = 0;; ++i) {
    DWORD nameChars = 256;
    if (RegEnumKeyExW(handlers.Get(), i, name, &nameChars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY child = nullptr;
    RegOpenKeyExW(handlers.Get(), name, 0, KEY_READ, &child);
    const oxa::RegistryKeyHandle handler(child);
    for (const wchar_t* value : {L"Descr", L"Command"}) {
      DWORD bytes = sizeof data;
      RegQueryValueExW(handler.Get(), value, nullptr, nullptr, data, &bytes);
    }
  }
  values(installer + L"registry");
}

void BareActivation(const BenchScale& scale, qvr::ProfileStore* store) {
  for (int f = 0; f < scale.features; ++f) {
    const oxa::RegistryKeyHandle key = CreateKey(HKEY_LOCAL_MACHINE, BenchProduct::FlagKey(f));
    const DWORD set = f % 2 == 0 ? 1 : 0;
    for (int v = 0; v < scale.flagsPerFeature; ++v)
      RegSetValueExW(key.Get(), BenchProduct::FlagName(v).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&set),
                     sizeof set);
  }
  const oxa::RegistryKeyHandle environment = CreateKey(HKEY_LOCAL_MACHINE, std::wstring(kBenchKey) + L"\\environment");
  for (int v = 0; v < scale.environmentValues; ++v)
    SetString(environment.Get(), BenchProduct::EnvironmentName(v).c_str(), L"benchA");
  for (int h = 0; h < scale.protoHandlers; ++h) {
    const oxa::RegistryKeyHandle protocol = CreateKey(HKEY_CLASSES_ROOT, BenchProduct::SchemeName(h));
    const oxa::RegistryKeyHandle command = CreateKey(protocol.Get(), L"shell\\open\\command");
    SetString(protocol.Get(), L"", L"URL:" + BenchProduct::SchemeName(h));
    SetString(protocol.Get(), L"URL Protocol", L"");
    SetString(command.Get(), L"", L"C:\\bench\\open.exe \"%1\"");
  }
  using namespace qvr;
  for (int f = 0; scale.profiles && f < scale.features; ++f) {
    const std::wstring wide = BenchProduct::ProfilePath(f);
    const std::string path(wide.begin(), wide.end());
    StoreHandle node = 0;
    StoreEntry<StoreOpenFn>(store, kStoreOpenEntry)(store, &node, 0, path.c_str(), 0);
    const std::uint32_t installed = 1;
    if (f % 2 == 0)
      StoreEntry<StoreSetValueFn>(store, kStoreSetValueEntry)(store, node, "installed", 4, &installed, 4, 1);
    else
      StoreEntry<StoreDeleteValueFn>(store, kStoreDeleteValueEntry)(store, node, "installed");
    StoreEntry<StoreCloseFn>(store, kStoreCloseEntry)(store, node);
  }
  SetString(environment.Get(), L"ProductType", L"benchA");
}

void RemoveExtracted(const std::string& folder) {
  for (const char* file : {"cleanapi.dll", "cleanapi.ini", "db\\scan.db", "db\\payload.bin"})
    DeleteFileA((folder + "\\" + file).c_str());
  RemoveDirectoryA((folder + "\\db").c_str());
  RemoveDirectoryA(folder.c_str());
}

void BareExtraction(const std::string& folder, const std::string& pack) {
  ERF error{};
  const HFDI context =
      FDICreate(fdi::Alloc, fdi::Free, fdi::Open, fdi::Read, fdi::Write, fdi::Close, fdi::Seek, cpuUNKNOWN, &error);
  CreateDirectoryA(folder.c_str(), nullptr);
  fdi::g_folder = folder;
  const std::size_t slash = pack.find_last_of('\\');
  std::string name = pack.substr(slash + 1), path = pack.substr(0, slash + 1);
  const BOOL copied = FDICopy(context, name.data(), path.data(), 0, fdi::Notify, nullptr, nullptr);
  FDIDestroy(context);
  if (!copied) throw std::runtime_error("FDICopy failed");
  RemoveExtracted(folder);
}

}  // namespace qvrbench
