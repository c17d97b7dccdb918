// qvrbench: the module's costs under Wine, each against a baseline loop of
// bare Win32 calls doing the same platform work. `make bench` runs it; see
// scripts/bench.sh. Usage: qvrbench BENCH_FOLDER (Windows path, holding
// product_info.dll, sweeper.pack and session.msi); prints the table and
// writes BENCH_FOLDER\results.json. Words after the folder choose figures.
#include <windows.h>
// msiquery.h needs the Windows types.
#include <msiquery.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <exception>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Custom_Actions/COMMON/vantor_tm_profiles.h"
#include "Custom_Actions/qvrinst/versioned_installer.h"
#include "cabinet/cabinet.h"
#include "component/oxa/system/module_file.h"
#include "component/oxa/system/unique_handle.h"
#include "log/installer_log.h"
#include "tools/qvrbench/bench_baselines.h"
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
        [&] { BareEnumeration(); });
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
    auto switchSeconds = [&](const BenchScale& scale, int repetitions) {
      BenchProduct product(folder, scale);
      const qvr::VantorTmProfiles empty(0);
      if (!empty.Store()) throw std::runtime_error("no profile store");
      const wchar_t* next = L"benchB";
      return MedianSeconds(
          repetitions,
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
    // The 1x time is ten times in the ratio: more runs keep a slow one (the
    // server saving the registry, a busy core) from setting it.
    switching.baseline = 10 * switchSeconds(small, kRepetitions);
    switching.ours = switchSeconds(large, kSwitchRepetitions);
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
