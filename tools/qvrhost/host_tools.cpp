#include "tools/qvrhost/host_tools.h"

#include <windows.h>

#include <string>

#include "Custom_Actions/qvrinst/installer.h"
#include "Custom_Actions/qvrinst/product_registry.h"
#include "component/oxa/system/unique_handle.h"
#include "tools/qvrhost/console.h"
#include "tools/qvrhost/declaration_snapshot.h"
#include "tools/qvrhost/error_formats.h"
#include "tools/qvrhost/log_explainer.h"
#include "tools/qvrhost/switch_plan.h"
#include "tools/qvrhost/verbose_log.h"

namespace qvrhost {
namespace {

constexpr int kExitClean = 0;
constexpr int kExitListed = 1;

void WriteLines(Stream stream, const std::wstring& head, const std::vector<std::wstring>& lines) {
  for (const std::wstring& line : lines) WriteText(stream, head + line + L"\n");
}

// Initialize as a host calls it, its level-3 lines kept. False, with a
// message, when the product's key paths are unknown: then nothing can be read.
bool InitializeQuietly(qvr::Installer& installer, ErrorCollectingSink& sink, const std::optional<std::wstring>& type,
                       bool& initialized) {
  initialized = installer.Initialize(&sink, type ? type->c_str() : nullptr, nullptr);
  if (installer.HasKeyPaths()) return true;
  WriteLines(Stream::Err, L"qvrhost: ", sink.Errors());
  WriteText(Stream::Err, L"qvrhost: the product's registry keys are unknown\n");
  return false;
}

bool ReadFileBytes(const std::wstring& path, std::string& bytes, DWORD& error) {
  const oxa::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.Get(), &size)) {
    error = GetLastError();
    return false;
  }
  bytes.resize(static_cast<std::size_t>(size.QuadPart));
  DWORD read = 0;
  if (!ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
    error = GetLastError();
    return false;
  }
  bytes.resize(read);
  return true;
}

}  // namespace

int RunLint(const HostCommand& command) {
  qvr::Installer installer;
  ErrorCollectingSink sink;
  bool initialized = false;
  if (!InitializeQuietly(installer, sink, command.productType, initialized)) return kExitListed;
  // Initialize stops at the first reader that fails; the features are read
  // on their own, so that their names can be checked all the same.
  qvr::FeatureMap features;
  qvr::ReadFeatures(nullptr, installer.Keys(), features);
  const std::vector<LintFinding> findings =
      LintDeclarations(ReadDeclarationSnapshot(installer.Keys()), features,
                       {installer.CurrentProductType(), command.productType.value_or(std::wstring())});
  for (const LintFinding& finding : findings)
    WriteText(Stream::Out, finding.declaration + L": " + finding.reason + L"\n");
  if (initialized) {
    WriteText(Stream::Out, L"Initialize: reads the declarations\n");
  } else {
    WriteText(Stream::Out, L"Initialize: fails\n");
    WriteLines(Stream::Out, L"Initialize: ", sink.Errors());
  }
  return findings.empty() && initialized ? kExitClean : kExitListed;
}

int RunPlan(const HostCommand& command) {
  qvr::Installer installer;
  ErrorCollectingSink sink;
  bool initialized = false;
  if (!InitializeQuietly(installer, sink, command.text, initialized)) return kExitListed;
  // As the host's switch does, the plan goes on with what was read.
  if (!initialized) {
    WriteText(Stream::Err, L"qvrhost: Initialize fails; the plan shows what was read\n");
    WriteLines(Stream::Err, L"qvrhost: ", sink.Errors());
  }
  WriteLines(Stream::Out, L"", SwitchPlan(installer).Lines());
  return kExitClean;
}

int RunExplain(const HostCommand& command) {
  std::string bytes;
  DWORD error = 0;
  if (!ReadFileBytes(command.text, bytes, error)) {
    WriteText(Stream::Err, L"qvrhost: cannot read " + command.text + L": error " + std::to_wstring(error) + L"\n");
    return kExitListed;
  }
  const Explanation explanation = ExplainActions(ReadModuleActions(DecodeLogText(bytes)), ModuleErrorFormats());
  WriteText(Stream::Out, explanation.text);
  return explanation.anyFailed ? kExitListed : kExitClean;
}

}  // namespace qvrhost
