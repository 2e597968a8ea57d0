#include "report/read_back_ahead.h"

#include <new>
#include <optional>
#include <utility>

#include "formats/zip/office_package.h"

namespace vellumark {

ReadBackAhead::ReadBackAhead(std::size_t byteBudget) : budget_(byteBudget) {
  // The readers' libraries set themselves up on first use, which is not
  // safe while another thread uses them too.
  PrepareOfficeReading();
  worker_ = std::thread([this] { Work(); });
}

ReadBackAhead::~ReadBackAhead() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

void ReadBackAhead::Add(const DocumentRecord& record, std::span<const std::uint8_t> written) {
  try {
    Job job{record, {}, false};
    std::lock_guard lock(mutex_);
    // A name taken twice cannot tell its inspections apart: the second is
    // left to be read back.
    if (record.outputName.empty() || pending_.count(record.outputName) != 0 || done_.count(record.outputName) != 0) {
      return;
    }
    if (written.size() <= budget_ - std::min(budget_, queuedBytes_)) {
      job.bytes.assign(written.begin(), written.end());
      job.copied = true;
    }
    const std::size_t copied = job.bytes.size();
    queue_.push_back(std::move(job));
    try {
      pending_.insert(record.outputName);
    } catch (...) {
      queue_.pop_back();
      throw;
    }
    queuedBytes_ += copied;
  } catch (const std::bad_alloc&) {
    // Not queued: the report reads it back at the end, where memory running
    // out stops the run as it always has.
    return;
  }
  changed_.notify_all();
}

std::optional<DocumentInspection> ReadBackAhead::Take(const DocumentRecord& record) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return pending_.count(record.outputName) == 0; });
  const auto it = done_.find(record.outputName);
  if (it == done_.end()) return std::nullopt;
  DocumentInspection inspection = std::move(it->second);
  done_.erase(it);
  if (!(inspection.record == record)) return std::nullopt;  // changed since it was saved
  return inspection;
}

void ReadBackAhead::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    // Stopping comes after the last document was taken, or as the run
    // unwinds from a failure: nothing waiting is wanted any more.
    if (stopping_) return;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    std::optional<DocumentInspection> inspection;
    try {
      inspection = job.copied ? InspectWritten(job.record, job.bytes) : InspectDocument(job.record);
    } catch (const std::bad_alloc&) {
      // Left to the report, which inspects it again on the run's own thread.
    }
    const std::size_t size = job.bytes.size();
    job.bytes = {};
    lock.lock();
    queuedBytes_ -= size;
    if (inspection) {
      try {
        done_.emplace(job.record.outputName, std::move(*inspection));
      } catch (const std::bad_alloc&) {
      }
    }
    pending_.erase(job.record.outputName);
    changed_.notify_all();
  }
}

}  // namespace vellumark
