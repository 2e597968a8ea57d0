#include "rescue/carve_services.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <memory>
#include <vector>

#include "access/memory_platform_source.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using test::PatternBytes;
constexpr std::chrono::milliseconds kQuick(1);

struct Recorder final : Pump, ProgressSink {
  int pumps = 0;
  std::vector<ProgressReport> reports;
  void ProcessPendingEvents() override { ++pumps; }
  void StageStarted(ProgressStage) override {}
  void Report(const ProgressReport& r) override { reports.push_back(r); }
  void StageEnded(ProgressStage) override {}
};

// A disk of random 512-byte sectors with a rescue run over it.
struct Disk {
  explicit Disk(std::int64_t sectors, std::uint32_t spc = 1, std::int32_t phase = 0)
      : mem(new MemoryPlatformSource), source(std::unique_ptr<PlatformSource>(mem)), run(source, fe) {
    mem->Add("disk.img", bytes = PatternBytes(static_cast<std::size_t>(sectors) * 512));
    EXPECT_TRUE(source.OpenImageFile("disk.img").ok());
    run.claims = ClaimMap(source.ScanGeometry().LastSector);
    run.spc = spc, run.chosenPhase = phase;
  }
  Bytes bytes;
  MemoryPlatformSource* mem;
  SectorSource source;
  SilentPrompt prompt;
  Recorder recorder;
  FrontEnd fe{prompt, recorder, recorder};
  RescueRun run;
};

TEST(CarveServicesAttempt, StepsOverOtherFilesSectorsAndReleasesOnlyItsOwnClaims) {
  Disk disk(64);
  disk.run.claims.ClaimSector(11), disk.run.claims.ClaimSector(14);
  const int reads = disk.mem->ReadCalls();
  {
    CarveAttempt onClaimed(disk.run, 11 * 512, kGrowthSmall);
    EXPECT_FALSE(onClaimed.Start());
  }
  EXPECT_EQ(disk.mem->ReadCalls(), reads);
  EXPECT_EQ(disk.run.claims.CountClaimed(), 2);  // the other file keeps its sector
  {
    CarveAttempt attempt(disk.run, 10 * 512, kGrowthSmall);
    ASSERT_TRUE(attempt.Start());
    ASSERT_TRUE(attempt.LoadUpTo(4 * 512 - 1));  // a part of a sector loads all of it
    EXPECT_EQ(attempt.Position(), 16 * 512);
    EXPECT_EQ(attempt.Claims().Sectors(), (std::vector<std::int64_t>{10, 12, 13, 15}));
    Bytes expected;
    for (int s : {10, 12, 13, 15}) expected.insert(expected.end(), &disk.bytes[s * 512], &disk.bytes[s * 512] + 512);
    EXPECT_EQ(Bytes(attempt.Image(), attempt.Image() + attempt.Loaded()), expected);
  }
  EXPECT_EQ(disk.run.claims.CountClaimed(), 2);
  EXPECT_TRUE(disk.run.claims.IsSectorClaimed(11) && disk.run.claims.IsSectorClaimed(14));
}

// A walk that reads before it loads, or past the bytes it asked the window
// for, gets nothing instead of whatever lies beyond them.
TEST(CarveServicesAttempt, ViewsEndAtWhatIsLoadedAndAtWhatWasAskedFor) {
  Disk disk(8);
  CarveAttempt attempt(disk.run, 2 * 512, kGrowthSmall);
  ASSERT_TRUE(attempt.Start());
  EXPECT_EQ(attempt.View().Size(), 512u);
  EXPECT_EQ(attempt.View().Byte(511), disk.bytes[2 * 512 + 511]);
  EXPECT_EQ(attempt.View().Le32(510), std::nullopt);  // the next sector is not loaded
  ASSERT_TRUE(attempt.LoadOneMore());
  EXPECT_EQ(attempt.View().Le32(510), LoadLe32(&disk.bytes[2 * 512 + 510]));

  ForwardWindow window(attempt);
  const auto header = window.At(600, 12);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->Size(), 12u);
  EXPECT_EQ(header->Byte(11), disk.bytes[2 * 512 + 611]);
  EXPECT_EQ(header->Byte(12), std::nullopt);
  EXPECT_EQ(window.At(6 * 512, 512), std::nullopt);  // the source ends first
}

TEST(CarveServicesAttempt, EndOfSourceAndReadFailuresReleaseEveryClaim) {
  // 256 sectors read through a 128-sector window: a failure at sector 130
  // strikes the load of sector 128, yet only sector 130 is lost.
  const struct { const char* name; std::int64_t failSector, hit, sectors; bool started, loaded; } cases[] = {
      {"up to the last sector", -1, 250, 6, true, true},
      {"one sector past the last", -1, 250, 7, true, false},
      {"unreadable sector inside", 130, 0, 140, true, true},
      {"unreadable sector just past the load", 140, 0, 140, true, true},
      {"hit sector unreadable", 0, 0, 1, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Disk disk(256);
    if (c.failSector >= 0) disk.mem->FailReads(c.failSector * 512, 512);
    {
      CarveAttempt attempt(disk.run, c.hit * 512, kGrowthSmall);
      EXPECT_EQ(attempt.Start(), c.started);
      if (c.started) { EXPECT_EQ(attempt.LoadUpTo(c.sectors * 512), c.loaded); }
      if (c.loaded) {
        // Every readable sector holds its own bytes; the unreadable one zeros.
        const bool inside = c.failSector >= c.hit && c.failSector < c.hit + c.sectors;
        for (std::int64_t s = 0; s < c.sectors; ++s) {
          const std::uint8_t* got = attempt.Image() + s * 512;
          const bool bad = inside && c.hit + s == c.failSector;
          EXPECT_TRUE(bad ? std::all_of(got, got + 512, [](std::uint8_t b) { return b == 0; })
                          : std::equal(got, got + 512, disk.bytes.begin() + (c.hit + s) * 512))
              << "sector " << c.hit + s;
        }
        EXPECT_EQ(attempt.UnreadableSectors(), inside ? std::vector<std::int64_t>{c.failSector}
                                                      : std::vector<std::int64_t>{});
      }
    }
    EXPECT_EQ(disk.run.claims.CountClaimed(), 0);
  }
}

TEST(CarveServicesAttempt, SuccessKeepsClaimsAndClaimsSlackOfLastCluster) {
  // A file of `sectors` sectors from `hit` on; `claimed` sectors from hit on are claimed afterwards.
  const struct { const char* name; std::int64_t spc, phase, diskSectors, hit, sectors, claimed; } cases[] = {
      {"ends at 1000, slack 1001..1007", 8, 0, 2000, 992, 9, 16},
      {"ends at 1007, no slack", 8, 0, 2000, 999, 9, 9},
      {"one sector per cluster", 1, 0, 2000, 992, 9, 9},
      {"phase 3: slack 1001..1002", 8, 3, 2000, 992, 9, 11},
      {"slack past the last sector", 8, 0, 1004, 1000, 2, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Disk disk(c.diskSectors, c.spc, c.phase);
    {
      CarveAttempt attempt(disk.run, c.hit * 512, kGrowthSmall);
      ASSERT_TRUE(attempt.Start());
      ASSERT_TRUE(attempt.LoadUpTo(c.sectors * 512));
      attempt.Succeed();
    }
    EXPECT_EQ(disk.run.claims.CountClaimed(), c.claimed);
    for (std::int64_t s = c.hit; s < c.hit + c.claimed; ++s) EXPECT_TRUE(disk.run.claims.IsSectorClaimed(s)) << s;
  }
}

TEST(CarveServicesAttempt, GivesBackSectorsLoadedOnlyToSeeTheFileHadEnded) {
  // Hit at 8 in 8-sector clusters; sector 11 is another file's. The walk
  // loads up to image byte 2,048 (sectors 9, 10, 12), or loads 9, claims 10
  // unread and loads 12, then gives back from image offset end.
  using Sectors = std::vector<std::int64_t>;
  const struct { const char* name; bool claimAhead; std::int64_t end; Sectors kept; std::int64_t position, loaded; }
      cases[] = {
          {"end at the image's end", false, 2048, {8, 9, 10, 12}, 13, 2048},
          {"end inside the last sector", false, 1537, {8, 9, 10, 12}, 13, 2048},
          {"end at the last sector's start", false, 1536, {8, 9, 10}, 12, 1536},
          {"end one byte before it", false, 1535, {8, 9, 10}, 12, 1536},
          {"end before the skipped sector", false, 1024, {8, 9}, 10, 1024},
          {"end at the hit's start: the hit stays", false, 0, {8}, 9, 512},
          {"end before the image's front", false, -5000, {8}, 9, 512},
          {"a sector claimed unread stays, and those before it", true, 0, {8, 9, 10}, 12, 1024},
      };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Disk disk(64, 8, 0);
    disk.run.claims.ClaimSector(11);
    CarveAttempt attempt(disk.run, 8 * 512, kGrowthSmall);
    ASSERT_TRUE(attempt.Start());
    if (c.claimAhead) {
      ASSERT_TRUE(attempt.LoadUpTo(1024));
      ASSERT_TRUE(attempt.ClaimAhead());
    }
    ASSERT_TRUE(attempt.LoadUpTo(c.claimAhead ? 1536 : 2048));
    attempt.GiveBackFrom(c.end);
    EXPECT_EQ(attempt.Claims().Sectors(), c.kept);
    EXPECT_EQ(attempt.Position(), c.position * 512);
    EXPECT_EQ(attempt.Loaded(), c.loaded);
    for (std::int64_t s = 8; s < 16; ++s) {
      EXPECT_EQ(disk.run.claims.IsSectorClaimed(s), s == 11 || std::count(c.kept.begin(), c.kept.end(), s) == 1) << s;
    }
  }
  // After a give-back, the slack of the file's last cluster is claimed from
  // where the file ends; on failure, every claim goes, none twice.
  for (const bool success : {true, false}) {
    Disk disk(64, 8, 0);
    disk.run.claims.ClaimSector(11);
    {
      CarveAttempt attempt(disk.run, 8 * 512, kGrowthSmall);
      ASSERT_TRUE(attempt.Start());
      ASSERT_TRUE(attempt.LoadUpTo(6 * 512));  // 9, 10, 12, 13, 14
      attempt.GiveBackFrom(1000);              // keeps 8, 9
      if (success) attempt.Succeed();
    }
    EXPECT_EQ(disk.run.claims.CountClaimed(), success ? 8 : 1) << success;
    EXPECT_EQ(disk.run.claims.IsSectorClaimed(16), false);
  }
}

TEST(CarveServicesAttempt, ReportsProgressEvery200LoadedSectors) {
  Disk disk(512);
  for (int s = 50; s < 60; ++s) disk.run.claims.ClaimSector(s);
  CarveAttempt attempt(disk.run, 0, kGrowthLarge);
  ASSERT_TRUE(attempt.Start());
  ASSERT_TRUE(attempt.LoadUpTo(401 * 512));
  ASSERT_EQ(disk.recorder.reports.size(), 2u);
  EXPECT_EQ(disk.recorder.pumps, 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(disk.recorder.reports[i].stage, ProgressStage::Carve);
    EXPECT_EQ(disk.recorder.reports[i].sector, 210 + 200 * i);  // the position, past the 10 skipped sectors
  }
}

// The source's last sector, taken by another file, ends the walks of the
// files below it: neither a load nor a claim ahead takes it, and failing
// leaves it with its owner.
TEST(CarveServicesAttempt, LastSectorClaimedByAnotherFileStaysItsOwn) {
  for (const bool claimAhead : {false, true}) {
    SCOPED_TRACE(claimAhead ? "claimed ahead" : "loaded");
    Disk disk(64);
    disk.run.claims.ClaimSector(63);
    {
      CarveAttempt attempt(disk.run, 60 * 512, kGrowthSmall);
      ASSERT_TRUE(attempt.Start());
      ASSERT_TRUE(attempt.LoadUpTo(3 * 512));
      EXPECT_FALSE(claimAhead ? attempt.ClaimAhead() : attempt.LoadUpTo(4 * 512));
      EXPECT_EQ(attempt.Claims().Sectors(), (std::vector<std::int64_t>{60, 61, 62}));
    }
    EXPECT_EQ(disk.run.claims.CountClaimed(), 1);
    EXPECT_TRUE(disk.run.claims.IsSectorClaimed(63));
  }
}

TEST(CarveServicesNames, Base36NameOutputNameAndByteSwap) {
  const struct { std::int64_t v; const char* name; } cases[] = {
      {0, "0000000"}, {35, "000000Z"}, {36, "0000010"}, {2048, "00001KW"},
      {78'364'164'096, "0000000"}, {78'364'164'095, "ZZZZZZZ"},  // 36^7 and 36^7 - 1
  };
  for (const auto& c : cases) EXPECT_EQ(Base36Name(c.v), c.name) << c.v;
  EXPECT_EQ(OutputName("/x/", 1048576, ".DOC"), "/x/TEST_00001KW.DOC");
  std::uint32_t value = 0x11223344;
  ByteSwap32(value);
  EXPECT_EQ(value, 0x44332211u);
}

// What already has a rescued document's name is never written to or through:
// an identical file stands for the document, anything else keeps its bytes
// and mode and the document takes the next numbered name.
TEST(CarveServicesSave, KeepsWhatItFindsUnderTheName) {
  const Bytes data = PatternBytes(1536);
  enum class Found { Nothing, SameBytes, ReadOnlyOther, LinkToOutside, DanglingLink, HardLinkToOutside };
  const struct { Found found; const char* savedAs; } cases[] = {
      {Found::Nothing, "TEST_0000001.DOC"},         {Found::SameBytes, "TEST_0000001.DOC"},
      {Found::ReadOnlyOther, "TEST_0000001-2.DOC"}, {Found::LinkToOutside, "TEST_0000001-2.DOC"},
      {Found::DanglingLink, "TEST_0000001-2.DOC"},  {Found::HardLinkToOutside, "TEST_0000001-2.DOC"},
  };
  for (const auto& c : cases) {
    test::TempDir dir;
    fs::create_directory(dir / "out");
    const std::string name = dir / "out/TEST_0000001.DOC";
    const std::string outside = dir / "outside.img";
    const Bytes other = PatternBytes(5000, 7);
    test::WriteFileBytes(outside, other);
    ASSERT_EQ(::chmod(outside.c_str(), 0444), 0);
    switch (c.found) {
      case Found::Nothing: break;
      case Found::SameBytes: test::WriteFileBytes(name, data); break;
      case Found::ReadOnlyOther: test::WriteFileBytes(name, other), ::chmod(name.c_str(), 0444); break;
      case Found::LinkToOutside: fs::create_symlink(outside, name); break;
      case Found::DanglingLink: fs::create_symlink(dir / "nowhere", name); break;
      case Found::HardLinkToOutside: fs::create_hard_link(outside, name); break;
    }
    struct stat before {};
    ::lstat(name.c_str(), &before);

    const auto saved = SaveStreamWithRetry(data.data(), data.size(), name, kQuick);
    ASSERT_TRUE(saved) << static_cast<int>(c.found);
    EXPECT_EQ(*saved, dir / (std::string("out/") + c.savedAs));
    EXPECT_EQ(test::ReadFileBytes(*saved), data);
    struct stat st {};
    ASSERT_EQ(::stat(saved->c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0200, 0200u) << "a rescued document is the user's to change";
    if (c.found == Found::SameBytes) {
      EXPECT_EQ(st.st_ino, before.st_ino) << "an identical file is left alone";
    }
    // Whatever was there is as it was.
    EXPECT_EQ(test::ReadFileBytes(outside), other);
    ASSERT_EQ(::stat(outside.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_FALSE(fs::exists(dir / "nowhere"));
    if (c.found == Found::ReadOnlyOther) {
      EXPECT_EQ(test::ReadFileBytes(name), other);
    }
    // Nothing else is left in the folder: no temporary file.
    const auto entries = std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator());
    EXPECT_EQ(entries, c.found == Found::Nothing || c.found == Found::SameBytes ? 1 : 2);
  }
}

TEST(CarveServicesSave, FailsWithoutAFolder) {
  test::TempDir dir;
  const Bytes data = PatternBytes(512);
  EXPECT_FALSE(SaveStreamWithRetry(data.data(), data.size(), dir / "missing/TEST.DOC", kQuick));
}

TEST(CarveServicesNames, OutputNamesAreKnownWithOrWithoutANumber) {
  const struct { const char* name; bool output; } cases[] = {
      {"TEST_00001KW.DOC", true}, {"test_00001kw.doc", true}, {"TEST_00001KW-12.XLS", true},
      {"TEST_ZZZZZZZ.PPT", true}, {"TEST_00001K.DOC", false}, {"TEST_00001KW.DOCX", true},
      {"TEST_00001KW-3.odt", true}, {"TEST_00001KW.DOCM", false},
      {"TEST_00001KW-.DOC", false}, {"rescue-report.csv", false}, {"XTEST_00001KW.DOC", false},
      {"TEST_00001KW.TXT", true}, {"TEST_00001KW-2.txt", true}, {"notes.txt", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsOutputName(c.name), c.output) << c.name;
}

TEST(CarveServicesSave, WriteFailingPartWayRemovesThePartialFile) {
  test::TempDir dir;
  const std::string path = dir / "TEST_0000002.DOC";
  const Bytes data = PatternBytes(64 * 1024);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, SIG_IGN);
    ::_exit(SaveStreamWithRetry(data.data(), data.size(), path, kQuick) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the save reported success";
  EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "a partial file was left behind";
}

// As someone who is not the superuser, for whom a read-only file cannot be
// opened for writing: an identical read-only file of the name stands for
// the document, a different one keeps its bytes and the document takes the
// next name, and the saved document is the user's to change.
TEST(CarveServicesSave, ReadOnlyFilesOfTheNameAsAnOrdinaryUser) {
  constexpr uid_t kNobody = 65534;
  constexpr gid_t kNogroup = 65534;
  const Bytes data = PatternBytes(1536), other = PatternBytes(5000, 7);
  enum class Found { SameBytes, OtherBytes };
  for (const Found found : {Found::SameBytes, Found::OtherBytes}) {
    SCOPED_TRACE(found == Found::SameBytes ? "same bytes" : "other bytes");
    test::TempDir dir;
    const std::string folder = dir / "out", name = dir / "out/TEST_0000001.DOC";
    fs::create_directory(folder);
    test::WriteFileBytes(name, found == Found::SameBytes ? data : other);
    ASSERT_EQ(::chmod(name.c_str(), 0444), 0);
    for (const std::string& path : {dir.path().string(), folder, name}) {
      ASSERT_EQ(::chown(path.c_str(), kNobody, kNogroup), 0) << path;
    }
    // Exit code: 0 saved under the expected name, 1 not saved, 2 under
    // another name, 3 a new file the user cannot write, 4 no ordinary user.
    const std::string expected = found == Found::SameBytes ? name : dir / "out/TEST_0000001-2.DOC";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (::setgroups(0, nullptr) != 0 || ::setresgid(kNogroup, kNogroup, kNogroup) != 0 ||
          ::setresuid(kNobody, kNobody, kNobody) != 0 || ::geteuid() == 0) {
        ::_exit(4);
      }
      const auto saved = SaveStreamWithRetry(data.data(), data.size(), name, kQuick);
      if (!saved) ::_exit(1);
      if (*saved != expected) ::_exit(2);
      ::_exit(*saved == name || ::access(saved->c_str(), W_OK) == 0 ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_NE(WEXITSTATUS(status), 4) << "could not become an ordinary user";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(test::ReadFileBytes(name), found == Found::SameBytes ? data : other);
    EXPECT_EQ(test::ReadFileBytes(expected), data);
    struct stat st {};
    ASSERT_EQ(::stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u) << "what was there keeps its mode";
    const auto entries = std::distance(fs::directory_iterator(folder), fs::directory_iterator());
    EXPECT_EQ(entries, found == Found::SameBytes ? 1 : 2);
  }
}

}  // namespace
}  // namespace vellumark
