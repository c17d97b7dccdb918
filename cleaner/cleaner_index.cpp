#include "cleaner/cleaner_index.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <regex>

namespace qvr {

IniSections ParseCleanerIni(std::string_view text) {
  IniSections sections;
  IniKeys* section = nullptr;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.size() < 2 || line.back() != ']') throw IniParseError("Bad section.");
      section = &sections[std::string(line.substr(1, line.size() - 2))];
      continue;
    }
    if (!section) throw IniParseError("Used a key without section.");
    const std::size_t equals = line.find('=');
    const std::string_view value = equals == std::string_view::npos ? std::string_view() : line.substr(equals + 1);
    (*section)[std::string(line.substr(0, equals))] = std::string(value);
  }
  return sections;
}

bool IsTrueIniValue(std::string_view value) {
  static constexpr std::array<std::string_view, 5> kTrue{"1", "on", "yes", "enable", "enabled"};
  return std::any_of(kTrue.begin(), kTrue.end(), [&](std::string_view candidate) {
    return candidate.size() == value.size() &&
           std::equal(candidate.begin(), candidate.end(), value.begin(), [](char expected, char actual) {
             return expected == std::tolower(static_cast<unsigned char>(actual));
           });
  });
}

bool NamesProductFamily(const std::string& productList) {
  static const std::regex kFamily(R"((^|,)\s*TRXMOR\s*(,|$))", std::regex::ECMAScript);
  return std::regex_search(productList, kFamily);
}

std::vector<std::string> SelectDatabaseFiles(const IniSections& sections,
                                             const std::vector<std::wstring>& filterNames) {
  std::vector<std::string> files;
  for (const auto& [name, keys] : sections) {
    const auto file = keys.find("file");
    if (file == keys.end()) continue;
    const auto product = keys.find("Product");
    if (product != keys.end() && !NamesProductFamily(product->second)) continue;
    for (const std::wstring& filterName : filterNames) {
      // The filter names are plain ASCII.
      const auto key = keys.find(std::string(filterName.begin(), filterName.end()));
      if (key != keys.end() && IsTrueIniValue(key->second)) {
        files.push_back(file->second);
        break;
      }
    }
  }
  return files;
}

}  // namespace qvr
