// The fixed source positions of the module's failed-check records. Catch
// sites, logs and the people who read them know these failures by their
// position, so it is stated here once and does not follow the lines of the
// code that raises them.
#pragma once

#include <cstddef>

#include "component/oxa/exception/exception.h"

namespace oxa {

struct SourcePosition {
  const char* file;
  int line;
};

enum class CheckSite : std::size_t {
  kProductInfoNoLibrary,     // product_info.dll did not load
  kProductInfoNoExport,      // it has no GetProductVersionInfo2
  kProductInfoExportFailed,  // GetProductVersionInfo2 failed
  kProductInfoLoadFailed,    // the loader of checked modules could not load it
  kRuntimeLoadFailed,        // the product's ucrtbase.dll did not load
  kThreadUserRoot,           // no thread token for the classes root of the thread's user
  kFolderLookup,             // SHGetFolderPathW failed
  kCurrentDirectory,         // the current directory could not be read
  kProfileListOpen,          // the ProfileList key did not open
  kProfileOpen,              // one profile's subkey did not open
  kProfileAccountType,       // one profile's account type is unknown
  kProfileImagePath,         // one profile's ProfileImagePath cannot be read
  kProfilesList,             // the profiles of the user-hive walk cannot be listed
  kProductInfoBadSignature,  // product_info.dll carries no valid product signature
  kQsigKeysModule,           // the module's own handle for its key resources
  kQsigKeysResource,         // a QSIG_KEY resource is missing or empty
  kPxsInitialize,            // the PXS library did not initialise
  kPxsReadFile,              // the file to check could not be read
  kPxsRootKey,               // the product certificate did not load (key resource 704)
  kPxsRootContext,           // the PXS library refused the certificate as its root
  kQsigFileSize,             // the size of the file to check
  kQsigFileSizeRange,        // the file is empty or too big
  kQsigReadFile,             // the file to check could not be read
  kQsigLibrary,              // the QSIG library did not initialise
  kQsigList,                 // no QSIG parameter list
  kQsigRegistries,           // the QSIG library refused the root keys
  kQsigListReset,            // the parameter list could not be reset
  kQsigPrepareTarget,        // the file could not be made the check's target
  kQsigHashingProp,          // the hashing property was refused
  kQsigCheck,                // the file's QSIG signature did not verify
  kCount,
};

inline constexpr SourcePosition kCheckSitePositions[] = {
    {"platform/product_info/product_info", 209},      {"platform/product_info/product_info", 799},
    {"platform/product_info/product_info", 800},      {"Custom_Actions/COMMON/signature", 206},
    {"Custom_Actions/COMMON/vantor_tm_profiles", 41}, {"platform/util/reg_utils", 468},
    {"platform/util/windows/filesystem", 183},        {"component/oxa/system/file/detail/filesystem_impl", 233},
    {"Custom_Actions/COMMON/reg_users_action", 94},   {"Custom_Actions/COMMON/reg_users_action", 102},
    {"Custom_Actions/COMMON/reg_users_action", 106},  {"Custom_Actions/COMMON/reg_users_action", 116},
    {"Custom_Actions/COMMON/reg_users_action", 134},  {"Custom_Actions/COMMON/product_info_checked", 29},
    {"Custom_Actions/COMMON/signature", 46},          {"Custom_Actions/COMMON/signature", 51},
    {"Custom_Actions/COMMON/signature", 131},         {"Custom_Actions/COMMON/signature", 135},
    {"Custom_Actions/COMMON/signature", 139},         {"Custom_Actions/COMMON/signature", 141},
    {"signcheck_lib/check_qsig_signature", 116},      {"signcheck_lib/check_qsig_signature", 118},
    {"signcheck_lib/check_qsig_signature", 171},      {"signcheck_lib/check_qsig_signature", 179},
    {"signcheck_lib/check_qsig_signature", 182},      {"signcheck_lib/check_qsig_signature", 188},
    {"signcheck_lib/check_qsig_signature", 189},      {"signcheck_lib/check_qsig_signature", 196},
    {"signcheck_lib/check_qsig_signature", 203},      {"signcheck_lib/check_qsig_signature", 207},
};
static_assert(sizeof(kCheckSitePositions) / sizeof(kCheckSitePositions[0]) ==
              static_cast<std::size_t>(CheckSite::kCount));

constexpr SourcePosition PositionOf(CheckSite site) { return kCheckSitePositions[static_cast<std::size_t>(site)]; }

[[noreturn]] inline void ThrowCheckResultFailed(ResultCode code, CheckSite site) {
  ThrowCheckResultFailed(code, PositionOf(site).file, PositionOf(site).line);
}
[[noreturn]] inline void ThrowCheckFailed(CheckSite site) {
  ThrowCheckFailed(PositionOf(site).file, PositionOf(site).line);
}
[[noreturn]] inline void ThrowResultWithStack(ResultCode code, CheckSite site) {
  ThrowResultWithStack(code, PositionOf(site).file, PositionOf(site).line);
}

}  // namespace oxa
