#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cleaner/cleaner_index.h"

// Every index parses or fails with IniParseError; a parsed index keeps no
// line end in a name or value, and each selected file is the `file` of some
// section.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const qvr::IniSections sections = qvr::ParseCleanerIni(text);
    for (const auto& [name, keys] : sections)
      for (const auto& [key, value] : keys)
        if (key.find('\n') != key.npos || value.find('\n') != value.npos) __builtin_trap();
    for (const std::string& file : qvr::SelectDatabaseFiles(sections, {L"Antivirus", L"OnlyDetectAV"})) {
      bool named = false;
      for (const auto& [name, keys] : sections) named = named || (keys.count("file") && keys.at("file") == file);
      if (!named) __builtin_trap();
    }
  } catch (const qvr::IniParseError&) {
  }
  return 0;
}
