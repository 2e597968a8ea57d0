// The hex dump of one sector and the viewer's navigation over the open source.
#include "viewer/sector_view.h"

#include <gtest/gtest.h>

#include <cstring>

#include "access/memory_platform_source.h"
#include "support/fixtures.h"
#include "viewer/sector_dump.h"

namespace vellumark {
namespace {

TEST(SectorDump, HeaderAndFirstLineFollowTheLayout) {
  std::vector<std::uint8_t> sector(512, 0);
  std::memcpy(sector.data(), "0123456789ABCDEF", 16);
  for (int i = 0; i < 16; ++i) sector[16 + i] = static_cast<std::uint8_t>(i);
  const auto lines = SectorDump(sector.data(), sector.size());
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[0], "     0 1  2 3  4 5  6 7  8 9  A B  C D  E F  0 1  2 3  4 5  6 7  8 9  A B  C D  E F  "
                      "0123456789ABCDEF0123456789ABCDEF");
  EXPECT_EQ(lines[0].size(), 117u);
  EXPECT_EQ(lines[1], "000: 3031 3233 3435 3637 3839 4142 4344 4546 0001 0203 0405 0607 0809 0A0B 0C0D 0E0F "
                      "0123456789ABCDEF................");
  const char* offsets[] = {"000", "020", "040", "060", "080", "0A0", "0C0", "0E0",
                           "100", "120", "140", "160", "180", "1A0", "1C0", "1E0"};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(lines[i + 1].substr(0, 5), std::string(offsets[i]) + ": ");
}

TEST(SectorDump, CharacterColumnShowsPrintableAsciiOnly) {
  const struct { std::uint8_t byte; char shown; } cases[] = {
      {0x00, '.'}, {0x1F, '.'}, {0x20, ' '}, {0x41, 'A'}, {0x7E, '~'}, {0x7F, '.'}, {0x80, '.'}, {0xFF, '.'}};
  for (const auto& c : cases) {
    std::vector<std::uint8_t> sector(512, 'x');
    sector[31] = c.byte;  // last byte of the first line
    const std::string line = SectorDump(sector.data(), sector.size())[1];
    EXPECT_EQ(line.back(), c.shown) << int(c.byte);
  }
}

class SectorViewTest : public ::testing::Test {
 protected:
  // A stand-in device of sectors filled with random bytes (no boot sector).
  void OpenDevice(std::int64_t sectors, std::uint32_t sectorSize = 512) {
    bytes = test::PatternBytes(static_cast<std::size_t>(sectors) * sectorSize);
    auto owned = std::make_unique<MemoryPlatformSource>();
    platform = owned.get();
    platform->Add("/dev/stand-in", bytes).sectorSize = sectorSize;
    source = std::make_unique<SectorSource>(std::move(owned));
    ASSERT_TRUE(source->OpenPartition("/dev/stand-in", "stand-in").ok());
    ASSERT_EQ(source->ScanGeometry().BytesPerSector, sectorSize);
    view = std::make_unique<SectorView>(*source);
  }
  void ExpectButtons(bool back, bool forward) {
    EXPECT_EQ(view->Buttons().first, back);
    EXPECT_EQ(view->Buttons().previous, back);
    EXPECT_EQ(view->Buttons().next, forward);
    EXPECT_EQ(view->Buttons().last, forward);
  }

  std::vector<std::uint8_t> bytes;
  MemoryPlatformSource* platform = nullptr;
  std::unique_ptr<SectorSource> source;
  std::unique_ptr<SectorView> view;
};

TEST_F(SectorViewTest, EverySectorSizeIsShownWholeFromItsOwnOffset) {
  for (const std::uint32_t size : {512u, 1024u, 2048u, 4096u}) {
    SCOPED_TRACE(size);
    OpenDevice(4, size);
    ASSERT_TRUE(view->ShowSector(2));
    const auto expected = SectorDump(bytes.data() + 2 * size, size);
    EXPECT_EQ(view->Lines(), expected);
    ASSERT_EQ(view->Lines().size(), size / 32 + 1);
    for (const auto& line : view->Lines()) EXPECT_EQ(line.size(), 117u);
  }
  EXPECT_EQ(view->Lines().back().substr(0, 4), "FE0:");  // 128 lines of a 4096-byte sector
}

TEST_F(SectorViewTest, OneSectorSourceOffersNoNavigation) {
  OpenDevice(1);
  ASSERT_TRUE(view->ShowSector(0));
  ExpectButtons(false, false);
  const auto lines = view->Lines();
  for (auto move : {&SectorView::PageUp, &SectorView::PageDown, &SectorView::Previous, &SectorView::Next}) {
    (view.get()->*move)();
    EXPECT_EQ(view->ShownSector(), 0);
    EXPECT_EQ(view->Lines(), lines);
  }
}

TEST_F(SectorViewTest, MovesStopAtTheEndsOfTheSource) {
  OpenDevice(30);  // LastSector 29
  const struct { std::int64_t from; void (SectorView::*move)(); std::int64_t to; } cases[] = {
      {26, &SectorView::PageDown, 29}, {15, &SectorView::PageDown, 25}, {4, &SectorView::PageUp, 0},
      {15, &SectorView::PageUp, 5},    {28, &SectorView::Next, 29},     {1, &SectorView::Previous, 0},
      {29, &SectorView::Next, 29},     {0, &SectorView::Previous, 0},   {12, &SectorView::First, 0},
      {12, &SectorView::Last, 29}};
  for (const auto& c : cases) {
    ASSERT_TRUE(view->ShowSector(c.from));
    (view.get()->*c.move)();
    EXPECT_EQ(view->ShownSector(), c.to) << "from " << c.from;
    EXPECT_EQ(view->Lines(), SectorDump(bytes.data() + c.to * 512, 512));
    ExpectButtons(c.to > 0, c.to < 29);
  }
}

TEST_F(SectorViewTest, GoToRefusesNumbersOffTheSource) {
  OpenDevice(30);
  EXPECT_EQ(view->GoTo("12"), 0);
  EXPECT_EQ(view->ShownSector(), 12);
  const auto lines = view->Lines();
  for (const char* text : {"abc", "-1", "30", "", "12x"}) {
    EXPECT_EQ(view->GoTo(text), slot::kInvalidViewSector) << text;
    EXPECT_EQ(view->ShownSector(), 12);
    EXPECT_EQ(view->Lines(), lines);
  }
  EXPECT_EQ(view->GoTo("29"), 0);
  EXPECT_EQ(view->ShownSector(), 29);
}

TEST_F(SectorViewTest, UnreadableSectorLeavesTheViewAsItWas) {
  OpenDevice(30);
  platform->FailReads(5 * 512 + 100, 1);
  ASSERT_TRUE(view->ShowSector(4));
  const auto lines = view->Lines();
  EXPECT_FALSE(view->ShowSector(5));
  view->Next();
  EXPECT_EQ(view->GoTo("5"), 0);
  EXPECT_EQ(view->ShownSector(), 4);
  EXPECT_EQ(view->Lines(), lines);
  ExpectButtons(true, true);
}

TEST_F(SectorViewTest, ClearEmptiesTheDumpButKeepsTheSectorNumber) {
  OpenDevice(30);
  ASSERT_TRUE(view->ShowSector(7));
  view->Clear();
  EXPECT_TRUE(view->Lines().empty());
  ExpectButtons(false, false);
  EXPECT_EQ(view->ShownSector(), 7);
}

}  // namespace
}  // namespace vellumark
