#include "component/oxa/trace/msi_tracer.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <string_view>

#include "Custom_Actions/qvrinst/msi_log.h"
#include "component/oxa/text/utf.h"

namespace oxa {
namespace {

// Of the log writer's buffer, its prefix "MSI (X) (XX:XX) [\[]hh:mm:ss:mmm[\]]: "
// takes 38 characters; the text gets the rest, so the writer never cuts it
// inside an escape.
constexpr std::size_t kLogTextChars = qvr::kLogLineChars - 38;

bool IsHighSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// The engine's escape "[\x]" of a character it would otherwise interpret.
std::wstring_view TemplateEscape(wchar_t unit) {
  switch (unit) {
    case L'[': return L"[\\[]";
    case L']': return L"[\\]]";
    case L'{': return L"[\\{]";
    case L'}': return L"[\\}]";
    default: return {};
  }
}

// Copies `text` into `line` (room for `chars` with the terminator), writing
// brackets and braces as escapes: log lines are templates, and a record such
// as "[priv_adjust]\t..." would otherwise come out as the value of a
// property, "{{...}}" would vanish and "[~]" end the line. Cuts the text where
// it no longer fits, never inside an escape or a surrogate pair.
void EscapeTemplateText(std::wstring_view text, wchar_t* line, std::size_t chars) {
  std::size_t length = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const wchar_t unit = text[i];
    const std::wstring_view escape = TemplateEscape(unit);
    const std::wstring_view piece = escape.empty() ? std::wstring_view(&text[i], 1) : escape;
    const std::size_t needed = piece.size() + (IsHighSurrogate(unit) && i + 1 < text.size() ? 1 : 0);
    if (length + needed >= chars) break;
    piece.copy(line + length, piece.size());
    length += piece.size();
  }
  if (length > 0 && IsHighSurrogate(line[length - 1])) --length;
  line[length] = L'\0';
}

}  // namespace

std::uint32_t MsiTracer::AddRef() { return references_.fetch_add(1) + 1; }

std::uint32_t MsiTracer::Release() {
  const std::uint32_t count = references_.fetch_sub(1) - 1;
  if (count == 0) delete this;
  return count;
}

ResultCode MsiTracer::QueryInterface(std::uint32_t id, void** out) {
  if (!out) return rc::InvalidArgument;
  if (id != 0 && id != kTracerInterfaceId) return rc::InterfaceNotSupported;
  AddRef();
  *out = static_cast<ITracer*>(this);
  return rc::Ok;
}

ResultCode MsiTracer::AllocateBuffer(TraceLevel /*level*/, char** buffer, std::size_t size) {
  if (!buffer) return rc::InvalidArgument;
  // realloc with 0 bytes may free the block and answer null.
  void* grown = std::realloc(*buffer, size ? size : 1);
  if (!grown) {
    std::free(*buffer);
    *buffer = nullptr;
    return rc::OutOfMemory;
  }
  *buffer = static_cast<char*>(grown);
  return rc::Ok;
}

ResultCode MsiTracer::CommitBuffer(char* buffer, std::size_t size) {
  if (!buffer) return rc::InvalidArgument;
  // No line is longer than the log writer's buffer, so neither is needed here.
  wchar_t converted[qvr::kLogLineChars];
  std::size_t length = 0;
  Utf8ToUtf16(std::string_view(buffer, size), converted, qvr::kLogLineChars, length, InvalidText::Replace);
  std::free(buffer);
  wchar_t line[kLogTextChars];
  EscapeTemplateText(std::wstring_view(converted, std::min<std::size_t>(length, qvr::kLogLineChars)), line,
                     kLogTextChars);
  qvr::WriteLogLine(install_, L"%s", line);
  return rc::Ok;
}

ResultCode InstallSessionTracer(MSIHANDLE install) noexcept {
  if (!install) return rc::InvalidArgument;
  try {
    ReplaceCurrentTracer(new MsiTracer(install));
  } catch (const std::exception& error) {
    qvr::WriteLogLine(install, L"Create of tracer instance has failed, err %hs", error.what());
    return rc::UnspecifiedError;
  }
  return rc::Ok;
}

}  // namespace oxa
