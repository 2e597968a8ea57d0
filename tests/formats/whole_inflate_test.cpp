// Members inflated in one call must agree with the stream check bit for
// bit: the same CRC for every member of every office document of the
// corpus, and none wherever a byte, the data's length or the stated size is
// off by one, so that only zlib's slower walk ever decides a failure.
#include "formats/zip/whole_inflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "formats/zip/part_text.h"
#include "formats/zip/zip_archive.h"
#include "support/fixtures.h"
#include "support/raw_deflate.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

std::span<const std::uint8_t> DataOf(const Bytes& file, const ZipMember& m) {
  return std::span<const std::uint8_t>(file).subspan(static_cast<std::size_t>(m.dataOffset),
                                                     static_cast<std::size_t>(m.compressedSize));
}

// Raw deflate of text, as a ZIP member holds it.
Bytes Deflated(const std::string& text) {
  return test::RawDeflate(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

TEST(WholeInflate, EveryCorpusMemberGivesItsStatedCrcAndNothingOffByOne) {
  const fs::path corpus = fs::path(VELLUMARK_CORPUS_DIR) / "ooxml";
  if (!fs::is_directory(corpus)) VELLUMARK_CANNOT_RUN("no office corpus");
  int deflated = 0;
  for (const auto& entry : fs::directory_iterator(corpus)) {
    const Bytes file = test::ReadFileBytes(entry.path());
    const ZipArchiveCheck archive = CheckZipArchive(file);
    if (!archive.fault.empty()) continue;
    for (const ZipMember& m : archive.members) {
      if (m.method != 8 || m.compressedSize < 2) continue;
      SCOPED_TRACE(entry.path().filename().string() + ": " + m.name);
      const auto data = DataOf(file, m);
      const bool text = IsTextPart(m.name);
      EXPECT_EQ(InflateWhole(data, m.size, text, nullptr), std::optional<std::uint32_t>(m.crc));
      Bytes out;
      ASSERT_TRUE(InflateWhole(data, m.size, false, &out));
      EXPECT_EQ(out, ZipMemberData(file, m, m.size + 1));
      // The data one byte short, or followed by one more; the size stated
      // one off either way.
      EXPECT_FALSE(InflateWhole(data.first(data.size() - 1), m.size, text, nullptr));
      Bytes longer(data.begin(), data.end());
      longer.push_back(0);
      EXPECT_FALSE(InflateWhole(longer, m.size, text, nullptr));
      EXPECT_FALSE(InflateWhole(data, m.size + 1, text, nullptr));
      if (m.size > 0) {
        EXPECT_FALSE(InflateWhole(data, m.size - 1, text, nullptr));
      }
      // A byte in the middle of the data changed: either it no longer
      // inflates, or what it inflates to no longer has the member's CRC.
      Bytes changed(data.begin(), data.end());
      changed[changed.size() / 2] ^= 0x10;
      EXPECT_NE(InflateWhole(changed, m.size, text, nullptr), std::optional<std::uint32_t>(m.crc));
      ++deflated;
    }
  }
  EXPECT_GT(deflated, 200);
}

TEST(WholeInflate, ATextPartWithAControlCharacterIsLeftToTheStreamCheck) {
  const struct { std::string text; bool isText; } cases[] = {
      {"<w:t>plain\ttext\r\n</w:t>", true},
      {std::string("<w:t>a bell \x07 inside</w:t>"), false},
      {std::string("<w:t>a zero \0 inside</w:t>", 24), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const Bytes data = Deflated(c.text);
    const auto crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(c.text.data()),
                                                      static_cast<uInt>(c.text.size())));
    EXPECT_EQ(InflateWhole(data, c.text.size(), false, nullptr), std::optional<std::uint32_t>(crc));
    EXPECT_EQ(InflateWhole(data, c.text.size(), true, nullptr).has_value(), c.isText);
  }
}

TEST(WholeInflate, AMemberLargerThanItsBufferIsLeftToTheStreamCheck) {
  const std::string text(kLargestWhole + 1, 'a');
  const Bytes data = Deflated(text);
  EXPECT_FALSE(InflateWhole(data, text.size(), true, nullptr));
  EXPECT_TRUE(InflateWhole(data, kLargestWhole, true, nullptr) == std::nullopt);
  const std::string fits(kLargestWhole, 'a');
  EXPECT_TRUE(InflateWhole(Deflated(fits), fits.size(), true, nullptr));
}

}  // namespace
}  // namespace vellumark
