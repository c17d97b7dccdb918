// qvrhost: a console setup host that drives the installer object of
// qvrinst.dll one operation at a time. `qvrhost --help` lists the commands.
#include "Custom_Actions/COMMON/vantor_tm_profiles.h"
#include "Custom_Actions/qvrinst/vector_string_list.h"
#include "component/oxa/text/utf.h"
#include "tools/qvrhost/console.h"
#include "tools/qvrhost/host_command_line.h"
#include "tools/qvrhost/host_tools.h"
#include "tools/qvrhost/installer_module.h"
#include "tools/qvrhost/waiver_log_locator.h"

#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace qvrhost {
namespace {

constexpr int kExitTrue = 0;
constexpr int kExitFalse = 1;
constexpr int kExitUsage = 2;
constexpr std::uint32_t kInterfaceVersion = 3;

// Prints the names of a list the installer object returned.
void PrintNames(qvr::StringList& list) {
  for (std::uint32_t i = 0; i < list.Count(); ++i) WriteText(Stream::Out, std::wstring(list.Get(i)) + L"\n");
}

bool RunOperation(qvr::VersionedInstaller& installer, const HostCommand& command) {
  switch (command.operation) {
    case Operation::Initialize:
      break;  // done by the caller
    case Operation::SwitchProductType:
      return installer.SwitchProductType();
    case Operation::ActivateProduct:
      return installer.ActivateProduct(command.number);
    case Operation::DeactivateCurrentType:
      return installer.DeactivateCurrentType();
    case Operation::RemoveProductShortcuts:
      return installer.RemoveProductShortcuts();
    case Operation::ChangeProductIcons:
      return installer.ChangeProductIcons(command.text.c_str());
    case Operation::CheckForApplicationsToRemove: {
      qvr::StringList* detected = nullptr;
      const bool result = installer.CheckForApplicationsToRemove(command.number, &detected);
      const qvr::StringListPtr<> owned(detected);
      if (result && owned) PrintNames(*owned);
      return result;
    }
    case Operation::RemoveApplications: {
      // The object releases the list it is given and hands back the names it
      // removed; when it fails it leaves the list as it was. An empty list
      // asks for every detected application.
      qvr::StringList* list = new qvr::VectorStringList(command.names);
      const bool result = installer.RemoveApplications(0, &list);
      const qvr::StringListPtr<> owned(list);
      if (result && owned) PrintNames(*owned);
      return result;
    }
    case Operation::AlwaysSucceeds:
      return installer.AlwaysSucceeds();
    case Operation::Lint:
    case Operation::Plan:
    case Operation::Explain:
      break;  // not operations of the object: see Run
  }
  return false;
}

int Run(const HostCommand& command) {
  if (command.operation == Operation::Lint) return RunLint(command);
  if (command.operation == Operation::Plan) return RunPlan(command);
  if (command.operation == Operation::Explain) return RunExplain(command);
  const InstallerModule module;
  ConsoleLogSink sink;
  // Declared before the object, so that it outlives the object.
  std::optional<WaiverLogLocator> locator;
  if (command.waiverLog) locator.emplace(*command.waiverLog);
  // The store must outlive the object too. Its lines have no installer log.
  std::optional<qvr::VantorTmProfiles> profiles;
  if (command.profiles) {
    profiles.emplace(0);
    if (!profiles->Store()) WriteText(Stream::Err, L"qvrhost: no profile store could be built\n");
  }
  std::wstring error;
  const InstallerPtr installer = module.Create(kInterfaceVersion, error);
  if (!installer) {
    WriteText(Stream::Err, L"qvrhost: " + error + L"\n");
    return kExitFalse;
  }
  if (locator) installer->SetServiceLocator(&*locator);
  const bool initialized = installer->Initialize(&sink, command.productType ? command.productType->c_str() : nullptr,
                                                 profiles ? profiles->Store() : nullptr);
  if (command.operation == Operation::Initialize) return initialized ? kExitTrue : kExitFalse;
  // As the custom actions do, the operation runs on whatever was read.
  if (!initialized) WriteText(Stream::Err, L"qvrhost: Initialize returned false\n");
  return RunOperation(*installer, command) ? kExitTrue : kExitFalse;
}

}  // namespace
}  // namespace qvrhost

int wmain(int argc, wchar_t** argv) {
  using qvrhost::ParsedCommandLine;
  const ParsedCommandLine parsed =
      qvrhost::ParseHostCommandLine(std::vector<std::wstring>(argv + (argc > 0 ? 1 : 0), argv + argc));
  switch (parsed.outcome) {
    case ParsedCommandLine::Outcome::Help:
      qvrhost::WriteText(qvrhost::Stream::Out, qvrhost::HostUsageText());
      return qvrhost::kExitTrue;
    case ParsedCommandLine::Outcome::UsageError:
      qvrhost::WriteText(qvrhost::Stream::Err,
                         L"qvrhost: " + parsed.error + L"\nTry 'qvrhost --help' for the commands.\n");
      return qvrhost::kExitUsage;
    case ParsedCommandLine::Outcome::Run:
      break;
  }
  // The tools build their own tables: nothing of them may end the program
  // with an exception.
  try {
    return qvrhost::Run(parsed.command);
  } catch (const std::exception& error) {
    std::wstring text;
    oxa::Utf8ToUtf16(error.what(), text, oxa::InvalidText::Replace);
    qvrhost::WriteText(qvrhost::Stream::Err, L"qvrhost: unexpected exception: " + text + L"\n");
    return qvrhost::kExitFalse;
  }
}
