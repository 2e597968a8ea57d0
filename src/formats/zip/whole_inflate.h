#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vellumark {

// The members of an office document nearly always state both their sizes
// before their data, and then the whole of their data is at hand: such a
// member is inflated in one call of libdeflate, about twice as fast as
// zlib's stream. The CRC-32 of what it inflates to, when it inflates to
// exactly size bytes from exactly the bytes of in, with no control
// character in a text part's; none otherwise, or when the member is larger
// than the buffer this keeps (kLargestWhole): the caller then inflates it
// with zlib, which says where and why it failed. into, when given, receives
// the inflated bytes.
inline constexpr std::uint64_t kLargestWhole = std::uint64_t{16} << 20;
std::optional<std::uint32_t> InflateWhole(std::span<const std::uint8_t> in, std::uint64_t size, bool text,
                                          std::vector<std::uint8_t>* into);

}  // namespace vellumark
