#include "formats/word/word_content_check.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "formats/compound/compound_file.h"
#include "formats/document_check.h"
#include "formats/compound/structure_check.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
const fs::path kCorpus = fs::path(VELLUMARK_CORPUS_DIR) / "doc";

struct Streams {
  Bytes word, table0, table1;
  std::string Fault() const { return WordContentFault(word, table0, table1); }
  Bytes& Table() { return (word[0x0B] & 0x02) != 0 ? table1 : table0; }
};

Streams Read(const std::string& name) {
  const Bytes file = test::ReadFileBytes((kCorpus / name).string());
  Streams streams;
  if (const auto compound = CompoundFile::Open(file)) {
    streams.word = compound->Stream("WordDocument").value_or(Bytes{});
    streams.table0 = compound->Stream("0Table").value_or(Bytes{});
    streams.table1 = compound->Stream("1Table").value_or(Bytes{});
  }
  return streams;
}

std::uint32_t Le32(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// The offset in WordDocument of the FIB's fc/lcb pair of the given index.
std::size_t PairAt(const Bytes& word, std::size_t index) {
  std::size_t at = 0x20;
  at += 2 + 2 * (word[at] | word[at + 1] << 8);
  at += 2 + 4 * (word[at] | word[at + 1] << 8);
  return at + 2 + 8 * index;
}

// The WordDocument page that holds the first paragraph formatting: the
// first page number of the table that the FIB's pair 13 names.
std::size_t FirstParagraphPage(Streams& s) {
  const std::size_t fc = Le32(s.word, PairAt(s.word, 13)), lcb = Le32(s.word, PairAt(s.word, 13) + 4);
  return Le32(s.Table(), fc + 4 * ((lcb - 4) / 8 + 1)) & 0x3FFFFF;
}

// Every Word document of the corpus that the structure check finds whole
// is whole for the content check too: a verdict that was right stays right.
TEST(WordContentCheck, CorpusDocumentsHold) {
  if (!fs::is_directory(kCorpus)) VELLUMARK_CANNOT_RUN("no document corpus at " << kCorpus);
  int checked = 0;
  for (const auto& entry : fs::directory_iterator(kCorpus)) {
    const Bytes file = test::ReadFileBytes(entry.path().string());
    const StructureVerdict verdict = CheckDocument(file);
    if (verdict.verdict == Verdict::Whole) ++checked;
    EXPECT_TRUE(verdict.verdict == Verdict::Whole || !verdict.fault.starts_with("WordDocument: text"))
        << entry.path().filename() << ": " << verdict.fault;
    const Streams streams = Read(entry.path().filename().string());
    if (!streams.word.empty()) {
      EXPECT_EQ(streams.Fault(), "") << entry.path().filename();
    }
  }
  EXPECT_GT(checked, 100);
}

// A header whose mini FAT count runs far past the file passes the lenient
// structure check, but the streams cannot be read: no content was checked,
// so the document is not called whole.
TEST(WordContentCheck, DocumentWhoseStreamsCannotBeReadIsNotWhole) {
  if (!fs::is_directory(kCorpus)) VELLUMARK_CANNOT_RUN("no document corpus at " << kCorpus);
  Bytes file = test::ReadFileBytes((kCorpus / "simple.doc").string());
  for (int i = 0; i < 4; ++i) file[64 + i] = static_cast<std::uint8_t>(100u >> (8 * i));
  ASSERT_EQ(CheckStructure(file).verdict, Verdict::Whole);
  const StructureVerdict verdict = CheckDocument(file);
  EXPECT_EQ(verdict.verdict, Verdict::Damaged);
  EXPECT_EQ(verdict.fault, "compound file: its streams cannot be read");
}

// What another file's bytes do where Word's own were: each edit stands for a
// foreign cluster landing in one part of the document.
TEST(WordContentCheck, ForeignBytesAreFound) {
  if (!fs::is_directory(kCorpus)) VELLUMARK_CANNOT_RUN("no document corpus at " << kCorpus);
  struct Case {
    const char* document;
    const char* what;
    std::function<void(Streams&)> edit;
    const char* fault;  // the start of the fault
  };
  const auto textStart = [](const Streams& s) { return static_cast<std::size_t>(Le32(s.word, 0x18)); };
  const Case cases[] = {
      {"47304.doc", "a line feed in 8-bit text",
       [&](Streams& s) { s.word[textStart(s) + 3] = '\n'; }, "WordDocument: text holds a line feed"},
      {"47304.doc", "a text file's line in the text",
       [&](Streams& s) {
         const std::string line = "plain text\r\nnext line\n";
         std::copy(line.begin(), line.end(), s.word.begin() + static_cast<std::ptrdiff_t>(textStart(s)));
       },
       "WordDocument: text holds"},
      {"47304.doc", "random bytes in the text",
       [&](Streams& s) {
         const Bytes noise = test::PatternBytes(512, 9);
         std::copy(noise.begin(), noise.end(), s.word.begin() + static_cast<std::ptrdiff_t>(textStart(s)));
       },
       "WordDocument: text holds"},
      {"Word95.doc", "a line feed in Word 95 text",
       [&](Streams& s) { s.word[textStart(s) + 1] = '\n'; }, "WordDocument: text holds a line feed"},
      {"52420.doc", "a text file's sector in UTF-16 text, which reads as Chinese",
       [&](Streams& s) {
         std::string lines;
         while (lines.size() < 512) lines += "Line " + std::to_string(lines.size()) + " of the minutes\n";
         std::copy(lines.begin(), lines.begin() + 512, s.word.begin() + static_cast<std::ptrdiff_t>((textStart(s) + 511) / 512 * 512));
       },
       "WordDocument: 8-bit text with line feeds in UTF-16 text"},
      {"52420.doc", "a formatting page overwritten with text",
       [&](Streams& s) {
         const std::size_t page = FirstParagraphPage(s);
         std::fill(s.word.begin() + static_cast<std::ptrdiff_t>(page * 512),
                   s.word.begin() + static_cast<std::ptrdiff_t>(page * 512 + 512), 'x');
       },
       "WordDocument: formatting page"},
      {"52420.doc", "a formatting page whose last run ends before it starts",
       [&](Streams& s) {
         const std::size_t at = FirstParagraphPage(s) * 512;
         const std::size_t last = at + 4 * s.word[at + 511];  // the end of the last run
         const std::uint32_t fallen = Le32(s.word, last - 4) - 1;
         for (int i = 0; i < 4; ++i) s.word[last + i] = static_cast<std::uint8_t>(fallen >> (8 * i));
       },
       "WordDocument: formatting page"},
      {"52420.doc", "a table stream cut short",
       [&](Streams& s) { s.Table().resize(Le32(s.word, PairAt(s.word, 33))); }, "1Table: shorter than"},
      {"52420.doc", "a table stream cut inside the pair that reaches furthest",
       [&](Streams& s) {
         // Cut one byte short of the furthest range any checked pair names,
         // where the formatting tables and the pieces (which fail in their
         // own words) all still fit.
         std::size_t furthest = 0;
         for (std::size_t pair = 0; pair < 87; ++pair) {
           const std::uint32_t fc = Le32(s.word, PairAt(s.word, pair)), lcb = Le32(s.word, PairAt(s.word, pair) + 4);
           if (lcb != 0) furthest = std::max<std::size_t>(furthest, std::size_t{fc} + lcb);
         }
         for (const std::size_t pair : {12, 13, 33}) {
           const std::size_t end = Le32(s.word, PairAt(s.word, pair)) + Le32(s.word, PairAt(s.word, pair) + 4);
           ASSERT_LT(end, furthest) << pair;
         }
         s.Table().resize(furthest - 1);
       },
       "1Table: shorter than the file-information block says"},
      {"52420.doc", "a paragraph formatting page with more runs than fit",
       [&](Streams& s) {
         const std::size_t page = FirstParagraphPage(s);
         // 0x1E runs: their 0x1F limits rise as a page's must, yet they would
         // leave no room for the runs' properties.
         for (std::uint32_t i = 0; i <= 0x1E; ++i) {
           for (int b = 0; b < 4; ++b) s.word[page * 512 + 4 * i + b] = static_cast<std::uint8_t>((0x600 + 2 * i) >> (8 * b));
         }
         s.word[page * 512 + 511] = 0x1E;
       },
       "WordDocument: formatting page"},
      {"52420.doc", "a stream shorter than the FIB counts",
       [&](Streams& s) { s.word.resize(Le32(s.word, 0x40) - 512); }, "WordDocument: the file-information block counts"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Streams streams = Read(c.document);
    ASSERT_FALSE(streams.word.empty());
    ASSERT_EQ(streams.Fault(), "");
    c.edit(streams);
    EXPECT_TRUE(streams.Fault().starts_with(c.fault)) << streams.Fault();
  }
}

}  // namespace
}  // namespace vellumark
