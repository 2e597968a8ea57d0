#include "common/byte_view.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace vellumark {
namespace {

constexpr std::uint8_t kBytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
constexpr std::uint64_t kHuge = std::numeric_limits<std::uint64_t>::max();

// Every load at the last offset it fits, one past it, and at offsets whose
// sum with the width wraps.
TEST(ByteView, LoadsReadInsideTheViewAndNothingPastIt) {
  const ByteView view(kBytes, sizeof kBytes);
  const struct {
    const char* name;
    std::optional<std::uint64_t> (*load)(const ByteView&, std::uint64_t);
    std::uint64_t width, lastValue;
  } loads[] = {
      {"Byte", [](const ByteView& v, std::uint64_t at) -> std::optional<std::uint64_t> { return v.Byte(at); }, 1, 0x09},
      {"Le16", [](const ByteView& v, std::uint64_t at) -> std::optional<std::uint64_t> { return v.Le16(at); }, 2,
       0x0908},
      {"Be16", [](const ByteView& v, std::uint64_t at) -> std::optional<std::uint64_t> { return v.Be16(at); }, 2,
       0x0809},
      {"Be24", [](const ByteView& v, std::uint64_t at) -> std::optional<std::uint64_t> { return v.Be24(at); }, 3,
       0x070809},
      {"Le32", [](const ByteView& v, std::uint64_t at) -> std::optional<std::uint64_t> { return v.Le32(at); }, 4,
       0x09080706},
      {"Be32", [](const ByteView& v, std::uint64_t at) -> std::optional<std::uint64_t> { return v.Be32(at); }, 4,
       0x06070809},
      {"Le64", [](const ByteView& v, std::uint64_t at) -> std::optional<std::uint64_t> { return v.Le64(at); }, 8,
       0x0908070605040302},
      {"Be64", [](const ByteView& v, std::uint64_t at) -> std::optional<std::uint64_t> { return v.Be64(at); }, 8,
       0x0203040506070809},
  };
  for (const auto& l : loads) {
    SCOPED_TRACE(l.name);
    const std::uint64_t last = sizeof kBytes - l.width;
    EXPECT_EQ(l.load(view, last), l.lastValue);
    EXPECT_EQ(l.load(view, last + 1), std::nullopt);
    EXPECT_EQ(l.load(view, kHuge), std::nullopt);  // at + width wraps to width - 1
    EXPECT_EQ(l.load(view, static_cast<std::uint64_t>(std::int64_t{-1})), std::nullopt);
    EXPECT_EQ(l.load(ByteView(), 0), std::nullopt);
  }
}

TEST(ByteView, SubViewsAndComparisonsStayInsideTheirBounds) {
  const ByteView view(kBytes, sizeof kBytes);
  const struct { std::uint64_t at, n; bool there; } spans[] = {
      {0, 9, true}, {9, 0, true}, {8, 1, true}, {8, 2, false}, {10, 0, false}, {1, kHuge, false}, {kHuge, 2, false},
  };
  for (const auto& s : spans) {
    SCOPED_TRACE(std::to_string(s.at) + "+" + std::to_string(s.n));
    const auto sub = view.Bytes(s.at, s.n);
    ASSERT_EQ(sub.has_value(), s.there);
    if (sub) {
      EXPECT_EQ(sub->Size(), s.n);
    }
    EXPECT_EQ(view.Has(s.at, s.n), s.there);
  }
  // A sub-view counts from its own start and ends where it was cut, even
  // where the bytes go on beyond it.
  const auto middle = view.Bytes(2, 4);
  ASSERT_TRUE(middle);
  EXPECT_EQ(middle->Le32(0), 0x06050403u);
  EXPECT_EQ(middle->Byte(4), std::nullopt);
  EXPECT_EQ(middle->From(4)->Size(), 0u);
  EXPECT_EQ(middle->From(5), std::nullopt);

  EXPECT_TRUE(view.Equals(7, std::string_view("\x08\x09", 2)));
  EXPECT_FALSE(view.Equals(8, std::string_view("\x09\x00", 2)));  // one byte past the end
  EXPECT_FALSE(view.Equals(0, std::string_view("\x01\x03", 2)));
  EXPECT_EQ(view.BeN(6, 3), 0x070809u);
  EXPECT_EQ(view.BeN(0, 9), std::nullopt);  // more than 64 bits
  EXPECT_EQ(view.Array<2>(8), std::nullopt);
  EXPECT_TRUE(ByteView().Empty());
  EXPECT_FALSE(ByteView().Equals(0, "x"));
}

}  // namespace
}  // namespace vellumark
