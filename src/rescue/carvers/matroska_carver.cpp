// Matroska and WebM: the EBML header (whose document type must be "matroska"
// or "webm"), then the Segment. A Segment of known size ends the file there,
// claimed unread. A Segment of unknown size (a live recording) is walked
// element by element: top-level elements of known size are passed over
// unread; a Cluster of unknown size is walked through its children. The file
// ends before the first element that belongs to neither.
#include <algorithm>
#include <string_view>

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

// The element header at the start of p (at most 12 bytes); false when
// malformed or cut short.
bool ParseElement(ByteView p, Element& e) {
  const auto idLead = p.Byte(0);
  if (!idLead) return false;
  int idLength = 1;
  while (idLength <= 4 && (*idLead & (0x80 >> (idLength - 1))) == 0) ++idLength;
  if (idLength > 4) return false;
  const auto id = p.BeN(0, static_cast<std::size_t>(idLength));
  const auto sizeLead = p.Byte(static_cast<std::uint64_t>(idLength));
  if (!id || !sizeLead) return false;
  e.id = static_cast<std::uint32_t>(*id);
  int sizeLength = 1;
  while (sizeLength <= 8 && (*sizeLead & (0x80 >> (sizeLength - 1))) == 0) ++sizeLength;
  if (sizeLength > 8) return false;
  const auto rest = p.BeN(static_cast<std::uint64_t>(idLength + 1), static_cast<std::size_t>(sizeLength - 1));
  if (!rest) return false;
  const int restBits = 8 * (sizeLength - 1);
  const std::uint64_t marked = *sizeLead & (0xFF >> sizeLength);
  const std::uint64_t size = (marked << restBits) | *rest;
  const bool allOnes = marked == (0xFFu >> sizeLength) && *rest == (std::uint64_t{1} << restBits) - 1;
  e.size = allOnes ? kUnknownSize : size;
  e.headerLength = static_cast<std::uint64_t>(idLength + sizeLength);
  return true;
}

// The element at offset, or false when it cannot be read.
bool ElementAt(ForwardWindow& window, std::uint64_t offset, Element& e) {
  const auto p = window.At(offset, 12);
  return p && ParseElement(*p, e);
}

// "matroska" or "webm" as the DocType inside the EBML header's body.
bool KnownDocType(ByteView body) {
  const std::uint64_t size = body.Size();
  for (std::uint64_t at = 0; at + 2 < size;) {
    Element e;
    // Read as if zeros followed the body.
    std::uint8_t header[12] = {};
    const auto near = body.Bytes(at, std::min<std::uint64_t>(12, size - at));
    if (!near) return false;
    std::copy(near->begin(), near->end(), header);
    if (!ParseElement(ByteView(header, sizeof header), e) || e.size == kUnknownSize ||
        e.size > size - at - e.headerLength) {
      return false;
    }
    if (e.id == kDocType) {
      const auto text = body.Bytes(at + e.headerLength, e.size);
      if (!text) return false;
      const auto is = [&](std::string_view name) {
        const auto padding = text->From(name.size());
        return padding && text->Equals(0, name) &&
               std::all_of(padding->begin(), padding->end(), [](std::uint8_t c) { return c == 0; });
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
    if (offset > kLargestMatroska) break;
    Element e;
    if (!ElementAt(window, offset, e)) return 0;
    // What follows depends on the element and on whether it lies in a
    // Cluster, nothing else.
    if (!window.Reached(CarveMemory::Chain::kMatroskaElements, offset, inCluster ? 1 : 0)) return 0;
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
  window.Attempt().NotPositional();  // a limit counted from the hit
  return 0;
}

bool Measure(CarveAttempt& attempt) {
  ForwardWindow window(attempt);
  Element header;
  if (!ElementAt(window, 0, header) || header.id != kEbmlHeader) return false;
  if (header.size == kUnknownSize || header.size > kLongestEbmlHeader) return false;
  const auto body = window.At(header.headerLength, header.size);
  if (!body || !KnownDocType(*body)) return false;
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
