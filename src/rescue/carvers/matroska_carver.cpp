// Matroska and WebM: the EBML header (whose document type must be "matroska"
// or "webm"), then the Segment. A Segment of known size ends the file there,
// claimed unread. A Segment of unknown size (a live recording) is walked
// element by element: top-level elements of known size are passed over
// unread; a Cluster of unknown size is walked through its children. The file
// ends before the first element that belongs to neither.
#include <algorithm>
#include <cstring>

#include "rescue/carve_services.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint64_t kLargestMatroska = std::uint64_t{16} << 30;
constexpr std::uint32_t kEbmlHeader = 0x1A45DFA3;
constexpr std::uint32_t kDocType = 0x4282;
constexpr std::uint32_t kSegment = 0x18538067;
constexpr std::uint32_t kCluster = 0x1F43B675;
constexpr std::uint64_t kLongestEbmlHeader = 4096;
constexpr std::uint64_t kMostElements = 1 << 22;
constexpr std::uint64_t kUnknownSize = ~std::uint64_t{0};

bool IsTopLevel(std::uint32_t id) {
  switch (id) {
    case 0x114D9B74:  // SeekHead
    case 0x1549A966:  // Info
    case 0x1654AE6B:  // Tracks
    case kCluster:
    case 0x1C53BB6B:  // Cues
    case 0x1941A469:  // Attachments
    case 0x1043A770:  // Chapters
    case 0x1254C367:  // Tags
    case 0xEC:        // Void
    case 0xBF:        // CRC-32
      return true;
    default:
      return false;
  }
}

bool IsClusterChild(std::uint32_t id) {
  switch (id) {
    case 0xE7:    // Timestamp
    case 0xA3:    // SimpleBlock
    case 0xA0:    // BlockGroup
    case 0xA7:    // Position
    case 0xAB:    // PrevSize
    case 0xAF:    // EncryptedBlock
    case 0x5854:  // SilentTracks
    case 0xEC:
    case 0xBF:
      return true;
    default:
      return false;
  }
}

struct Element {
  std::uint32_t id = 0;
  std::uint64_t size = 0;      // kUnknownSize when all its value bits are set
  std::uint64_t headerLength = 0;
};

// An element header at p, with up to 12 bytes readable; false when malformed.
bool ParseElement(const std::uint8_t* p, Element& e) {
  int idLength = 1;
  while (idLength <= 4 && (p[0] & (0x80 >> (idLength - 1))) == 0) ++idLength;
  if (idLength > 4) return false;
  e.id = 0;
  for (int i = 0; i < idLength; ++i) e.id = e.id << 8 | p[i];
  const std::uint8_t* s = p + idLength;
  int sizeLength = 1;
  while (sizeLength <= 8 && (s[0] & (0x80 >> (sizeLength - 1))) == 0) ++sizeLength;
  if (sizeLength > 8) return false;
  std::uint64_t size = s[0] & (0xFF >> sizeLength);
  bool allOnes = size == (0xFFu >> sizeLength);
  for (int i = 1; i < sizeLength; ++i) {
    size = size << 8 | s[i];
    allOnes = allOnes && s[i] == 0xFF;
  }
  e.size = allOnes ? kUnknownSize : size;
  e.headerLength = static_cast<std::uint64_t>(idLength + sizeLength);
  return true;
}

// The element at offset, or false when it cannot be read.
bool ElementAt(ForwardWindow& window, std::uint64_t offset, Element& e) {
  const std::uint8_t* p = window.At(offset, 12);
  return p != nullptr && ParseElement(p, e);
}

// "matroska" or "webm" as the DocType inside the EBML header's body.
bool KnownDocType(const std::uint8_t* body, std::uint64_t size) {
  for (std::uint64_t at = 0; at + 2 < size;) {
    Element e;
    std::uint8_t header[12] = {};
    std::memcpy(header, body + at, std::min<std::uint64_t>(12, size - at));
    if (!ParseElement(header, e) || e.size == kUnknownSize || e.size > size - at - e.headerLength) return false;
    if (e.id == kDocType) {
      const char* text = reinterpret_cast<const char*>(body + at + e.headerLength);
      const auto is = [&](const char* name) {
        return e.size >= std::strlen(name) && std::memcmp(text, name, std::strlen(name)) == 0 &&
               std::all_of(text + std::strlen(name), text + e.size, [](char c) { return c == 0; });
      };
      return is("matroska") || is("webm");
    }
    at += e.headerLength + e.size;
  }
  return false;
}

// The end of a Segment of unknown size that starts its children at offset.
std::uint64_t WalkUnknownSegment(ForwardWindow& window, std::uint64_t offset) {
  bool inCluster = false;
  for (std::uint64_t count = 0; count < kMostElements; ++count) {
    if (offset > kLargestMatroska) return 0;
    Element e;
    if (!ElementAt(window, offset, e)) return 0;
    if (IsTopLevel(e.id)) {
      inCluster = false;
      if (e.size == kUnknownSize) {
        if (e.id != kCluster) return 0;
        inCluster = true;
        offset += e.headerLength;
        continue;
      }
    } else if (!inCluster || !IsClusterChild(e.id)) {
      return offset;  // the first element of something else
    } else if (e.size == kUnknownSize) {
      return 0;
    }
    offset += e.headerLength + e.size;
  }
  return 0;
}

bool Measure(CarveAttempt& attempt) {
  ForwardWindow window(attempt);
  Element header;
  if (!ElementAt(window, 0, header) || header.id != kEbmlHeader) return false;
  if (header.size == kUnknownSize || header.size > kLongestEbmlHeader) return false;
  const std::uint8_t* body = window.At(header.headerLength, header.size);
  if (body == nullptr || !KnownDocType(body, header.size)) return false;
  const std::uint64_t segmentAt = header.headerLength + header.size;
  Element segment;
  if (!ElementAt(window, segmentAt, segment) || segment.id != kSegment) return false;
  const std::uint64_t children = segmentAt + segment.headerLength;
  Element first;
  if (!ElementAt(window, children, first) || !IsTopLevel(first.id)) return false;
  if (segment.size != kUnknownSize) {
    const std::uint64_t end = children + segment.size;
    return segment.size <= kLargestMatroska && window.ClaimTo(end);
  }
  const std::uint64_t end = WalkUnknownSegment(window, children);
  return end > children && window.ClaimTo(end);
}

}  // namespace

void MatroskaCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthSmall);
  if (!attempt.Start()) return;
  if (Measure(attempt)) attempt.Succeed();
}

}  // namespace vellumark
