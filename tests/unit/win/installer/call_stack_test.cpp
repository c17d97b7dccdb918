// Call stacks of framework exceptions show frames inside qvrinst.dll with
// the module's path, debug identity and offset: the host's sink, called from
// inside the module during Initialize, builds an exception there.
#include "component/oxa/exception/exception.h"
#include "component/oxa/exception/module_info_win.h"
#include "log/log_sink.h"
#include "tests/unit/win/installer/qvrinst_module.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>

namespace {

// Keeps the what() text of an exception built inside its first Write.
class StackProbeSink final : public qvr::LogSink {
 public:
  bool IsEnabled() override { return true; }
  void Write(int, const wchar_t*, ...) override {
    static constexpr char kMessage[] = "stack probe";
    if (text.empty())
      text = oxa::ResultCodeException(oxa::rc::Unexpected, __FILE__, __LINE__, kMessage, sizeof(kMessage) - 1).what();
  }
  std::string text;
};

TEST(CallStack, FramesInsideQvrinstPrintAsPathIdentityOffset) {
  installer_test::QvrinstModule module;
  qvr::VersionedInstaller* installer = nullptr;
  ASSERT_EQ(module.Factory()(3, &installer), 0);
  StackProbeSink sink;
  installer->Initialize(&sink, L"", nullptr);  // its first line reaches the sink
  installer->Release();
  oxa::ExceptionModule qvrinst;
  ASSERT_EQ(oxa::ReadModuleInfo(GetModuleHandleW(L"qvrinst.dll"), qvrinst), oxa::rc::Ok);

  std::istringstream lines(sink.text);
  std::string line;
  while (std::getline(lines, line) && line != "Call stack:") {
  }
  const std::regex frame(R"([ 0-9]{2}# (.+)!([0-9A-F]+)!([0-9a-f]+))");
  int inside = 0;
  for (std::smatch parts; std::getline(lines, line);) {
    if (!std::regex_match(line, parts, frame) || parts[1].str() != qvrinst.path.view()) continue;
    EXPECT_EQ(parts[2].str(), qvrinst.identity.view()) << line;
    EXPECT_LT(std::stoull(parts[3].str(), nullptr, 16), qvrinst.size) << line;
    ++inside;
  }
  EXPECT_GE(inside, 1) << sink.text;
}

}  // namespace
