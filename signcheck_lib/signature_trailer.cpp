#include "signcheck_lib/signature_trailer.h"

#include <algorithm>

namespace qvr {
namespace {

std::uint32_t ReadLe32(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(bytes[offset]) | static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[offset + 2]) << 16 | static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

std::uint16_t ReadLe16(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

// The PE layout's fixed offsets.
constexpr std::size_t kPeHeaderOffsetField = 0x3c;
constexpr std::size_t kFileHeaderSize = 20;
constexpr std::uint16_t kPe32Magic = 0x10b;
constexpr std::uint16_t kPe32PlusMagic = 0x20b;
constexpr std::size_t kPe32DirectoriesOffset = 96;
constexpr std::size_t kPe32PlusDirectoriesOffset = 112;
constexpr std::size_t kSecurityDirectory = 4;
constexpr std::size_t kDirectoryEntrySize = kCertificateEntrySize;

}  // namespace

SignedParts SplitSignatureTrailer(std::span<const std::uint8_t> file, std::string_view magic) {
  SignedParts parts;
  if (file.size() < kTrailerFixedSize) return parts;
  const std::size_t magicAt = file.size() - kTrailerMagicSize;
  if (magic.size() != kTrailerMagicSize || !std::equal(magic.begin(), magic.end(), file.begin() + magicAt)) {
    parts.status = TrailerStatus::kNoMagic;
    return parts;
  }
  const std::size_t lengthAt = magicAt - 4;
  const std::uint32_t length = ReadLe32(file, lengthAt);
  if (length == 0 || length > lengthAt) {
    parts.status = TrailerStatus::kBadLength;
    return parts;
  }
  parts.status = TrailerStatus::kFound;
  parts.image = file.first(lengthAt - length);
  parts.signature = file.subspan(lengthAt - length, length);
  return parts;
}

EmbeddedParts SplitEmbeddedSignature(std::span<const std::uint8_t> file) {
  EmbeddedParts parts;
  if (file.size() < kPeHeaderOffsetField + 4 || file[0] != 'M' || file[1] != 'Z') return parts;
  const std::size_t pe = ReadLe32(file, kPeHeaderOffsetField);
  const std::size_t optionalHeader = pe + 4 + kFileHeaderSize;
  // Sizes are compared by subtraction from the file's size: no sum can wrap.
  if (pe > file.size() || file.size() - pe < 4 + kFileHeaderSize + 2) return parts;
  if (file[pe] != 'P' || file[pe + 1] != 'E' || file[pe + 2] != 0 || file[pe + 3] != 0) return parts;
  const std::uint16_t magic = ReadLe16(file, optionalHeader);
  const std::size_t directories = optionalHeader + (magic == kPe32Magic       ? kPe32DirectoriesOffset
                                                    : magic == kPe32PlusMagic ? kPe32PlusDirectoriesOffset
                                                                              : 0);
  if (directories == optionalHeader) return parts;
  const std::size_t entry = directories + kSecurityDirectory * kDirectoryEntrySize;
  if (entry > file.size() || file.size() - entry < kDirectoryEntrySize) return parts;
  // The count of directories, just before them, must reach the table's.
  if (ReadLe32(file, directories - 4) <= kSecurityDirectory) return parts;
  const std::size_t table = ReadLe32(file, entry);
  const std::size_t size = ReadLe32(file, entry + 4);
  if (size == 0 || table % 8 != 0 || table < entry + kDirectoryEntrySize || table > file.size() ||
      file.size() - table != size) {
    return parts;
  }
  parts.found = true;
  parts.image = file.first(table);
  parts.directoryEntry = entry;
  return parts;
}

}  // namespace qvr
