// The index of the cleaner's database, cleanapi.ini: its parser, and the
// choice of the database files that apply to the product's filter names and
// product family. No Win32 here.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qvr {

// A section's keys by name; names are compared exactly.
using IniKeys = std::map<std::string, std::string>;
// The sections by name, so that a walk visits them in name order.
using IniSections = std::map<std::string, IniKeys>;

// A malformed index; what() is "Bad section." or "Used a key without section.".
class IniParseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Lines end at "\n" (a "\r" before it belongs to the line end) and are taken
// as they stand, without trimming. Empty lines and lines starting with ";"
// are skipped; "[name]" starts a section; any other line is a key: the text
// before the first "=" is its name, the rest its value (none: empty). A
// repeated key keeps its last value; a repeated section adds to the first.
IniSections ParseCleanerIni(std::string_view text);

// "1", "on", "yes", "enable" or "enabled", in any letter case.
bool IsTrueIniValue(std::string_view value);

// Whether a Product list names the product family among its comma-separated
// tags (blanks around a tag allowed).
bool NamesProductFamily(const std::string& productList);

// The `file` of each section, in name order, that applies: a section with a
// `file`, whose `Product` (if any) names the family, and that holds some
// filter name as a key with a true value.
std::vector<std::string> SelectDatabaseFiles(const IniSections& sections, const std::vector<std::wstring>& filterNames);

}  // namespace qvr
