#include "tools/qvrhost/declaration_snapshot.h"

#include <windows.h>

#include "platform/util/scoped_reg_key.h"

namespace qvrhost {
namespace {

// The registry's limit for value and key names: longer ones than the
// readers take are still seen.
constexpr DWORD kAnyNameChars = 16384;

// The key's paths in CommonRegKeys may end in a separator.
std::wstring KeyPath(std::wstring path) {
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

}  // namespace

StoredKey ReadStoredKey(const std::wstring& path) {
  StoredKey stored;
  qvr::ScopedRegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, KeyPath(path).c_str(), KEY_READ) != ERROR_SUCCESS) return stored;
  stored.present = true;
  key.VisitValueNames(
      kAnyNameChars,
      [&](const std::wstring& name) {
        StoredValue value{name, kRegNone, 0, {}};
        DWORD type = REG_NONE;
        DWORD bytes = 0;
        if (key.QueryValueInfo(name.c_str(), type, bytes) != ERROR_SUCCESS) return true;
        value.type = type;
        value.bytes = bytes;
        if (type == REG_SZ || type == REG_EXPAND_SZ)
          key.ReadString(name.c_str(), qvr::StringPolicy::kSzOrExpandSz, value.text);
        stored.values.push_back(std::move(value));
        return true;
      },
      qvr::StopAtEnumError);
  key.VisitSubKeyNames(
      kAnyNameChars,
      [&](const std::wstring& name) {
        stored.subKeys.push_back(name);
        return true;
      },
      qvr::StopAtEnumError);
  return stored;
}

namespace {

std::map<std::wstring, StoredKey> ReadSubKeys(const std::wstring& path, const StoredKey& parent) {
  std::map<std::wstring, StoredKey> keys;
  for (const std::wstring& name : parent.subKeys) keys[name] = ReadStoredKey(KeyPath(path) + L"\\" + name);
  return keys;
}

}  // namespace

DeclarationSnapshot ReadDeclarationSnapshot(const qvr::CommonRegKeys& keys) {
  DeclarationSnapshot snapshot;
  snapshot.profiles = ReadStoredKey(keys[qvr::kProfilesKey]);
  snapshot.registry = ReadStoredKey(keys[qvr::kRegistryDeclarationsKey]);
  snapshot.selfregs = ReadStoredKey(keys[qvr::kSelfregsKey]);
  snapshot.selfunregs = ReadStoredKey(keys[qvr::kSelfunregsKey]);
  snapshot.drivers = ReadStoredKey(keys[qvr::kDriversKey]);
  snapshot.features = ReadStoredKey(keys[qvr::kFeaturesKey]);
  snapshot.featureKeys = ReadSubKeys(keys[qvr::kFeaturesKey], snapshot.features);
  snapshot.protoHandlers = ReadStoredKey(keys[qvr::kProtoHandlersKey]);
  snapshot.protoHandlerKeys = ReadSubKeys(keys[qvr::kProtoHandlersKey], snapshot.protoHandlers);
  snapshot.environments = ReadStoredKey(keys[qvr::kInstallerEnvironmentKey]);
  return snapshot;
}

}  // namespace qvrhost
