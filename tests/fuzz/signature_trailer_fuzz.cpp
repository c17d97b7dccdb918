#include <cstddef>
#include <cstdint>
#include <span>

#include "signcheck_lib/signature_trailer.h"

// Whatever the bytes, a trailer or certificate table that is found lies
// inside the file: the image and the signature are the file's own bytes, in
// order, and together with the fixed part they are the whole file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> file(data, size);
  for (const auto magic : {qvr::kQsigTrailerMagic, qvr::kPxsTrailerMagic}) {
    const qvr::SignedParts parts = qvr::SplitSignatureTrailer(file, magic);
    if (parts.status != qvr::TrailerStatus::kFound) {
      if (!parts.image.empty() || !parts.signature.empty()) __builtin_trap();
      continue;
    }
    if (parts.image.data() != data || parts.signature.data() != data + parts.image.size() || parts.signature.empty() ||
        parts.image.size() + parts.signature.size() + qvr::kTrailerFixedSize != size)
      __builtin_trap();
  }
  const qvr::EmbeddedParts embedded = qvr::SplitEmbeddedSignature(file);
  if (embedded.found &&
      (embedded.image.data() != data || embedded.image.size() >= size || embedded.image.size() % 8 != 0 ||
       embedded.directoryEntry + qvr::kCertificateEntrySize > embedded.image.size()))
    __builtin_trap();
  return 0;
}
