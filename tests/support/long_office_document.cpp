#include "support/long_office_document.h"

#include <filesystem>

#include <gtest/gtest.h>

namespace vellumark::test {

std::string LongDocumentParagraph(int n) {
  char text[96];
  std::snprintf(text, sizeof text, "Paragraph %05d: the harbour ledger lists cargo number %d for the morning tide.", n,
                n * 7919 % 100003);
  return text;
}

std::vector<std::uint8_t> LongOfficeDocument(const TempDir& dir, const std::string& corpusName, int count) {
  if (!HaveTool("zip") || !HaveTool("unzip") || !HaveTool("python3")) return {};
  const std::string corpus = std::string(VELLUMARK_CORPUS_DIR) + "/ooxml/" + corpusName;
  const bool open = corpusName.ends_with(".odt");
  const std::string work = dir / ("long-" + corpusName), made = work + (open ? ".odt" : ".docx");
  if (std::filesystem::exists(made)) return ReadFileBytes(made);
  std::filesystem::create_directories(work);
  // The paragraphs go first in the body, in the writer's own markup.
  const std::string paragraph = open ? "<text:p>{}</text:p>" : "<w:p><w:r><w:t>{}</w:t></w:r></w:p>";
  const std::string body = open ? "<office:text>" : "<w:body>";
  const std::string part = open ? "content.xml" : "word/document.xml";
  const std::string script =
      "import sys\n"
      "p=sys.argv[1]; s=open(p,encoding='utf-8').read(); i=s.index('" + body + "')+" + std::to_string(body.size()) + "\n"
      "t=''.join('" + paragraph + "'.format('Paragraph %05d: the harbour ledger lists cargo number %d for the morning tide.'"
      " % (n, n*7919%100003)) for n in range(" + std::to_string(count) + "))\n"
      "open(p,'w',encoding='utf-8').write(s[:i]+t+s[i:])\n";
  WriteFileBytes(work + "/enlarge.py", std::vector<std::uint8_t>(script.begin(), script.end()));
  const int status = Run("cd " + work + " && unzip -q " + corpus + " && python3 enlarge.py " + part +
                         " && unzip -Z1 " + corpus + " > order && zip -q -X -D " + made + " -@ < order");
  EXPECT_EQ(status, 0);
  return ReadFileBytes(made);
}

BodyData BodyDataOf(const std::vector<std::uint8_t>& archive) {
  const auto le16 = [&](std::size_t at) { return std::size_t{archive[at]} | std::size_t{archive[at + 1]} << 8; };
  for (std::size_t at = 0; at + 30 < archive.size();) {
    if (archive[at] != 'P' || archive[at + 1] != 'K' || archive[at + 2] != 3 || archive[at + 3] != 4) break;
    const std::size_t name = le16(at + 26), extra = le16(at + 28);
    const std::size_t size = le16(at + 18) | le16(at + 20) << 16;
    const std::string part(archive.begin() + static_cast<std::ptrdiff_t>(at + 30),
                           archive.begin() + static_cast<std::ptrdiff_t>(at + 30 + name));
    const std::size_t data = at + 30 + name + extra;
    if (part == "word/document.xml" || part == "content.xml") return {data, size};
    at = data + size;
  }
  ADD_FAILURE() << "no body part";
  return {};
}

}  // namespace vellumark::test
