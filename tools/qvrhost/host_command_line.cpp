#include "tools/qvrhost/host_command_line.h"

#include <array>
#include <string_view>

namespace qvrhost {
namespace {

enum class Arguments { None, Number, Text, Names };

struct Subcommand {
  std::wstring_view name;
  Operation operation;
  Arguments arguments;
  std::wstring_view argumentName;
};

constexpr std::array<Subcommand, 12> kSubcommands{{
    {L"initialize", Operation::Initialize, Arguments::None, L""},
    {L"switch", Operation::SwitchProductType, Arguments::None, L""},
    {L"activate", Operation::ActivateProduct, Arguments::Number, L"MODE"},
    {L"deactivate", Operation::DeactivateCurrentType, Arguments::None, L""},
    {L"remove-shortcuts", Operation::RemoveProductShortcuts, Arguments::None, L""},
    {L"icons", Operation::ChangeProductIcons, Arguments::Text, L"VARIANT"},
    {L"check-apps", Operation::CheckForApplicationsToRemove, Arguments::Number, L"FILTER"},
    {L"remove-apps", Operation::RemoveApplications, Arguments::Names, L""},
    {L"always-succeeds", Operation::AlwaysSucceeds, Arguments::None, L""},
    {L"lint", Operation::Lint, Arguments::None, L""},
    {L"plan", Operation::Plan, Arguments::Text, L"TYPE"},
    {L"explain", Operation::Explain, Arguments::Text, L"LOG"},
}};

constexpr std::wstring_view kProductTypeOption = L"--product-type";
constexpr std::wstring_view kWaiverLogOption = L"--waiver-log";

ParsedCommandLine UsageError(std::wstring error) {
  ParsedCommandLine parsed;
  parsed.outcome = ParsedCommandLine::Outcome::UsageError;
  parsed.error = std::move(error);
  return parsed;
}

const Subcommand* FindSubcommand(const std::wstring& name) {
  for (const Subcommand& subcommand : kSubcommands)
    if (subcommand.name == name) return &subcommand;
  return nullptr;
}

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Whether arguments[i] is the value option `option`, "--name VALUE" or
// "--name=VALUE"; takes its value (advancing i past a separate one) or sets
// `error` when the value is missing or the option is given twice.
bool TakeValueOption(std::wstring_view option, const std::vector<std::wstring>& arguments, std::size_t& i,
                     std::optional<std::wstring>& value, std::wstring& error) {
  const std::wstring& argument = arguments[i];
  const std::wstring name(option);
  if (argument != name && !argument.starts_with(name + L"=")) return false;
  if (value) {
    error = name + L" given twice";
  } else if (argument.size() > name.size()) {
    value = argument.substr(name.size() + 1);
  } else if (i + 1 == arguments.size()) {
    error = name + L" needs a value";
  } else {
    value = arguments[++i];
  }
  return true;
}

}  // namespace

bool ParseUnsigned32(const std::wstring& text, std::uint32_t& value) {
  std::size_t position = 0;
  std::uint64_t base = 10;
  if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
    base = 16;
    position = 2;
  }
  if (position == text.size()) return false;
  std::uint64_t result = 0;
  for (; position < text.size(); ++position) {
    const int digit = HexDigit(text[position]);
    if (digit < 0 || static_cast<std::uint64_t>(digit) >= base) return false;
    result = result * base + static_cast<std::uint64_t>(digit);
    if (result > 0xFFFFFFFFu) return false;
  }
  value = static_cast<std::uint32_t>(result);
  return true;
}

ParsedCommandLine ParseHostCommandLine(const std::vector<std::wstring>& arguments) {
  std::optional<std::wstring> productType;
  std::optional<std::wstring> waiverLog;
  std::vector<std::wstring> words;
  bool profiles = false;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    if (optionsEnded || argument.size() < 2 || argument.compare(0, 2, L"--") != 0) {
      if (!optionsEnded && (argument == L"-h" || argument == L"/?")) return {ParsedCommandLine::Outcome::Help, {}, {}};
      words.push_back(argument);
      continue;
    }
    if (argument == L"--") {
      optionsEnded = true;
    } else if (argument == L"--help") {
      return {ParsedCommandLine::Outcome::Help, {}, {}};
    } else if (argument == L"--profiles") {
      profiles = true;
    } else if (std::wstring error; TakeValueOption(kProductTypeOption, arguments, i, productType, error) ||
                                   TakeValueOption(kWaiverLogOption, arguments, i, waiverLog, error)) {
      if (!error.empty()) return UsageError(error);
    } else {
      return UsageError(L"unknown option '" + argument + L"'");
    }
  }

  if (words.empty()) return UsageError(L"no command given");
  const Subcommand* subcommand = FindSubcommand(words[0]);
  if (!subcommand) return UsageError(L"unknown command '" + words[0] + L"'");

  ParsedCommandLine parsed;
  parsed.outcome = ParsedCommandLine::Outcome::Run;
  HostCommand& command = parsed.command;
  command.operation = subcommand->operation;
  command.productType = std::move(productType);
  command.waiverLog = std::move(waiverLog);
  command.profiles = profiles;
  const std::wstring name(subcommand->name);
  const std::size_t given = words.size() - 1;
  switch (subcommand->arguments) {
    case Arguments::None:
      if (given != 0) return UsageError(name + L" takes no arguments");
      break;
    case Arguments::Number:
    case Arguments::Text:
      if (given != 1) return UsageError(name + L" needs one argument, " + std::wstring(subcommand->argumentName));
      if (subcommand->arguments == Arguments::Text) {
        command.text = words[1];
      } else if (!ParseUnsigned32(words[1], command.number)) {
        return UsageError(std::wstring(subcommand->argumentName) + L" must be a 32-bit number (decimal or 0x hex): '" +
                          words[1] + L"'");
      }
      break;
    case Arguments::Names:
      command.names.assign(words.begin() + 1, words.end());
      break;
  }
  return parsed;
}

const wchar_t* HostUsageText() {
  return LR"(Usage: qvrhost [--product-type TYPE] COMMAND [ARGUMENTS]

Drives the installer object of qvrinst.dll, loaded from this program's folder,
through its versioned interface (version 3), as the product's setup does.
Every command but the tools initializes the object first, with TYPE as the
target product type when given (otherwise the product type stored in the
registry is kept), then runs its one operation. The object's log lines are printed to standard
output as "[LEVEL] text" (0 detail, 1 information, 3 error); a record of
several lines continues on lines indented by four blanks.

Commands:
  initialize             Initialize only
  switch                 SwitchProductType: the full switch to the target type
  activate MODE          ActivateProduct; MODE (decimal or 0x hex) is a sum of
                         1 plugins, 2 registry values and environment,
                         4 shortcuts, 8 protocol handlers, 16 profiles,
                         32 environment only
  deactivate             DeactivateCurrentType
  remove-shortcuts       RemoveProductShortcuts
  icons VARIANT          ChangeProductIcons for VARIANT
  check-apps FILTER      CheckForApplicationsToRemove; FILTER 0 detect only,
                         1 safe uninstall, 2 custom uninstall; prints the names
                         of the applications found
  remove-apps [NAME...]  RemoveApplications of the named applications, or of
                         every detected one when no name is given; prints the
                         names of the applications removed
  always-succeeds        AlwaysSucceeds

Tools for setup engineers (they write nothing):
  lint                   reads the declarations as Initialize does and lists
                         each one the module would skip or reject, and why
                         (wrong value types, names over 255 characters,
                         references to undeclared profiles, flags,
                         self-registrations or drivers, product types that no
                         feature declares: the stored one and TYPE of
                         --product-type), then whether Initialize succeeds
  plan TYPE              prints, in order, each change a switch from the
                         stored product type to TYPE would make (profiles,
                         flags, plugins run, protocol keys, drivers,
                         environment values)
  explain LOG            reads a verbose installer log (msiexec /l*v) and
                         prints each of the module's actions with its result,
                         and for a failed one its error lines and the
                         framework's failed-check records

Options:
  --product-type TYPE    target product type for Initialize (may be empty);
                         also --product-type=TYPE
  --waiver-log FILE      hand the object a service locator whose waiver
                         service grants every waiver asked for and appends
                         "grant PID" to FILE for each; without it the object
                         gets no service locator
  --profiles             build the product's profile store from its
                         profiles.xml with the product's framework (vtcore.dll),
                         as MsiProductActivate does, and hand it to Initialize;
                         without it the object gets no profile store
  --help                 show this text
  --                     the words that follow are not options

Exit status: 0 when the operation returned true, 1 when it returned false or
the module could not be used, 2 for a usage error. lint: 1 when it lists
anything or Initialize fails; plan: 1 when the product's keys are unknown;
explain: 1 when an action of the module failed or did not end, or the log
cannot be read.
)";
}

}  // namespace qvrhost
