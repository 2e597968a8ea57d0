// The hex dump of one sector and the viewer's navigation over the open source.
#include "viewer/sector_view.h"

#include <gtest/gtest.h>

#include <cstring>

#include "access/memory_platform_source.h"
#include "support/fixtures.h"
#include "viewer/sector_dump.h"

namespace vellumark {
namespace {

TEST(SectorDump, HeaderAndLinesFollowTheLayout) {
  std::vector<std::uint8_t> sector(512, 0);
  std::memcpy(sector.data(), "0123456789ABCDEF", 16);
  for (int i = 0; i < 16; ++i) sector[16 + i] = static_cast<std::uint8_t>(i);
  const auto lines = SectorDump(sector.data(), sector.size());
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[0], "     0 1  2 3  4 5  6 7  8 9  A B  C D  E F  0 1  2 3  4 5  6 7  8 9  A B  C D  E F  "
                      "0123456789ABCDEF0123456789ABCDEF");
  EXPECT_EQ(lines[1], "000: 3031 3233 3435 3637 3839 4142 4344 4546 0001 0203 0405 0607 0809 0A0B 0C0D 0E0F "
                      "0123456789ABCDEF................");
  EXPECT_EQ(lines[16].substr(0, 5), "1E0: ");
  // The last byte of the sector, as hex and as a character.
  const struct { std::uint8_t byte; const char* hex; char shown; } cases[] = {
      {0x00, "00", '.'}, {0x1F, "1F", '.'}, {0x20, "20", ' '}, {0x41, "41", 'A'},
      {0x7E, "7E", '~'}, {0x7F, "7F", '.'}, {0x80, "80", '.'}, {0xFF, "FF", '.'}};
  for (const auto& c : cases) {
    sector[511] = c.byte;
    const std::string last = SectorDump(sector.data(), sector.size()).back();
    EXPECT_EQ(last.substr(82, 2), c.hex);
    EXPECT_EQ(last.back(), c.shown) << int(c.byte);
  }
}

class SectorViewTest : public ::testing::Test {
 protected:
  // A stand-in device of random sectors (no boot sector), so its own sector size holds.
  void OpenDevice(std::int64_t sectors, std::uint32_t sectorSize = 512) {
    bytes = test::PatternBytes(static_cast<std::size_t>(sectors) * sectorSize);
    platform->Add("/dev/stand-in", bytes).sectorSize = sectorSize;
    ASSERT_TRUE(source.OpenPartition("/dev/stand-in", "stand-in").ok());
  }
  void ExpectShown(std::int64_t sector, bool back, bool forward) {
    EXPECT_EQ(view.ShownSector(), sector);
    EXPECT_EQ(view.Lines(), SectorDump(bytes.data() + sector * 512, 512));
    ExpectButtons(back, forward);
  }
  void ExpectButtons(bool back, bool forward) {
    const NavigationButtons& b = view.Buttons();
    EXPECT_TRUE(b.first == back && b.previous == back && b.next == forward && b.last == forward);
  }

  std::vector<std::uint8_t> bytes;
  MemoryPlatformSource* platform = new MemoryPlatformSource;
  SectorSource source{std::unique_ptr<PlatformSource>(platform)};
  SectorView view{source};
};

TEST_F(SectorViewTest, EverySectorSizeIsShownWhole) {
  for (const std::uint32_t size : {512u, 1024u, 2048u, 4096u}) {
    OpenDevice(4, size);
    ASSERT_TRUE(view.ShowSector(2));
    EXPECT_EQ(view.Lines(), SectorDump(bytes.data() + 2 * size, size));  // from the sector's own offset
    ASSERT_EQ(view.Lines().size(), size / 32 + 1);
    for (const auto& line : view.Lines()) EXPECT_EQ(line.size(), 117u) << size;
  }
  EXPECT_EQ(view.Lines().back().substr(0, 4), "FE0:");
}

TEST_F(SectorViewTest, MovesStopAtTheEndsOfTheSource) {
  OpenDevice(1);
  ASSERT_TRUE(view.ShowSector(0));
  for (auto move : {&SectorView::PageUp, &SectorView::PageDown, &SectorView::Previous, &SectorView::Next}) {
    (view.*move)();
    ExpectShown(0, false, false);
  }
  OpenDevice(30);  // LastSector 29
  const struct { std::int64_t from; void (SectorView::*move)(); std::int64_t to; } cases[] = {
      {26, &SectorView::PageDown, 29}, {15, &SectorView::PageDown, 25}, {4, &SectorView::PageUp, 0},
      {11, &SectorView::PageUp, 1},    {27, &SectorView::Next, 28},     {1, &SectorView::Previous, 0},
      {29, &SectorView::Next, 29},     {12, &SectorView::First, 0},     {12, &SectorView::Last, 29}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.from);
    ASSERT_TRUE(view.ShowSector(c.from));
    (view.*c.move)();
    ExpectShown(c.to, c.to > 0, c.to < 29);
  }
}

TEST_F(SectorViewTest, RefusedOrUnreadableSectorsLeaveTheViewAsItWas) {
  OpenDevice(30);
  platform->FailReads(13 * 512 + 100, 1);
  EXPECT_EQ(view.GoTo("12"), 0);
  for (const char* text : {"abc", "-1", "30", "", "12x"}) EXPECT_EQ(view.GoTo(text), slot::kInvalidViewSector) << text;
  EXPECT_FALSE(view.ShowSector(13));
  view.Next();
  EXPECT_EQ(view.GoTo("13"), 0);  // unreadable is not refused
  ExpectShown(12, true, true);
  EXPECT_EQ(view.GoTo("29"), 0);
  ExpectShown(29, true, false);
  view.Clear();  // what closing the source does
  EXPECT_TRUE(view.Lines().empty());
  ExpectButtons(false, false);
  EXPECT_EQ(view.ShownSector(), 29);
}

}  // namespace
}  // namespace vellumark
