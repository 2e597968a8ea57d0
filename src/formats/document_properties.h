#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vellumark {

// What a document says about itself in its summary information.
struct DocumentProperties {
  std::string title;   // UTF-8
  std::string author;  // UTF-8
  std::optional<std::int64_t> lastSaved;  // seconds since 1970-01-01 UTC
};

}  // namespace vellumark
