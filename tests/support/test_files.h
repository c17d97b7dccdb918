// Whole-file reads and writes for tests.
#pragma once

#include <string>
#include <string_view>

namespace qvrtest {

// The file's bytes, or "<cannot open>".
std::string ReadAll(const std::wstring& path);
// Creates or replaces the file with `content`; nothing when it cannot be opened.
void WriteAll(const std::wstring& path, std::string_view content);

}  // namespace qvrtest
