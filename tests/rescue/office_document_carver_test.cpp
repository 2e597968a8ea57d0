// Office documents in ZIP form (.docx, .xlsx, .pptx, .odt) as Word,
// LibreOffice and python-docx wrote them, rescued whole, in pieces around
// foreign clusters, and refused when a member's data is truly lost.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/byte_order.h"
#include "rescue/carve_services.h"
#include "rescue/media_carver_fixture.h"
#include "report/read_back.h"
#include "support/long_office_document.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using namespace test;  // NOLINT

Bytes Office(const char* name) { return ReadFileBytes(std::string(VELLUMARK_CORPUS_DIR) + "/ooxml/" + name); }

constexpr TypeMask kAllOffice = type_mask::kDocx | type_mask::kXlsx | type_mask::kPptx | type_mask::kOdt;

// A disk of 4 KiB clusters holding file from sector 16 on, around gaps of
// foreign sectors (text when asked, else random bytes), rescued into a folder.
struct OfficeDisk {
  OfficeDisk(const Bytes& file, const std::set<std::int64_t>& gaps = {}, bool textGaps = false,
             TypeMask mask = kAllOffice)
      : disk(Foreign(Place(file, kHit, 24, gaps), gaps, textGaps), 8) {
    disk.run.saveFolder = dir.path().string() + "/";
    disk.run.typeMask = mask;
  }
  static Bytes Foreign(Bytes image, const std::set<std::int64_t>& gaps, bool text) {
    static const std::string kLine = "2026-12-07 12:00:01 INFO worker 7 finished its batch\n";
    for (const std::int64_t sector : gaps) {
      for (std::int64_t i = 0; text && i < 512; ++i) {
        image[static_cast<std::size_t>(sector * 512 + i)] = static_cast<std::uint8_t>(kLine[i % kLine.size()]);
      }
    }
    return image;
  }
  void Carve() { OfficeDocumentCarver(disk.run, kHit * 512); }
  Bytes Written(const char* extension) const { return ReadFileBytes(OutputName(disk.run.saveFolder, kHit * 512, extension)); }
  std::size_t FilesWritten() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir.path()), {})); }

  static constexpr std::int64_t kHit = 16;
  TempDir dir;
  Disk disk;
};

std::set<std::int64_t> Clusters(std::initializer_list<std::int64_t> starts) {
  std::set<std::int64_t> sectors;
  for (const std::int64_t start : starts) {
    for (std::int64_t s = start; s < start + 8; ++s) sectors.insert(s);
  }
  return sectors;
}

TEST(OfficeDocumentCarver, WholeDocumentsAreWrittenUnderTheirKindsName) {
  const struct { const char* name; const char* extension; DocumentKind kind; } cases[] = {
      {"docx.docx", ".DOCX", DocumentKind::WordDocx},          // Word: sizes in the local headers
      {"57843.docx", ".DOCX", DocumentKind::WordDocx},         // LibreOffice: data descriptors
      {"pydocx-03.docx", ".DOCX", DocumentKind::WordDocx},     // python-docx
      {"xlsx.xlsx", ".XLSX", DocumentKind::ExcelXlsx},
      {"pptx.pptx", ".PPTX", DocumentKind::PowerPointPptx},
      {"Bug44292.odt", ".ODT", DocumentKind::OdfText},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes file = Office(c.name);
    if (file.empty()) VELLUMARK_CANNOT_RUN("no office corpus");
    OfficeDisk office(file);
    office.Carve();
    EXPECT_TRUE(office.Written(c.extension) == file);
    ASSERT_EQ(office.disk.run.documents.size(), 1u);
    const DocumentRecord& record = office.disk.run.documents[0];
    EXPECT_EQ(record.kind, c.kind);
    EXPECT_EQ(record.length, static_cast<std::int64_t>(file.size()));
    EXPECT_EQ(record.runs, (std::vector<SectorRun>{{OfficeDisk::kHit, SectorsOf(file)}}));
    EXPECT_EQ(office.disk.run.rescued, 1);
    // Claimed through the end of the file's last cluster.
    const std::int64_t end = (OfficeDisk::kHit + SectorsOf(file) + 7) / 8 * 8;
    EXPECT_EQ(office.disk.Claimed(), Runs({{OfficeDisk::kHit, end - 1}}));
  }
}

// The archive comment after the end record is the document's last part:
// written, counted in its length and claimed with it.
TEST(OfficeDocumentCarver, TheEndRecordsCommentIsPartOfTheDocument) {
  VELLUMARK_REQUIRE_TOOL("zip");
  const Bytes plain = Office("docx.docx");
  if (plain.empty()) VELLUMARK_CANNOT_RUN("no office corpus");
  TempDir tools;
  WriteFileBytes(tools / "c.docx", plain);
  ASSERT_EQ(test::Run("head -c 700 /dev/zero | tr '\\0' c | zip -q -z " + (tools / "c.docx")), 0);
  const Bytes file = ReadFileBytes(tools / "c.docx");
  const Bytes endRecord = {'P', 'K', 5, 6};
  const auto end = std::find_end(file.begin(), file.end(), endRecord.begin(), endRecord.end()) - file.begin();
  ASSERT_GE(LoadLe16(file.data() + end + 20), 700);  // the comment fills the rest of the file
  ASSERT_EQ(static_cast<std::size_t>(end + 22 + LoadLe16(file.data() + end + 20)), file.size());
  OfficeDisk office(file);
  office.Carve();
  EXPECT_TRUE(office.Written(".DOCX") == file);
  ASSERT_EQ(office.disk.run.documents.size(), 1u);
  EXPECT_EQ(office.disk.run.documents[0].length, static_cast<std::int64_t>(file.size()));
  const std::int64_t last = (OfficeDisk::kHit + SectorsOf(file) + 7) / 8 * 8 - 1;
  EXPECT_EQ(office.disk.Claimed(), Runs({{OfficeDisk::kHit, last}}));
}

TEST(OfficeDocumentCarver, KindsNotAskedForAndOtherArchivesAreOnlyMeasured) {
  const Bytes docx = Office("57843.docx");
  if (docx.empty()) VELLUMARK_CANNOT_RUN("no office corpus");
  OfficeDisk unasked(docx, {}, false, type_mask::kWord);
  unasked.Carve();
  EXPECT_EQ(unasked.FilesWritten(), 0u);
  EXPECT_EQ(unasked.disk.run.rescued, 0);
  ASSERT_EQ(unasked.disk.run.documents.size(), 1u);  // listed all the same, as not saved
  EXPECT_FALSE(unasked.disk.run.documents[0].saved);
  EXPECT_FALSE(unasked.disk.Claimed().empty());

  VELLUMARK_REQUIRE_TOOL("zip");
  TempDir dir;
  WriteFileBytes(dir / "payload.bin", PatternBytes(9000, 4));
  const Bytes plain = Made(dir, "cd '" + dir.path().string() + "' && zip -q -X ", "plain.zip", " payload.bin");
  OfficeDisk archive(plain);
  archive.Carve();
  EXPECT_EQ(archive.FilesWritten(), 0u);
  EXPECT_TRUE(archive.disk.run.documents.empty());
  EXPECT_EQ(archive.disk.Claimed(), Runs({{OfficeDisk::kHit, OfficeDisk::kHit + 23}}));
}

// Foreign clusters inside members: random bytes inside a deflated member,
// log text, and a run of clusters; every member's CRC finds them.
TEST(OfficeDocumentCarver, ForeignClustersInsideMembersAreLeftOut) {
  const struct { const char* name; std::set<std::int64_t> gaps; bool text; } cases[] = {
      {"pydocx-03.docx", Clusters({32}), false},
      {"pydocx-03.docx", Clusters({24, 40, 48}), true},
      {"pydocx-07.docx", Clusters({32, 80}), false},
      {"ThreeColHeadFoot.odt", Clusters({24}), false},
      {"Picture_Alternative_Text.odt", Clusters({24}), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name + std::string(c.text ? " around text" : " around random bytes"));
    const Bytes file = Office(c.name);
    if (file.empty()) VELLUMARK_CANNOT_RUN("no office corpus");
    OfficeDisk office(file, c.gaps, c.text);
    office.Carve();
    const char* extension = std::string(c.name).ends_with(".odt") ? ".ODT" : ".DOCX";
    EXPECT_TRUE(office.Written(extension) == file);
    for (const std::int64_t gap : c.gaps) EXPECT_FALSE(office.disk.run.claims.IsSectorClaimed(gap)) << gap;
    ASSERT_EQ(office.disk.run.documents.size(), 1u);
    std::int64_t runs = 0, sectors = 0;
    for (const SectorRun& run : office.disk.run.documents[0].runs) {
      ++runs;
      sectors += run.count;
      for (std::int64_t s = run.first; s < run.first + run.count; ++s) EXPECT_EQ(c.gaps.count(s), 0u) << s;
    }
    EXPECT_EQ(sectors, SectorsOf(file));
    EXPECT_GE(runs, 2);
  }
}

// On FAT the data area seldom starts on a multiple of the cluster size:
// here clusters start at sectors 3, 11, 19 ..., and the foreign cluster is
// found only where such a cluster starts.
TEST(OfficeDocumentCarver, ForeignClustersAreFoundWhereTheVolumesClustersStart) {
  const Bytes file = Office("pydocx-03.docx");
  if (file.empty()) VELLUMARK_CANNOT_RUN("no office corpus");
  for (const bool text : {false, true}) {
    SCOPED_TRACE(text ? "around text" : "around random bytes");
    constexpr std::int64_t kHit = 19;
    std::set<std::int64_t> gaps;
    for (std::int64_t s = 35; s < 43; ++s) gaps.insert(s);
    TempDir dir;
    Disk disk(OfficeDisk::Foreign(Place(file, kHit, 24, gaps), gaps, text), 8);
    disk.run.chosenPhase = 3;
    disk.run.saveFolder = dir.path().string() + "/";
    disk.run.typeMask = kAllOffice;
    OfficeDocumentCarver(disk.run, kHit * 512);
    EXPECT_TRUE(ReadFileBytes(OutputName(disk.run.saveFolder, kHit * 512, ".DOCX")) == file);
    for (const std::int64_t gap : gaps) EXPECT_FALSE(disk.run.claims.IsSectorClaimed(gap)) << gap;
  }
}

// A document whose data is truly lost is not written; only its text is, as
// far as it can be read, and that claims nothing.
TEST(OfficeDocumentCarver, ADocumentWithLostDataIsNotWrittenAndClaimsNothing) {
  const Bytes file = Office("pydocx-03.docx");
  if (file.empty()) VELLUMARK_CANNOT_RUN("no office corpus");
  // A cluster inside overwritten (not moved): no removal can mend it.
  Bytes damaged = file;
  for (std::size_t i = 8 * 4096; i < 9 * 4096 && i < damaged.size(); ++i) damaged[i] ^= 0x5A;
  const Bytes cut = Head(file, file.size() - 100);
  for (const Bytes& broken : {damaged, cut}) {
    OfficeDisk office(broken);
    office.Carve();
    for (const DocumentRecord& record : office.disk.run.documents) {
      EXPECT_TRUE(record.partialText);
      EXPECT_TRUE(record.outputName.ends_with(".TXT")) << record.outputName;
    }
    EXPECT_EQ(office.FilesWritten(), office.disk.run.documents.size());
    EXPECT_TRUE(office.disk.Claimed().empty());
  }
}

// A long document (many deflate blocks) with a cluster of its body part's
// data overwritten: its text from before the cluster and from the blocks
// after it is written as text, listed as partial with the share of the
// body recovered, and the report reads it so.
TEST(OfficeDocumentCarver, TheTextAroundOverwrittenBodyDataIsKept) {
  TempDir made;
  const Bytes file = LongOfficeDocument(made, "pydocx-02.docx", 3000);
  if (file.empty()) VELLUMARK_CANNOT_RUN("zip, unzip or python3 missing");
  const BodyData body = BodyDataOf(file);
  Bytes damaged = file;
  // The 4 KiB cluster a third into the body's data, overwritten in place.
  const std::size_t cluster = (body.offset + body.size / 3) / 4096 * 4096;
  for (std::size_t i = cluster; i < cluster + 4096; ++i) damaged[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
  OfficeDisk office(damaged, {}, false, type_mask::kDocx);
  office.Carve();
  ASSERT_EQ(office.disk.run.documents.size(), 1u);
  const DocumentRecord& record = office.disk.run.documents[0];
  EXPECT_TRUE(record.partialText);
  EXPECT_EQ(record.kind, DocumentKind::WordDocx);
  EXPECT_GT(record.recoveredPercent, 10);
  EXPECT_LT(record.recoveredPercent, 100);
  EXPECT_TRUE(office.disk.Claimed().empty());
  const Bytes written = office.Written(".TXT");
  const std::string text(written.begin(), written.end());
  EXPECT_NE(text.find(LongDocumentParagraph(0) + "\n"), std::string::npos);
  EXPECT_NE(text.find(LongDocumentParagraph(200) + "\n"), std::string::npos);
  EXPECT_NE(text.find("Issued August 1997"), std::string::npos);  // the document's own last words
  const DocumentInspection inspection = InspectDocument(record);
  EXPECT_EQ(inspection.verdict, Verdict::Partial);
  EXPECT_NE(inspection.fault.find(std::to_string(record.recoveredPercent) + "%"), std::string::npos) << inspection.fault;
}

// The report reads a rescued document as an independent reader would:
// python's zipfile and its XML parser give the expected values.
TEST(OfficeDocumentCarver, ReportReadsPropertiesAndText) {
  const fs::path corpus = fs::path(VELLUMARK_CORPUS_DIR) / "ooxml";
  if (!fs::is_directory(corpus)) VELLUMARK_CANNOT_RUN("no office corpus");
  for (const char* name : {"pydocx-01.docx", "57843.docx", "Bug44292.odt"}) {
    SCOPED_TRACE(name);
    const std::string path = (corpus / name).string();
    const bool odt = std::string(name).ends_with(".odt");
    const std::string expected = RunOutput(
        "python3 -c \"import sys,zipfile,xml.etree.ElementTree as E\n"
        "z=zipfile.ZipFile(sys.argv[1]); odt=sys.argv[1].endswith('.odt')\n"
        "m=E.fromstring(z.read('meta.xml' if odt else 'docProps/core.xml'))\n"
        "f=lambda t: next((e.text or '' for e in m.iter() if e.tag.endswith('}'+t)), '')\n"
        "b=E.fromstring(z.read('content.xml' if odt else 'word/document.xml'))\n"
        "def text(e):\n"
        "  out=(e.text or '') if odt or e.tag.endswith('}t') else ''\n"
        "  for c in e: out+=('\\t' if c.tag.endswith('}tab') else text(c))+((c.tail or '') if odt else '')\n"
        "  return out\n"
        "p=[text(e) for e in b.iter() if e.tag.endswith('}p')]\n"
        "print(f('title')); print(f('creator') or f('initial-creator')); print(next((x for x in p if x.strip()), ''))\n"
        "import calendar,time; d=f('modified') or (f('date') if odt else '')\n"
        "print(calendar.timegm(time.strptime(d[:19], '%Y-%m-%dT%H:%M:%S')) if d else '')\" " +
        path);
    DocumentRecord record;
    record.kind = odt ? DocumentKind::OdfText : DocumentKind::WordDocx;
    record.outputName = path;
    record.saved = true;
    const DocumentInspection inspection = InspectDocument(record);
    EXPECT_EQ(inspection.verdict, Verdict::Whole) << inspection.fault;
    const std::string got = inspection.properties.title + "\n" + inspection.properties.author + "\n" +
                            inspection.preview.substr(0, inspection.preview.find('\n')) + "\n" +
                            (inspection.properties.lastSaved ? std::to_string(*inspection.properties.lastSaved) : "") +
                            "\n";
    EXPECT_EQ(got, expected);
  }
}

}  // namespace
}  // namespace vellumark
