// The text of office packages whose body part holds foreign bytes: Word
// and LibreOffice documents made long by Info-ZIP's zip, so that zlib
// wrote their body in many deflate blocks, with stretches of their body's
// data overwritten. The text before the damage comes back, and so does the
// text from the first block that starts after it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/zip/deflate_salvage.h"
#include "formats/zip/office_text_salvage.h"
#include "support/long_office_document.h"

namespace vellumark {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint64_t kBudget = std::uint64_t{64} << 20;
constexpr int kParagraphs = 3000;

enum class Fill { Noise, Zeros, Text };

void Overwrite(Bytes& bytes, std::size_t at, std::size_t count, Fill fill) {
  static const std::string kLine = "2026-12-07 12:00:01 INFO worker 7 finished its batch\n";
  std::uint32_t state = 777;
  for (std::size_t i = at; i < at + count && i < bytes.size(); ++i) {
    state = state * 1103515245u + 12345u;
    bytes[i] = fill == Fill::Zeros ? 0 : fill == Fill::Text ? static_cast<std::uint8_t>(kLine[i % kLine.size()])
                                                            : static_cast<std::uint8_t>(state >> 24);
  }
}

// Which of the numbered paragraphs the text holds whole, one a line.
std::vector<bool> ParagraphsIn(const std::string& text) {
  std::vector<bool> found(kParagraphs);
  for (int n = 0; n < kParagraphs; ++n) found[n] = text.find(test::LongDocumentParagraph(n) + "\n") != std::string::npos;
  return found;
}

struct DamageCase {
  const char* document;
  double at;             // where in the body's data, as a share of it
  std::size_t bytes;     // how many are overwritten
  Fill fill;
  // Words of the document's own text, which follows the numbered
  // paragraphs, that come back from the blocks after the damage (none
  // where no block after it is picked up: it starts past the data's end,
  // or is all copies of lost text).
  const char* after;
};

TEST(OfficeTextSalvage, TextBeforeAndAfterOverwrittenDataComesBack) {
  const DamageCase cases[] = {
      {"pydocx-02.docx", 0.3, 2048, Fill::Noise, "Issued August 1997"},
      {"pydocx-02.docx", 0.6, 4096, Fill::Text, nullptr},
      {"pydocx-02.docx", 0.1, 512, Fill::Noise, "Issued August 1997"},
      {"pydocx-02.docx", 0.5, 5120, Fill::Zeros, nullptr},
      {"Bug44292.odt", 0.4, 2048, Fill::Noise, nullptr},
      {"Bug44292.odt", 0.7, 1024, Fill::Text, nullptr},
  };
  test::TempDir dir;
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(std::string(c.document) + " overwritten at " + std::to_string(c.at) + " for " + std::to_string(c.bytes));
    const Bytes whole = test::LongOfficeDocument(dir, c.document, kParagraphs);
    if (whole.empty()) VELLUMARK_CANNOT_RUN("zip, unzip or python3 missing");
    const test::BodyData body = test::BodyDataOf(whole);
    Bytes damaged = whole;
    const std::size_t at = body.offset + static_cast<std::size_t>(c.at * static_cast<double>(body.size));
    Overwrite(damaged, at, c.bytes, c.fill);
    std::uint64_t work = 0;
    const auto salvaged = SalvageOfficeText(damaged, kBudget, work);
    ASSERT_TRUE(salvaged);
    EXPECT_EQ(salvaged->kind, std::string(c.document).ends_with(".odt") ? DocumentKind::OdfText : DocumentKind::WordDocx);
    const std::vector<bool> found = ParagraphsIn(salvaged->text);
    std::cout << c.document << ": " << std::count(found.begin(), found.end(), true) << " of " << kParagraphs
              << " paragraphs whole, " << salvaged->percent << "% of the body recovered\n";
    // Every paragraph well before the damage, none of those it hit, and
    // the document's own words from a block after it.
    const auto wholeParagraphs = std::count(found.begin(), found.end(), true);
    EXPECT_TRUE(found[0]);
    EXPECT_GE(wholeParagraphs, 50);
    EXPECT_LT(wholeParagraphs, kParagraphs);
    for (int n = 1; n < kParagraphs; ++n) EXPECT_TRUE(found[n - 1] || !found[n]) << n;  // none after a gap
    if (c.after != nullptr) {
      EXPECT_NE(salvaged->text.find(c.after), std::string::npos);
    }
    EXPECT_GT(salvaged->percent, 5);
    EXPECT_LT(salvaged->percent, 100);
    // No line is made up: each is a paragraph whole, part of one, or the
    // document's own text.
    EXPECT_EQ(salvaged->text.find('\0'), std::string::npos);
  }
}

TEST(OfficeTextSalvage, AWholeBodyIsReadWholeAndNoBodyGivesNothing) {
  test::TempDir dir;
  const Bytes whole = test::LongOfficeDocument(dir, "pydocx-02.docx", kParagraphs);
  if (whole.empty()) VELLUMARK_CANNOT_RUN("zip, unzip or python3 missing");
  // The archive's end cut off: its body part is whole.
  const test::BodyData body = test::BodyDataOf(whole);
  const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(body.offset + body.size + 10));
  std::uint64_t work = 0;
  const auto salvaged = SalvageOfficeText(cut, kBudget, work);
  ASSERT_TRUE(salvaged);
  EXPECT_EQ(salvaged->percent, 100);
  const std::vector<bool> found = ParagraphsIn(salvaged->text);
  EXPECT_EQ(std::count(found.begin(), found.end(), true), kParagraphs);
  // Only the first bytes of the body: no block to read.
  const Bytes head(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(body.offset + 4));
  EXPECT_FALSE(SalvageOfficeText(head, kBudget, work));
  EXPECT_FALSE(SalvageOfficeText(Bytes(4096, 'P'), kBudget, work));
}

TEST(OfficeTextSalvage, StretchesAreReadAsMarkupCutAnywhere) {
  const auto text = [](const std::string& xml, bool open) {
    return TolerantBodyText({reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()}, open);
  };
  // Cut inside a run, a tag and a reference; lost bytes in a run and a tag.
  EXPECT_EQ(text("lost start</w:t></w:r></w:p><w:p><w:r><w:t xml:space=\"preserve\">A &amp; B</w:t><w:tab/>"
                 "<w:t>C&#x4E2D;</w:t></w:r></w:p><w:p><w:r><w:t>D" + std::string(1, '\0') + "E &am", false),
            "A & B\tC\xE4\xB8\xAD\nD E ");
  // A tag partly lost: the character data after it is taken as text.
  const std::string lostTag = "<w:p><w:r><w:t>x</w:t></w:r></w:p><w:p><w:r><w" + std::string(1, '\0') + "t>kept</w:t></w:r></w:p>";
  EXPECT_EQ(text(lostTag, false), "x\nkept\n");
  EXPECT_EQ(text("<office:text><text:h>Title</text:h><text:p>one<text:s/>two<text:span>three</text:span>"
                 "<text:line-break/>four</text:p><text:p/><text:p>fi",
                 true),
            "Title\none twothree\nfour\nfi");
}

}  // namespace
}  // namespace vellumark
