#include "companions/cleanapi/cleanapi_database.h"

#include <cstddef>
#include <cstring>
#include <functional>
#include <optional>
#include <set>

#include "component/oxa/text/utf.h"

namespace cleanapi {
namespace {

constexpr std::size_t kMaxNameBytes = 255;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kHeaderWord = "application";

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool HasControlCharacter(std::string_view text) {
  for (const unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

bool IsAbsolutePath(std::string_view path) {
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  const bool drive = path.size() >= 3 && letter(path[0]) && path[1] == ':' && path[2] == '\\';
  const bool unc = path.size() > 2 && path.starts_with("\\\\");
  return drive || unc;
}

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// The entry being read: what it says so far, or why it is skipped.
struct PendingEntry {
  std::size_t line = 0;  // of the problem, else of the header
  Application application;
  std::set<std::string, std::less<>> keys;
  std::string problem;
};

// The problem of one `key=value` line of an entry; empty when it is fine.
std::string ApplyKey(PendingEntry& entry, std::string_view key, std::string_view value) {
  Application& app = entry.application;
  if (value.empty()) return "empty value of " + Quoted(key);
  if (HasControlCharacter(value)) return "control character in " + Quoted(key);
  if (key != "delete" && !entry.keys.emplace(key).second) return Quoted(key) + " given twice";
  if (key == "name") {
    app.displayName = value;
  } else if (key == "category") {
    if (value.size() != 1 || value[0] < '0' || value[0] > '2') return "bad category " + Quoted(value);
    app.category = static_cast<std::uint32_t>(value[0] - '0');
  } else if (key == "uninstall") {
    if (value.find('\\') != std::string_view::npos || value.size() > kMaxNameBytes)
      return "bad uninstall key name " + Quoted(value);
    app.uninstallKey = value;
  } else if (key == "file" || key == "delete") {
    if (!IsAbsolutePath(value)) return Quoted(key) + " is not an absolute path";
    if (key == "file")
      app.file = value;
    else
      app.deletePaths.emplace_back(value);
  } else if (key == "remove") {
    if (value == "uninstaller")
      app.removal = Removal::kUninstaller;
    else if (value == "delete")
      app.removal = Removal::kDelete;
    else
      return "bad removal " + Quoted(value);
  } else {
    return "unknown key " + Quoted(key);
  }
  return {};
}

// Why an entry read to its end is not usable; empty when it is.
std::string CheckEntry(const PendingEntry& entry) {
  const Application& app = entry.application;
  if (!entry.keys.contains("category")) return "no category";
  if (app.uninstallKey.empty() && app.file.empty()) return "nothing to detect it by";
  if (app.category == 0 && app.removal != Removal::kNone) return "a removal for a detect-only application";
  if (app.category != 0 && app.removal == Removal::kNone) return "no removal";
  if (app.removal == Removal::kUninstaller && app.uninstallKey.empty()) return "an uninstaller without a key";
  if (!app.deletePaths.empty() && app.removal != Removal::kDelete) return "'delete' without remove=delete";
  if (app.removal == Removal::kDelete && app.uninstallKey.empty() && app.deletePaths.empty())
    return "nothing to delete";
  return {};
}

// Starts an entry at a line that begins with '[' (already trimmed).
PendingEntry StartEntry(std::size_t line, std::string_view header) {
  PendingEntry entry;
  entry.line = line;
  std::string_view inner = header.substr(1);
  const bool closed = inner.ends_with(']');
  if (closed) inner.remove_suffix(1);
  const bool word =
      inner.starts_with(kHeaderWord) &&
      (inner.size() == kHeaderWord.size() || inner[kHeaderWord.size()] == ' ' || inner[kHeaderWord.size()] == '\t');
  const std::string_view name = word ? Trim(inner.substr(kHeaderWord.size())) : std::string_view();
  if (!closed || !word) {
    entry.problem = "not an [application NAME] line";
  } else if (name.empty()) {
    entry.problem = "no name";
  } else if (name.size() > kMaxNameBytes || HasControlCharacter(name)) {
    entry.problem = "bad name";
  } else {
    entry.application.name = name;
    entry.application.displayName = name;
  }
  return entry;
}

class FileReader {
 public:
  FileReader(std::string_view fileName, std::set<std::string, std::less<>>& names, Catalog& catalog)
      : fileName_(fileName), names_(names), catalog_(catalog) {}

  void Read(std::string_view content) {
    const std::size_t fileLine = catalog_.lines.size();
    const std::size_t firstApplication = catalog_.applications.size();
    std::size_t units = 0;
    if (OXA_FAILED(oxa::Utf8ToUtf16(content, nullptr, 0, units))) return SkipFile("not UTF-8 text");
    if (content.starts_with(kByteOrderMark)) content.remove_prefix(kByteOrderMark.size());
    for (std::size_t number = 1; !content.empty(); ++number) {
      const std::size_t end = content.find('\n');
      std::string_view line = content.substr(0, end);
      content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
      if (line.ends_with('\r')) line.remove_suffix(1);
      const std::string_view text = Trim(line);
      if (text.empty() || text[0] == '#' || text[0] == ';') continue;
      if (text[0] == '[') {
        Finish();
        entry_ = StartEntry(number, text);
        continue;
      }
      // Only before the first entry: after a header every line belongs to an entry.
      if (!entry_) return SkipFile("line " + std::to_string(number) + " is outside an entry");
      if (!entry_->problem.empty()) continue;
      const std::size_t equals = text.find('=');
      entry_->problem = equals == std::string_view::npos
                            ? "a line without '='"
                            : ApplyKey(*entry_, Trim(text.substr(0, equals)), Trim(text.substr(equals + 1)));
      if (!entry_->problem.empty()) entry_->line = number;
    }
    Finish();
    const std::size_t read = catalog_.applications.size() - firstApplication;
    catalog_.lines.insert(
        catalog_.lines.begin() + static_cast<std::ptrdiff_t>(fileLine),
        "database " + fileName_ + ": " + std::to_string(read) + (read == 1 ? " application" : " applications"));
  }

 private:
  void SkipFile(const std::string& why) { catalog_.lines.push_back("database " + fileName_ + " skipped: " + why); }

  void Finish() {
    if (!entry_) return;
    if (entry_->problem.empty()) entry_->problem = CheckEntry(*entry_);
    if (entry_->problem.empty() && names_.contains(entry_->application.name))
      entry_->problem = "an application of this name was read before";
    if (entry_->problem.empty()) {
      names_.insert(entry_->application.name);
      catalog_.applications.push_back(std::move(entry_->application));
    } else {
      const std::string& name = entry_->application.name;
      catalog_.lines.push_back(fileName_ + ":" + std::to_string(entry_->line) + ": entry " +
                               (name.empty() ? "" : Quoted(name) + " ") + "skipped: " + entry_->problem);
    }
    entry_.reset();
  }

  std::string fileName_;
  std::set<std::string, std::less<>>& names_;
  Catalog& catalog_;
  std::optional<PendingEntry> entry_;
};

}  // namespace

Catalog ReadCatalog(std::span<const DatabaseEntry> table) {
  Catalog catalog;
  std::set<std::string, std::less<>> names;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const DatabaseEntry& file = table[i];
    if (!file.fileName || !file.content) {
      catalog.lines.push_back("database file " + std::to_string(i + 1) + " skipped: no name or no content");
      continue;
    }
    FileReader(file.fileName, names, catalog).Read(std::string_view(file.content, std::strlen(file.content)));
  }
  return catalog;
}

}  // namespace cleanapi
