// The plugin self-registration's registry and process side: the Selfregs
// and Selfunregs declarations read, and the command lines run.
#include "activators/plugins.h"

#include "activators/declaration_table.h"
#include "log/log_sink.h"

namespace qvr {
namespace {

// The two readers' lines differ in more than their names. A value that
// cannot be read costs only that declaration, and so does a name too long
// for a declaration.
constexpr DeclarationValueRules kSelfregRules{
    L"ReadSelfregs: can't enum selfregs key: 0x%08x",
    L"ReadSelfregs: can't query value %ls: 0x%08x",
    L"ReadSelfregs: value %ls is empty",
    L"ReadSelfregs: selfreg %ls = %ls",
    false,
    true,
    true,
};

constexpr DeclarationValueRules kSelfUnregRules{
    L"ReadSelfregs: can't enum selfunregs key: 0x%08x",
    L"ReadSelfUnregs: can't query value %ls: 0x%08x",
    L"ReadSelfUnregs: can't query value %ls is empty",
    L"ReadSelfUnregs: SelfUnreg %ls = %ls",
    false,
    true,
    true,
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

const RunLines& LinesOf(PluginDirection direction) {
  return direction == PluginDirection::kRegister ? kRegisterLines : kUnregisterLines;
}

// Fills `table` from the values of `keyPath`. Problems are logged and the
// declarations that can be read are kept.
void ReadCommandTable(LogSink* sink, const std::wstring& keyPath, const wchar_t* cantOpen,
                      const DeclarationValueRules& rules, PluginCommandTable& table) {
  ScopedRegKey key;
  if (!OpenDeclarations(sink, keyPath, cantOpen, key)) return;
  ReadDeclarationValues(sink, key, rules, [&](const std::wstring& name, const std::wstring& commandLine) {
    table[name] = commandLine;
    return Taken::kTaken;
  });
}

}  // namespace

void PluginRegistrations::Read(LogSink* sink, const std::wstring& selfregsKey, const std::wstring& selfunregsKey) {
  ReadCommandTable(sink, selfregsKey, L"ReadSelfregs: can't open selfreg key: 0x%08x", kSelfregRules, selfregs_);
  ReadCommandTable(sink, selfunregsKey, L"ReadSelfUnregs: can't open selfunreg key: 0x%08x", kSelfUnregRules,
                   selfUnregs_);
}

bool PluginRegistrations::Run(LogSink* sink, ServiceLocator* locator, const std::wstring& commandLine,
                              PluginDirection direction) const {
  const RunLines& lines = LinesOf(direction);
  LogLine(sink, kLogInfo, lines.implEntry);
  LogLine(sink, kLogDetail, lines.executing, commandLine.c_str());
  std::uint32_t exitCode = 0;
  const LaunchResult launched = ProcessLauncher(locator, sink).Run(commandLine, exitCode);
  LogLine(sink, kLogInfo, lines.outcome, static_cast<int>(launched), static_cast<int>(exitCode));
  return launched == LaunchResult::kCompleted && exitCode == 0;
}

void PluginRegistrations::Apply(LogSink* sink, ServiceLocator* locator, const Requests& plan,
                                PluginDirection direction) const {
  const RunLines& lines = LinesOf(direction);
  LogLine(sink, kLogInfo, lines.entry);
  for (const Request& request : plan) {
    const std::wstring& commandLine = Commands(direction).at(request.declaration);
    LogLine(sink, kLogInfo, lines.requested, request.declaration.c_str(), request.feature.c_str());
    if (!Run(sink, locator, commandLine, direction)) LogLine(sink, kLogError, lines.failed, commandLine.c_str());
  }
}

}  // namespace qvr
