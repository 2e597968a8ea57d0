#include "rescue/carvers/carvers.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "access/memory_platform_source.h"
#include "rescue/carve_services.h"
#include "output/staged_file.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using test::PatternBytes;
using test::ReadFileBytes;
const std::string kCorpus = VELLUMARK_CORPUS_DIR;

#define REQUIRE_CORPUS() \
  if (!fs::is_directory(kCorpus)) VELLUMARK_CANNOT_RUN("test corpus not found at " << kCorpus)

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A compound file with its FAT in sector 0, its directory in sectors
// 1..dirSectors and data up to sector lastUsed; "" leaves a directory entry unused.
Bytes Compound(int lastUsed, std::vector<std::string> names = {"Root Entry", "WordDocument"}, int dirSectors = 1) {
  Bytes f = PatternBytes((lastUsed + 2) * 512, 7);
  std::fill(f.begin(), f.begin() + (dirSectors + 2) * 512, 0);
  std::fill(f.begin() + 76, f.begin() + 512, 0xFF);
  std::memcpy(f.data(), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  Put32(f, 24, 0x0003003E), Put32(f, 28, 0x0009FFFE), Put32(f, 44, 1), Put32(f, 48, 1);
  Put32(f, 60, 0xFFFFFFFE), Put32(f, 68, 0xFFFFFFFE), Put32(f, 76, 0);
  for (int i = 0; i < 128; ++i) {
    const std::uint32_t link = i == 0 ? 0xFFFFFFFD : i < dirSectors ? i + 1 : i <= lastUsed ? 0xFFFFFFFE : 0xFFFFFFFF;
    Put32(f, 512 + 4 * i, link);
  }
  for (std::size_t j = 0; j < names.size(); ++j) {
    std::uint8_t* entry = f.data() + 1024 + 128 * j;
    for (std::size_t k = 0; k < names[j].size(); ++k) entry[2 * k] = static_cast<std::uint8_t>(names[j][k]);
    if (!names[j].empty()) entry[64] = static_cast<std::uint8_t>(2 * names[j].size() + 2);
  }
  return f;
}

Bytes With(Bytes f, const std::function<void(Bytes&)>& edit) { return edit(f), f; }

// A disk of random sectors holding file at hitSector, followed by tail random 512-byte sectors.
struct Disk {
  Disk(const Bytes& file, std::int64_t hitSector, std::int64_t tail = 160, std::uint32_t sectorSize = 512)
      : hit(hitSector * sectorSize), mem(new MemoryPlatformSource), source(std::unique_ptr<PlatformSource>(mem)),
        run(source, fe) {
    const std::int64_t fileSectors = (static_cast<std::int64_t>(file.size()) + sectorSize - 1) / sectorSize;
    image = PatternBytes((hitSector + fileSectors) * sectorSize + tail * 512, 3);
    std::copy(file.begin(), file.end(), image.begin() + hit);
    mem->Add("disk", image).sectorSize = sectorSize;
    EXPECT_TRUE((sectorSize == 512 ? source.OpenImageFile("disk") : source.OpenPartition("disk", "disk")).ok());
    run.claims = ClaimMap(source.ScanGeometry().LastSector);
    run.chosenPhase = 0;
    run.saveFolder = dir.path().string() + "/";
  }
  Bytes Written(const char* ext) const { return ReadFileBytes(OutputName(run.saveFolder, hit, ext)); }
  int FileCount() const { return static_cast<int>(std::distance(fs::directory_iterator(dir.path()), {})); }

  std::int64_t hit;
  Bytes image;
  MemoryPlatformSource* mem;
  SectorSource source;
  SilentPrompt prompt; NoPump pump; NoProgress progress;
  FrontEnd fe{prompt, pump, progress};
  RescueRun run;
  test::TempDir dir;
};

// Carves file placed at hitSector. ext null: nothing is written; walked: the
// claims stay (length bytes' worth), otherwise every claim is released.
void Carve(const Bytes& file, std::int64_t hitSector, TypeMask mask, const char* ext, bool walked,
           std::int64_t length, std::int64_t tail = 160) {
  Disk disk(file, hitSector, tail);
  disk.run.typeMask = mask;
  CompoundCarver(disk.run, disk.hit);
  EXPECT_EQ(disk.run.rescued, ext ? 1 : 0);
  EXPECT_EQ(disk.FileCount(), ext ? 1 : 0);
  const auto at = disk.image.begin() + disk.hit;
  if (ext) { EXPECT_TRUE(disk.Written(ext) == Bytes(at, at + length)) << "not the image's " << length << " bytes"; }
  EXPECT_EQ(disk.run.claims.CountClaimed(), walked ? (length + 511) / 512 : 0);
}

TEST(CompoundCarverSynthetic, HeaderFatDifatAndDirectoryRules) {
  using namespace type_mask;
  const Bytes doc = Compound(9);
  const auto difat = [](std::uint32_t next) {  // the FAT sector listed by a DIFAT sector (2) instead of the header
    return [next](Bytes& f) {
      Put32(f, 76, 0xFFFFFFFF), Put32(f, 68, 2), Put32(f, 72, 1);
      for (int i = 0; i < 128; ++i) Put32(f, 3 * 512 + 4 * i, i == 0 ? 0 : i == 127 ? next : 0xFFFFFFFF);
    };
  };
  const std::string x31(31, 'x'), x32(32, 'x');
  const struct { const char* name; Bytes file; TypeMask mask; const char* ext; bool walked; } cases[] = {
      {"last used FAT entry 9: 5,632 bytes", doc, kWord, ".DOC", true},
      {"unused entry before WordDocument", Compound(9, {"Root Entry", "", "WordDocument"}), kWord, {}, true},
      {"64-byte name", Compound(9, {"Root Entry", x31, "WordDocument"}), kWord, ".DOC", true},
      {"66-byte name ends the walk", Compound(9, {"Root Entry", x32, "WordDocument"}), kWord, {}, true},
      {"the first stream name decides", Compound(9, {"Root Entry", "Workbook", "WordDocument"}), kWord, {}, true},
      {"workbook, Excel selected", Compound(9, {"Root Entry", "Workbook"}), kExcel, ".XLS", true},
      {"Excel 5.0/95 book", Compound(9, {"Root Entry", "Book"}), kExcel, ".XLS", true},
      {"Excel 5.0/95 book, Word only", Compound(9, {"Root Entry", "Book", "WordDocument"}), kWord, {}, true},
      {"a longer name is no book", Compound(9, {"Root Entry", "Books"}), kExcel, {}, true},
      {"presentation", Compound(9, {"Root Entry", "PowerPoint Document"}), kPowerPoint, ".PPT", true},
      {"presentation, not selected", Compound(9, {"Root Entry", "PowerPoint Document"}), kWord, {}, true},
      {"20 directory sectors", Compound(25, {"Root Entry", "WordDocument"}, 20), kWord, ".DOC", true},
      {"21 directory sectors", Compound(25, {"Root Entry", "WordDocument"}, 21), kWord, ".DOC", true},
      {"signature", With(doc, [](Bytes& f) { f[7] = 0xE0; }), kWord, {}, false},
      {"4096-byte compound sectors", With(doc, [](Bytes& f) { Put32(f, 28, 0x000CFFFE); }), kWord, {}, false},
      {"a FAT sector listed twice", With(doc, [](Bytes& f) { Put32(f, 80, 0); }), kWord, {}, false},
      {"directory chain looping", With(doc, [](Bytes& f) { Put32(f, 512 + 4 * 1, 1); }), kWord, {}, false},
      {"directory link beyond the FAT", With(doc, [](Bytes& f) { Put32(f, 48, 128); }), kWord, {}, false},
      {"DIFAT chain", With(doc, difat(0xFFFFFFFE)), kWord, ".DOC", true},
      {"DIFAT chain ended by the free marker", With(doc, difat(0xFFFFFFFF)), kWord, ".DOC", true},
      {"DIFAT sector linking to itself", With(doc, difat(2)), kWord, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Carve(c.file, 4, c.mask, c.ext, c.walked, static_cast<std::int64_t>(c.file.size()));
  }
}

TEST(CompoundCarverSynthetic, KeepsAnEarlierFileOfItsNameAndIgnoresHitInsideCarvedFile) {
  Bytes doc = Compound(9);
  std::copy(doc.begin(), doc.begin() + 512, doc.begin() + 6 * 512);  // a header copy inside the file
  Disk disk(doc, 4);
  const std::string target = OutputName(disk.run.saveFolder, disk.hit, ".DOC");
  test::WriteFileBytes(target, Bytes(9000, 0x55));
  ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
  CompoundCarver(disk.run, disk.hit);
  EXPECT_EQ(disk.Written(".DOC"), Bytes(9000, 0x55));
  const std::string numbered = NumberedName(target, 2);
  EXPECT_EQ(ReadFileBytes(numbered), doc);
  ASSERT_EQ(disk.run.documents.size(), 1u);
  EXPECT_EQ(disk.run.documents[0].outputName, numbered);
  const int reads = disk.mem->ReadCalls();
  CompoundCarver(disk.run, disk.hit + 6 * 512);
  EXPECT_EQ(disk.mem->ReadCalls(), reads);
  EXPECT_EQ(disk.run.rescued, 1);
  EXPECT_EQ(disk.FileCount(), 2);
  EXPECT_EQ(disk.run.claims.CountClaimed(), 11);
}

TEST(CompoundCarverSynthetic, FailedSaveCountsNothingAndKeepsClaims) {
  Disk disk(Compound(9), 4);
  disk.run.typeMask = type_mask::kWord;
  disk.run.saveFolder += "missing/";
  CompoundCarver(disk.run, disk.hit);
  EXPECT_EQ(disk.run.rescued, 0);
  EXPECT_EQ(disk.run.claims.CountClaimed(), 11);
}

TEST(CompoundCarverSynthetic, WrittenLengthIsTheFatsOnDisksWithLargerSectors) {
  Disk disk(Compound(9), 2, 16, 4096);  // 5,632 bytes: one and a half 4,096-byte sectors
  CompoundCarver(disk.run, disk.hit);
  EXPECT_EQ(disk.run.rescued, 1);
  EXPECT_EQ(disk.Written(".DOC").size(), 5632u);
}

// The report's runs cover the whole document, its last disk sector too
// when the document ends part-way through it.
TEST(CompoundCarverSynthetic, RunsHoldTheLastPartialSectorOnDisksWithLargerSectors) {
  const struct { std::int64_t foreign; std::vector<SectorRun> runs; } cases[] = {
      {-1, {{2, 2}}},               // 5,632 bytes: one and a half 4,096-byte sectors
      {3, {{2, 1}, {4, 1}}},        // another file's sector between the two halves
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.foreign);
    Bytes image = Compound(9);
    if (c.foreign >= 0) image.insert(image.begin() + 4096, 4096, 0x66);
    Disk disk(image, 2, 16, 4096);
    if (c.foreign >= 0) disk.run.claims.ClaimSector(c.foreign);
    CompoundCarver(disk.run, disk.hit);
    ASSERT_EQ(disk.run.documents.size(), 1u);
    EXPECT_EQ(disk.run.documents[0].length, 5632);
    EXPECT_EQ(disk.run.documents[0].runs, c.runs);
    EXPECT_EQ(disk.Written(".DOC"), Compound(9));
  }
}

// A directory chain that starts at a sector the FAT does not map has no
// next link to read: the walk fails there, whatever lies past the FAT's end.
// Every other sector's entry ends a chain, so a link read from past the FAT
// would most likely end the directory and let the walk pass.
TEST(CompoundCarverSynthetic, DirectoryLinkBeyondTheFatFailsTheWalk) {
  for (const std::uint32_t directory : {128u, 129u, 130u, 131u, 136u, 160u, 191u}) {
    SCOPED_TRACE(directory);
    const Bytes doc = With(Compound(9), [&](Bytes& f) {
      Put32(f, 48, directory);
      Put32(f, 512, 0xFFFFFFFE);  // the FAT sector's own entry too
    });
    Disk disk(doc, 4, 200);
    CompoundCarver(disk.run, disk.hit);
    EXPECT_TRUE(disk.run.documents.empty());
    EXPECT_EQ(disk.run.claims.CountClaimed(), 0);
    EXPECT_EQ(disk.FileCount(), 0);
  }
}

TEST(CompoundCarverCorpus, EveryWordDocumentRebuiltFromRandomDisk) {
  REQUIRE_CORPUS();
  // Where the FAT's length is not the file's.
  const std::map<std::string, std::int64_t> fatLength = {
      {"test.doc", 22016}, {"47950_normal.doc", 66048},
      {"ca.kwsymphony.www_education_School_Concert_Seat_Booking_Form_2011-12.doc", 1619456}};
  // Every one is walked, also those whose header lists its FAT sectors out of
  // order (Bug33519, FloatingPictures, ...) and Bug50936_1 with its
  // 34-sector directory.
  const std::set<std::string> failing;
  const std::string unnamedRoot = "TestInvertedClassID.doc";  // root name length 2 ends the directory walk
  std::set<fs::path> paths(fs::directory_iterator(kCorpus + "/doc"), {});  // with large-difat-libreoffice.doc
  ASSERT_GT(paths.size(), 150u);
  std::int64_t lead = 0;
  for (const fs::path& path : paths) {
    const std::string name = path.filename().string();
    SCOPED_TRACE(name);
    const bool fails = failing.count(name) > 0, written = !fails && name != unnamedRoot;
    const auto length = fatLength.count(name) ? fatLength.at(name) : static_cast<std::int64_t>(fs::file_size(path));
    Carve(ReadFileBytes(path.string()), 1 + lead++ % 13, type_mask::kWord, written ? ".DOC" : nullptr, !fails, length);
  }
}

TEST(CompoundCarverCorpus, DocumentInterleavedWithOtherFilesSectorsRebuiltWhole) {
  REQUIRE_CORPUS();
  const Bytes doc = ReadFileBytes(kCorpus + "/doc/53379.doc");
  ASSERT_EQ(doc.size() % 512, 0u);
  Bytes image = PatternBytes(2 * doc.size() + 8 * 512);
  std::vector<std::int64_t> others;  // every third sector after the hit belongs to another file
  std::int64_t p = 8;
  for (std::size_t at = 0; at < doc.size(); at += 512, ++p) {
    for (; p > 8 && (p - 8) % 3 == 0; ++p) others.push_back(p);
    std::copy(doc.begin() + at, doc.begin() + at + 512, image.begin() + p * 512);
  }
  Disk disk(image, 0, 0);
  for (std::int64_t s : others) disk.run.claims.ClaimSector(s);
  disk.run.typeMask = type_mask::kWord;
  CompoundCarver(disk.run, 8 * 512);
  EXPECT_EQ(ReadFileBytes(OutputName(disk.run.saveFolder, 8 * 512, ".DOC")), doc);
  EXPECT_EQ(disk.run.claims.CountClaimed(), p - 8);
  EXPECT_FALSE(disk.run.claims.IsSectorClaimed(p));

  // The record says where the document came from: runs of two sectors
  // between the other file's, the first run three long.
  ASSERT_EQ(disk.run.documents.size(), 1u);
  const DocumentRecord& record = disk.run.documents[0];
  EXPECT_EQ(record.kind, DocumentKind::Word);
  EXPECT_TRUE(record.saved);
  EXPECT_EQ(record.outputName, OutputName(disk.run.saveFolder, 8 * 512, ".DOC"));
  EXPECT_EQ(record.startSector, 8);
  EXPECT_EQ(record.length, static_cast<std::int64_t>(doc.size()));
  std::int64_t covered = 0;
  for (const SectorRun& run : record.runs) {
    EXPECT_EQ(std::count(others.begin(), others.end(), run.first - 1), run.first == 8 ? 0 : 1) << run.first;
    covered += run.count;
  }
  EXPECT_EQ(record.runs.front(), (SectorRun{8, 3}));
  EXPECT_EQ(covered * 512, static_cast<std::int64_t>(doc.size()));
}

TEST(CompoundCarverCorpus, WorkbooksMalformedAndOtherCompoundFiles) {
  REQUIRE_CORPUS();
  using namespace type_mask;
  const struct { const char* path; TypeMask mask; const char* ext; bool walked; std::int64_t tail; } cases[] = {
      {"xls/53446.xls", kWord, nullptr, true, 160}, {"xls/53446.xls", kExcel, ".XLS", true, 160},
      // Damaged inside its streams, but its FAT and directory hold together.
      {"doc-malformed/Fuzzed.doc", kAllDocuments, ".DOC", true, 0},
      {"doc-malformed/badfile-01-bad-header.doc", kAllDocuments, nullptr, false, 0},
      {"doc-malformed/word2.doc", kAllDocuments, nullptr, false, 0},
      {"other-ole/Test_Visio-Some_Random_Text.vsd", kAllDocuments, nullptr, true, 0},
      {"other-ole/example_received_unicode.msg", kAllDocuments, nullptr, true, 0},  // a 34-sector directory
      {"other-ole/only-zero-byte-streams.ole2", kAllDocuments, nullptr, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const Bytes file = ReadFileBytes(kCorpus + "/" + c.path);
    Carve(file, 3, c.mask, c.ext, c.walked, static_cast<std::int64_t>(file.size()), c.tail);
  }
}

}  // namespace
}  // namespace vellumark
