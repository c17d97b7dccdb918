// Where a product signature sits in a signed file. No Win32 here.
//
// Attached signature (QSIG, PXS): a trailer after the image,
//   [image][signature: N bytes][N: 32-bit little-endian][magic: 8 bytes]
// The signature covers every byte of the image, that is every byte of the
// file but the trailer. Each scheme has its magic.
//
// Embedded signature of an executable: the PE certificate table (its data
// directory entry 4), which must be the end of the file. The image signed is
// every byte before the table, its directory entry counted as zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace qvr {

inline constexpr std::size_t kTrailerMagicSize = 8;
inline constexpr std::size_t kTrailerFixedSize = 4 + kTrailerMagicSize;
inline constexpr std::string_view kQsigTrailerMagic = "QVRQSIG1";
inline constexpr std::string_view kPxsTrailerMagic = "QVRPXS01";

enum class TrailerStatus {
  kFound,
  kTooShort,   // shorter than the fixed part of a trailer
  kNoMagic,    // the file does not end in `magic`
  kBadLength,  // the signature length points outside the file, or is 0
};

struct SignedParts {
  TrailerStatus status = TrailerStatus::kTooShort;
  std::span<const std::uint8_t> image;      // what the signature covers
  std::span<const std::uint8_t> signature;  // the signature bytes
};

// The parts of `file` under a trailer of `magic` (kTrailerMagicSize bytes);
// image and signature are empty unless the status is kFound.
SignedParts SplitSignatureTrailer(std::span<const std::uint8_t> file, std::string_view magic);

inline constexpr std::size_t kCertificateEntrySize = 8;

struct EmbeddedParts {
  bool found = false;
  std::span<const std::uint8_t> image;  // the bytes before the certificate table
  std::size_t directoryEntry = 0;       // offset of the table's 8-byte directory entry, inside `image`
};

// The certificate table of a PE file in `file`: found when the headers are
// whole, the entry is not empty and the table, aligned to 8 bytes, ends the
// file.
EmbeddedParts SplitEmbeddedSignature(std::span<const std::uint8_t> file);

}  // namespace qvr
