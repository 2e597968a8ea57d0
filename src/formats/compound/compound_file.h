#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formats/document_properties.h"

namespace vellumark {

// A compound file held in memory, read through libgsf. The bytes must
// outlive the object: they are not copied.
class CompoundFile {
 public:
  // Nothing when libgsf cannot read the bytes as a compound file.
  static std::unique_ptr<CompoundFile> Open(std::span<const std::uint8_t> bytes);
  ~CompoundFile();
  CompoundFile(const CompoundFile&) = delete;
  CompoundFile& operator=(const CompoundFile&) = delete;

  // A stream of the root storage, by name; nothing when absent or unreadable.
  std::optional<std::vector<std::uint8_t>> Stream(const std::string& name) const;

  // Title, author and last-saved time from the summary information, where
  // present.
  DocumentProperties SummaryProperties() const;

 private:
  struct Handles;
  explicit CompoundFile(std::unique_ptr<Handles> handles);
  std::unique_ptr<Handles> handles_;
};

}  // namespace vellumark
