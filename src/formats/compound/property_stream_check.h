#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace vellumark {

// Checks a property-set stream (the summary information, the document
// summary information) as far as its layout goes: the byte-order mark and
// version, each section inside the stream, each property's offset inside its
// section and past the table of them, a type Office writes, with the padding
// that follows it zero and its value inside the stream; strings hold a NUL. A sector of something else in such a stream breaks this. Returns the
// first fault, naming the stream, or nothing.
std::string PropertySetFault(std::span<const std::uint8_t> stream, const std::string& name);

// Checks the CompObj stream: its header, the user type, clipboard format
// and program identifier as length-prefixed strings that end with a NUL,
// optionally followed by their UTF-16 forms after the marker, and nothing
// but zeros after them. Returns the first fault or nothing.
std::string CompObjFault(std::span<const std::uint8_t> stream);

}  // namespace vellumark
