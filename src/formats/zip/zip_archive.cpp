#include "formats/zip/zip_archive.h"

#include <zlib.h>

#include <algorithm>
#include <array>

#include "formats/checksum/crc32.h"
#include "formats/file_signatures.h"
#include "formats/zip/part_text.h"
#include "formats/zip/whole_inflate.h"

namespace vellumark {
namespace {

using namespace signature;
using namespace zip_field;
// No office document holds a larger part; the bound keeps a crafted size
// from making a check run for ever.
constexpr std::uint64_t kLargestMember = std::uint64_t{1} << 32;
// The most bytes deflate can make of one byte of its data: a length of 258
// and its distance can take a bit each, four such pairs to a byte. A member
// whose size is larger than its data could inflate to is not inflated at
// all: its header lies, or it is a bomb's.
constexpr std::uint64_t kDeflateBestRatio = 1032;

ZipRecordCheck Need(std::int64_t bytes) { return {ZipStep::NeedBytes, bytes, {}, {}}; }
ZipRecordCheck Broken(std::string fault, std::int64_t at) { return {ZipStep::Broken, 0, {}, std::move(fault), at}; }

bool Have(std::span<const std::uint8_t> bytes, std::int64_t end) {
  return end >= 0 && end <= static_cast<std::int64_t>(bytes.size());
}

struct Inflated {
  int status = Z_OK;
  std::int64_t consumed = 0;
  std::uint64_t size = 0;
  std::uint32_t crc = 0;
};

// Feeds stream the bytes of in from offered on and inflates them until
// they run out, the stream ends or fails, or its output passes limit; adds
// what comes out to crc (and to into, when given). A text part fails where
// its text stops being text, in small steps so that the failure is placed
// near its cause. Returns zlib's status: Z_OK when the bytes ran out first.
int InflateAtHand(z_stream& stream, std::span<const std::uint8_t> in, std::size_t& offered, bool text,
                  std::uint64_t limit, std::uint32_t& crc, std::vector<std::uint8_t>* into) {
  std::array<std::uint8_t, 65536> buffer;  // zlib writes what is read of it
  const std::span<std::uint8_t> out(buffer.data(), text ? 2048 : buffer.size());
  int status = Z_OK;
  do {
    // zlib counts input in 32-bit units: offer it a gigabyte at a time.
    if (stream.avail_in == 0 && offered < in.size()) {
      const std::size_t n = std::min<std::size_t>(in.size() - offered, std::size_t{1} << 30);
      stream.next_in = const_cast<std::uint8_t*>(in.data() + offered);
      stream.avail_in = static_cast<uInt>(n);
      offered += n;
    }
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    status = inflate(&stream, Z_NO_FLUSH);
    const std::size_t produced = out.size() - stream.avail_out;
    if (text && !LooksLikeText(out.data(), produced)) return Z_DATA_ERROR;
    crc = Crc32(crc, out.data(), produced);
    if (into != nullptr) into->insert(into->end(), out.data(), out.data() + produced);
    if (stream.total_out > limit) return Z_DATA_ERROR;
  } while (status == Z_OK && (stream.avail_in > 0 || offered < in.size() || stream.avail_out == 0));
  return status;
}

// Inflates a raw deflate stream for its length, size and CRC; the output is
// kept only when into is given.
Inflated InflateStream(std::span<const std::uint8_t> in, std::uint64_t limit, std::vector<std::uint8_t>* into,
                       bool text = false) {
  Inflated result;
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return {Z_MEM_ERROR, 0, 0, 0};
  result.crc = 0;
  std::size_t offered = 0;
  result.status = InflateAtHand(stream, in, offered, text, limit, result.crc, into);
  result.consumed = static_cast<std::int64_t>(stream.total_in);
  result.size = stream.total_out;
  inflateEnd(&stream);
  return result;
}

Inflated StoredStream(std::span<const std::uint8_t> in, std::vector<std::uint8_t>* into) {
  Inflated result{Z_STREAM_END, static_cast<std::int64_t>(in.size()), in.size(), 0};
  result.crc = Crc32(0, in.data(), in.size());
  if (into != nullptr) into->assign(in.begin(), in.end());
  return result;
}

}  // namespace

bool ReadZip64Extra(ByteView extra, std::initializer_list<std::uint64_t*> values) {
  const auto length = static_cast<std::int64_t>(extra.Size());
  for (std::int64_t at = 0; at + 4 <= length;) {
    const auto id = extra.Le16(at), declared = extra.Le16(at + 2);
    if (!id || !declared) return false;
    const std::int64_t size = *declared;
    if (at + 4 + size > length) return false;
    if (*id == kZip64Extra) {
      std::int64_t field = at + 4;
      for (std::uint64_t* value : values) {
        if (*value != kInZip64) continue;
        if (field + 8 > at + 4 + size) return false;
        const auto wide = extra.Le64(field);
        if (!wide) return false;
        *value = *wide;
        field += 8;
      }
      return true;
    }
    at += 4 + size;
  }
  return false;
}

struct ZipInflateResume::State {
  std::int64_t dataOffset = 0;  // of the member being inflated
  z_stream stream{};
  std::uint32_t crc = 0;
  ~State() { inflateEnd(&stream); }
};

ZipInflateResume::ZipInflateResume() = default;
ZipInflateResume::~ZipInflateResume() = default;
void ZipInflateResume::Forget() { state_.reset(); }

namespace {

// InflateStream for a stream that may go on past the bytes at hand: goes on
// from where the last call for the same member stopped, and keeps its state
// when the bytes run out first (status Z_BUF_ERROR).
Inflated InflateResumed(std::span<const std::uint8_t> rest, std::int64_t dataOffset, bool text,
                        ZipInflateResume::State*& state, std::unique_ptr<ZipInflateResume::State>& owner,
                        std::uint64_t& inflated) {
  if (state == nullptr || state->dataOffset != dataOffset) {
    owner = std::make_unique<ZipInflateResume::State>();
    state = owner.get();
    state->dataOffset = dataOffset;
    if (inflateInit2(&state->stream, -MAX_WBITS) != Z_OK) {
      owner.reset();
      state = nullptr;
      return {Z_MEM_ERROR, 0, 0, 0};
    }
    state->crc = 0;
  }
  z_stream& stream = state->stream;
  Inflated result;
  auto offered = static_cast<std::size_t>(stream.total_in);
  stream.avail_in = 0;
  const std::uint64_t before = stream.total_out;
  result.status = InflateAtHand(stream, rest, offered, text, kLargestMember, state->crc, nullptr);
  inflated += stream.total_out - before;
  if (result.status == Z_OK) result.status = Z_BUF_ERROR;  // all at hand taken: more is needed
  result.consumed = static_cast<std::int64_t>(stream.total_in);
  result.size = stream.total_out;
  result.crc = state->crc;
  if (result.status != Z_BUF_ERROR) {
    owner.reset();
    state = nullptr;
  }
  return result;
}

}  // namespace

ZipRecordCheck CheckZipMember(std::span<const std::uint8_t> bytes, std::int64_t offset, ZipInflateResume* resume) {
  if (!Have(bytes, offset + 30)) return Need(offset + 30);
  const ByteView all(bytes.data(), bytes.size());
  const ByteView local = all.From(offset).value_or(ByteView());
  if (!local.Equals(0, kZipLocalHeader)) return Broken("no local header", offset);
  const auto flagsField = local.Le16(6), methodField = local.Le16(8);
  const auto crcField = local.Le32(14), compressedField = local.Le32(18), sizeField = local.Le32(22);
  const auto nameField = local.Le16(26), extraField = local.Le16(28);
  if (!flagsField || !methodField || !crcField || !compressedField || !sizeField || !nameField || !extraField) {
    return Need(offset + 30);
  }
  const std::uint16_t flags = *flagsField;
  ZipMember member;
  member.headerOffset = offset;
  member.method = *methodField;
  member.crc = *crcField;
  std::uint64_t compressed = *compressedField;
  member.size = *sizeField;
  const std::int64_t nameLength = *nameField;
  const std::int64_t extraLength = *extraField;
  member.dataOffset = offset + 30 + nameLength + extraLength;
  if (!Have(bytes, member.dataOffset)) return Need(member.dataOffset);
  const auto name = local.Bytes(30, nameLength), extra = local.Bytes(30 + nameLength, extraLength);
  if (!name || !extra) return Need(member.dataOffset);
  member.name.assign(name->begin(), name->end());
  const bool zip64 = compressed == kInZip64 || member.size == kInZip64;
  if (zip64 && !ReadZip64Extra(*extra, {&member.size, &compressed})) {
    return Broken(member.name + ": ZIP64 sizes missing", offset);
  }
  if ((flags & kFlagEncrypted) != 0) return Broken(member.name + ": encrypted", offset);
  if (member.method != kStored && member.method != kDeflated) return Broken(member.name + ": unknown method", offset);
  const bool descriptor = (flags & kFlagDescriptor) != 0;
  if (compressed > kLargestMember || member.size > kLargestMember) return Broken(member.name + ": too large", offset);

  const bool sizesAhead = !(descriptor && compressed == 0);
  if (sizesAhead && (member.method == kStored ? member.size != compressed : member.size > compressed * kDeflateBestRatio)) {
    return Broken(member.name + ": size beyond what its data can hold", offset);
  }

  const std::span<const std::uint8_t> rest = bytes.subspan(static_cast<std::size_t>(member.dataOffset));
  Inflated data;
  if (descriptor && compressed == 0 && member.method == kDeflated) {
    // The sizes come after the data: the stream says where it ends.
    if (resume != nullptr) {
      ZipInflateResume::State* state = resume->state_.get();
      data = InflateResumed(rest, member.dataOffset, IsTextPart(member.name), state, resume->state_, resume->inflated_);
    } else {
      data = InflateStream(rest, kLargestMember, nullptr, IsTextPart(member.name));
    }
    if (data.status == Z_BUF_ERROR || (data.status == Z_OK && data.consumed == static_cast<std::int64_t>(rest.size()))) {
      return Need(0);
    }
  } else {
    if (descriptor && compressed == 0) return Broken(member.name + ": stored with its size after it", offset);
    const std::int64_t end = member.dataOffset + static_cast<std::int64_t>(compressed);
    if (!Have(bytes, end)) return Need(end);
    const auto in = rest.first(static_cast<std::size_t>(compressed));
    if (member.method == kStored) {
      data = StoredStream(in, nullptr);
    } else if (const auto crc = InflateWhole(in, member.size, IsTextPart(member.name), nullptr)) {
      data = {Z_STREAM_END, static_cast<std::int64_t>(compressed), member.size, *crc};
    } else {
      data = InflateStream(in, kLargestMember, nullptr, IsTextPart(member.name));
    }
    if (data.status == Z_STREAM_END && data.consumed != static_cast<std::int64_t>(compressed)) data.status = Z_DATA_ERROR;
  }
  if (data.status != Z_STREAM_END) {
    return Broken(member.name + ": data does not inflate", member.dataOffset + data.consumed);
  }
  member.compressedSize = data.consumed;

  std::int64_t next = member.dataOffset + data.consumed;
  if (descriptor) {
    if (!Have(bytes, next + 4)) return Need(next + 4);
    const std::int64_t marker = all.Equals(next, kZipDescriptor) ? 4 : 0;
    const std::int64_t length = marker + (zip64 ? 20 : 12);
    if (!Have(bytes, next + length)) return Need(next + length);
    const auto fields = all.Bytes(next + marker, length - marker);
    if (!fields) return Need(next + length);
    // A comparison with a field that is not there is false.
    const bool agrees = zip64 ? fields->Le64(4) == static_cast<std::uint64_t>(data.consumed) &&
                                    fields->Le64(12) == data.size
                              : fields->Le32(4) == static_cast<std::uint32_t>(data.consumed) &&
                                    fields->Le32(8) == static_cast<std::uint32_t>(data.size);
    if (!agrees || fields->Le32(0) != data.crc) return Broken(member.name + ": CRC or size differs", next);
    member.crc = data.crc;
    member.size = data.size;
    next += length;
  } else if (data.crc != member.crc || data.size != member.size) {
    return Broken(member.name + ": CRC or size differs", next);
  }
  return {ZipStep::Done, next, std::move(member), {}};
}

ZipRecordCheck CheckZipDirectory(std::span<const std::uint8_t> bytes, std::int64_t offset,
                                 const std::vector<ZipMember>& members) {
  const ByteView all(bytes.data(), bytes.size());
  for (const ZipMember& member : members) {
    if (!Have(bytes, offset + 46)) return Need(offset + 46);
    const ByteView entry = all.From(offset).value_or(ByteView());
    if (!entry.Equals(0, kZipCentralHeader)) return Broken("central directory: an entry missing", offset);
    const auto nameField = entry.Le16(28), extraField = entry.Le16(30), commentField = entry.Le16(32);
    const auto crcField = entry.Le32(16), compressedField = entry.Le32(20), sizeField = entry.Le32(24);
    const auto localField = entry.Le32(42);
    if (!nameField || !extraField || !commentField || !crcField || !compressedField || !sizeField || !localField) {
      return Need(offset + 46);
    }
    const std::int64_t nameLength = *nameField;
    const std::int64_t extraLength = *extraField;
    const std::int64_t end = offset + 46 + nameLength + extraLength + *commentField;
    if (!Have(bytes, end)) return Need(end);
    const auto nameBytes = entry.Bytes(46, nameLength), extra = entry.Bytes(46 + nameLength, extraLength);
    if (!nameBytes || !extra) return Need(end);
    std::uint64_t size = *sizeField, compressed = *compressedField, local = *localField;
    if ((size == kInZip64 || compressed == kInZip64 || local == kInZip64) &&
        !ReadZip64Extra(*extra, {&size, &compressed, &local})) {
      return Broken("central directory: ZIP64 fields missing", offset);
    }
    const std::string name(nameBytes->begin(), nameBytes->end());
    if (name != member.name || local != static_cast<std::uint64_t>(member.headerOffset) ||
        *crcField != member.crc || size != member.size ||
        compressed != static_cast<std::uint64_t>(member.compressedSize)) {
      return Broken("central directory: the entry of " + member.name + " differs", offset);
    }
    offset = end;
  }
  if (!Have(bytes, offset + 4)) return Need(offset + 4);
  if (all.Equals(offset, kZipCentralHeader)) return Broken("central directory: more entries than members", offset);
  if (all.Equals(offset, kZip64EndRecord)) {
    if (!Have(bytes, offset + 12)) return Need(offset + 12);
    const auto recordSize = all.Le64(offset + 4);
    if (!recordSize) return Need(offset + 12);
    const std::uint64_t size = *recordSize;
    if (size > kLargestMember) return Broken("ZIP64 end record too large", offset);
    offset += 12 + static_cast<std::int64_t>(size);
    if (!Have(bytes, offset + 20)) return Need(offset + 20);
    if (!all.Equals(offset, kZip64Locator)) return Broken("no ZIP64 locator", offset);
    offset += 20;
  }
  if (!Have(bytes, offset + 22)) return Need(offset + 22);
  if (!all.Equals(offset, kZipEndRecord)) return Broken("no end record", offset);
  const auto commentLength = all.Le16(offset + 20);
  if (!commentLength) return Need(offset + 22);
  const std::int64_t end = offset + 22 + *commentLength;
  if (!Have(bytes, end)) return Need(end);
  return {ZipStep::Done, end, {}, {}};
}

ZipArchiveCheck CheckZipArchive(std::span<const std::uint8_t> bytes) {
  ZipArchiveCheck archive;
  std::int64_t offset = 0;
  const ByteView all(bytes.data(), bytes.size());
  while (Have(bytes, offset + 4) && all.Equals(offset, kZipLocalHeader)) {
    ZipRecordCheck member = CheckZipMember(bytes, offset);
    if (member.step != ZipStep::Done) {
      archive.cutShort = member.step == ZipStep::NeedBytes;
      archive.fault = archive.cutShort ? "cut short" : member.fault;
      return archive;
    }
    offset = member.next;
    archive.members.push_back(std::move(member.member));
  }
  const ZipRecordCheck directory = CheckZipDirectory(bytes, offset, archive.members);
  if (directory.step != ZipStep::Done) {
    archive.cutShort = directory.step == ZipStep::NeedBytes;
    archive.fault = archive.cutShort ? "cut short" : directory.fault;
    return archive;
  }
  archive.length = directory.next;
  return archive;
}

std::optional<std::vector<std::uint8_t>> ZipMemberData(std::span<const std::uint8_t> bytes, const ZipMember& member,
                                                       std::uint64_t limit) {
  if (member.size > limit || !Have(bytes, member.dataOffset + member.compressedSize)) return std::nullopt;
  const auto in = bytes.subspan(static_cast<std::size_t>(member.dataOffset),
                                static_cast<std::size_t>(member.compressedSize));
  std::vector<std::uint8_t> out;
  if (member.method == kDeflated && InflateWhole(in, member.size, false, &out)) return out;
  out.clear();  // what the fast way left
  const Inflated data = member.method == kStored ? StoredStream(in, &out) : InflateStream(in, limit, &out);
  if (data.status != Z_STREAM_END || data.size != member.size) return std::nullopt;
  return out;
}

}  // namespace vellumark
