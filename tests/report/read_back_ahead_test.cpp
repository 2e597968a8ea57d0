// Inspections made while the carving goes on: the same as reading each
// file back at the end, whether the written bytes were copied or not.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "report/read_back_ahead.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
const std::string kCorpus = VELLUMARK_CORPUS_DIR;

void ExpectSameInspection(const DocumentInspection& got, const DocumentInspection& expected) {
  EXPECT_TRUE(got.record == expected.record);
  EXPECT_EQ(got.verdict, expected.verdict);
  EXPECT_EQ(got.fault, expected.fault);
  EXPECT_EQ(got.sha256, expected.sha256);
  EXPECT_EQ(got.preview, expected.preview);
  EXPECT_EQ(got.properties.title, expected.properties.title);
  EXPECT_EQ(got.properties.author, expected.properties.author);
  EXPECT_EQ(got.properties.lastSaved, expected.properties.lastSaved);
}

struct Written {
  DocumentRecord record;
  Bytes bytes;
};

// Documents of each kind the report reads differently, written to dir as
// a rescue would have saved them.
std::vector<Written> WriteDocuments(const fs::path& dir) {
  struct Source {
    const char* path;
    DocumentKind kind;
    bool partialText;
  };
  const Source sources[] = {
      {"doc/53379.doc", DocumentKind::Word, false},
      {"xls/53446.xls", DocumentKind::Excel, false},
      {"ooxml/56880.docx", DocumentKind::WordDocx, false},
      {"doc/53379.doc", DocumentKind::Word, true},  // read as the text of a partial rescue
  };
  std::vector<Written> written;
  int n = 0;
  for (const Source& source : sources) {
    const fs::path path = fs::path(kCorpus) / source.path;
    if (!fs::exists(path)) continue;
    Written w;
    w.bytes = source.partialText ? Bytes{'T', 'e', 'x', 't', '\n', 'm', 'o', 'r', 'e'} : test::ReadFileBytes(path.string());
    w.record.outputName = (dir / ("TEST_" + std::to_string(n++) + (source.partialText ? ".TXT" : ".DOC"))).string();
    w.record.kind = source.kind;
    w.record.length = static_cast<std::int64_t>(w.bytes.size());
    w.record.saved = true;
    w.record.partialText = source.partialText;
    test::WriteFileBytes(w.record.outputName, w.bytes);
    written.push_back(std::move(w));
  }
  return written;
}

TEST(ReadBackAhead, InspectionsMatchReadingBackWithAndWithoutCopies) {
  if (!fs::is_directory(kCorpus)) VELLUMARK_CANNOT_RUN("no corpus at " << kCorpus);
  test::TempDir dir;
  const std::vector<Written> written = WriteDocuments(dir.path());
  ASSERT_GE(written.size(), 3u);
  // A budget that copies everything, one that copies nothing, and one that
  // copies the first few and reads the rest back.
  for (const std::size_t budget : {std::size_t{64} << 20, std::size_t{0}, std::size_t{40000}}) {
    SCOPED_TRACE("budget " + std::to_string(budget));
    ReadBackAhead ahead(budget);
    for (const Written& w : written) ahead.Add(w.record, w.bytes);
    // Taken in the reverse order: each waits for its own.
    for (auto it = written.rbegin(); it != written.rend(); ++it) {
      const auto got = ahead.Take(it->record);
      ASSERT_TRUE(got.has_value()) << it->record.outputName;
      ExpectSameInspection(*got, InspectDocument(it->record));
    }
  }
}

// What was copied is what is inspected, and only within the budget: the
// file's bytes on the disk show which way a document went.
TEST(ReadBackAhead, CopiesOnlyWhatFitsTheBudget) {
  test::TempDir dir;
  const Bytes onDisk{'o', 'n', ' ', 'd', 'i', 's', 'k'};
  struct Case {
    std::size_t savedBytes;
    bool copied;
  };
  // With 200 bytes of room: 200 fit exactly, 201 never do.
  const Case cases[] = {{200, true}, {201, false}, {1, true}};
  ReadBackAhead ahead(200);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].savedBytes);
    DocumentRecord record;
    record.outputName = dir / ("TEST_" + std::to_string(i) + ".TXT");
    record.saved = true;
    record.partialText = true;
    test::WriteFileBytes(record.outputName, onDisk);
    const Bytes saved(cases[i].savedBytes, 'x');
    ahead.Add(record, saved);
    // Taken before the next is added, so that the room is free again.
    const auto got = ahead.Take(record);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->preview, cases[i].copied ? std::string(saved.begin(), saved.end()) : "on disk");
  }
}

TEST(ReadBackAhead, RecordsNotAddedAsTheyAreAreLeftToTheCaller) {
  test::TempDir dir;
  DocumentRecord record;
  record.outputName = dir / "TEST_1.TXT";
  record.saved = true;
  record.partialText = true;
  const Bytes text{'a', 'b', 'c'};
  test::WriteFileBytes(record.outputName, text);
  ReadBackAhead ahead;
  DocumentRecord other = record;
  other.outputName = dir / "TEST_2.TXT";
  EXPECT_FALSE(ahead.Take(other).has_value());  // never added

  ahead.Add(record, text);
  ahead.Add(record, Bytes{'z'});  // the same name again: not taken for the first
  DocumentRecord changed = record;
  changed.length = 99;  // changed since it was saved
  EXPECT_FALSE(ahead.Take(changed).has_value());
  EXPECT_FALSE(ahead.Take(record).has_value());  // already taken once

  ReadBackAhead fresh;
  fresh.Add(record, text);
  const auto got = fresh.Take(record);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->preview, "abc");
}

}  // namespace
}  // namespace vellumark
