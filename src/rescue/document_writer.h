#pragma once

// Writing the rescued documents on a thread of their own.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "rescue/document_record.h"
#include "rescue/saved_documents.h"

namespace vellumark {

struct RescueRun;

// Writes the documents the carving keeps, one after another in the order
// they were kept, on a second thread while the carving goes on. Making and
// filling a file costs the file system about as much as carving a small
// document (ext4 looks through its inode table for an inode not freed in
// the last seconds; every byte is copied into new pages of the cache), and
// none of the carving depends on it: what is carved next never looks at
// whether or under which name a document was written. The outcome is the
// one writing in turn gives: the same names in the same order (a name
// taken gets the next free number), the same retries (once a save has
// failed, later ones are tried once), and each written document handed on
// to be inspected; Finish brings every outcome into its record.
class DocumentWriter {
 public:
  // inspect receives each document once written (may be none). The copies
  // waiting at any one time hold at most byteBudget bytes; a Write beyond it
  // waits for the thread (one document larger than it is queued alone).
  explicit DocumentWriter(SavedDocuments* inspect, std::size_t byteBudget = kDefaultBudget);
  ~DocumentWriter();
  DocumentWriter(const DocumentWriter&) = delete;
  DocumentWriter& operator=(const DocumentWriter&) = delete;

  // Queues bytes as the file of record, which is about to become
  // documents[recordIndex] of the run and names the file wanted; counts says
  // whether it counts as a rescued document (a partial text does not).
  void Write(const DocumentRecord& record, std::size_t recordIndex, bool counts, std::span<const std::uint8_t> bytes);
  // The documents written so far that count, for progress.
  std::int32_t Rescued() const { return rescued_.load(std::memory_order_relaxed); }
  // Waits for every queued write, then sets each record's outcome (saved,
  // the name it has, the reason it was not written) and the run's counts.
  void Finish(RescueRun& run);

  static constexpr std::size_t kDefaultBudget = std::size_t{64} << 20;

 private:
  struct Job {
    DocumentRecord record;
    std::size_t recordIndex = 0;
    std::string wantedName;
    bool counts = false;
    std::vector<std::uint8_t> bytes;
  };
  void Work();
  void WriteOne(Job& job);

  SavedDocuments* const inspect_;
  const std::size_t budget_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> queue_;
  std::size_t queuedBytes_ = 0;
  bool busy_ = false;  // a job taken off the queue is being written
  bool stopping_ = false;
  std::vector<Job> done_;       // records as written, in order
  std::string firstFailure_;    // touched by the thread only, until Finish
  std::atomic<std::int32_t> rescued_{0};
  std::thread worker_;
};

}  // namespace vellumark
