#include "formats/compound/property_stream_check.h"

#include <algorithm>
#include <optional>

#include "common/byte_view.h"

namespace vellumark {
namespace {

constexpr std::uint16_t kByteOrder = 0xFFFE;
constexpr std::size_t kFmtidAt = 28;
constexpr std::size_t kMostSections = 2;
constexpr std::uint16_t kVector = 0x1000;
constexpr std::uint16_t kVariant = 12;
constexpr std::uint32_t kDictionary = 0;
// Vectors nest only as vectors of variants holding scalars.
constexpr int kDeepest = 2;

std::uint64_t Padded(std::uint64_t bytes) { return (bytes + 3) / 4 * 4; }

// Bytes a scalar of the type takes, or 0 for the types whose length comes
// first, none for a type Office does not write.
std::optional<std::uint64_t> FixedSize(std::uint16_t type) {
  switch (type) {
    case 2: case 18: return 2;                                // VT_I2, VT_UI2
    case 11: return 2;                                        // VT_BOOL
    case 16: case 17: return 1;                               // VT_I1, VT_UI1
    case 3: case 4: case 10: case 19: case 22: case 23: return 4;  // VT_I4, VT_R4, VT_ERROR, VT_UI4, VT_INT, VT_UINT
    case 5: case 6: case 7: case 20: case 21: case 64: return 8;    // VT_R8, VT_CY, VT_DATE, VT_I8, VT_UI8, VT_FILETIME
    case 72: return 16;                                       // VT_CLSID
    case 8: case 30: case 31: case 65: case 71: return 0;     // VT_BSTR, VT_LPSTR, VT_LPWSTR, VT_BLOB, VT_CF
    default: return std::nullopt;
  }
}

// The bytes the value of the type at at takes, padding included; none when
// it is not a value Office writes or runs past the view.
std::optional<std::uint64_t> ValueBytes(ByteView view, std::uint64_t at, std::uint16_t type, int depth);

std::optional<std::uint64_t> CountedBytes(ByteView view, std::uint64_t at, std::uint16_t type) {
  const auto count = view.Le32(at);
  if (!count) return std::nullopt;
  const std::uint64_t unit = type == 31 ? 2 : 1;
  const std::uint64_t bytes = *count * unit;
  if (!view.Has(at + 4, bytes)) return std::nullopt;
  // Strings hold their NUL (some writers leave bytes of an older value
  // after it).
  if ((type == 30 || type == 31 || type == 8) && bytes != 0) {
    const ByteView text = *view.Bytes(at + 4, bytes);
    if (std::find(text.begin(), text.end(), std::uint8_t{0}) == text.end()) return std::nullopt;
  }
  // Writers do not pad these to four bytes: the next value of a vector,
  // or the next property, may start right after.
  return 4 + bytes;
}

std::optional<std::uint64_t> VectorBytes(ByteView view, std::uint64_t at, std::uint16_t element, int depth) {
  const auto count = view.Le32(at);
  if (!count || depth >= kDeepest) return std::nullopt;
  const auto fixed = element == kVariant ? std::optional<std::uint64_t>{0} : FixedSize(element);
  if (!fixed) return std::nullopt;
  if (*fixed != 0) {
    const std::uint64_t bytes = *count * *fixed;
    if (!view.Has(at + 4, bytes)) return std::nullopt;
    return 4 + Padded(bytes);
  }
  std::uint64_t used = 4;
  for (std::uint32_t i = 0; i < *count; ++i) {
    std::optional<std::uint64_t> one;
    if (element == kVariant) {
      const auto type = view.Le16(at + used);
      if (!type || view.Le16(at + used + 2) != 0) return std::nullopt;
      const auto value = ValueBytes(view, at + used + 4, *type, depth + 1);
      one = value ? std::optional<std::uint64_t>{4 + *value} : std::nullopt;
    } else {
      one = CountedBytes(view, at + used, element);
    }
    if (!one) return std::nullopt;  // every element takes at least four bytes, so this ends
    used += *one;
  }
  return used;
}

std::optional<std::uint64_t> ValueBytes(ByteView view, std::uint64_t at, std::uint16_t type, int depth) {
  if ((type & kVector) != 0) return VectorBytes(view, at, static_cast<std::uint16_t>(type & ~kVector), depth);
  const auto fixed = FixedSize(type);
  if (!fixed) return std::nullopt;
  if (*fixed == 0) return CountedBytes(view, at, type);
  if (!view.Has(at, *fixed)) return std::nullopt;
  return Padded(*fixed);
}

// One section: its size inside the stream, its table of properties after
// the count, and each property inside the section.
std::string SectionFault(ByteView stream, std::uint64_t at, const std::string& name, std::uint64_t& end) {
  const auto size = stream.Le32(at), count = stream.Le32(at + 4);
  if (!size || !count) return name + ": a section starts past the stream's end";
  // Values are held to the stream rather than to the section: writers
  // give sections sizes a few bytes short of their last value.
  const ByteView section = *stream.From(at);
  const std::uint64_t table = 8 + 8ull * *count;
  if (!stream.Has(at, table)) return name + ": a section's table of properties runs past the stream";
  end = std::min<std::uint64_t>(at + *size, stream.Size());
  for (std::uint32_t i = 0; i < *count; ++i) {
    const std::uint32_t id = *section.Le32(8 + 8ull * i), offset = *section.Le32(12 + 8ull * i);
    const std::string what = name + ": property " + std::to_string(id);
    if (offset < table || offset >= *size) return what + " lies outside its section";
    if (id == kDictionary) continue;  // names of the user's properties, with no type of their own
    const auto type = section.Le16(offset);
    if (!type || section.Le16(offset + 2) != 0) return what + " has no type";
    const auto value = ValueBytes(section, offset + 4, *type, 0);
    if (!value) return what + " is not a value of type " + std::to_string(*type);
    end = std::max(end, at + offset + 4 + *value);
  }
  return {};
}

// A length-prefixed string of width-byte characters at at: inside the
// stream, ending with its one NUL, with no other control character. Moves
// at past it.
bool LengthPrefixed(ByteView stream, std::uint64_t& at, std::uint64_t width) {
  const auto count = stream.Le32(at);
  if (!count || !stream.Has(at + 4, *count * width)) return false;
  for (std::uint64_t k = 0; k < *count; ++k) {
    const std::uint32_t c = width == 1 ? *stream.Byte(at + 4 + k) : *stream.Le16(at + 4 + 2 * k);
    if ((k + 1 == *count) != (c == 0) || (c != 0 && c < 0x20)) return false;
  }
  at += 4 + *count * width;
  return true;
}

// A clipboard format: none (0), a standard one's number after a marker,
// or its name.
bool ClipboardFormat(ByteView stream, std::uint64_t& at, std::uint64_t width) {
  const auto marker = stream.Le32(at);
  if (!marker) return false;
  if (*marker == 0) {
    at += 4;
    return true;
  }
  if (*marker == 0xFFFFFFFF || *marker == 0xFFFFFFFE) {
    at += 8;
    return stream.Has(at - 4, 4);
  }
  return LengthPrefixed(stream, at, width);
}

bool ZerosFrom(ByteView stream, std::uint64_t at) {
  for (std::uint64_t i = at; i < stream.Size(); ++i) {
    if (stream.Byte(i) != 0) return false;
  }
  return true;
}

}  // namespace

std::string PropertySetFault(std::span<const std::uint8_t> bytes, const std::string& name) {
  const ByteView stream(bytes.data(), bytes.size());
  if (stream.Empty()) return {};  // nothing written yet
  if (stream.Le16(0) != kByteOrder || stream.Le16(2).value_or(2) > 1) return name + ": no property set header";
  const auto sections = stream.Le32(24);
  if (!sections || *sections > kMostSections) return name + ": no property set header";
  // PowerPoint writes a summary without sections: the header alone.
  if (*sections == 0) return ZerosFrom(stream, kFmtidAt) ? std::string() : name + ": bytes after its header";
  std::uint64_t end = 0;
  for (std::uint32_t k = 0; k < *sections; ++k) {
    const auto at = stream.Le32(kFmtidAt + 20ull * k + 16);
    if (!at) return name + ": no property set header";
    std::uint64_t sectionEnd = 0;
    if (std::string fault = SectionFault(stream, *at, name, sectionEnd); !fault.empty()) return fault;
    end = std::max(end, sectionEnd);
  }
  if (!ZerosFrom(stream, end)) return name + ": bytes after its last section";
  return {};
}

std::string CompObjFault(std::span<const std::uint8_t> bytes) {
  const ByteView stream(bytes.data(), bytes.size());
  constexpr std::uint64_t kHeader = 28;
  constexpr std::uint32_t kUnicodeMarker = 0x71B239F4;
  if (stream.Le32(0) != 0xFFFE0001u || !stream.Has(0, kHeader)) return "CompObj: no header";
  std::uint64_t at = kHeader;
  if (!LengthPrefixed(stream, at, 1) || !ClipboardFormat(stream, at, 1))
    return "CompObj: the user type or clipboard format is not a string";
  if (at == stream.Size()) return {};
  if (!LengthPrefixed(stream, at, 1)) return "CompObj: the program identifier is not a string";
  if (stream.Le32(at) == kUnicodeMarker) {
    at += 4;
    if (!LengthPrefixed(stream, at, 2) || !ClipboardFormat(stream, at, 2) || !LengthPrefixed(stream, at, 2))
      return "CompObj: the UTF-16 names are not strings";
  }
  if (!ZerosFrom(stream, at)) return "CompObj: bytes after its names";
  return {};
}

}  // namespace vellumark
