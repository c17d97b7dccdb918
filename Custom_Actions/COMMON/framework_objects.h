// The product's component framework (vtcore.dll, a separate component) as
// this module calls it. A framework object starts with the table of its own
// interface; one pointer past its start sits the framework's object table.
// The module calls both by position; every entry takes the object as its
// first argument and returns a 32-bit result, negative on failure.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qvr {

using FrameworkEntry = void (*)();
using FrameworkResult = std::int32_t;

struct FrameworkObject {
  const FrameworkEntry* ownTable;
  const FrameworkEntry* objectTable;
};

// The framework's identifiers for the settings store and its properties.
inline constexpr std::uint32_t kStoreInterfaceType = 13;
inline constexpr std::uint32_t kStorePlugin = 43003;
inline constexpr std::uint32_t kSourcePathProperty = 0x20900040;
inline constexpr std::uint32_t kUtf16CodePage = 1200;
inline constexpr std::uint32_t kFormatVersionProperty = 0x20601004;
inline constexpr std::uint32_t kReadOnlyProperty = 0x20601000;
inline constexpr std::uint32_t kPersistentProperty = 0x30601001;
inline constexpr std::uint32_t kAddDeclaredNodesProperty = 0x2040004A;

// Positions in the object table.
enum FrameworkObjectEntry : std::size_t {
  kSetDwordPropertyEntry = 7,
  kSetBoolPropertyEntry = 10,
  kCreateObjectEntry = 19,
  kCompleteCreationEntry = 20,
  kReleaseObjectEntry = 23,
  kSetStringPropertyEntry = 58,
};

using CreateObjectFn = FrameworkResult(__cdecl*)(FrameworkObject* root, FrameworkObject** created,
                                                 std::uint32_t interfaceType, std::uint32_t plugin,
                                                 std::uint32_t reserved);
using SetStringPropertyFn = FrameworkResult(__cdecl*)(FrameworkObject* object, std::uint32_t* bytesTaken,
                                                      std::uint32_t property, const void* text, std::uint32_t size,
                                                      std::uint32_t codePage);
using SetDwordPropertyFn = FrameworkResult(__cdecl*)(FrameworkObject* object, std::uint32_t property,
                                                     std::uint32_t value);
using SetBoolPropertyFn = FrameworkResult(__cdecl*)(FrameworkObject* object, std::uint32_t property,
                                                    std::int32_t value);
using CompleteCreationFn = FrameworkResult(__cdecl*)(FrameworkObject* object);
using ReleaseObjectFn = FrameworkResult(__cdecl*)(FrameworkObject* object);

template <typename Function>
Function ObjectEntry(const FrameworkObject* object, FrameworkObjectEntry position) {
  return reinterpret_cast<Function>(object->objectTable[position]);
}

// vtcore.dll's exports.
using VantorLoadFn = FrameworkResult(__cdecl*)(FrameworkObject** root, std::uint32_t version, std::uint32_t flags,
                                               void* reserved1, void* reserved2);
using VantorUnloadFn = FrameworkResult(__cdecl*)(FrameworkObject* root);

// The settings store built from profiles.xml (the profile store): its own
// table holds the store's functions; node handles are 32-bit, 0 the root.
struct ProfileStore : FrameworkObject {};
using StoreHandle = std::uint32_t;

enum ProfileStoreEntry : std::size_t {
  kStoreOpenEntry = 1,
  kStoreCloseEntry = 4,
  kStoreSetValueEntry = 10,
  kStoreDeleteValueEntry = 16,
};

// flags 1: create missing nodes.
using StoreOpenFn = FrameworkResult(__cdecl*)(ProfileStore* store, StoreHandle* handle, StoreHandle parent,
                                              const char* path, std::uint32_t flags);
using StoreCloseFn = FrameworkResult(__cdecl*)(ProfileStore* store, StoreHandle handle);
// flags 1: create the value when missing.
using StoreSetValueFn = FrameworkResult(__cdecl*)(ProfileStore* store, StoreHandle handle, const char* name,
                                                  std::uint32_t type, const void* data, std::uint32_t size,
                                                  std::uint32_t flags);
using StoreDeleteValueFn = FrameworkResult(__cdecl*)(ProfileStore* store, StoreHandle handle, const char* name);

// DeleteValue's answer for a value that does not exist.
inline constexpr FrameworkResult kStoreValueNotFound = static_cast<FrameworkResult>(0x8000D002u);

template <typename Function>
Function StoreEntry(const ProfileStore* store, ProfileStoreEntry position) {
  return reinterpret_cast<Function>(store->ownTable[position]);
}

// The layout shared with the 32-bit framework.
static_assert(sizeof(void*) != 4 || sizeof(FrameworkEntry) == 4);
static_assert(sizeof(void*) != 4 || sizeof(FrameworkObject) == 8);
static_assert(offsetof(FrameworkObject, objectTable) == sizeof(void*));
static_assert(sizeof(ProfileStore) == sizeof(FrameworkObject));
static_assert(sizeof(StoreHandle) == 4 && sizeof(FrameworkResult) == 4);

}  // namespace qvr
