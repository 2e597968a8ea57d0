#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "rescue/media_carver_fixture.h"
#include "rescue/sector_classifier.h"

namespace vellumark {
namespace {

using namespace test;  // NOLINT

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
std::size_t Find(const Bytes& f, const std::string& s, std::size_t from = 0) {
  return std::string(f.begin(), f.end()).find(s, from);
}

// A small PDF by hand: objects, an xref table at a line start, the trailer,
// and "startxref" naming the table's offset (or another).
Bytes Pdf(const std::string& body, long xrefDelta = 0, const std::string& eol = "\n") {
  const std::string head = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n<< /Type /Catalog >>\nendobj\n" + body + "\n";
  return Text(head + "xref\n0 2\n0000000000 65535 f \n0000000015 00000 n \ntrailer\n<< /Size 2 /Root 1 0 R >>\n"
              "startxref\n" + std::to_string(long(head.size()) + xrefDelta) + "\n%%EOF" + eol);
}
// An incremental update appended to file: a new object, its xref section and trailer.
Bytes Update(const Bytes& file) {
  const std::string obj = "2 0 obj\n<< /Changed true >>\nendobj\n";
  return Cat({file, Text(obj + "xref\n2 1\n0000000000 00000 n \ntrailer\n<< /Size 3 /Prev 9 >>\nstartxref\n" +
                         std::to_string(file.size() + obj.size()) + "\n%%EOF\n")});
}

// The file with every line ended by CR alone, as classic Mac OS writers did.
Bytes CrLines(Bytes file) {
  std::replace(file.begin(), file.end(), std::uint8_t{'\n'}, std::uint8_t{'\r'});
  return file;
}

TEST(PdfCarverSynthetic, StartxrefAndEofLine) {
  const Bytes plain = Pdf(std::string(3000, ' '));
  const std::size_t firstEnd = plain.size();
  Bytes sectorLong;  // six sectors exactly
  for (std::size_t n = 2900; (sectorLong = Pdf(std::string(n, ' '))).size() < 3072; ++n) {
  }
  ASSERT_EQ(sectorLong.size(), 3072u);
  // An xref stream: startxref names an object.
  const std::string xrefStream = "%PDF-1.5\n5 0 obj\n<< /Type /XRef /Size 6 >>\nstream\nxx\nendstream\nendobj\n";
  const Bytes objectNamed = Text(xrefStream + std::string(900, 'q') + "\nstartxref\n9\n%%EOF\n");
  const struct { const char* name; Bytes file; std::int64_t sectors; std::int64_t tail = 40; } cases[] = {
      {"xref table", plain, -1},
      {"CR LF after %%EOF", Pdf(std::string(3000, ' '), 0, "\r\n"), -1},
      {"CR line ends", CrLines(plain), -1},
      {"CR line ends and an update", CrLines(Update(plain)), -1},
      {"no end of line at the source's end", Pdf(std::string(3000, ' '), 0, ""), -1, 0},
      {"xref stream object", objectNamed, -1},
      {"an incremental update", Update(plain), -1},
      {"two updates, 70 sectors of body: the walk cuts back", Update(Update(Pdf(std::string(36'000, 'x')))), -1},
      {"%%EOF line ending a sector", sectorLong, 6},
      {"startxref naming no section", Pdf(std::string(3000, ' '), 1), 0},
      {"startxref beyond itself", Pdf(std::string(3000, ' '), 5000), 0},
      {"a vouched end, then a bad one", Cat({plain, Text("3 0 obj\nendobj\nstartxref\n77\n%%EOF\n")}),
       SectorsOf(plain)},
      {"no %%EOF at the source's end", Head(plain, firstEnd - 2), 0, 0},
      {"only an %%EOF inside the body", Cat({Text("%PDF-1.4\n"), Text(std::string(2000, ' ') + "%%EOF\n")}), 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Carve(PdfCarver, c.file, c.tail), Span(2, c.sectors < 0 ? SectorsOf(c.file) : c.sectors)) << c.name;
  }
}

// A PDF from the zlib documentation (shipped with the development package
// the build needs), and qpdf's rewrites of it.
// A search that failed leaves the stretch from its hit on in which it met
// nothing it looks for; the PDF below passes it unread and still finds its
// end after it, and a stretch with a digit near its edge, which could start
// an object header ending in the next sector, is not left at all.
TEST(PdfCarverSynthetic, AQuietStretchAnEarlierSearchWentThroughIsPassed) {
  const auto sector = [](const std::string& text) {
    Bytes s = Text(text);
    s.resize(512, 0);
    return s;
  };
  const std::string tail = "\nxref\n0 1\n0000000000 65535 f \ntrailer\n<< >>\nstartxref\n" +
                           std::to_string(30 * 512 + 1) + "\n%%EOF\n";
  const struct { const char* name; std::string upper; bool passed; } cases[] = {
      {"a header and zeros", "%PDF-1.4\n", true},
      {"no stretch: a digit near the edge", "%PDF-1.4\n" + std::string(480, ' ') + "12", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes image;
    for (int s = 0; s < 32; ++s) {
      image = Cat({image, sector(s == 0 ? "%PDF-1.4\n1 0 obj\n<< >>\nendobj\n" : s == 10 ? c.upper : s == 30 ? tail : "")});
    }
    Disk disk(image);
    // The upper header's search fails: its startxref names no section of it.
    PdfCarver(disk.run, 10 * 512);
    EXPECT_EQ(disk.Claimed(), Runs{});
    EXPECT_EQ(disk.run.memory.PdfQuiet().has_value(), c.passed);
    const std::int64_t before = disk.run.carveSteps;
    PdfCarver(disk.run, 0);
    EXPECT_EQ(disk.Claimed(), Span(0, 31));
    // Sectors 1 to 9 and 30 loaded; 10 to 29 too unless passed.
    const std::int64_t steps = disk.run.carveSteps - before;
    if (c.passed) {
      EXPECT_LT(steps, 15);
    } else {
      EXPECT_GE(steps, 30);
    }
  }
}

TEST(PdfCarverRealFiles, ShippedDocumentAndQpdf) {
  VELLUMARK_REQUIRE_TOOL("qpdf");
  const std::string shipped = "/usr/share/doc/zlib1g-dev/crc-doc.1.0.pdf.gz";
  if (!std::filesystem::exists(shipped)) VELLUMARK_CANNOT_RUN("needs " << shipped);
  TempDir dir;
  const Bytes doc = Made(dir, "gzip -dc " + shipped + " > ", "doc.pdf");
  const std::string qpdf = "cd '" + dir.path().string() + "' && qpdf ";
  const Bytes pages = Made(dir, qpdf + "--empty --pages doc.pdf 1-3 -- ", "pages.pdf");
  const Bytes linear = Made(dir, qpdf + "--linearize doc.pdf ", "linear.pdf");
  const Bytes streams = Made(dir, qpdf + "--object-streams=generate pages.pdf ", "streams.pdf");
  const Bytes updated = Update(pages);
  ASSERT_LT(Find(linear, "/Linearized"), 512u);
  ASSERT_NE(Find(streams, "/XRef"), std::string::npos);
  for (const Bytes* f : {&doc, &pages, &linear, &streams, &updated}) {
    SCOPED_TRACE(f == &doc ? "shipped" : f == &pages ? "pages" : f == &linear ? "linearized"
                 : f == &streams ? "xref stream" : "updated");
    EXPECT_EQ(ClassifySector(f->data(), f->size()), code::kPdf);
    const Bytes firstEofCut = Head(*f, Find(*f, "%%EOF") + 2);
    if (SectorsOf(*f) < 1000) {  // the protocol's disk layout holds files up to 1,000 sectors
      ExpectCarveProtocol(PdfCarver, *f, firstEofCut);
    } else {
      EXPECT_EQ(Carve(PdfCarver, *f, 40), Span(2, SectorsOf(*f)));
      EXPECT_EQ(Carve(PdfCarver, firstEofCut, 0), Runs{});
    }
    for (const std::size_t cut : {std::size_t{600}, f->size() / 2}) {
      if (f != &updated) {
        EXPECT_EQ(Carve(PdfCarver, Head(*f, cut), 0), Runs{}) << "cut at " << cut;
      }
    }
  }
  // An update cut short leaves the file as it was before the update.
  EXPECT_EQ(Carve(PdfCarver, Head(updated, updated.size() - 3), 0), Span(2, SectorsOf(pages)));
  // The linearized file's middle is claimed unread; its length is checked.
  ExpectMiddleUnread(PdfCarver, linear);
  const std::size_t at = Find(linear, "/L ") + 3;
  EXPECT_EQ(Carve(PdfCarver, With(linear, at, {std::uint8_t(linear[at] == '9' ? '8' : linear[at] + 1)})), Runs{});
}

}  // namespace
}  // namespace vellumark
