#include "formats/zip/office_package.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>

namespace vellumark {
namespace {

// The parts read here are small; a larger one is not what it claims to be.
constexpr std::uint64_t kLargestPart = 64 << 20;

const ZipMember* Find(const std::vector<ZipMember>& members, const std::string& name) {
  const auto it = std::find_if(members.begin(), members.end(), [&](const ZipMember& m) { return m.name == name; });
  return it == members.end() ? nullptr : &*it;
}

struct XmlFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using XmlDocument = std::unique_ptr<xmlDoc, XmlFree>;

// A part parsed without the network, entities or DTDs: rescued bytes are
// not to be trusted.
XmlDocument ParsePart(std::span<const std::uint8_t> archive, const std::vector<ZipMember>& members,
                      const std::string& name) {
  const ZipMember* member = Find(members, name);
  if (member == nullptr) return nullptr;
  const auto data = ZipMemberData(archive, *member, kLargestPart);
  if (!data || data->size() > static_cast<std::size_t>(INT32_MAX)) return nullptr;
  return XmlDocument(xmlReadMemory(reinterpret_cast<const char*>(data->data()), static_cast<int>(data->size()),
                                   name.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
}

bool Named(const xmlNode* node, const char* localName) {
  return node->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(node->name), localName) == 0;
}

std::string Attribute(const xmlNode* node, const char* name) {
  xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
  if (value == nullptr) return {};
  std::string text(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return text;
}

std::string Content(const xmlNode* node) {
  xmlChar* value = xmlNodeGetContent(node);
  if (value == nullptr) return {};
  std::string text(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return text;
}

// "2024-03-12T14:05:00Z" (W3CDTF, as both formats write it) in seconds.
std::optional<std::int64_t> ParseDateTime(const std::string& text) {
  std::tm parts{};
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &year, &month, &day, &hour, &minute, &second) != 6) {
    return std::nullopt;
  }
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  return static_cast<std::int64_t>(timegm(&parts));
}

template <typename Visit>
void Walk(const xmlNode* node, Visit&& visit) {
  for (; node != nullptr; node = node->next) {
    if (!visit(node)) continue;
    Walk(node->children, visit);
  }
}

}  // namespace

bool StartsLikeAnOfficePackage(ByteView sector) {
  const auto length = sector.Le16(26);
  const auto nameBytes = length ? sector.Bytes(30, std::min<std::size_t>(*length, 64)) : std::nullopt;
  if (!nameBytes) return false;
  const std::string name(nameBytes->begin(), nameBytes->end());
  for (const char* prefix : {"[Content_Types].xml", "mimetype", "_rels/", "docProps/", "word/", "xl/", "ppt/",
                             "customXml/"}) {
    if (name.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

void PrepareOfficeReading() { xmlInitParser(); }

DocumentKind OfficeKindOf(std::span<const std::uint8_t> archive, const std::vector<ZipMember>& members) {
  if (!members.empty() && members.front().name == "mimetype") {
    const auto type = ZipMemberData(archive, members.front(), 256);
    const std::string text = type ? std::string(type->begin(), type->end()) : std::string();
    return text == "application/vnd.oasis.opendocument.text" ? DocumentKind::OdfText : DocumentKind::Other;
  }
  const XmlDocument types = ParsePart(archive, members, "[Content_Types].xml");
  if (!types) return DocumentKind::Other;
  static constexpr struct { const char* prefix; DocumentKind kind; } kMainParts[] = {
      {"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml", DocumentKind::WordDocx},
      {"application/vnd.ms-word.document.macroEnabled.main+xml", DocumentKind::WordDocx},
      {"application/vnd.openxmlformats-officedocument.wordprocessingml.template.main+xml", DocumentKind::WordDocx},
      {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml", DocumentKind::ExcelXlsx},
      {"application/vnd.ms-excel.sheet.macroEnabled.main+xml", DocumentKind::ExcelXlsx},
      {"application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml",
       DocumentKind::PowerPointPptx},
      {"application/vnd.ms-powerpoint.presentation.macroEnabled.main+xml", DocumentKind::PowerPointPptx},
  };
  DocumentKind kind = DocumentKind::Other;
  Walk(xmlDocGetRootElement(types.get()), [&](const xmlNode* node) {
    if (Named(node, "Override")) {
      const std::string type = Attribute(node, "ContentType");
      for (const auto& main : kMainParts) {
        // The main part must be in the archive too.
        if (type == main.prefix && kind == DocumentKind::Other) {
          std::string part = Attribute(node, "PartName");
          if (!part.empty() && part.front() == '/') part.erase(0, 1);
          if (Find(members, part) != nullptr) kind = main.kind;
        }
      }
    }
    return true;
  });
  return kind;
}

OfficeProperties ReadOfficeProperties(std::span<const std::uint8_t> archive, const std::vector<ZipMember>& members) {
  OfficeProperties properties;
  const bool open = !members.empty() && members.front().name == "mimetype";
  const XmlDocument core = ParsePart(archive, members, open ? "meta.xml" : "docProps/core.xml");
  if (!core) return properties;
  std::string initialCreator;
  Walk(xmlDocGetRootElement(core.get()), [&](const xmlNode* node) {
    if (Named(node, "title") && properties.title.empty()) properties.title = Content(node);
    if (Named(node, "creator") && properties.author.empty()) properties.author = Content(node);
    if (Named(node, "initial-creator")) initialCreator = Content(node);
    if ((Named(node, "modified") || (open && Named(node, "date"))) && !properties.lastSaved) {
      properties.lastSaved = ParseDateTime(Content(node));
    }
    return true;
  });
  if (properties.author.empty()) properties.author = initialCreator;
  return properties;
}

std::string OfficePreview(std::span<const std::uint8_t> archive, const std::vector<ZipMember>& members,
                          std::size_t characters) {
  const bool open = !members.empty() && members.front().name == "mimetype";
  const XmlDocument body = ParsePart(archive, members, open ? "content.xml" : "word/document.xml");
  if (!body) return {};
  std::string text;
  std::size_t count = 0;
  // Whole characters, counted as characters: a UTF-8 sequence is its lead
  // byte and the continuation bytes after it.
  const auto append = [&](const std::string& piece) {
    for (std::size_t i = 0; i < piece.size() && count < characters;) {
      std::size_t length = 1;
      while (i + length < piece.size() && (static_cast<unsigned char>(piece[i + length]) & 0xC0) == 0x80) ++length;
      text.append(piece, i, length);
      i += length;
      ++count;
    }
  };
  Walk(xmlDocGetRootElement(body.get()), [&](const xmlNode* node) {
    if (count >= characters) return false;
    if (node->type == XML_TEXT_NODE && node->parent != nullptr &&
        (Named(node->parent, "t") || (open && node->parent->type == XML_ELEMENT_NODE))) {
      append(reinterpret_cast<const char*>(node->content));
      return false;
    }
    if (Named(node, "tab")) append("\t");
    if (Named(node, "br") || (open && Named(node, "line-break"))) append("\n");
    if ((Named(node, "p") || (open && Named(node, "h"))) && !text.empty() && text.back() != '\n') append("\n");
    return true;
  });
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

}  // namespace vellumark
