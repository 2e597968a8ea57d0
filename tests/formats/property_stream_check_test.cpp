#include "formats/compound/property_stream_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellumark {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
  b.resize(std::max(b.size(), at + 2));
  b[at] = static_cast<std::uint8_t>(v), b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, static_cast<std::uint16_t>(v)), Put16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}

// A summary with one section at 48 of two properties: the code page (a
// 16-bit value) and the title, "Plan" (a counted string with its NUL).
Bytes Summary() {
  Bytes b(48, 0);
  Put16(b, 0, 0xFFFE);
  Put32(b, 24, 1);
  Put32(b, 44, 48);
  const std::size_t s = 48;
  Put32(b, s + 4, 2);
  Put32(b, s + 8, 1), Put32(b, s + 12, 24);  // code page
  Put32(b, s + 16, 2), Put32(b, s + 20, 32);  // title
  Put16(b, s + 24, 2), Put16(b, s + 28, 1252);
  Put16(b, s + 32, 30), Put32(b, s + 36, 5);
  for (const char c : std::string("Plan")) b.push_back(static_cast<std::uint8_t>(c));
  b.push_back(0);
  Put32(b, s, static_cast<std::uint32_t>(b.size() - s));
  return b;
}

Bytes CompObj() {
  Bytes b(28, 0);
  Put32(b, 0, 0xFFFE0001);
  const auto string = [&](const std::string& text) {
    Put32(b, b.size(), static_cast<std::uint32_t>(text.size() + 1));
    for (const char c : text) b.push_back(static_cast<std::uint8_t>(c));
    b.push_back(0);
  };
  string("Microsoft Word-Dokument");
  string("MSWordDoc");
  string("Word.Document.8");
  Put32(b, b.size(), 0x71B239F4);
  Put32(b, b.size(), 0), Put32(b, b.size(), 0), Put32(b, b.size(), 0);  // no UTF-16 names
  return b;
}

TEST(PropertyStreamCheck, WhatWritersWriteHolds) {
  EXPECT_EQ(PropertySetFault(Summary(), "SummaryInformation"), "");
  EXPECT_EQ(PropertySetFault({}, "SummaryInformation"), "");  // nothing written yet
  Bytes header = Summary();
  header.resize(28);
  Put32(header, 24, 0);  // PowerPoint's summary without sections
  EXPECT_EQ(PropertySetFault(header, "SummaryInformation"), "");
  Bytes padded = Summary();
  padded.resize(4096, 0);  // padded out of the mini stream
  EXPECT_EQ(PropertySetFault(padded, "SummaryInformation"), "");
  EXPECT_EQ(CompObjFault(CompObj()), "");
}

// Each change stands for a sector of something else where part of the
// stream was.
TEST(PropertyStreamCheck, BrokenLayoutsAreFaults) {
  struct Case {
    const char* what;
    std::size_t at;
    std::uint8_t value;
    const char* fault;
  };
  const Case summary[] = {
      {"byte order", 0, 0x00, "SummaryInformation: no property set header"},
      {"three sections", 24, 3, "SummaryInformation: no property set header"},
      {"section past the end", 45, 0x10, "SummaryInformation: a section starts past the stream's end"},
      {"property before its table", 48 + 12, 8, "SummaryInformation: property 1 lies outside its section"},
      {"type nobody writes", 48 + 24, 0x55, "SummaryInformation: property 1 is not a value of type 85"},
      {"padding after the type", 48 + 26, 1, "SummaryInformation: property 1 has no type"},
      {"string past the end", 48 + 36, 0x40, "SummaryInformation: property 2 is not a value of type 30"},
      {"string without its NUL", 48 + 44, 'x', "SummaryInformation: property 2 is not a value of type 30"},
  };
  for (const Case& c : summary) {
    Bytes b = Summary();
    b[c.at] = c.value;
    EXPECT_EQ(PropertySetFault(b, "SummaryInformation"), c.fault) << c.what;
  }
  Bytes trailing = Summary();
  trailing.push_back(7);
  EXPECT_EQ(PropertySetFault(trailing, "SummaryInformation"), "SummaryInformation: bytes after its last section");

  const Case compObj[] = {
      {"header", 0, 0x02, "CompObj: no header"},
      {"user type too long", 28, 0x60, "CompObj: the user type or clipboard format is not a string"},
      {"control character in a name", 33, 0x0A, "CompObj: the user type or clipboard format is not a string"},
      {"marker", 28 + 28 + 14 + 20, 0x00, "CompObj: bytes after its names"},
  };
  for (const Case& c : compObj) {
    Bytes b = CompObj();
    b[c.at] = c.value;
    EXPECT_EQ(CompObjFault(b), c.fault) << c.what;
  }
}

}  // namespace
}  // namespace vellumark
