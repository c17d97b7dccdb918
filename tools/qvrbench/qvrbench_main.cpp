// qvrbench: the module's costs under Wine, each against a baseline loop of
// bare Win32 calls doing the same platform work. `make bench` runs it; see
// scripts/bench.sh. Usage: qvrbench BENCH_FOLDER (Windows path, holding
// product_info.dll, sweeper.pack and session.msi); prints the table and
// writes BENCH_FOLDER\results.json. Words after the folder choose figures.
#include <windows.h>
// These need the Windows types.
#include <fcntl.h>
#include <fdi.h>
#include <io.h>
#include <msiquery.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <exception>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Custom_Actions/COMMON/framework_objects.h"
#include "Custom_Actions/COMMON/vantor_tm_profiles.h"
#include "Custom_Actions/qvrinst/versioned_installer.h"
#include "cabinet/cabinet.h"
#include "component/oxa/system/module_file.h"
#include "component/oxa/system/unique_handle.h"
#include "log/installer_log.h"
#include "tools/qvrbench/bench_product.h"
#include "tools/qvrbench/bench_report.h"

namespace qvrbench {
namespace {

constexpr int kRepetitions = 7;
// A switch at 10x the declarations takes seconds.
constexpr int kSwitchRepetitions = 3;
constexpr int kLogLines = 20000;
constexpr qvr::ActivationMode kActivationMode =
    qvr::kActivateRegistry | qvr::kActivateProtocolHandlers | qvr::kActivateProfiles;

// The figures are the platform work, not a host's formatting: only the
// level-3 lines are formatted, and the last one is kept to say why an
// operation failed.
class ErrorSink final : public qvr::LogSink {
 public:
  bool IsEnabled() override { return true; }
  void Write(int level, const wchar_t* format, ...) override {
    if (level != qvr::kLogError) return;
    va_list args;
    va_start(args, format);
    qvr::FormatTruncated(last_, qvr::kLogLineChars, format, args);
    va_end(args);
  }
  std::string Last() const { return std::string(last_, last_ + wcslen(last_)); }

 private:
  wchar_t last_[qvr::kLogLineChars] = {};
};

struct ReleaseInstaller {
  void operator()(qvr::VersionedInstaller* installer) const { installer->Release(); }
};
using InstallerPtr = std::unique_ptr<qvr::VersionedInstaller, ReleaseInstaller>;

std::wstring OwnFolder() {
  const std::wstring path = oxa::ModuleFileName(nullptr);
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

// bin/qvrinst.dll, loaded as a host loads it.
class Module {
 public:
  Module() : module_(LoadLibraryW((OwnFolder() + L"qvrinst.dll").c_str())) {
    if (!module_) throw std::runtime_error("cannot load qvrinst.dll");
    factory_ = reinterpret_cast<qvr::GetVersionedQVRInstallerFn>(
        reinterpret_cast<void*>(GetProcAddress(module_.Get(), "GetVersionedQVRInstaller")));
    if (!factory_) throw std::runtime_error("qvrinst.dll has no factory");
  }
  // An installer object initialized for `type`.
  InstallerPtr Initialized(const wchar_t* type, qvr::ProfileStore* store) {
    InstallerPtr installer = Create();
    Check(installer->Initialize(&sink_, type, store), "Initialize");
    return installer;
  }
  InstallerPtr Create() {
    qvr::VersionedInstaller* installer = nullptr;
    if (factory_(3, &installer) != 0) throw std::runtime_error("the factory refused");
    return InstallerPtr(installer);
  }
  qvr::LogSink* Sink() { return &sink_; }
  // Ends the run when an operation failed, with the module's last error.
  void Check(bool succeeded, const char* operation) const {
    if (!succeeded) throw std::runtime_error(std::string(operation) + " failed: " + sink_.Last());
  }

 private:
  oxa::ModuleHandle module_;
  qvr::GetVersionedQVRInstallerFn factory_ = nullptr;
  ErrorSink sink_;
};

// The bare reads of Initialize: every declaration key enumerated, names and
// data in one call, each feature's values queried.
void BareEnumeration(const BenchScale& scale) {
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
  (void)scale;
}

void SetString(HKEY key, const wchar_t* name, const std::wstring& text) {
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

oxa::RegistryKeyHandle CreateKey(HKEY parent, const std::wstring& path) {
  HKEY key = nullptr;
  RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  return oxa::RegistryKeyHandle(key);
}

// The bare writes of ActivateProduct(2|8|16) for benchA: every flag, the
// type's environment values, the protocol keys, every profile's state in the
// store, the product type.
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

// The pack's files as both extractions leave them.
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

class MsiSession {
 public:
  // With a verbose log, as msiexec /l*v writes it.
  MsiSession(const std::wstring& package, const std::wstring& log) {
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MsiEnableLogW(INSTALLLOGMODE_VERBOSE | INSTALLLOGMODE_INFO, log.c_str(), 0);
    MSIHANDLE handle = 0;
    if (MsiOpenPackageW(package.c_str(), &handle) != ERROR_SUCCESS) throw std::runtime_error("MsiOpenPackage failed");
    handle_ = oxa::InstallerHandle(handle);
  }
  ~MsiSession() {
    handle_.Reset();
    MsiEnableLogW(0, nullptr, 0);
  }
  MSIHANDLE Get() const { return handle_.Get(); }

 private:
  oxa::InstallerHandle handle_;
};

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// `groups`: the figures to measure by their first word (initialize and
// activate, switch, cabinet, log), all when empty.
std::vector<Figure> Measure(const std::wstring& folder, const std::vector<std::wstring>& groups) {
  auto wanted = [&](const wchar_t* group) {
    return groups.empty() || std::find(groups.begin(), groups.end(), group) != groups.end();
  };
  Module module;
  std::vector<Figure> figures;
  InstallerPtr installer;
  if (wanted(L"initialize")) {
    BenchProduct product(folder, BenchScale{});
    const BenchScale& scale = product.Scale();
    Figure initialize{"Initialize: 1,000 features, 5,000 flags, 1,000 profiles, 200 self-registrations, 100 protocols",
                      1.2};
    MeasureInTurns(
        initialize, kRepetitions, [&] { installer = module.Create(); },
        [&] { module.Check(installer->Initialize(module.Sink(), L"benchA", nullptr), "Initialize"); },
        [&] { BareEnumeration(scale); });
    figures.push_back(initialize);

    qvr::VantorTmProfiles profiles(0);
    if (!profiles.Store()) throw std::runtime_error("no profile store");
    Figure activate{"ActivateProduct(2|8|16) on the same declarations", 1.2};
    MeasureInTurns(
        activate, kRepetitions, [&] { installer = module.Initialized(L"benchA", profiles.Store()); },
        [&] { module.Check(installer->ActivateProduct(kActivationMode), "ActivateProduct"); },
        [&] { BareActivation(scale, profiles.Store()); });
    installer.reset();
    figures.push_back(activate);
  }
  if (wanted(L"switch")) {
    // No profiles here: the framework's store rewrites its file at each write,
    // which would outgrow the module's own cost (ActivateProduct has it).
    auto switchSeconds = [&](const BenchScale& scale) {
      BenchProduct product(folder, scale);
      const qvr::VantorTmProfiles empty(0);
      if (!empty.Store()) throw std::runtime_error("no profile store");
      const wchar_t* next = L"benchB";
      return MedianSeconds(
          kSwitchRepetitions,
          [&] {
            installer = module.Initialized(next, empty.Store());
            next = next[5] == L'A' ? L"benchB" : L"benchA";
          },
          [&] { module.Check(installer->SwitchProductType(), "SwitchProductType"); });
    };
    BenchScale small{};
    small.profiles = false;
    BenchScale large = small;
    large.features *= 10;
    large.selfregs *= 10;
    large.protoHandlers *= 10;
    large.environmentValues *= 10;
    Figure switching{"SwitchProductType at 10x the declarations, against 10x the time at 1x", 1.1};
    switching.baseline = 10 * switchSeconds(small);
    switching.ours = switchSeconds(large);
    switching.ratio = switching.ours / switching.baseline;
    installer.reset();
    figures.push_back(switching);
  }
  if (wanted(L"cabinet")) {
    // The module's extractor, linked: the module extracts the cleaner's pack
    // only inside the cleaner operations, which also run the cleaner library.
    const std::wstring pack = folder + L"\\sweeper.pack";
    const std::wstring target = folder + L"\\extracted";
    Figure cabinet{"cabinet extraction of a 50 MB pack (the module's extractor against FDICopy)", 1.1};
    const qvr::CabExtractorPtr extractor = qvr::CreateCabExtractor(nullptr);
    MeasureInTurns(
        cabinet, kRepetitions, [] {},
        [&] {
          qvr::CabResult result;
          CreateDirectoryW(target.c_str(), nullptr);
          extractor->ExtractFileToFolder(result, pack, target, [](const std::wstring&, std::int64_t) { return true; });
          if (result.failed) throw std::runtime_error("the module's extraction failed");
          RemoveExtracted(Narrow(target));
        },
        [&] { BareExtraction(Narrow(folder) + "\\fdi", Narrow(pack)); });
    figures.push_back(cabinet);
  }
  if (wanted(L"log")) {
    MsiSession session(folder + L"\\session.msi", folder + L"\\session.log");
    const wchar_t* format = L"WriteRegistry: set value %ls installed for key %ls: Result 0x%08x";
    const std::wstring name = L"V00001", key = BenchProduct::FlagKey(1);
    wchar_t text[qvr::kLogLineChars];
    _snwprintf(text, qvr::kLogLineChars, format, name.c_str(), key.c_str(), 0u);
    Figure log{"installer-log line (20,000 lines, the sink against MsiProcessMessage)", 1.05};
    qvr::InstallerLogSink sink(session.Get());
    MeasureInTurns(
        log, kRepetitions, [] {},
        [&] {
          for (int i = 0; i < kLogLines; ++i) sink.Write(qvr::kLogInfo, format, name.c_str(), key.c_str(), 0u);
        },
        [&] {
          for (int i = 0; i < kLogLines; ++i) {
            const oxa::InstallerHandle record(MsiCreateRecord(1));
            MsiRecordSetStringW(record.Get(), 0, text);
            MsiProcessMessage(session.Get(), INSTALLMESSAGE_INFO, record.Get());
          }
        });
    figures.push_back(log);
  }
  return figures;
}

}  // namespace
}  // namespace qvrbench

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fputs("usage: qvrbench BENCH_FOLDER [initialize|switch|cabinet|log...]\n", stderr);
    return 2;
  }
  try {
    const std::vector<qvrbench::Figure> figures =
        qvrbench::Measure(argv[1], std::vector<std::wstring>(argv + 2, argv + argc));
    std::fputs(qvrbench::FormatTable(figures).c_str(), stdout);
    std::ofstream json(qvrbench::Narrow(argv[1]) + "\\results.json");
    json << qvrbench::FormatJson(figures);
    return json.flush() ? 0 : 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "qvrbench: %s\n", error.what());
    return 1;
  }
}
