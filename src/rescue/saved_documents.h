#pragma once

#include <cstdint>
#include <span>

#include "rescue/document_record.h"

namespace vellumark {

// Where the carving hands each document the moment it is written, so that
// whoever reads documents back (the report) can start on it while the
// carving goes on. The carving knows nothing of what is done with them.
class SavedDocuments {
 public:
  virtual ~SavedDocuments() = default;
  // Called on the thread that wrote the document (the carving's, or its
  // writer's); written is valid only during the call.
  virtual void Add(const DocumentRecord& record, std::span<const std::uint8_t> written) = 0;
};

}  // namespace vellumark
