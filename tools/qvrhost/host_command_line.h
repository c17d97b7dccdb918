// Command line of qvrhost: one subcommand per operation of the installer
// object, with the target product type and a waiver log as options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qvrhost {

enum class Operation {
  Initialize,
  SwitchProductType,
  ActivateProduct,
  DeactivateCurrentType,
  RemoveProductShortcuts,
  ChangeProductIcons,
  CheckForApplicationsToRemove,
  RemoveApplications,
  AlwaysSucceeds,
  // The tools, which write nothing: the declarations checked, the changes of
  // a switch, a verbose installer log explained.
  Lint,
  Plan,
  Explain,
};

struct HostCommand {
  Operation operation = Operation::Initialize;
  // Passed to Initialize; none means null (the stored product type is kept).
  std::optional<std::wstring> productType;
  // With a file: a service locator is handed in whose waiver service appends
  // "grant <process id>" to it for each grant; none means no locator.
  std::optional<std::wstring> waiverLog;
  // Build the product's profile store from its profiles.xml, as
  // MsiProductActivate does, and hand it to Initialize; otherwise none.
  bool profiles = false;
  std::uint32_t number = 0;         // activate: mode; check-apps: filter
  std::wstring text;                // icons: variant; plan: type; explain: log file
  std::vector<std::wstring> names;  // remove-apps: names, none for all
};

struct ParsedCommandLine {
  enum class Outcome { Run, Help, UsageError };
  Outcome outcome = Outcome::UsageError;
  HostCommand command;
  std::wstring error;  // for UsageError
};

// `arguments` are the words after the program name.
ParsedCommandLine ParseHostCommandLine(const std::vector<std::wstring>& arguments);

// Decimal, or hexadecimal behind "0x"/"0X"; the whole text must be a number
// that fits in 32 bits (no sign, no blanks).
bool ParseUnsigned32(const std::wstring& text, std::uint32_t& value);

// The text of --help.
const wchar_t* HostUsageText();

}  // namespace qvrhost
