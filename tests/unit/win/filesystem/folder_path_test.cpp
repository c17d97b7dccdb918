#include "platform/util/windows/filesystem.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>

#include "component/oxa/exception/exception.h"

namespace {

TEST(GetFolderPath, CommonProgramsAndAFailingFolder) {
  const std::wstring programs = qvr::GetFolderPath(CSIDL_COMMON_PROGRAMS, nullptr);
  const std::wstring_view tail = L"\\Start Menu\\Programs";
  ASSERT_GT(programs.size(), tail.size());
  EXPECT_EQ(std::wstring_view(programs).substr(programs.size() - tail.size()), tail) << programs;
  EXPECT_EQ(programs.find(L'\0'), std::wstring::npos);

  try {
    qvr::GetFolderPath(0x7F, nullptr);
    ADD_FAILURE() << "no exception";
  } catch (const oxa::CheckFailedException& error) {
    EXPECT_STREQ(error.GetFile(), "platform/util/windows/filesystem");
    EXPECT_EQ(error.GetLine(), 183);
    EXPECT_TRUE(error.GetMessageText().empty());
  }
}

}  // namespace
