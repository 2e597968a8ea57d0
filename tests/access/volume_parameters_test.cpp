#include "access/volume_parameters.h"

#include <gtest/gtest.h>

#include <cstring>

#include "access/memory_platform_source.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

struct DefaultCase {
  int entry;
  std::int64_t lastSector;
  std::optional<std::uint32_t> expected;
};

TEST(DefaultSectorsPerCluster, RowBoundaries) {
  const DefaultCase cases[] = {
      {kFileSystemFat, 0, 1},           {kFileSystemFat, 65'534, 1},         {kFileSystemFat, 65'535, 2},
      {kFileSystemFat, 1'048'575, 32},  {kFileSystemFat, 4'194'302, 64},     {kFileSystemFat, 4'194'303, std::nullopt},
      {kFileSystemFat32, 131'070, 1},   {kFileSystemFat32, 131'071, 2},      {kFileSystemFat32, 524'287, 8},
      {kFileSystemFat32, 16'777'215, 16}, {kFileSystemFat32, 67'108'863, 32}, {kFileSystemFat32, 67'108'864, std::nullopt},
      {kFileSystemNtfs, 1LL << 40, 8},  {kFileSystemOther, 5, 1},            {-1, 5, std::nullopt},
  };
  for (const DefaultCase& c : cases) {
    EXPECT_EQ(DefaultSectorsPerCluster(c.entry, c.lastSector), c.expected) << c.entry << " at " << c.lastSector;
  }
}

class VolumeParametersTest : public ::testing::Test {
 protected:
  VolumeParametersTest() {
    auto owned = std::make_unique<MemoryPlatformSource>();
    platform = owned.get();
    source = std::make_unique<SectorSource>(std::move(owned));
    params = std::make_unique<VolumeParameters>(*source);
  }

  // An image of `sectors` sectors whose sector 0 carries a FAT32 boot sector
  // with 8 sectors per cluster and its first data sector at 14,035 (phase 3);
  // or no boot sector at all.
  void Open(std::int64_t sectors, bool withBootSector) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(sectors) * 512, 0);
    if (withBootSector) {
      std::memcpy(&bytes[82], "FAT32   ", 8);
      bytes[12] = 2;                   // 512 bytes per sector
      bytes[13] = 8;                   // sectors per cluster
      bytes[14] = 35;                  // reserved sectors
      bytes[16] = 2;                   // FATs
      bytes[36] = 7000 & 0xFF;         // sectors per FAT
      bytes[37] = 7000 >> 8;
    }
    platform->Add("disk.img", std::move(bytes));
    const OpenResult result = source->OpenImageFile("disk.img");
    ASSERT_TRUE(result.ok());
    params->ShowOpened(result.bootSectorRecognised);
  }

  const VolumeGeometry& scan() const { return source->ScanGeometry(); }
  const ParameterLists& lists() const { return params->Lists(); }

  // Records the boxes that would be shown.
  struct RecordingPrompt : Prompt {
    std::vector<Message> shown;
    void Show(const Message& m) override { shown.push_back(m); }
    bool AskYesNo(const Message& m) override { shown.push_back(m); return false; }
  } prompt;

  MemoryPlatformSource* platform = nullptr;
  std::unique_ptr<SectorSource> source;
  std::unique_ptr<VolumeParameters> params;
};

TEST_F(VolumeParametersTest, RecognisedBootSectorTrustsItsLayout) {
  Open(300'000, true);
  EXPECT_TRUE(params->CanTrustBootSector());
  EXPECT_EQ(scan().ClusterPhase, 3);
  EXPECT_EQ(scan().SectorsPerCluster, 8u);
  EXPECT_EQ(lists().reasonEntry, kReasonDeleted);
  EXPECT_EQ(lists().fileSystemEntry, kFileSystemFat32);
  EXPECT_EQ(lists().clusterSizeEntry, 3);  // "4K"
  EXPECT_FALSE(lists().fileSystemEnabled);
  EXPECT_FALSE(lists().clusterSizeEnabled);
}

TEST_F(VolumeParametersTest, EveryChoiceHandsThePhaseToTheScan) {
  Open(300'000, true);
  // A quick format keeps the cluster size: "Formatted" proposes the boot
  // sector's, "Repartitioned" the type's default.
  params->SelectReason(kReasonFormatted);
  params->ApplyReason(prompt);
  EXPECT_EQ(scan().ClusterPhase, -1);
  EXPECT_EQ(scan().SectorsPerCluster, 8u);
  EXPECT_EQ(lists().clusterSizeEntry, 3);  // "4K"
  EXPECT_TRUE(lists().fileSystemEnabled && lists().clusterSizeEnabled);
  params->SelectReason(kReasonRepartitioned);
  params->ApplyReason(prompt);
  EXPECT_EQ(scan().ClusterPhase, -1);
  EXPECT_EQ(scan().SectorsPerCluster, 4u);  // FAT32 default below 524,287 sectors
  EXPECT_EQ(lists().clusterSizeEntry, 2);

  params->SelectFileSystem(kFileSystemNtfs);
  params->FileSystemDefaults();
  EXPECT_EQ(scan().SectorsPerCluster, 8u);
  EXPECT_EQ(scan().FileSystemType, kFileSystemFat32);  // the list does not change the type found
  EXPECT_EQ(lists().clusterSizeEntry, 3);

  params->SelectClusterSize(5);
  params->ChooseClusterSize();
  EXPECT_EQ(scan().SectorsPerCluster, 32u);

  // Back to "Deleted or Disappeared": the opened type, its default size,
  // phase still left to the scan.
  params->SelectReason(kReasonDeleted);
  params->ApplyReason(prompt);
  EXPECT_EQ(lists().fileSystemEntry, kFileSystemFat32);
  EXPECT_EQ(scan().SectorsPerCluster, 4u);
  EXPECT_EQ(scan().ClusterPhase, -1);
  EXPECT_FALSE(lists().fileSystemEnabled || lists().clusterSizeEnabled);
  EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(VolumeParametersTest, ScanStartKeepsTheBootSectorPhase) {
  Open(300'000, true);
  params->ApplyClusterSize();
  EXPECT_EQ(scan().ClusterPhase, 3);
  EXPECT_EQ(scan().SectorsPerCluster, 8u);
}

TEST_F(VolumeParametersTest, DeletedIsRefusedWithoutABootSector) {
  Open(1'000, false);
  EXPECT_FALSE(params->CanTrustBootSector());
  EXPECT_EQ(lists().reasonEntry, kReasonRepartitioned);
  EXPECT_EQ(lists().fileSystemEntry, kFileSystemOther);
  params->SelectReason(kReasonDeleted);
  params->ApplyReason(prompt);
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].textSlot, 70);
  EXPECT_EQ(prompt.shown[0].captionSlot, 17);
  EXPECT_EQ(lists().reasonEntry, kReasonFormatted);
  EXPECT_TRUE(lists().fileSystemEnabled && lists().clusterSizeEnabled);
  EXPECT_EQ(scan().SectorsPerCluster, 1u);
  EXPECT_EQ(scan().ClusterPhase, -1);
}

// Repartitioned, chosen for the user, opens its lists as choosing it by hand
// does, whatever the source opened before had left them.
TEST_F(VolumeParametersTest, UnrecognisedOpenChoosesRepartitionedWithItsListsOpen) {
  Open(300'000, true);
  EXPECT_FALSE(lists().fileSystemEnabled);
  Open(1'000, false);
  EXPECT_TRUE(lists().fileSystemEnabled && lists().clusterSizeEnabled);
  EXPECT_EQ(lists().reasonEntry, kReasonRepartitioned);
}

TEST_F(VolumeParametersTest, FatDefaultBeyondTheTableKeepsTheClusterSize) {
  Open(1'000, false);
  source->ScanGeometry().LastSector = 4'194'303;  // a 2 GiB volume, without its bytes
  params->SelectClusterSize(4);
  params->ChooseClusterSize();
  params->SelectFileSystem(kFileSystemFat);
  params->FileSystemDefaults();
  EXPECT_EQ(scan().SectorsPerCluster, 16u);
}

TEST_F(VolumeParametersTest, ClusterSizeListNamesClustersInBytes) {
  Open(1'000, false);
  struct Case {
    std::uint32_t sectors;
    int entry;
  };
  for (const Case& c : {Case{1, 0}, Case{8, 3}, Case{64, 6}, Case{128, 6}, Case{3, 6}}) {
    params->ShowClusterSize(c.sectors);
    EXPECT_EQ(lists().clusterSizeEntry, c.entry) << c.sectors;
  }
  // 128 sectors show as "32K", and the scan then takes 64.
  params->ApplyClusterSize();
  EXPECT_EQ(scan().SectorsPerCluster, 64u);
}

TEST_F(VolumeParametersTest, LargeSectorsKeepTheClusterSizeInBytes) {
  platform->Add("/dev/sdz1", std::vector<std::uint8_t>(1 << 20)).sectorSize = 4096;
  ASSERT_TRUE(source->OpenPartition("/dev/sdz1", "sdz1").ok());
  params->ShowOpened(false);
  EXPECT_EQ(lists().clusterSizeEntry, 3);  // one 4 KiB sector: "4K"
  params->SelectClusterSize(5);            // "16K"
  params->ChooseClusterSize();
  EXPECT_EQ(scan().SectorsPerCluster, 4u);
  params->SelectClusterSize(0);            // "512": less than a sector
  params->ChooseClusterSize();
  EXPECT_EQ(scan().SectorsPerCluster, 1u);
}

}  // namespace
}  // namespace vellumark
