// The module's actions in a verbose Windows Installer log: the lines between
// each action's start and end records, and how it ended.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvrhost {

struct ActionLine {
  std::size_t number;  // 1-based line of the log
  std::wstring text;   // without the module's time-stamp prefix
  bool prefixed;       // it had the prefix: the action's own line or a framework record
};

struct ModuleAction {
  std::wstring name;  // MsiProductActivate, MsiProductRbActivate or MsiProductDeactivate
  std::size_t startLine = 0;
  std::optional<int> returnValue;  // none: the log has no end record for it
  std::vector<ActionLine> lines;
};

// The log's text: UTF-16LE behind its byte-order mark, otherwise UTF-8 (a
// mark is dropped, each invalid sequence becomes U+FFFD).
std::wstring DecodeLogText(std::string_view bytes);

// Every run of the module's custom actions, in the order of the log. A start
// record of a module action before the end of the previous one ends that one
// without an end record.
std::vector<ModuleAction> ReadModuleActions(std::wstring_view log);

}  // namespace qvrhost
