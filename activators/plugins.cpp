// The installer object's plugin self-registration: the Selfregs and
// Selfunregs declarations, and the command lines run for the features that
// qualify for a product type, one process at a time.
#include "activators/plugins.h"

#include "Custom_Actions/qvrinst/installer.h"
#include "Custom_Actions/qvrinst/log_sink.h"
#include "activators/process_launcher.h"
#include "platform/product_info/common_reg_keys.h"
#include "platform/util/scoped_reg_key.h"

namespace qvr {
namespace {

// The lines of one declaration reader; the two readers' texts differ in
// more than their names.
struct ReaderLines {
  const wchar_t* cantOpen;   // error code
  const wchar_t* cantEnum;   // error code
  const wchar_t* cantQuery;  // value name, error code
  const wchar_t* empty;      // value name
  const wchar_t* entry;      // value name, command line
};

constexpr ReaderLines kSelfregLines{
    L"ReadSelfregs: can't open selfreg key: 0x%08x",
    L"ReadSelfregs: can't enum selfregs key: 0x%08x",
    L"ReadSelfregs: can't query value %ls: 0x%08x",
    L"ReadSelfregs: value %ls is empty",
    L"ReadSelfregs: selfreg %ls = %ls",
};

constexpr ReaderLines kSelfUnregLines{
    L"ReadSelfUnregs: can't open selfunreg key: 0x%08x",
    L"ReadSelfregs: can't enum selfunregs key: 0x%08x",
    L"ReadSelfUnregs: can't query value %ls: 0x%08x",
    L"ReadSelfUnregs: can't query value %ls is empty",
    L"ReadSelfUnregs: SelfUnreg %ls = %ls",
};

// The lines of one direction of the activation and of its one-command runner.
struct RunLines {
  const wchar_t* entry;
  const wchar_t* requested;  // declaration name, feature name
  const wchar_t* failed;     // command line
  const wchar_t* implEntry;
  const wchar_t* executing;  // command line
  const wchar_t* outcome;    // launch result, exit code
};

constexpr RunLines kRegisterLines{
    L"RegisterPlugins:entry point",
    L"RegisterPlugins: self-registering %ls requested by feature %ls",
    L"RegisterPlugins: self-registering %ls failed",
    L"RegisterPluginImpl:entry point",
    L"RegisterPluginImpl: executing %ls",
    L"RegisterPluginImpl: Exec function execret: %d, retcode: %d",
};

constexpr RunLines kUnregisterLines{
    L"UnregisterPlugins:entry point",
    L"UnegisterPlugins: unself-registering %ls requested by feature %ls",
    L"UnregisterPlugins: unself-registering %ls failed",
    L"UnregisterPluginImpl:entry point",
    L"UnregisterPluginImpl: executing %ls",
    L"UnregisterPluginImpl: Exec function execret: %d, retcode: %d",
};

// Fills `table` from the values of `keyPath`. Problems are logged and the
// declarations that can be read are kept.
void ReadCommandTable(LogSink* sink, const std::wstring& keyPath, const ReaderLines& lines,
                      PluginCommandTable& table) {
  ScopedRegKey key;
  LONG result = key.Open(HKEY_LOCAL_MACHINE, keyPath.c_str(), KEY_READ);
  if (result != ERROR_SUCCESS) {
    LogLine(sink, kLogError, lines.cantOpen, static_cast<unsigned>(result));
    return;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[256] = {};
    DWORD length = 256;
    result = RegEnumValueW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) return;
    if (result != ERROR_SUCCESS) {
      LogLine(sink, kLogError, lines.cantEnum, static_cast<unsigned>(result));
      // A name too long for a declaration costs only that one value.
      if (result == ERROR_MORE_DATA) continue;
      return;
    }
    if (length == 0) continue;
    const std::wstring declaration(name, length);
    std::wstring commandLine;
    result = key.QueryString(declaration.c_str(), commandLine);
    if (result != ERROR_SUCCESS) {
      LogLine(sink, kLogError, lines.cantQuery, declaration.c_str(), static_cast<unsigned>(result));
      continue;
    }
    if (commandLine.empty()) {
      LogLine(sink, kLogError, lines.empty, declaration.c_str());
      continue;
    }
    LogLine(sink, kLogInfo, lines.entry, declaration.c_str(), commandLine.c_str());
    table[declaration] = std::move(commandLine);
  }
}

// Runs one command line; true when it started, ended within the limit and
// exited with 0.
bool RunCommand(LogSink* sink, ServiceLocator* locator, std::uint32_t timeLimitMs, const std::wstring& commandLine,
                const RunLines& lines) {
  LogLine(sink, kLogInfo, lines.implEntry);
  LogLine(sink, kLogDetail, lines.executing, commandLine.c_str());
  std::uint32_t exitCode = 0;
  const LaunchResult launched = ProcessLauncher(locator, sink, timeLimitMs).Run(commandLine, exitCode);
  LogLine(sink, kLogInfo, lines.outcome, static_cast<int>(launched), static_cast<int>(exitCode));
  return launched == LaunchResult::kCompleted && exitCode == 0;
}

// Runs, for each feature qualifying for `productType` in table order and for
// each name of its `list` in list order, the declared command line; a name
// without a declaration is skipped silently.
template <class RunOne>
void RunFeatureCommands(LogSink* sink, const std::map<std::wstring, FeatureRecord>& features,
                        const std::wstring& productType, StringVector FeatureRecord::*list,
                        const PluginCommandTable& table, const RunLines& lines, RunOne runOne) {
  LogLine(sink, kLogInfo, lines.entry);
  for (const auto& [featureName, feature] : features) {
    if (!Qualifies(feature, productType)) continue;
    for (const std::wstring& name : feature.*list) {
      const auto declared = table.find(name);
      if (declared == table.end()) continue;
      LogLine(sink, kLogInfo, lines.requested, name.c_str(), featureName.c_str());
      if (!runOne(declared->second)) LogLine(sink, kLogError, lines.failed, declared->second.c_str());
    }
  }
}

}  // namespace

bool Installer::ReadSelfregs() {
  ReadCommandTable(GetLogSink(), commonRegKeys_[kSelfregsKey], kSelfregLines, selfregs_);
  return true;
}

bool Installer::ReadSelfUnregs() {
  ReadCommandTable(GetLogSink(), commonRegKeys_[kSelfunregsKey], kSelfUnregLines, selfUnregs_);
  return true;
}

bool Installer::RegisterPluginImpl(const std::wstring& commandLine) {
  return RunCommand(GetLogSink(), serviceLocator_, pluginTimeLimitMs_, commandLine, kRegisterLines);
}

bool Installer::UnregisterPluginImpl(const std::wstring& commandLine) {
  return RunCommand(GetLogSink(), serviceLocator_, pluginTimeLimitMs_, commandLine, kUnregisterLines);
}

bool Installer::RegisterPlugins(const std::wstring& productType) {
  RunFeatureCommands(GetLogSink(), features_, productType, &FeatureRecord::selfregs, selfregs_, kRegisterLines,
                     [this](const std::wstring& commandLine) { return RegisterPluginImpl(commandLine); });
  // A plugin that fails to register does not stop the activation.
  return true;
}

bool Installer::UnregisterPlugins(const std::wstring& productType) {
  RunFeatureCommands(GetLogSink(), features_, productType, &FeatureRecord::selfUnregs, selfUnregs_, kUnregisterLines,
                     [this](const std::wstring& commandLine) { return UnregisterPluginImpl(commandLine); });
  return true;
}

}  // namespace qvr
