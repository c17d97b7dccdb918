#include "companions/cleanapi/cleanapi_database.h"

#include <gtest/gtest.h>

#include <string_view>
#include <utility>

namespace {

using cleanapi::Application;
using cleanapi::DatabaseEntry;
using cleanapi::ReadCatalog;

// A broken entry is skipped up to the next '[' line, where "ok" is read; a
// broken file is skipped whole. Rows: the text before "ok", the last trace line.
TEST(CleanapiDatabase, SkipsBrokenEntriesAndFiles) {
  const std::string a = "[application a]\n";
  const std::pair<std::string, std::string_view> rows[] = {
      {a + "size=3\ncategory=1", "db:2: entry 'a' skipped: unknown key 'size'"},
      {a + "category=3", "db:2: entry 'a' skipped: bad category '3'"},
      {a + "file=C:\\a", "db:1: entry 'a' skipped: no category"},
      {a + "category=0", "db:1: entry 'a' skipped: nothing to detect it by"},
      {a + "category=0\nfile=C:\\a\nremove=delete", "db:1: entry 'a' skipped: a removal for a detect-only application"},
      {a + "category=2\nfile=C:\\a", "db:1: entry 'a' skipped: no removal"},
      {a + "category=1\nfile=C:\\a\nremove=uninstaller", "db:1: entry 'a' skipped: an uninstaller without a key"},
      {a + "category=1\nuninstall=A\nremove=uninstaller\ndelete=C:\\a",
       "db:1: entry 'a' skipped: 'delete' without remove=delete"},
      {a + "category=1\nfile=C:\\a\nremove=delete", "db:1: entry 'a' skipped: nothing to delete"},
      {a + "category=1\ncategory=1", "db:3: entry 'a' skipped: 'category' given twice"},
      {a + "category", "db:2: entry 'a' skipped: a line without '='"},
      {a + "name= \t", "db:2: entry 'a' skipped: empty value of 'name'"},
      {a + "name=a\x01z", "db:2: entry 'a' skipped: control character in 'name'"},
      {a + "uninstall=A\\B", "db:2: entry 'a' skipped: bad uninstall key name 'A\\B'"},
      {a + "delete=a.exe", "db:2: entry 'a' skipped: 'delete' is not an absolute path"},
      {a + "remove=wipe", "db:2: entry 'a' skipped: bad removal 'wipe'"},
      {"[app a]\ncategory=0\nfile=C:\\a", "db:1: entry skipped: not an [application NAME] line"},
      {"[application \t]", "db:1: entry skipped: no name"},
      {"category=0", "database db skipped: line 1 is outside an entry"},
      {"[application \xC0\xAF]", "database db skipped: not UTF-8 text"},
  };
  for (const auto& [text, line] : rows) {
    const std::string content = text + "\n[application ok]\ncategory=0\nfile=\\\\server\\ok\n";
    const DatabaseEntry file{"db", content.c_str()};
    const cleanapi::Catalog catalog = ReadCatalog({&file, 1});
    const bool fileSkipped = line.starts_with("database db skipped");
    EXPECT_EQ(catalog.applications.size(), fileSkipped ? 0u : 1u) << text;
    ASSERT_FALSE(catalog.lines.empty());
    EXPECT_EQ(catalog.lines.back(), line) << text;
  }
}

// A byte order mark, comments, CR LF and blanks around keys and values; a
// file without a name; a name read before, in an earlier file.
TEST(CleanapiDatabase, ReadsEveryApplicationOnce) {
  const char* first =
      "\xEF\xBB\xBF# c\r\n ; c\r\n\r\n [application  a b ] \r\n name = A B \r\ncategory=2\r\n"
      "uninstall={X}\r\nremove=delete\r\ndelete=C:\\1\r\n\tdelete=\\\\s\\2";
  const DatabaseEntry table[] = {{"one", first}, {nullptr, "x"}, {"two", "[application a b]\ncategory=0\nfile=C:\\f"}};
  const cleanapi::Catalog catalog = ReadCatalog(table);
  const Application expected{"a b", "A B", 2, "{X}", "", cleanapi::Removal::kDelete, {"C:\\1", "\\\\s\\2"}};
  EXPECT_EQ(catalog.applications, std::vector{expected});
  EXPECT_EQ(catalog.lines,
            (std::vector<std::string>{"database one: 1 application", "database file 2 skipped: no name or no content",
                                      "database two: 0 applications",
                                      "two:1: entry 'a b' skipped: an application of this name was read before"}));
}

}  // namespace
