// A ZIP's central directory read on its own, and each member checked as its
// bytes arrive in cluster-sized pieces: what a reassembly that places an
// office package's clusters in the package's own order relies on.
#include "formats/zip/zip_member_feed.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <vector>

#include "formats/zip/zip_central_directory.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const fs::path kOffice = fs::path(VELLUMARK_CORPUS_DIR) / "ooxml";

struct Package {
  Bytes file;
  ZipEndRecord end;
  std::vector<ZipDirectoryEntry> entries;
};

Package Read(const char* name) {
  Package package{test::ReadFileBytes((kOffice / name).string()), {}, {}};
  const ByteView file(package.file.data(), package.file.size());
  const auto end = ReadZipEndRecord(*file.From(file.Size() - 22));
  EXPECT_TRUE(end.has_value());
  if (!end) return package;
  package.end = *end;
  const ZipDirectoryRead read = ReadZipDirectory(*file.From(end->directoryOffset), *end);
  EXPECT_EQ(read.state, ZipDirectoryState::Done);
  package.entries = read.entries;
  return package;
}

// Python-docx (sizes in the local headers), LibreOffice (data descriptors,
// stored pictures) and a package from another writer.
const char* const kPackages[] = {"pydocx-04.docx", "odt.odt", "docx.1.docx", "Bug46817.docx"};

TEST(ZipCentralDirectory, ReadAloneItNamesEveryMemberWhereItsHeaderStands) {
  for (const char* name : kPackages) {
    SCOPED_TRACE(name);
    const Package package = Read(name);
    ASSERT_EQ(package.entries.size(), package.end.entries);
    for (const ZipDirectoryEntry& entry : package.entries) {
      ASSERT_LT(entry.headerOffset + 30 + entry.name.size(), package.file.size());
      EXPECT_EQ(std::string(package.file.begin() + entry.headerOffset + 30,
                            package.file.begin() + entry.headerOffset + 30 + entry.name.size()),
                entry.name);
    }
    // Cut short it wants more; with a foreign byte where an entry starts it is broken.
    const ByteView file(package.file.data(), package.file.size());
    const auto tail = *file.From(package.end.directoryOffset);
    for (std::size_t cut : {std::size_t{1}, std::size_t{30}, std::size_t{100}}) {
      EXPECT_EQ(ReadZipDirectory(*tail.Bytes(0, tail.Size() - cut), package.end).state, ZipDirectoryState::Going) << cut;
    }
    Bytes broken(tail.begin(), tail.end());
    broken[0] ^= 0x40;
    EXPECT_EQ(ReadZipDirectory(ByteView(broken.data(), broken.size()), package.end).state, ZipDirectoryState::Broken);
    Bytes longer(tail.begin(), tail.end());
    longer.push_back(0);
    EXPECT_EQ(ReadZipDirectory(ByteView(longer.data(), longer.size()), package.end).state, ZipDirectoryState::Broken);
  }
}

// Each member's bytes, from its header to the next member's, fed in pieces
// of a cluster: whole exactly at their end, never before; a byte more breaks it.
TEST(ZipMemberFeed, EachMemberEndsWholeExactlyAtTheNextHeader) {
  for (const char* name : kPackages) {
    SCOPED_TRACE(name);
    Package package = Read(name);
    std::sort(package.entries.begin(), package.entries.end(),
              [](const auto& a, const auto& b) { return a.headerOffset < b.headerOffset; });
    for (std::size_t m = 0; m < package.entries.size(); ++m) {
      const std::size_t from = package.entries[m].headerOffset;
      const std::size_t to = m + 1 < package.entries.size() ? package.entries[m + 1].headerOffset : package.end.directoryOffset;
      SCOPED_TRACE(package.entries[m].name);
      ZipMemberFeed feed(package.entries[m]);
      for (std::size_t at = from; at < to; at += 512) {
        const ZipFeedState state = feed.Feed(ByteView(package.file.data() + at, std::min<std::size_t>(512, to - at)));
        ASSERT_EQ(state, at + 512 >= to ? ZipFeedState::Done : ZipFeedState::Going) << at;
      }
      const std::uint8_t more = 0;
      EXPECT_EQ(ZipMemberFeed(feed).Feed(ByteView(&more, 1)), ZipFeedState::Broken);
    }
  }
}

// A piece of foreign bytes in place of a member's own: the member never
// ends whole, and a deflated XML part breaks within a few pieces. A copy
// taken before goes on from where it stood.
TEST(ZipMemberFeed, ForeignBytesBreakTheMemberAndACopyGoesOnFromWhereItStood) {
  Package package = Read("pydocx-04.docx");
  const auto styles = std::find_if(package.entries.begin(), package.entries.end(),
                                   [](const auto& e) { return e.name == "word/styles.xml"; });
  ASSERT_NE(styles, package.entries.end());
  const std::size_t from = styles->headerOffset, to = from + 30 + styles->name.size() + styles->compressedSize;
  std::mt19937 random(7);
  const std::vector<Bytes> foreign = {
      Bytes(512, 0),
      [&] { Bytes b(512); for (auto& x : b) x = static_cast<std::uint8_t>(random()); return b; }(),
      [] { const std::string t(512, 'x'); Bytes b(t.begin(), t.end()); for (std::size_t i = 60; i < b.size(); i += 61) b[i] = '\n'; return b; }(),
  };
  for (std::size_t kind = 0; kind < foreign.size(); ++kind) {
    SCOPED_TRACE(kind);
    ZipMemberFeed feed(*styles);
    const std::size_t middle = from + 4 * 512;
    ASSERT_EQ(feed.Feed(ByteView(package.file.data() + from, middle - from)), ZipFeedState::Going);
    const ZipMemberFeed before(feed);
    ZipFeedState state = feed.Feed(ByteView(foreign[kind].data(), foreign[kind].size()));
    std::size_t pieces = 0;
    for (std::size_t at = middle; at < to && state == ZipFeedState::Going; at += 512, ++pieces) {
      state = feed.Feed(ByteView(package.file.data() + at, std::min<std::size_t>(512, to - at)));
    }
    EXPECT_EQ(state, ZipFeedState::Broken);
    EXPECT_LE(pieces, 4u);
    ZipMemberFeed resumed(before);
    EXPECT_EQ(resumed.Feed(ByteView(package.file.data() + middle, to - middle)), ZipFeedState::Done);
  }
}

}  // namespace
}  // namespace vellumark
