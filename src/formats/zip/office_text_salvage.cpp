#include "formats/zip/office_text_salvage.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "common/byte_view.h"
#include "formats/file_signatures.h"
#include "formats/zip/deflate_salvage.h"
#include "formats/zip/zip_archive.h"

namespace vellumark {
namespace {

// As for the parts read from a whole package: no body part is larger.
constexpr std::uint64_t kLargestPart = 64 << 20;
constexpr std::size_t kLongestName = 1024;

// A local header as it stands, read without checking its member's data.
struct LocalHeader {
  std::int64_t offset = 0;
  std::string name;
  std::uint16_t method = 0;
  std::uint64_t compressed = 0;  // 0 when it follows the data
  std::uint64_t size = 0;        // likewise
  std::int64_t dataOffset = 0;
};

// Every local header in the bytes whose name is a plausible part name, up
// to the package's central directory or the start of another package (a
// member named as its first, its content types or an OpenDocument's
// mimetype): what lies after the package is no part of it.
std::vector<LocalHeader> LocalHeaders(ByteView bytes) {
  std::vector<LocalHeader> headers;
  const std::string_view signature = signature::kZipLocalHeader;
  const auto* data = reinterpret_cast<const char*>(bytes.Data());
  const std::string_view given(data, bytes.Size());
  const std::string_view all = given.substr(0, given.find(signature::kZipCentralHeader));
  for (std::size_t at = all.find(signature); at != std::string_view::npos; at = all.find(signature, at + 1)) {
    const auto offset = static_cast<std::int64_t>(at);
    const auto flags = bytes.Le16(offset + 6), method = bytes.Le16(offset + 8);
    const auto compressed = bytes.Le32(offset + 18), size = bytes.Le32(offset + 22);
    const auto nameLength = bytes.Le16(offset + 26), extraLength = bytes.Le16(offset + 28);
    if (!flags || !method || !compressed || !size || !nameLength || !extraLength) break;
    if (*nameLength == 0 || *nameLength > kLongestName) continue;
    const auto name = bytes.Bytes(offset + 30, *nameLength);
    if (!name || std::any_of(name->begin(), name->end(), [](std::uint8_t b) { return b < 0x20; })) continue;
    LocalHeader header;
    header.offset = offset;
    header.name.assign(name->begin(), name->end());
    if (!headers.empty() && (header.name == headers.front().name || header.name == "[Content_Types].xml" ||
                             header.name == "mimetype"))
      break;
    header.method = *method;
    const bool after = (*flags & zip_field::kFlagDescriptor) != 0 && *compressed == 0;
    const bool zip64 = *compressed == zip_field::kInZip64 || *size == zip_field::kInZip64;
    header.compressed = after || zip64 ? 0 : *compressed;
    header.size = after || zip64 ? 0 : *size;
    header.dataOffset = offset + 30 + *nameLength + *extraLength;
    headers.push_back(std::move(header));
  }
  return headers;
}

bool IsWordTextPart(const std::string& name) {
  if (!name.starts_with("word/") || !name.ends_with(".xml") || name.find('/', 5) != std::string::npos) return false;
  for (const char* prefix : {"header", "footer", "footnotes", "endnotes", "comments"}) {
    if (name.compare(5, std::strlen(prefix), prefix) == 0) return true;
  }
  return false;
}

// The data of a part whose data checks whole, and where that data ends;
// none otherwise.
std::optional<std::vector<std::uint8_t>> WholePart(std::span<const std::uint8_t> bytes, const LocalHeader& header,
                                                   std::int64_t& end) {
  const ZipRecordCheck check = CheckZipMember(bytes, header.offset);
  if (check.step != ZipStep::Done) return std::nullopt;
  end = check.member.dataOffset + check.member.compressedSize;
  return ZipMemberData(bytes, check.member, kLargestPart);
}

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return;
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | code >> 18);
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Character data with its references resolved; lost bytes and references
// cut short are left out.
void AppendCharacters(std::string& out, std::string_view text) {
  static constexpr std::pair<std::string_view, char> kNamed[] = {
      {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == static_cast<char>(kLostByte)) {
      if (!out.empty() && out.back() != ' ' && out.back() != '\n') out += ' ';
      continue;
    }
    if (c != '&') {
      out += c;
      continue;
    }
    const std::size_t semicolon = text.find(';', i);
    if (semicolon == std::string_view::npos) break;  // cut short
    if (semicolon - i > 10) continue;
    const std::string_view name = text.substr(i + 1, semicolon - i - 1);
    i = semicolon;
    if (name.starts_with('#')) {
      const bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
      const std::string digits(name.substr(hex ? 2 : 1));
      if (!digits.empty() && digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") == std::string::npos)
        AppendUtf8(out, static_cast<std::uint32_t>(std::stoul(digits, nullptr, hex ? 16 : 10)));
      continue;
    }
    for (const auto& [entity, character] : kNamed) {
      if (name == entity) out += character;
    }
  }
}

// Drops what is not well-formed UTF-8: a stretch may start or end inside
// a character, and lost bytes may stand in the middle of one.
std::string WellFormed(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF5 ? 0 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    bool ok = length != 0 && i + length <= text.size();
    for (std::size_t k = 1; ok && k < length; ++k) ok = (static_cast<std::uint8_t>(text[i + k]) & 0xC0) == 0x80;
    if (ok) out.append(text, i, length);
    i += ok ? length : 1;
  }
  return out;
}

void EndLine(std::string& out) {
  if (!out.empty() && out.back() != '\n') out += '\n';
}

}  // namespace

std::string TolerantBodyText(std::span<const std::uint8_t> xml, bool openDocument) {
  const std::string_view all(reinterpret_cast<const char*>(xml.data()), xml.size());
  std::string out;
  bool inRun = false;  // inside w:t
  int depth = 0;       // of OpenDocument paragraphs and headings
  for (std::size_t i = 0; i < all.size();) {
    if (all[i] != '<') {
      const std::size_t next = std::min(all.find('<', i), all.size());
      // Character data with lost bytes in it may be text whose tags were
      // lost: what is left of it is kept, a space where bytes were lost.
      const std::string_view data = all.substr(i, next - i);
      if (openDocument ? depth > 0 : inRun) {
        AppendCharacters(out, data);
      } else if (data.find(static_cast<char>(kLostByte)) != std::string_view::npos) {
        // What stands between lost bytes and a '>' is the visible end of a
        // tag whose start was lost: markup, not text.
        std::string_view rest = data;
        for (std::size_t end = rest.find('>'); end != std::string_view::npos; end = rest.find('>')) {
          const std::string_view piece = rest.substr(0, end);
          AppendCharacters(out, piece.substr(0, std::min(piece.size(), piece.rfind(static_cast<char>(kLostByte)) + 1)));
          rest.remove_prefix(end + 1);
        }
        AppendCharacters(out, rest);
      }
      i = next;
      continue;
    }
    const std::size_t close = all.find('>', i);
    if (close == std::string_view::npos) break;  // the stretch ends inside a tag
    std::string_view tag = all.substr(i + 1, close - i - 1);
    i = close + 1;
    // A tag partly lost may have been a run's start: character data after
    // it is Word's text (the body part holds none but that), whatever the
    // tag was.
    if (tag.find(static_cast<char>(kLostByte)) != std::string_view::npos) {
      inRun = !openDocument || inRun;
      continue;
    }
    const bool closing = tag.starts_with('/'), empty = tag.ends_with('/');
    if (closing) tag.remove_prefix(1);
    const std::string_view name = tag.substr(0, tag.find_first_of(" \t\r\n/"));
    if (!openDocument) {
      if (name == "w:t") inRun = !closing && !empty;
      if (name == "w:tab" && !closing) out += '\t';
      if ((name == "w:br" || name == "w:cr") && !closing) out += '\n';
      if (name == "w:p" && (closing || empty)) EndLine(out);
      continue;
    }
    if (name == "text:p" || name == "text:h") {
      if (closing || empty) EndLine(out);
      depth = closing ? std::max(0, depth - 1) : empty ? depth : depth + 1;
    } else if (depth > 0 && !closing) {
      if (name == "text:s") out += ' ';
      if (name == "text:tab") out += '\t';
      if (name == "text:line-break") out += '\n';
    }
  }
  return WellFormed(out);
}

std::optional<SalvagedOfficeText> SalvageOfficeText(std::span<const std::uint8_t> bytes, std::uint64_t budget,
                                                    std::uint64_t& work) {
  const ByteView view(bytes.data(), bytes.size());
  const std::vector<LocalHeader> headers = LocalHeaders(view);
  const auto body = std::find_if(headers.begin(), headers.end(), [](const LocalHeader& h) {
    return h.name == "word/document.xml" || h.name == "content.xml";
  });
  if (body == headers.end()) return std::nullopt;
  const bool open = body->name == "content.xml";
  SalvagedOfficeText salvaged;
  salvaged.kind = open ? DocumentKind::OdfText : DocumentKind::WordDocx;
  if (const auto whole = WholePart(bytes, *body, salvaged.extent)) {
    salvaged.text = TolerantBodyText(*whole, open);
    salvaged.percent = 100;
  } else if (body->method == zip_field::kDeflated && body->dataOffset < static_cast<std::int64_t>(bytes.size())) {
    // The data ends where its header says, or where the next member's
    // header stands, whichever comes first.
    auto end = static_cast<std::int64_t>(bytes.size());
    if (body->compressed > 0) end = std::min(end, body->dataOffset + static_cast<std::int64_t>(body->compressed));
    const auto next = std::find_if(headers.begin(), headers.end(),
                                   [&](const LocalHeader& h) { return h.offset >= body->dataOffset; });
    if (next != headers.end()) end = std::min(end, next->offset);
    std::uint64_t size = body->size;
    // A size that follows the data stands in its descriptor, just before
    // the next member's header.
    if (size == 0 && next != headers.end() && next->offset >= 16 && view.Equals(next->offset - 16, signature::kZipDescriptor))
      size = view.Le32(next->offset - 4).value_or(0);
    const SalvagedStream stream = SalvageDeflate(
        bytes.subspan(static_cast<std::size_t>(body->dataOffset), static_cast<std::size_t>(end - body->dataOffset)),
        size > 0 ? size : kLargestPart, budget);
    work += stream.work;
    for (const auto& stretch : stream.stretches) {
      if (!salvaged.text.empty()) salvaged.text += "\n";  // a blank line where text was lost
      salvaged.text += TolerantBodyText(stretch, open);
    }
    salvaged.extent = end;
    salvaged.percent = size > 0 ? static_cast<int>(std::min<std::uint64_t>(100, stream.sound * 100 / size)) : -1;
  }
  if (salvaged.text.find_first_not_of(" \t\r\n") == std::string::npos) return std::nullopt;
  // The other parts of Word's text, as far as they check.
  for (const LocalHeader& header : headers) {
    if (open || !IsWordTextPart(header.name)) continue;
    std::int64_t end = 0;
    if (const auto part = WholePart(bytes, header, end)) {
      const std::string text = TolerantBodyText(*part, false);
      if (text.find_first_not_of(" \t\r\n") == std::string::npos) continue;
      salvaged.text += "\n" + text;
      salvaged.extent = std::max(salvaged.extent, end);
    }
  }
  while (!salvaged.text.empty() && salvaged.text.back() == '\n') salvaged.text.pop_back();
  salvaged.text += '\n';
  return salvaged;
}

}  // namespace vellumark
