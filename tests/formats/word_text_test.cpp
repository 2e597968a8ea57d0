#include "formats/word/word_text.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "formats/compound/compound_file.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
const std::string kCorpus = VELLUMARK_CORPUS_DIR;

void Put(Bytes& b, std::size_t at, std::uint32_t v, int size = 4) {
  if (b.size() < at + size) b.resize(at + size);
  for (int i = 0; i < size; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct Piece {
  std::u16string text;
  bool compressed = false;
  std::uint32_t fcOverride = 0;  // points the piece elsewhere; its text is not written
};

// A Word 97 document: its FIB as Word writes it, the pieces' text after it,
// and the piece table behind one Prc in the table stream.
struct Doc {
  explicit Doc(const std::vector<Piece>& pieces, int ccpText = -1) {
    Put(word, 0, 0xA5EC, 2), Put(word, 2, 193, 2), Put(word, 0x20, 14, 2), Put(word, 0x3E, 22, 2);
    Put(word, 0x98, 93, 2);
    table = {0x01, 0x02, 0x00, 0xAA, 0xBB, 0x02};
    Bytes cps(4), pcds;
    std::uint32_t cp = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      const Piece& p = pieces[i];
      word.resize(std::max<std::size_t>(word.size(), 0x400));
      const std::uint32_t at = word.size(), fc = p.compressed ? 0x40000000u | (at * 2) : at;
      for (char16_t u : p.fcOverride ? u"" : p.text) Put(word, word.size(), u, p.compressed ? 1 : 2);
      Put(pcds, 8 * i + 2, p.fcOverride ? p.fcOverride : fc), Put(pcds, 8 * i + 6, 0, 2);
      Put(cps, 4 * (i + 1), cp += static_cast<std::uint32_t>(p.text.size()));
    }
    Put(word, 0x4C, ccpText < 0 ? cp : ccpText);
    Put(table, table.size(), static_cast<std::uint32_t>(cps.size() + pcds.size()));
    table.insert(table.end(), cps.begin(), cps.end());
    table.insert(table.end(), pcds.begin(), pcds.end());
    Put(word, 0x1A2, 0), Put(word, 0x1A6, static_cast<std::uint32_t>(table.size()));
  }
  std::string Text(std::size_t max = 1000) const { return WordText(word, table, {}, max); }
  Bytes word, table;
};

// The text as UTF-32 code points; fails the test on anything but valid UTF-8.
std::u32string Decode(const std::string& utf8) {
  std::u32string out(utf8.size(), U'\0');
  iconv_t cd = iconv_open("UTF-32LE", "UTF-8");
  char* in = const_cast<char*>(utf8.data());
  char* to = reinterpret_cast<char*>(out.data());
  std::size_t inLeft = utf8.size(), outLeft = out.size() * 4;
  EXPECT_NE(iconv(cd, &in, &inLeft, &to, &outLeft), static_cast<std::size_t>(-1)) << "not UTF-8: " << utf8;
  iconv_close(cd);
  out.resize(out.size() - outLeft / 4);
  return out;
}

TEST(WordText, ReadsPiecesAsTheDocumentReads) {
  struct Case {
    const char* what;
    std::vector<Piece> pieces;
    std::string expected;
    int ccpText = -1;
    std::size_t max = 1000;
  } cases[] = {
      {"cp1252 punctuation", {{u"Say \x93hi\x94\x85 \x96 \x80\x81\r", true}}, "Say \u201Chi\u201D\u2026 \u2013 \u20AC\n"},
      {"UTF-16 and a pair", {{u"\u4E2D\u6587 \U0001F600\r"}}, "\u4E2D\u6587 \U0001F600\n"},
      {"lone surrogates", {{u"a\xD800" u"b\xDC00"}}, "a\uFFFDb\uFFFD"},
      {"pair split over pieces", {{u"x\xD83D"}, {u"\xDE00"}}, "x\U0001F600"},
      {"mixed pieces", {{u"caf", true}, {u"\u00E9 "}, {u"ok", true}}, "caf\u00E9 ok"},
      {"field code dropped", {{u"See \x13 HYPERLINK \"x\" \x14here\x15."}}, "See here."},
      {"nested fields", {{u"[\x13 IF \x13 PAGE \x14" u"1\x15 = 1 \x14yes\x15]"}}, "[yes]"},
      {"field without result", {{u"\x13 TOC \\o \x15" u"Intro"}}, "Intro"},
      {"field never ended", {{u"See \x13 PAGE \x14" u"7 and on"}}, "See  PAGE 7 and on"},
      {"field ended inside one never ended", {{u"a\x13 IF \x13 PAGE \x14" u"1\x15 b"}}, "a IF 1 b"},
      {"marks and anchors", {{u"a\x07" u"b\x01\x08\x05\x02\x1F" u"c\x1E" u"d\xA0" u"e\x0B" u"f\x0C" u"g\t\x03"}},
       "a\tbc-d e\nf\ng\t"},
      {"stops at ccpText", {{u"Body\r", true}, {u"Footnote\r", true}}, "Body\n", 5},
      {"stops inside a piece", {{u"Body\r", true}}, "Bo", 2},
      {"maxCharacters in code points", {{u"\u4E2D\U0001F600abc"}}, "\u4E2D\U0001F600a", -1, 3},
      {"lone surrogate in the last place", {{u"a\xD800" u"bcd"}}, "a\uFFFD", -1, 2},
      {"piece beyond the stream", {{u"kept", true}, {u"lost", false, 0x7FFFFF}}, "kept"},
      {"compressed piece beyond", {{u"kept"}, {u"lost", true, 0x40000000u | 0x3FFFFFF0u}}, "kept"},
      {"piece running past the end", {{u"kept", true}, {std::u16string(99, u'x'), true, 0x40000800u}}, "kept"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Doc(c.pieces, c.ccpText).Text(c.max), c.expected) << c.what;
  }
}

// Characters whose bytes are not trusted (parts of a document that did not
// check) are left out, a line break in their place; text that turns out to
// have been a field's code, its start having been left out, is taken back.
TEST(WordText, LeavesOutWhatIsNotTrusted) {
  struct Case {
    const char* what;
    std::vector<Piece> piece;
    std::size_t from, to;  // untrusted bytes, from the piece's start
    std::string expected;
  } cases[] = {
      {"a gap mid-text", {{u"Hello brave new world\r", true}}, 6, 12, "Hello \nnew world\n"},
      {"a gap at the start", {{u"abcdef", true}}, 0, 3, "def"},
      {"a gap at the end", {{u"abcdef", true}}, 4, 6, "abcd"},
      {"a gap after a break", {{u"ab\rcd\ref", true}}, 3, 6, "ab\nef"},
      {"a UTF-16 character half trusted", {{u"\u4E2D\u6587abc"}}, 3, 4, "\u4E2D\nabc"},
      {"a field's start left out", {{u"See \x13 HYPERLINK x \x14here\x15 done", true}}, 4, 9, "See \n done"},
      {"a field whole after the gap", {{u"ab \x13 PAGE \x14" u"7\x15 cd", true}}, 0, 1, "b 7 cd"},
  };
  for (const Case& c : cases) {
    const Doc doc(c.piece);
    const TrustedBytes trusted = [&](std::size_t offset, std::size_t size) {
      return offset + size <= 0x400 + c.from || offset >= 0x400 + c.to;
    };
    EXPECT_EQ(WordText(doc.word, doc.table, {}, 1000, trusted), c.expected) << c.what;
  }
}

// Whatever the limit, the text is the start of the whole text and no longer.
// A lone high surrogate is only found lone when the next unit comes, and then
// both want a place; at the limit the second must not slip past it.
TEST(WordText, CutsAtTheLimitWhereverItFalls) {
  const Doc doc({{u"a\xD800" u"b\xD83D\xDE00" u"c\xD800\xD800" u"d\r\x13 code \x14" u"e\x15" u"\u00E9f"},
                 {u"\xD8", true}, {u"\xD801"}, {u"g", true}});
  const std::u32string whole = Decode(doc.Text());
  ASSERT_EQ(whole, U"a\uFFFDb\U0001F600c\uFFFD\uFFFDd\ne\u00E9f\u00D8\uFFFDg");
  for (std::size_t max = 0; max <= whole.size() + 1; ++max) {
    EXPECT_EQ(Decode(doc.Text(max)), whole.substr(0, max)) << "limit " << max;
  }
}

// A field that never ends is read as text, at every limit too: the text
// stops short of none of what a longer one shows.
TEST(WordText, ReadsAFieldThatNeverEndsAsText) {
  const Doc doc({{u"ab\x13 code \x14res\x13 x \x14y\x15 tail"}});
  const std::string whole = doc.Text();
  ASSERT_EQ(whole, "ab code resy tail");
  for (std::size_t max = 0; max <= whole.size() + 1; ++max) EXPECT_EQ(doc.Text(max), whole.substr(0, max)) << max;
}

// Whatever stretch is left out, each line read is found in the whole text,
// in order: a field whose start was left out is unknown after the gap, and
// must neither show its code nor show what the whole reading hides.
TEST(WordText, WhatIsReadAroundAGapIsInTheWholeText) {
  const std::u16string texts[] = {
      u"Say \x13 PAGE \x14" u"3\x15 then the rest\r",
      u"Head \x13 REF x \x14 never ended, body\rmore\r",
      u"A \x13 IF \x13 DATE \x14today\x15 = 1 \x14yes\x15 B \x13 SEQ \rtail\r",
  };
  for (const std::u16string& text : texts) {
    const Doc doc({{text, true}});
    const std::string whole = doc.Text();
    for (std::size_t from = 0; from < text.size(); ++from) {
      for (std::size_t to = from + 1; to <= text.size(); ++to) {
        const TrustedBytes trusted = [&](std::size_t offset, std::size_t size) {
          return offset + size <= 0x400 + from || offset >= 0x400 + to;
        };
        const std::string part = WordText(doc.word, doc.table, {}, 1000, trusted);
        std::size_t at = 0;
        for (std::size_t start = 0; start < part.size();) {
          const std::size_t end = std::min(part.find('\n', start), part.size());
          const std::string line = part.substr(start, end - start);
          start = end + 1;
          if (line.empty()) continue;
          const std::size_t found = whole.find(line, at);
          ASSERT_NE(found, std::string::npos) << "gap [" << from << ", " << to << ") of " << whole << ": " << part;
          at = found + line.size();
        }
      }
    }
  }
}

TEST(WordText, RefusesWhatItCannotRead) {
  const Doc doc({{u"secret", true}});
  EXPECT_EQ(doc.Text(), "secret");
  EXPECT_EQ(WordText(doc.word, {}, doc.table, 100), "") << "0Table chosen, 1Table given";
  Bytes which = doc.word;
  which[0x0B] |= 0x02;  // fWhichTblStm
  EXPECT_EQ(WordText(which, {}, doc.table, 100), "secret");
  EXPECT_EQ(WordText(which, doc.table, {}, 100), "");
  Bytes encrypted = doc.word;
  encrypted[0x0B] |= 0x01;
  EXPECT_EQ(WordText(encrypted, doc.table, {}, 100), "");
  Bytes notWord = doc.word;
  notWord[0] = 0;
  EXPECT_EQ(WordText(notWord, doc.table, {}, 100), "");
  Bytes descending = doc.table;
  descending[descending.size() - 8 - 4] = 0;  // second CP not after the first
  EXPECT_EQ(WordText(doc.word, descending, {}, 100), "");
  EXPECT_EQ(WordText({}, {}, {}, 100), "");
}

// Word 6 and 95 wrote 8-bit text: in one run from fcMin when saved whole, else
// through a piece table in the same stream whose offsets are plain.
TEST(WordText, ReadsOldWord) {
  Bytes word(0x300);
  const std::string body = "Old \x93text\x94\rnotes";
  Put(word, 0, 0xA5DC, 2), Put(word, 2, 101, 2), Put(word, 0x18, 0x300), Put(word, 0x1C, 0x300 + body.size());
  Put(word, 0x34, 11);
  word.insert(word.end(), body.begin(), body.end());
  EXPECT_EQ(WordText(word, {}, {}, 100), "Old \u201Ctext\u201D\n");
  word[0x0A] = 0x04;  // saved quickly
  // A Prc, then pieces "text\u201D\r" at 0x305 and "Old \u201C" at 0x300.
  const Bytes clx = {0x01, 0x01, 0x00, 0x00, 0x02, 28, 0, 0, 0, 0, 0, 0, 0, 6, 0, 0, 0, 11, 0, 0, 0,
                     0, 0, 0x05, 0x03, 0, 0, 0, 0, 0, 0, 0x00, 0x03, 0, 0, 0, 0};
  std::copy(clx.begin(), clx.end(), word.begin() + 0x200);
  Put(word, 0x160, 0x200), Put(word, 0x164, clx.size());
  EXPECT_EQ(WordText(word, {}, {}, 100), "text\u201D\nOld \u201C");
}

// Damaged streams: every cut and every byte overwritten must give bounded, valid UTF-8.
TEST(WordText, DamagedStreamsGiveBoundedValidText) {
  const Doc doc({{u"abc\x13 code \x14res\x15\r", true}, {u"\u4E2D\U0001F600\r"}, {u"tail", true}});
  const std::span<const std::uint8_t> word = doc.word, table = doc.table;
  for (std::size_t cut = 0; cut <= word.size(); cut += 7) Decode(WordText(word.first(cut), table, {}, 50));
  for (std::size_t cut = 0; cut <= table.size(); ++cut) Decode(WordText(word, table.first(cut), {}, 50));
  for (std::size_t at = 0; at < doc.table.size(); ++at) {
    for (std::uint8_t v : {0x00, 0x01, 0x40, 0x7F, 0xFF}) {
      Bytes damaged = doc.table;
      damaged[at] = v;
      EXPECT_LE(Decode(WordText(word, damaged, {}, 8)).size(), 8u);
    }
  }
}

// The first letters and digits of each corpus document are found in what
// antiword reads from it.
TEST(WordText, AgreesWithAntiwordOnTheCorpus) {
  if (!fs::is_directory(kCorpus + "/doc")) VELLUMARK_CANNOT_RUN("test corpus not found at " << kCorpus);
  VELLUMARK_REQUIRE_TOOL("antiword");
  // Letters and digits, lower-cased; other scripts are kept as they are.
  auto normal = [](const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
      if (c >= 0x80 || std::isalnum(c)) out += static_cast<char>(std::tolower(c));
    }
    return out;
  };
  int agreed = 0, compared = 0;
  for (const auto& entry : fs::directory_iterator(kCorpus + "/doc")) {
    const Bytes bytes = test::ReadFileBytes(entry.path().string());
    const auto file = CompoundFile::Open(bytes);
    const auto word = file ? file->Stream("WordDocument") : std::nullopt;
    if (!word) continue;
    const Bytes none;
    const auto t0 = file->Stream("0Table"), t1 = file->Stream("1Table");
    const std::string ours = WordText(*word, t0 ? *t0 : none, t1 ? *t1 : none, 2000);
    Decode(ours);
    // antiword's main text ends at its rule before notes and text boxes; it
    // marks pictures and note references in brackets, which are not text.
    int status = 0;
    std::string theirs =
        test::RunOutput("antiword -m UTF-8.txt -w 0 '" + entry.path().string() + "' 2>/dev/null", &status);
    theirs = theirs.substr(0, theirs.find("\n-----------------------\n"));
    theirs = normal(std::regex_replace(theirs, std::regex("\\[(pic|[0-9]+|[ivxlcdm]+)\\]|\u00A0"), ""));
    if (status != 0) continue;  // too small for antiword, or encrypted
    ++compared;
    if (theirs.empty()) {  // only pictures
      EXPECT_EQ(normal(ours), "") << entry.path().filename();
      agreed += normal(ours).empty();
      continue;
    }
    // antiword lays tables out row by row and numbers lists, so each
    // paragraph or cell of ours is looked for on its own.
    std::size_t matched = 0;
    std::string missing;
    for (std::size_t from = 0; from < ours.size() && matched < 40 && missing.empty();) {
      const std::size_t end = std::min(ours.find_first_of("\n\t", from), ours.size());
      const std::string piece = normal(ours.substr(from, end - from));
      if (theirs.find(piece) == std::string::npos) missing = piece;
      matched += piece.size(), from = end + 1;
    }
    EXPECT_TRUE(matched > 0 && missing.empty())
        << entry.path().filename() << "\n ours:   " << missing << "\n theirs: " << theirs.substr(0, 120);
    agreed += matched > 0 && missing.empty();
  }
  std::printf("agreed with antiword on %d of %d documents\n", agreed, compared);
}

}  // namespace
}  // namespace vellumark
