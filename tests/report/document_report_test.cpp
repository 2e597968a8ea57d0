// Reading rescued documents back: their properties against an independent
// reader, and the CSV report a spreadsheet will open.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "report/read_back.h"
#include "report/rescue_report.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
const std::string kCorpus = VELLUMARK_CORPUS_DIR;

// Title, author and last-saved time (epoch seconds, "-" for none) of every
// file in a folder, as olefile decodes them with each file's code page.
constexpr const char* kOlefileProperties = R"(
import calendar, olefile, sys, os
folder = sys.argv[1]
for name in sorted(os.listdir(folder)):
    meta = olefile.OleFileIO(os.path.join(folder, name)).get_metadata()
    page = (meta.codepage or 1252) & 0xFFFF
    codec = {1200: 'utf-16-le', 65001: 'utf-8', 10000: 'mac_roman'}.get(page, 'cp%d' % page)
    text = lambda b: (b or b'').decode(codec, 'replace').split('\0')[0]
    saved = meta.last_saved_time
    seconds = calendar.timegm(saved.timetuple()) if saved and saved.year >= 1970 else '-'
    print(name, text(meta.title), text(meta.author), seconds, sep='\t')
)";

std::map<std::string, std::string> OlefileRows(const std::string& folder, const std::string& script) {
  std::istringstream out(test::RunOutput("/usr/bin/python3 " + script + " '" + folder + "'"));
  std::map<std::string, std::string> rows;
  for (std::string line; std::getline(out, line);) rows[line.substr(0, line.find('\t'))] = line;
  return rows;
}

TEST(DocumentReport, PropertiesAgreeWithOlefileAcrossTheCorpus) {
  if (test::Run("/usr/bin/python3 -c 'import olefile' 2>/dev/null") != 0) VELLUMARK_CANNOT_RUN("needs python3-olefile");
  if (!fs::is_directory(kCorpus)) VELLUMARK_CANNOT_RUN("no corpus at " << kCorpus);
  test::TempDir dir;
  std::ofstream(dir / "props.py") << kOlefileProperties;
  int compared = 0;
  for (const char* kind : {"doc", "xls", "ppt"}) {
    const auto expected = OlefileRows(kCorpus + "/" + kind, dir / "props.py");
    for (const auto& [name, row] : expected) {
      const auto bytes = test::ReadFileBytes(kCorpus + "/" + kind + "/" + name);
      const DocumentProperties got = InspectBytes(DocumentRecord{}, bytes).properties;
      const std::string time = got.lastSaved ? std::to_string(*got.lastSaved) : "-";
      if (name == "TestInvertedClassID.doc") {
        // Its summary's section identifier is stored byte-swapped: olefile
        // reads the section anyway, libgsf takes it for a user section.
        EXPECT_TRUE(row.ends_with('\t' + time));
        continue;
      }
      EXPECT_EQ(name + '\t' + got.title + '\t' + got.author + '\t' + time, row);
      ++compared;
    }
  }
  EXPECT_GE(compared, 150);
}

TEST(DocumentReport, DigestAndVerdictOfWhatWasWritten) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "TEST_1.DOC", {'a', 'b', 'c'});
  DocumentRecord record{dir / "TEST_1.DOC", DocumentKind::Word, 7, 3, {{7, 1}}, true, {}, {}};
  const DocumentInspection written = InspectDocument(record);
  EXPECT_EQ(written.sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(written.verdict, Verdict::Damaged);  // three bytes are no compound file

  for (const bool saved : {false, true}) {  // not written, or gone from the folder since
    record.saved = saved;
    record.outputName = saved ? dir / "gone.DOC" : "";
    const DocumentInspection none = InspectDocument(record);
    EXPECT_EQ(std::pair(none.verdict, none.sha256), std::pair(Verdict::Unchecked, std::string()));
  }
}

// A damaged document is told of by the kind of its fault, in plain words a
// user reads; the fault text keeps the checks' own detail.
TEST(DocumentReport, FaultKindOfEachWayADocumentIsDamaged) {
  const std::string doc = kCorpus + "/doc/53379.doc", docx = kCorpus + "/ooxml/56880.docx";
  if (!fs::exists(doc) || !fs::exists(docx)) VELLUMARK_CANNOT_RUN("no corpus at " << kCorpus);
  const std::vector<std::uint8_t> word = test::ReadFileBytes(doc), archive = test::ReadFileBytes(docx);
  const auto half = [](std::vector<std::uint8_t> bytes) { bytes.resize(bytes.size() / 2); return bytes; };
  const auto flipped = [](std::vector<std::uint8_t> bytes) {
    bytes[bytes.size() / 3] ^= 0x5A;  // inside a member's compressed data: its CRC no longer checks
    return bytes;
  };
  const struct Case {
    const char* name;
    DocumentKind kind;
    std::vector<std::uint8_t> bytes;
    std::vector<std::int64_t> unreadable;
    Verdict verdict;
    FaultKind fault;
  } cases[] = {
      {"whole .doc", DocumentKind::Word, word, {}, Verdict::Whole, FaultKind::None},
      {".doc, its second half gone", DocumentKind::Word, half(word), {}, Verdict::Damaged, FaultKind::Structure},
      {".doc with a sector unreadable", DocumentKind::Word, word, {3}, Verdict::Damaged, FaultKind::Unreadable},
      {"whole .docx", DocumentKind::WordDocx, archive, {}, Verdict::Whole, FaultKind::None},
      {".docx, its second half gone", DocumentKind::WordDocx, half(archive), {}, Verdict::Damaged, FaultKind::CutShort},
      {".docx with a byte changed", DocumentKind::WordDocx, flipped(archive), {}, Verdict::Damaged, FaultKind::Structure},
  };
  for (const Case& c : cases) {
    DocumentRecord record;
    record.kind = c.kind;
    record.length = static_cast<std::int64_t>(c.bytes.size());
    record.runs = {{0, static_cast<std::int64_t>((c.bytes.size() + 511) / 512)}};
    record.unreadableSectors = c.unreadable;
    const DocumentInspection inspection = InspectBytes(record, c.bytes);
    EXPECT_EQ(inspection.verdict, c.verdict) << c.name << ": " << inspection.fault;
    EXPECT_EQ(inspection.faultKind, c.fault) << c.name << ": " << inspection.fault;
    EXPECT_EQ(inspection.fault.empty(), c.fault == FaultKind::None) << c.name;
  }
  DocumentRecord notRebuilt{"", DocumentKind::Word, 7, 0, {{7, 1}}, false, {}, {}};
  notRebuilt.notRebuilt = true;
  EXPECT_EQ(InspectDocument(notRebuilt).faultKind, FaultKind::NotRebuilt);
}

TEST(DocumentReport, PreviewStartsAtTheTextWithoutBlankRuns) {
  const std::string path = kCorpus + "/doc/53379.doc";
  if (!fs::exists(path)) VELLUMARK_CANNOT_RUN("no corpus at " << kCorpus);
  DocumentRecord record;
  record.kind = DocumentKind::Word;
  const std::vector<std::uint8_t> bytes = test::ReadFileBytes(path);
  record.runs = {{0, static_cast<std::int64_t>((bytes.size() + 511) / 512)}};  // read in one stretch
  const DocumentInspection inspection = InspectBytes(record, bytes);
  EXPECT_EQ(inspection.verdict, Verdict::Whole);
  EXPECT_TRUE(inspection.preview.starts_with("MEDICINES CONTROL AGENCY\nClinical Trials Unit\n\nWORKSHOP"))
      << inspection.preview.substr(0, 80);
  EXPECT_EQ(inspection.preview.find("\n\n\n"), std::string::npos);
}

TEST(DocumentReport, CsvQuotesDocumentTextAndKeepsFormulasInert) {
  DocumentInspection damaged;
  damaged.record = {"/out/TEST_00001KW.DOC", DocumentKind::Word, 1000, 20480, {{1000, 30}, {1040, 10}}, true, {}, {}};
  damaged.verdict = Verdict::Damaged;
  damaged.fault = "1Table: chain leaves the file";
  damaged.properties = {"Plan, \"final\"\nv2", "=HYPERLINK(\"x\")", 1059512160};
  damaged.sha256 = "ab";
  DocumentInspection skipped;
  skipped.record = {"", DocumentKind::Excel, 5, 512, {{5, 1}}, false, {}, {}};

  const std::string csv = ReportCsv({damaged, skipped});
  EXPECT_TRUE(csv.starts_with("\xEF\xBB\xBFname,kind,verdict,"));
  const auto rows = test::ParseCsv(csv);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1], (std::vector<std::string>{"TEST_00001KW.DOC", "Word", "damaged", damaged.fault,
                                               "Plan, \"final\"\nv2", "'=HYPERLINK(\"x\")", "2003-07-29 20:56:00",
                                               "1000", "20480", "2", "1000-1029 1040-1049", "ab", "", "", "", "", "", "",
                                               "", ""}));
  // Not saved, with why: a kind that was not chosen; a header nothing could
  // be rebuilt from; one inside another document.
  EXPECT_EQ(rows[2], (std::vector<std::string>{"", "Excel", "unchecked", "", "", "", "", "5", "512", "1", "5-5", "", "",
                                               "not of a chosen type", "", "", "", "", "", ""}));
  EXPECT_EQ(rows[0].size(), rows[1].size());

  // A fault names the stream it concerns, and a document names its streams:
  // a fault cell is kept from running as a formula as the title is.
  for (const char* stream : {"=1+1", "+1", "-1", "@SUM(A1)", "\tx", "\rx"}) {
    DocumentInspection hostile = damaged;
    hostile.fault = std::string(stream) + ": chain leaves the file";
    const auto cells = test::ParseCsv(ReportCsv({hostile}));
    ASSERT_EQ(cells.size(), 2u);
    EXPECT_EQ(cells[1][3], "'" + hostile.fault) << stream;
  }

  // A document the volume's records named, written under that name in its
  // folder: the name column gives the path below the save folder, and the
  // record's own text is kept from running as a formula too.
  DocumentInspection named = damaged;
  named.record.outputName = "/out/Akten/2024/=Bericht.doc";
  named.record.originalName = "=Bericht.doc";
  named.record.originalFolder = "Akten/2024";
  named.record.originalCreated = "2024-03-01 10:00:00";
  named.record.originalModified = "2024-03-02 11:30:00";
  named.record.volumeStart = 2048;
  const auto namedRows = test::ParseCsv(ReportCsv({named}, "/out/"));
  ASSERT_EQ(namedRows.size(), 2u);
  EXPECT_EQ(namedRows[1][0], "Akten/2024/=Bericht.doc");
  EXPECT_EQ(std::vector<std::string>(namedRows[1].end() - 5, namedRows[1].end()),
            (std::vector<std::string>{"'=Bericht.doc", "Akten/2024", "2024-03-01 10:00:00", "2024-03-02 11:30:00", "2048"}));

  test::TempDir dir;
  EXPECT_TRUE(WriteRescueReport(dir / kReportFileName, {damaged}));
  EXPECT_FALSE(WriteRescueReport(dir / "missing/report.csv", {damaged}));
}

}  // namespace
}  // namespace vellumark
