#include "activators/declaration_table.h"

#include <type_traits>

#include "log/log_sink.h"

namespace qvr {

bool OpenDeclarations(LogSink* sink, const std::wstring& keyPath, const wchar_t* cantOpen, ScopedRegKey& key) {
  return CheckSuccess(sink, key.Open(HKEY_LOCAL_MACHINE, keyPath.c_str(), KEY_READ), cantOpen);
}

namespace {

// A value's data as its reader takes it, from the enumeration's own copy:
// no second call per declaration.
LONG DecodeValue(const DeclarationValueRules& rules, DWORD type, wchar_t* data, DWORD bytes, std::wstring& text) {
  std::size_t length = 0;
  const LONG decoded = ScopedRegKey::DecodeString(rules.policy, type, data, bytes, length);
  if (decoded == ERROR_SUCCESS) text.assign(data, length);
  return decoded;
}
LONG DecodeValue(const DeclarationValueRules&, DWORD type, wchar_t* data, DWORD bytes, DWORD& value) {
  return ScopedRegKey::DecodeDwordData(type, data, bytes, value);
}
bool IsEmpty(const std::wstring& text) { return text.empty(); }
bool IsEmpty(DWORD) { return false; }
const wchar_t* EntryArgument(const std::wstring& text) { return text.c_str(); }
DWORD EntryArgument(DWORD value) { return value; }

template <class Value>
bool ReadValues(LogSink* sink, const ScopedRegKey& key, const DeclarationValueRules& rules,
                const std::function<Taken(const std::wstring& name, Value value)>& take) {
  bool failed = false;
  const LONG walked = key.VisitValues(
      kDeclarationNameChars,
      [&](const std::wstring& name, DWORD type, wchar_t* data, DWORD bytes) {
        if (name.empty() && rules.skipDefaultValue) return true;
        std::remove_cv_t<std::remove_reference_t<Value>> value{};
        const LONG read = DecodeValue(rules, type, data, bytes, value);
        if (read != ERROR_SUCCESS || (rules.empty && IsEmpty(value))) {
          if (read != ERROR_SUCCESS)
            LogLine(sink, kLogError, rules.cantQuery, name.c_str(), static_cast<unsigned>(read));
          else
            LogLine(sink, kLogError, rules.empty, name.c_str());
          failed = rules.badValueFails;
          return !failed;
        }
        switch (take(name, value)) {
          case Taken::kTaken:
            LogLine(sink, kLogInfo, rules.entry, name.c_str(), EntryArgument(value));
            return true;
          case Taken::kSkipped:
            return true;
          case Taken::kFailed:
            failed = true;
            return false;
        }
        return true;
      },
      [&](LONG error) {
        LogLine(sink, kLogError, rules.cantEnum, static_cast<unsigned>(error));
        return error == ERROR_MORE_DATA && rules.skipOverlongNames;
      });
  return walked == ERROR_SUCCESS && !failed;
}

}  // namespace

bool ReadDeclarationValues(LogSink* sink, const ScopedRegKey& key, const DeclarationValueRules& rules,
                           const std::function<Taken(const std::wstring& name, const std::wstring& text)>& take) {
  return ReadValues<const std::wstring&>(sink, key, rules, take);
}

bool ReadDeclarationValues(LogSink* sink, const ScopedRegKey& key, const DeclarationValueRules& rules,
                           const std::function<Taken(const std::wstring& name, DWORD value)>& take) {
  return ReadValues<DWORD>(sink, key, rules, take);
}

bool ReadDeclarationSubKeys(LogSink* sink, const ScopedRegKey& key, DWORD nameChars, const wchar_t* cantEnum,
                            const std::function<Taken(const std::wstring& name)>& take) {
  bool failed = false;
  const LONG walked = key.VisitSubKeyNames(
      nameChars,
      [&](const std::wstring& name) {
        failed = take(name) == Taken::kFailed;
        return !failed;
      },
      [&](LONG error) {
        LogLine(sink, kLogError, cantEnum, static_cast<unsigned>(error));
        return false;
      });
  return walked == ERROR_SUCCESS && !failed;
}

}  // namespace qvr
