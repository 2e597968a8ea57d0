// A deflate stream is a chain of blocks, each with its own code tables
// (or none, for fixed codes and stored bytes), that may start at any bit.
// Foreign bytes inside it end the block they fall into, and with it every
// later block, since a block's start is known only from the end of the one
// before. But a block that starts after the foreign bytes decodes by
// itself, given a window for the copies it makes of earlier text: the
// window of lost text is filled with kLostByte, so that a copy from it
// comes out as lost bytes instead of failing the stream.
//
// Which bit a block starts at is found by trying each: most bits do not
// start a block whose tables are whole prefix codes, and those that do, by
// chance, soon decode to bytes that are no text. A bit is taken when it
// decodes to a few kilobytes of text, or to the stream's end.
#include "formats/zip/deflate_salvage.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace vellumark {
namespace {

// How much input is offered at a time: where a stretch fails, what came
// out is known at this grain.
constexpr std::size_t kStep = 128;
// Foreign bytes inflate for a while before the stream fails; what the data
// this far before the failure made is left out.
constexpr std::size_t kDistrust = 1024;
// How much text a bit must decode to before a block is taken to start there.
constexpr std::size_t kProbe = 8192;
// Or, if the stream ends first, at least this much.
constexpr std::size_t kShortestEnding = 256;
constexpr std::size_t kWindow = 32768;
// What may lie between a stream's end and the end of the data at hand: a
// data descriptor.
constexpr std::size_t kDescriptor = 16;

enum class End : std::uint8_t { StreamEnd, RanOut, Failed, Enough };

struct Decoded {
  End end = End::Failed;
  std::vector<std::uint8_t> out;
  std::size_t failAt = 0;  // Failed: where in the input it showed; StreamEnd: where it ended
  bool tooFarBack = false;  // Failed by a copy from before the stream's start
  // (input offset, output size) after each step of input was used up.
  std::vector<std::pair<std::size_t, std::size_t>> checkpoints;
};

// Text: no control characters but tab, line feed and carriage return, and
// lost bytes where a window of them was given.
bool IsText(const std::uint8_t* bytes, std::size_t size, bool lostAllowed) {
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t b = bytes[i];
    if (b < 0x20 && b != '\t' && b != '\n' && b != '\r' && !(lostAllowed && b == kLostByte)) return false;
  }
  return true;
}

// Whether the output is still XML markup as a writer makes it: tags with
// names, closed in the order opened. Foreign bytes decode for a while to
// bytes that pass as text, but their tags soon close what was never open.
// A stretch after lost output starts inside elements it does not know, so
// a closing tag with none open passes; a tag with lost bytes in it tells
// nothing, and what was open before lost bytes is forgotten.
class MarkupCheck {
 public:
  // False at the first byte that breaks the markup (its offset in badAt).
  bool Feed(const std::uint8_t* bytes, std::size_t size, std::size_t& badAt) {
    for (std::size_t i = 0; i < size; ++i, ++fed_) {
      const char c = static_cast<char>(bytes[i]);
      if (bytes[i] == kLostByte) {
        // Lost bytes may hide any tags, or a tag's end or quotes: until the
        // tag they are in ends, nothing is known.
        open_.clear();
        lostInTag_ = inTag_;
        continue;
      }
      if (!inTag_ || lostInTag_) {
        if (c == '<') inTag_ = true, lostInTag_ = false, tag_.clear(), quote_ = 0;
        if (c == '>') inTag_ = lostInTag_ = false;
        continue;
      }
      if (quote_ != 0) {
        if (c == quote_) quote_ = 0;
        tag_ += c;
        continue;
      }
      if (c == '"' || c == '\'') quote_ = c;
      if (c == '<' || tag_.size() > kLongestTag || (c == '>' && !Closes())) {
        badAt = fed_;
        return false;
      }
      if (c == '>') inTag_ = false;
      else tag_ += c;
    }
    return true;
  }

 private:
  static constexpr std::size_t kLongestTag = 16384;
  static constexpr std::size_t kDeepest = 256;

  static bool NameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == ':' ||
           c == '.' || c == '-' || static_cast<unsigned char>(c) >= 0x80;
  }

  // The tag just ended: whether it may stand here.
  bool Closes() {
    if (tag_.starts_with('?') || tag_.starts_with('!')) return true;
    const bool closing = tag_.starts_with('/');
    const std::size_t start = closing ? 1 : 0;
    std::size_t end = start;
    while (end < tag_.size() && NameChar(tag_[end])) ++end;
    if (end == start || (tag_[start] >= '0' && tag_[start] <= '9') || tag_[start] == '-' || tag_[start] == '.') return false;
    if (end < tag_.size() && tag_[end] != ' ' && tag_[end] != '/' && tag_[end] != '\t' && tag_[end] != '\n' &&
        tag_[end] != '\r')
      return false;
    std::string name = tag_.substr(start, end - start);
    if (closing) {
      if (open_.empty()) return true;
      if (open_.back() != name) return false;
      open_.pop_back();
      return true;
    }
    if (!tag_.ends_with('/')) open_.push_back(std::move(name));
    return open_.size() <= kDeepest;
  }

  std::vector<std::string> open_;
  std::string tag_;
  bool inTag_ = false;
  bool lostInTag_ = false;
  char quote_ = 0;
  std::size_t fed_ = 0;
};

struct Stream {
  Stream() { ok = inflateInit2(&z, -MAX_WBITS) == Z_OK; }
  ~Stream() {
    if (ok) inflateEnd(&z);
  }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;
  z_stream z{};
  bool ok = false;
};

// Inflates in from bit `bit` of byte `byte` on, until the stream ends or
// fails, the input runs out or the output passes maxOut. With a window,
// copies from before the start give lost bytes.
Decoded Decode(std::span<const std::uint8_t> in, std::size_t byte, int bit, bool window, std::size_t maxOut,
               std::uint64_t& work) {
  Decoded d;
  Stream stream;
  if (!stream.ok || byte >= in.size()) return d;
  z_stream& z = stream.z;
  std::size_t pos = byte;
  if (bit > 0) {
    inflatePrime(&z, 8 - bit, in[byte] >> bit);
    ++pos;
  }
  if (window) {
    static const std::array<std::uint8_t, kWindow> kLost{};  // kLostByte throughout
    static_assert(kLostByte == 0);
    inflateSetDictionary(&z, kLost.data(), static_cast<uInt>(kLost.size()));
  }
  d.checkpoints.emplace_back(pos, 0);
  std::array<std::uint8_t, 4096> buffer;
  MarkupCheck markup;
  for (;;) {
    if (z.avail_in == 0 && pos < in.size()) {
      const std::size_t n = std::min(kStep, in.size() - pos);
      z.next_in = const_cast<std::uint8_t*>(in.data() + pos);
      z.avail_in = static_cast<uInt>(n);
      pos += n;
    }
    z.next_out = buffer.data();
    z.avail_out = static_cast<uInt>(buffer.size());
    const int status = inflate(&z, Z_NO_FLUSH);
    const std::size_t produced = buffer.size() - z.avail_out;
    work += produced;
    std::size_t badAt = 0;
    if (!IsText(buffer.data(), produced, window) || !markup.Feed(buffer.data(), produced, badAt)) {
      // Where the markup broke, as near as the steps of input tell.
      d.end = End::Failed;
      d.failAt = pos - z.avail_in;
      if (badAt > 0) {
        for (const auto& [input, output] : d.checkpoints) {
          if (output <= badAt) d.failAt = input;
        }
      }
      return d;
    }
    d.out.insert(d.out.end(), buffer.data(), buffer.data() + produced);
    if (z.avail_in == 0) d.checkpoints.emplace_back(pos, d.out.size());
    if (status == Z_STREAM_END) {
      d.end = End::StreamEnd;
      d.failAt = pos - z.avail_in;
      return d;
    }
    if (status == Z_BUF_ERROR || (status == Z_OK && z.avail_in == 0 && pos >= in.size() && z.avail_out > 0)) {
      d.end = End::RanOut;
      return d;
    }
    if (status != Z_OK) {
      d.end = End::Failed;
      d.failAt = pos - z.avail_in;
      d.tooFarBack = z.msg != nullptr && std::strcmp(z.msg, "invalid distance too far back") == 0;
      return d;
    }
    if (d.out.size() >= maxOut) {
      d.end = End::Enough;
      return d;
    }
  }
}

// Whether a block of the stream starts at the bit: a cheap try without a
// window first, since most bits fail at once and a real block whose first
// copies reach back fails only by reaching too far. With the window, a real
// block decodes to text (lost bytes among it: copies of lost text are lost
// too, so there may be many) for as long as one likes, or to the stream's
// end at the end of the data; a bit that starts no block seldom gets past a
// few hundred bytes before its codes give a control character or fail.
bool StartsABlock(std::span<const std::uint8_t> in, std::size_t byte, int bit, std::uint64_t& work) {
  const Decoded bare = Decode(in, byte, bit, false, kProbe, work);
  const auto endsTheData = [&](const Decoded& d) {
    return d.end == End::StreamEnd && d.out.size() >= kShortestEnding && d.failAt + kDescriptor >= in.size();
  };
  if (bare.end != End::Enough && !bare.tooFarBack && !endsTheData(bare)) return false;
  const Decoded d = Decode(in, byte, bit, true, kProbe, work);
  return d.end == End::Enough || endsTheData(d);
}

// The output a failed stretch made before the data a little before where it
// failed.
std::size_t Trusted(const Decoded& d) {
  if (d.end != End::Failed) return d.out.size();
  std::size_t kept = 0;
  for (const auto& [input, output] : d.checkpoints) {
    if (input + kDistrust <= d.failAt) kept = output;
  }
  return kept;
}

}  // namespace

SalvagedStream SalvageDeflate(std::span<const std::uint8_t> in, std::uint64_t limit, std::uint64_t budget,
                              std::size_t scanBytes) {
  SalvagedStream result;
  std::size_t byte = 0;
  int bit = 0;
  bool window = false;
  std::uint64_t total = 0;
  while (total < limit && result.work < budget) {
    const Decoded d = Decode(in, byte, bit, window, static_cast<std::size_t>(limit - total), result.work);
    const std::size_t kept = Trusted(d);
    if (kept > 0) {
      result.stretches.emplace_back(d.out.begin(), d.out.begin() + static_cast<std::ptrdiff_t>(kept));
      total += kept;
      const auto first = d.out.begin(), end = first + static_cast<std::ptrdiff_t>(kept);
      result.sound += kept - static_cast<std::size_t>(std::count(first, end, kLostByte));
    }
    if (d.end == End::StreamEnd) {
      result.ended = true;
      break;
    }
    // Data that never inflated to anything trusted is no deflate stream
    // at all (a header that only looks like a member's): no block of it is
    // looked for.
    if (d.end != End::Failed || result.stretches.empty()) break;
    bool found = false;
    const std::size_t last = std::min(in.size(), d.failAt + scanBytes);
    for (std::size_t b = std::max(d.failAt, byte + 1); b < last && !found; ++b) {
      for (int k = 0; k < 8 && !found; ++k) {
        if (++result.work > budget) return result;
        if (StartsABlock(in, b, k, result.work)) byte = b, bit = k, found = true;
      }
    }
    if (!found) break;
    window = true;
  }
  return result;
}

}  // namespace vellumark
