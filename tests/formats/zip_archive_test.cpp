// The archive check walks ZIPs as real tools write them: Info-ZIP's extra
// fields before each member's data, data descriptors after it (streamed and
// LibreOffice archives), and a descriptor that disagrees with its data.
#include "formats/zip/zip_archive.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "support/fixtures.h"
#include "support/raw_deflate.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const fs::path kOffice = fs::path(VELLUMARK_CORPUS_DIR) / "ooxml";

// The corpus document's members, zipped again by Info-ZIP: into a file
// (sizes in the local headers, extra fields after the names), or streamed
// through a pipe (sizes in descriptors after the data).
Bytes Rezipped(const test::TempDir& dir, const char* document, bool streamed) {
  const std::string members = dir / "members";
  EXPECT_EQ(test::Run("mkdir -p '" + members + "' && cd '" + members + "' && unzip -q -o '" + (kOffice / document).string() + "'"), 0);
  const std::string out = dir / (streamed ? "streamed.docx" : "rezipped.docx");
  const std::string zip = streamed ? "zip -q -r - . | cat > '" + out + "'" : "zip -q -r '" + out + "' .";
  EXPECT_EQ(test::Run("cd '" + members + "' && " + zip), 0);
  return test::ReadFileBytes(out);
}

std::uint16_t Flags(const Bytes& file, const ZipMember& m) { return LoadLe16(file.data() + m.headerOffset + 6); }
std::uint16_t ExtraLength(const Bytes& file, const ZipMember& m) { return LoadLe16(file.data() + m.headerOffset + 28); }

TEST(ZipArchive, ArchivesOfRealToolsCheckWhole) {
  VELLUMARK_REQUIRE_TOOL("zip");
  VELLUMARK_REQUIRE_TOOL("unzip");
  if (!fs::is_directory(kOffice)) VELLUMARK_CANNOT_RUN("no office corpus");
  test::TempDir dir;
  const struct { const char* what; Bytes file; bool extras; bool descriptors; } cases[] = {
      {"Info-ZIP, extra fields", Rezipped(dir, "pydocx-03.docx", false), true, false},
      {"Info-ZIP streamed, descriptors", Rezipped(dir, "pydocx-03.docx", true), true, true},
      {"LibreOffice, descriptors", test::ReadFileBytes(kOffice / "57843.docx"), false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_FALSE(c.file.empty());
    const ZipArchiveCheck check = CheckZipArchive(c.file);
    EXPECT_EQ(check.fault, "");
    EXPECT_EQ(check.length, static_cast<std::int64_t>(c.file.size()));
    ASSERT_GE(check.members.size(), 5u);
    bool sawExtra = false, sawDescriptor = false;
    for (const ZipMember& m : check.members) {
      const std::uint16_t nameLength = LoadLe16(c.file.data() + m.headerOffset + 26);
      EXPECT_EQ(m.dataOffset, m.headerOffset + 30 + nameLength + ExtraLength(c.file, m)) << m.name;
      sawExtra |= ExtraLength(c.file, m) != 0;
      sawDescriptor |= (Flags(c.file, m) & zip_field::kFlagDescriptor) != 0;
    }
    EXPECT_EQ(sawExtra, c.extras);
    EXPECT_EQ(sawDescriptor, c.descriptors);
  }
}

// A descriptor that disagrees with the data it follows (a foreign sector
// there, or a damaged one) breaks the member at the descriptor, whichever of
// its fields differs.
void StoreLe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = std::uint8_t(v), p[1] = std::uint8_t(v >> 8);
}
void StoreLe32(std::uint8_t* p, std::uint32_t v) {
  StoreLe16(p, std::uint16_t(v)), StoreLe16(p + 2, std::uint16_t(v >> 16));
}

// One member of 1 MiB of zeros deflated to about a kilobyte, its header
// declaring the size given, then its central directory and end record.
Bytes ZeroMember(std::uint64_t declared, bool stored = false) {
  const Bytes zeros(1 << 20, 0);
  Bytes data = zeros;
  if (!stored) data = test::RawDeflate(zeros.data(), zeros.size(), 9);
  const auto crc = static_cast<std::uint32_t>(crc32(0, zeros.data(), static_cast<uInt>(zeros.size())));
  Bytes file(30, 0);
  StoreLe32(file.data(), 0x04034B50);
  StoreLe16(file.data() + 8, stored ? 0 : 8);
  StoreLe32(file.data() + 14, crc);
  StoreLe32(file.data() + 18, static_cast<std::uint32_t>(data.size()));
  StoreLe32(file.data() + 22, static_cast<std::uint32_t>(declared));
  StoreLe16(file.data() + 26, 1);
  file.push_back('z');
  file.insert(file.end(), data.begin(), data.end());
  return file;
}

TEST(ZipArchive, AMemberLargerThanItsDataCanInflateToIsRejectedUninflated) {
  const struct { const char* what; std::uint64_t declared; bool stored; const char* fault; } cases[] = {
      {"its true size", 1 << 20, false, ""},
      {"stored, its true size", 1 << 20, true, ""},
      {"a size near deflate's best ratio, but wrong", 1000 * 1000, false, "z: CRC or size differs"},
      {"4 GiB from a kilobyte", 0xFFFFFFF0u, false, "z: size beyond what its data can hold"},
      {"stored, larger than its data", (1 << 20) + 1, true, "z: size beyond what its data can hold"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes file = ZeroMember(c.declared, c.stored);
    const ZipRecordCheck check = CheckZipMember(file, 0);
    EXPECT_EQ(check.fault, c.fault);
    EXPECT_EQ(check.step, *c.fault == 0 ? ZipStep::Done : ZipStep::Broken);
    if (*c.fault == 0) {
      EXPECT_EQ(check.next, static_cast<std::int64_t>(file.size()));
    }
  }
}

TEST(ZipArchive, AStreamedMemberCheckedAsMoreArrivesIsInflatedOnce) {
  VELLUMARK_REQUIRE_TOOL("zip");
  VELLUMARK_REQUIRE_TOOL("unzip");
  if (!fs::is_directory(kOffice)) VELLUMARK_CANNOT_RUN("no office corpus");
  test::TempDir dir;
  const Bytes file = Rezipped(dir, "pydocx-03.docx", true);
  const ZipArchiveCheck whole = CheckZipArchive(file);
  ASSERT_EQ(whole.fault, "");
  const ZipMember& big = *std::max_element(whole.members.begin(), whole.members.end(),
                                           [](const ZipMember& a, const ZipMember& b) { return a.size < b.size; });
  ASSERT_EQ(Flags(file, big) & zip_field::kFlagDescriptor, zip_field::kFlagDescriptor);
  // The bytes arrive a sector at a time, as the carver loads them.
  ZipInflateResume resume;
  ZipRecordCheck check;
  int rounds = 0;
  for (std::size_t have = static_cast<std::size_t>(big.headerOffset) + 512;; have += 512, ++rounds) {
    check = CheckZipMember(std::span<const std::uint8_t>(file).first(std::min(have, file.size())), big.headerOffset, &resume);
    if (check.step != ZipStep::NeedBytes) break;
  }
  EXPECT_EQ(check.step, ZipStep::Done) << check.fault;
  EXPECT_EQ(check.member.crc, big.crc);
  EXPECT_EQ(check.member.size, big.size);
  EXPECT_GE(rounds, 2);
  EXPECT_EQ(resume.Inflated(), big.size) << "over " << rounds << " checks";
  // Bytes that changed before where it stopped: told, it starts again.
  resume.Forget();
  EXPECT_EQ(CheckZipMember(file, big.headerOffset, &resume).step, ZipStep::Done);
}

TEST(ZipArchive, DescriptorThatDisagreesBreaksItsMember) {
  if (!fs::is_directory(kOffice)) VELLUMARK_CANNOT_RUN("no office corpus");
  const Bytes file = test::ReadFileBytes(kOffice / "57843.docx");
  const ZipArchiveCheck whole = CheckZipArchive(file);
  ASSERT_EQ(whole.fault, "");
  const ZipMember& member = whole.members.front();
  ASSERT_NE(Flags(file, member) & zip_field::kFlagDescriptor, 0);
  const std::int64_t descriptor = member.dataOffset + member.compressedSize;
  ASSERT_EQ(LoadLe32(file.data() + descriptor), 0x08074B50u);  // LibreOffice writes the marker
  for (const auto& [field, name] : {std::pair{0, "CRC"}, std::pair{4, "compressed size"}, std::pair{8, "size"}}) {
    SCOPED_TRACE(name);
    Bytes damaged = file;
    damaged[static_cast<std::size_t>(descriptor + 4 + field)] ^= 0x01;
    const ZipRecordCheck check = CheckZipMember(damaged, member.headerOffset);
    EXPECT_EQ(check.step, ZipStep::Broken);
    EXPECT_EQ(check.fault, member.name + ": CRC or size differs");
    EXPECT_EQ(check.failAt, descriptor);
    EXPECT_NE(CheckZipArchive(damaged).fault, "");
  }
}

}  // namespace
}  // namespace vellumark
