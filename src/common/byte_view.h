#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "common/byte_order.h"

namespace vellumark {

// A bounded, non-owning view of bytes a walk reads a file's structures from.
// Every read names its offset and gives nothing when the bytes are not all
// inside the view, so lengths and offsets taken from the file (or a load a
// walk forgot) can fail the walk but never make it read past the bytes
// there. Offsets are unsigned: a negative one converts to a huge value and
// is simply out of range; at + n is checked without being computed, so no
// sum wraps.
class ByteView {
 public:
  constexpr ByteView() = default;
  constexpr ByteView(const std::uint8_t* data, std::size_t size) : data_(data), size_(data ? size : 0) {}

  const std::uint8_t* Data() const { return data_; }
  std::size_t Size() const { return size_; }
  bool Empty() const { return size_ == 0; }
  const std::uint8_t* begin() const { return data_; }
  const std::uint8_t* end() const { return data_ + size_; }

  // Whether bytes [at, at + n) all lie inside the view.
  bool Has(std::uint64_t at, std::uint64_t n) const { return at <= size_ && n <= size_ - at; }

  std::optional<std::uint8_t> Byte(std::uint64_t at) const {
    if (!Has(at, 1)) return std::nullopt;
    return data_[at];
  }
  std::optional<std::uint16_t> Le16(std::uint64_t at) const { return Load(at, 2, LoadLe16); }
  std::optional<std::uint32_t> Le32(std::uint64_t at) const { return Load(at, 4, LoadLe32); }
  std::optional<std::uint64_t> Le64(std::uint64_t at) const { return Load(at, 8, LoadLe64); }
  std::optional<std::uint16_t> Be16(std::uint64_t at) const { return Load(at, 2, LoadBe16); }
  std::optional<std::uint32_t> Be24(std::uint64_t at) const { return Load(at, 3, LoadBe24); }
  std::optional<std::uint32_t> Be32(std::uint64_t at) const { return Load(at, 4, LoadBe32); }
  std::optional<std::uint64_t> Be64(std::uint64_t at) const { return Load(at, 8, LoadBe64); }
  // A big-endian number of count bytes, count at most 8.
  std::optional<std::uint64_t> BeN(std::uint64_t at, std::size_t count) const {
    if (count > 8 || !Has(at, count)) return std::nullopt;
    return LoadBeN(data_ + at, count);
  }

  // Bytes [at, at + n) as a view of their own; none when they run past
  // this one.
  std::optional<ByteView> Bytes(std::uint64_t at, std::uint64_t n) const {
    if (!Has(at, n)) return std::nullopt;
    return ByteView(data_ + at, static_cast<std::size_t>(n));
  }
  // The bytes from at to the end; none when at lies beyond the end.
  std::optional<ByteView> From(std::uint64_t at) const {
    if (at > size_) return std::nullopt;
    return ByteView(data_ + at, size_ - static_cast<std::size_t>(at));
  }

  // A copy of the N bytes at at, for parsers of small fixed-size headers;
  // none when they run past the view.
  template <std::size_t N>
  std::optional<std::array<std::uint8_t, N>> Array(std::uint64_t at) const {
    if (!Has(at, N)) return std::nullopt;
    std::array<std::uint8_t, N> copy;
    std::memcpy(copy.data(), data_ + at, N);
    return copy;
  }

  // Whether the bytes at at are expected, all of them inside the view.
  bool Equals(std::uint64_t at, std::string_view expected) const {
    return Has(at, expected.size()) && std::memcmp(data_ + at, expected.data(), expected.size()) == 0;
  }

 private:
  template <typename T>
  std::optional<T> Load(std::uint64_t at, std::uint64_t n, T (*load)(const std::uint8_t*)) const {
    if (!Has(at, n)) return std::nullopt;
    return load(data_ + at);
  }

  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace vellumark
