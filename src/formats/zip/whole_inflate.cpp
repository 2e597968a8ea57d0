#include "formats/zip/whole_inflate.h"

#include <libdeflate.h>

#include <memory>

#include "formats/checksum/crc32.h"
#include "formats/zip/part_text.h"

namespace vellumark {
namespace {

struct FreeDecompressor {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// One decompressor and one output buffer a thread (the carving and the
// read-back each check members), grown to the largest member met: a fresh
// buffer a member would cost its pages' faults each time.
struct Inflater {
  std::unique_ptr<libdeflate_decompressor, FreeDecompressor> decompressor{libdeflate_alloc_decompressor()};
  std::unique_ptr<std::uint8_t[]> buffer;
  std::size_t capacity = 0;

  std::uint8_t* Room(std::size_t size) {
    if (size > capacity) {
      buffer.reset(new std::uint8_t[size]);
      capacity = size;
    }
    return buffer.get();
  }
};

}  // namespace

std::optional<std::uint32_t> InflateWhole(std::span<const std::uint8_t> in, std::uint64_t size, bool text,
                                          std::vector<std::uint8_t>* into) {
  if (size > kLargestWhole || in.empty()) return std::nullopt;
  thread_local Inflater inflater;
  if (!inflater.decompressor) return std::nullopt;
  const auto length = static_cast<std::size_t>(size);
  if (into != nullptr) into->resize(length);
  // libdeflate wants room for at least one byte even where none comes out.
  std::uint8_t* out = into != nullptr && length > 0 ? into->data() : inflater.Room(length > 0 ? length : 1);
  std::size_t taken = 0, made = 0;
  const libdeflate_result result = libdeflate_deflate_decompress_ex(inflater.decompressor.get(), in.data(), in.size(),
                                                                    out, length, &taken, &made);
  if (result != LIBDEFLATE_SUCCESS || taken != in.size() || made != length) return std::nullopt;
  if (text && !LooksLikeText(out, length)) return std::nullopt;
  return Crc32(0, out, length);
}

}  // namespace vellumark
