#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "rescue/document_record.h"
#include "rescue/saved_documents.h"
#include "report/read_back.h"

namespace vellumark {

// Inspects rescued documents for the report on a thread of its own while
// the carving goes on, so that hashing and checking them costs the rescue
// no time on a machine with a second core. A document is inspected from
// the bytes just written, copied while they fit a budget, or else read back
// from the destination as the report would have read it; the inspection
// is the same either way.
class ReadBackAhead final : public SavedDocuments {
 public:
  // The copies waiting at any one time hold at most byteBudget bytes.
  explicit ReadBackAhead(std::size_t byteBudget = kDefaultBudget);
  ~ReadBackAhead();
  ReadBackAhead(const ReadBackAhead&) = delete;
  ReadBackAhead& operator=(const ReadBackAhead&) = delete;

  // A document as it was saved, record and written bytes.
  void Add(const DocumentRecord& record, std::span<const std::uint8_t> written) override;

  // The inspection of the document the record describes, once it is done;
  // nothing when it was not added as this record (then the caller reads it
  // back itself).
  std::optional<DocumentInspection> Take(const DocumentRecord& record);

  static constexpr std::size_t kDefaultBudget = 8u << 20;

 private:
  struct Job {
    DocumentRecord record;
    std::vector<std::uint8_t> bytes;
    bool copied = false;
  };
  void Work();

  const std::size_t budget_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> queue_;
  std::size_t queuedBytes_ = 0;
  std::set<std::string> pending_;  // names queued or being inspected
  std::map<std::string, DocumentInspection> done_;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace vellumark
