#include "formats/zip/zip_member_feed.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "formats/checksum/crc32.h"
#include "formats/file_signatures.h"
#include "formats/zip/part_text.h"
#include "formats/zip/zip_archive.h"

namespace vellumark {
namespace {

constexpr std::uint32_t kLocalFixed = 30;

// The lexer's states: enough of XML's grammar that a deflate stream read
// past foreign bytes, which inflates to fragments of the part's own text
// joined at random, breaks it within a few tags.
enum Xml : std::uint8_t {
  kText, kEntity, kTagStart, kName, kEndName, kEndSpace, kInTag, kAttrName, kAttrSpace, kAttrEquals, kAttrValue,
  kAfterAttr, kEmptyClose, kInstruction, kInstructionEnd, kDeclaration
};

bool IsSpace(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsNameStart(std::uint8_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
}
bool IsNameChar(std::uint8_t c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

}  // namespace

bool ZipMemberFeed::XmlContinues(const std::uint8_t* bytes, std::size_t size) {
  constexpr std::uint8_t kLongestEntity = 12;
  std::uint8_t state = xml_;
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t c = bytes[i];
    switch (state) {
      case kText:
        if (c == '<') state = kTagStart;
        else if (c == '&') state = kEntity, run_ = 0;
        break;
      case kEntity:
        if (c == ';' && run_ > 0) state = kText;
        else if ((IsNameChar(c) || c == '#') && ++run_ <= kLongestEntity) break;
        else return false;
        break;
      case kTagStart:
        if (c == '/') state = kEndName;
        else if (c == '?') state = kInstruction;
        else if (c == '!') state = kDeclaration;
        else if (IsNameStart(c)) state = kName;
        else return false;
        break;
      case kName:
        if (IsSpace(c)) state = kInTag;
        else if (c == '>') state = kText;
        else if (c == '/') state = kEmptyClose;
        else if (!IsNameChar(c)) return false;
        break;
      case kEndName:
        if (IsSpace(c)) state = kEndSpace;
        else if (c == '>') state = kText;
        else if (!IsNameChar(c)) return false;
        break;
      case kEndSpace:
        if (c == '>') state = kText;
        else if (!IsSpace(c)) return false;
        break;
      case kInTag:
        if (c == '>') state = kText;
        else if (c == '/') state = kEmptyClose;
        else if (IsNameStart(c)) state = kAttrName;
        else if (!IsSpace(c)) return false;
        break;
      case kAttrName:
        if (c == '=') state = kAttrEquals;
        else if (IsSpace(c)) state = kAttrSpace;
        else if (!IsNameChar(c)) return false;
        break;
      case kAttrSpace:
        if (c == '=') state = kAttrEquals;
        else if (!IsSpace(c)) return false;
        break;
      case kAttrEquals:
        if (c == '"' || c == '\'') state = kAttrValue, quote_ = c;
        else if (!IsSpace(c)) return false;
        break;
      case kAttrValue:
        if (c == quote_) state = kAfterAttr;
        else if (c == '<') return false;
        break;
      case kAfterAttr:
        if (IsSpace(c)) state = kInTag;
        else if (c == '>') state = kText;
        else if (c == '/') state = kEmptyClose;
        else return false;
        break;
      case kEmptyClose:
        if (c != '>') return false;
        state = kText;
        break;
      case kInstruction:
        if (c == '?') state = kInstructionEnd;
        break;
      case kInstructionEnd:
        state = c == '>' ? kText : c == '?' ? kInstructionEnd : kInstruction;
        break;
      default:  // a comment, CDATA or document type: to its first '>'
        if (c == '>') state = kText;
        break;
    }
  }
  xml_ = state;
  return true;
}

struct ZipMemberFeed::Inflater {
  z_stream stream{};
  bool live = false;
  Inflater() { live = inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
  Inflater(const Inflater& other) {
    live = other.live && inflateCopy(&stream, const_cast<z_stream*>(&other.stream)) == Z_OK;
  }
  ~Inflater() {
    if (live) inflateEnd(&stream);
  }
};

ZipMemberFeed::ZipMemberFeed(const ZipDirectoryEntry& entry)
    : entry_(&entry), text_(IsTextPart(entry.name) && entry.method == zip_field::kDeflated) {
  crc_ = 0;
  if (entry.method != zip_field::kStored && entry.method != zip_field::kDeflated) state_ = ZipFeedState::Broken;
  if ((entry.flags & zip_field::kFlagEncrypted) != 0) state_ = ZipFeedState::Broken;
}

ZipMemberFeed::~ZipMemberFeed() = default;

ZipMemberFeed::ZipMemberFeed(const ZipMemberFeed& other)
    : entry_(other.entry_),
      state_(other.state_),
      stage_(other.stage_),
      heldSize_(other.heldSize_),
      nameSeen_(other.nameSeen_),
      headerLeft_(other.headerLeft_),
      dataLeft_(other.dataLeft_),
      crc_(other.crc_),
      out_(other.out_),
      work_(other.work_),
      text_(other.text_),
      xml_(other.xml_),
      quote_(other.quote_),
      run_(other.run_) {
  std::memcpy(held_, other.held_, sizeof held_);
  if (other.inflater_) {
    inflater_ = std::make_unique<Inflater>(*other.inflater_);
    if (!inflater_->live) state_ = ZipFeedState::Broken;
  }
}

ZipFeedState ZipMemberFeed::Feed(ByteView bytes) {
  if (state_ == ZipFeedState::Done && bytes.Size() > 0) state_ = ZipFeedState::Broken;
  while (state_ == ZipFeedState::Going && bytes.Size() > 0) {
    switch (stage_) {
      case 0: state_ = Header(bytes); break;
      case 1: state_ = Data(bytes); break;
      case 2: state_ = Descriptor(bytes); break;
      default: state_ = ZipFeedState::Broken; break;  // bytes after a whole member
    }
  }
  if (state_ == ZipFeedState::Going && stage_ == 3) state_ = ZipFeedState::Done;
  return state_;
}

// The fixed part, checked against the directory's entry; then the name,
// byte for byte; then the extra field, stepped over.
ZipFeedState ZipMemberFeed::Header(ByteView& bytes) {
  const ZipDirectoryEntry& entry = *entry_;
  if (heldSize_ < kLocalFixed) {
    const std::size_t n = std::min<std::size_t>(kLocalFixed - heldSize_, bytes.Size());
    std::memcpy(held_ + heldSize_, bytes.Data(), n);
    heldSize_ += static_cast<std::uint32_t>(n);
    bytes = *bytes.From(n);
    if (heldSize_ < kLocalFixed) return ZipFeedState::Going;
    const ByteView fixed(held_, kLocalFixed);
    if (!fixed.Equals(0, signature::kZipLocalHeader) || *fixed.Le16(8) != entry.method ||
        *fixed.Le16(26) != entry.name.size())
      return ZipFeedState::Broken;
    // Sizes and CRC come after the data when the flag says so; else here.
    if ((*fixed.Le16(6) & zip_field::kFlagDescriptor) == 0 &&
        (*fixed.Le32(14) != entry.crc || *fixed.Le32(18) != entry.compressedSize || *fixed.Le32(22) != entry.size))
      return ZipFeedState::Broken;
    headerLeft_ = static_cast<std::uint32_t>(entry.name.size()) + *fixed.Le16(28);
  }
  while (headerLeft_ > 0 && bytes.Size() > 0) {
    if (nameSeen_ < entry.name.size() &&
        static_cast<char>(*bytes.Data()) != entry.name[nameSeen_])
      return ZipFeedState::Broken;
    if (nameSeen_ < entry.name.size()) ++nameSeen_;
    --headerLeft_;
    bytes = *bytes.From(1);
  }
  if (headerLeft_ > 0) return ZipFeedState::Going;
  stage_ = 1;
  dataLeft_ = entry.compressedSize;
  if (entry.method == zip_field::kDeflated) {
    inflater_ = std::make_unique<Inflater>();
    if (!inflater_->live) return ZipFeedState::Broken;
  }
  if (dataLeft_ == 0 && entry.method == zip_field::kStored) return EndOfData();
  return ZipFeedState::Going;
}

ZipFeedState ZipMemberFeed::EndOfData() {
  if (out_ != entry_->size || crc_ != entry_->crc) return ZipFeedState::Broken;
  stage_ = (ByteView(held_, kLocalFixed).Le16(6).value_or(0) & zip_field::kFlagDescriptor) != 0 ? 2 : 3;
  heldSize_ = 0;
  return ZipFeedState::Going;
}

ZipFeedState ZipMemberFeed::Data(ByteView& bytes) {
  const std::size_t n = std::min<std::size_t>(dataLeft_, bytes.Size());
  const ByteView in = *bytes.Bytes(0, n);
  bytes = *bytes.From(n);
  dataLeft_ -= static_cast<std::uint32_t>(n);
  work_ += n;
  if (entry_->method == zip_field::kStored) {
    crc_ = Crc32(crc_, in.Data(), n);
    out_ += n;
    if (out_ > entry_->size) return ZipFeedState::Broken;
    return dataLeft_ == 0 ? EndOfData() : ZipFeedState::Going;
  }
  z_stream& stream = inflater_->stream;
  stream.next_in = const_cast<std::uint8_t*>(in.Data());
  stream.avail_in = static_cast<uInt>(n);
  std::array<std::uint8_t, 4096> buffer;
  int status = Z_OK;
  do {
    stream.next_out = buffer.data();
    stream.avail_out = static_cast<uInt>(buffer.size());
    status = inflate(&stream, Z_NO_FLUSH);
    const std::size_t produced = buffer.size() - stream.avail_out;
    if (text_ && (!LooksLikeText(buffer.data(), produced) || !XmlContinues(buffer.data(), produced)))
      return ZipFeedState::Broken;
    crc_ = Crc32(crc_, buffer.data(), produced);
    out_ += produced;
    if (out_ > entry_->size) return ZipFeedState::Broken;
  } while (status == Z_OK && (stream.avail_in > 0 || stream.avail_out == 0));
  if (status == Z_STREAM_END) {
    // The stream must end with the member's data, not before.
    if (stream.avail_in > 0 || dataLeft_ > 0) return ZipFeedState::Broken;
    return EndOfData();
  }
  if (status != Z_OK && status != Z_BUF_ERROR) return ZipFeedState::Broken;
  return dataLeft_ == 0 ? ZipFeedState::Broken : ZipFeedState::Going;
}

// The descriptor, with its signature or without: CRC-32 and both sizes,
// 32-bit. Its length is known once its first four bytes are.
ZipFeedState ZipMemberFeed::Descriptor(ByteView& bytes) {
  while (bytes.Size() > 0 && heldSize_ < 16) {
    held_[32 + heldSize_++] = *bytes.Data();
    bytes = *bytes.From(1);
    const ByteView held(held_ + 32, heldSize_);
    const bool signed_ = heldSize_ >= 4 && held.Equals(0, signature::kZipDescriptor);
    const std::uint32_t length = signed_ ? 16 : 12;
    if (heldSize_ == length) {
      const std::size_t at = signed_ ? 4 : 0;
      if (*held.Le32(at) != entry_->crc || *held.Le32(at + 4) != entry_->compressedSize ||
          *held.Le32(at + 8) != entry_->size)
        return ZipFeedState::Broken;
      stage_ = 3;
      return ZipFeedState::Going;
    }
  }
  return ZipFeedState::Going;
}

}  // namespace vellumark
