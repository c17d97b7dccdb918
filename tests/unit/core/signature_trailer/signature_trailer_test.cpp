// Where a signature sits: the trailer of the attached schemes and an executable's certificate table.
#include "signcheck_lib/signature_trailer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using qvr::TrailerStatus;

std::span<const std::uint8_t> Span(const std::string& bytes) {
  return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}
std::string Le32(std::uint32_t value) { return std::string(reinterpret_cast<const char*>(&value), 4); }
std::string Text(std::span<const std::uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

TEST(SplitSignatureTrailer, TheImageIsEverythingButTheTrailer) {
  const struct {
    std::string file;
    TrailerStatus status;
    const char* image;
  } cases[] = {
      {"image" + std::string("sig") + Le32(3) + "QVRQSIG1", TrailerStatus::kFound, "image"},
      {"sig" + Le32(3) + "QVRQSIG1", TrailerStatus::kFound, ""},
      {"sig" + Le32(4) + "QVRQSIG1", TrailerStatus::kBadLength, ""},
      {"image" + Le32(0) + "QVRQSIG1", TrailerStatus::kBadLength, ""},
      {"image" + Le32(0xFFFFFFFFu) + "QVRQSIG1", TrailerStatus::kBadLength, ""},
      {"image" + std::string("sig") + Le32(3) + "QVRPXS01", TrailerStatus::kNoMagic, ""},
      {Le32(3) + "QVRQSIG", TrailerStatus::kTooShort, ""},
  };
  for (const auto& test : cases) {
    const qvr::SignedParts parts = qvr::SplitSignatureTrailer(Span(test.file), qvr::kQsigTrailerMagic);
    EXPECT_EQ(parts.status, test.status) << test.file;
    EXPECT_EQ(Text(parts.image), test.image) << test.file;
    EXPECT_EQ(Text(parts.signature), test.status == TrailerStatus::kFound ? "sig" : "") << test.file;
  }
}

// A PE32+ image of 0x200 bytes: "PE" at 0x80, the certificate table's entry at 0x80 + 24 + 112 + 32.
std::string Executable(std::uint32_t table, std::uint32_t size, std::uint32_t directories = 16) {
  std::string image(0x200, '\0');
  image.replace(0, 2, "MZ");
  image.replace(0x3c, 4, Le32(0x80));
  image.replace(0x80, 4, std::string("PE\0\0", 4));
  image.replace(0x80 + 24, 2, "\x0b\x02");
  image.replace(0x80 + 24 + 108, 4, Le32(directories));
  image.replace(0x80 + 24 + 112 + 32, 8, Le32(table) + Le32(size));
  return image;
}

TEST(SplitEmbeddedSignature, TheTableMustEndTheFile) {
  constexpr std::size_t kEntry = 0x80 + 24 + 112 + 32;
  const struct {
    std::string file;
    bool found;
  } cases[] = {
      {Executable(0x200, 16) + std::string(16, 't'), true},
      {Executable(0x200, 16) + std::string(24, 't'), false},  // something after the table
      {Executable(0x200, 24) + std::string(16, 't'), false},  // a table beyond the file
      {Executable(0x100, 0x100), false},                      // a table over the headers
      {Executable(0x204, 12) + std::string(16, 't'), false},  // not aligned
      {Executable(0, 0), false},
      {Executable(0x200, 16, 4) + std::string(16, 't'), false},  // no directory entry 4
      {Executable(0x200, 16).substr(0, kEntry + 4), false},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const qvr::EmbeddedParts parts = qvr::SplitEmbeddedSignature(Span(cases[i].file));
    EXPECT_EQ(parts.found, cases[i].found) << i;
    if (parts.found) {
      EXPECT_EQ(parts.image.size(), 0x200u);
      EXPECT_EQ(parts.directoryEntry, kEntry);
    }
  }
}

}  // namespace
