#include "rescue/document_writer.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "output/stream_saving.h"
#include "rescue/rescue_run.h"

namespace vellumark {

DocumentWriter::DocumentWriter(SavedDocuments* inspect, std::size_t byteBudget)
    : inspect_(inspect), budget_(byteBudget) {
  worker_ = std::thread([this] { Work(); });
}

DocumentWriter::~DocumentWriter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

void DocumentWriter::Write(const DocumentRecord& record, std::size_t recordIndex, bool counts,
                           std::span<const std::uint8_t> bytes) {
  Job job{record, recordIndex, record.outputName, counts, {}};
  {
    // Waits for room before copying, so that the copies never hold more
    // than the budget (or one document alone).
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return queuedBytes_ == 0 || queuedBytes_ + bytes.size() <= budget_; });
  }
  job.bytes.assign(bytes.begin(), bytes.end());
  {
    std::lock_guard lock(mutex_);
    queuedBytes_ += job.bytes.size();
    queue_.push_back(std::move(job));
  }
  changed_.notify_all();
}

void DocumentWriter::WriteOne(Job& job) {
  const int attempts = firstFailure_.empty() ? kSaveAttempts : 1;
  const auto saved = SaveStreamWithRetry(job.bytes.data(), job.bytes.size(), job.wantedName,
                                         std::chrono::milliseconds(100), attempts);
  job.record.saved = saved.has_value();
  if (saved) {
    job.record.outputName = *saved;
    if (inspect_ != nullptr) inspect_->Add(job.record, job.bytes);
    if (job.counts) rescued_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  job.record.saveFailure = std::string(std::strerror(errno)) + ": " + job.wantedName;
  if (firstFailure_.empty()) firstFailure_ = job.record.saveFailure;
}

void DocumentWriter::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, with everything written
    Job job = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    WriteOne(job);
    const std::size_t size = job.bytes.size();
    job.bytes = {};
    lock.lock();
    queuedBytes_ -= size;
    busy_ = false;
    done_.push_back(std::move(job));
    changed_.notify_all();
  }
}

void DocumentWriter::Finish(RescueRun& run) {
  std::vector<Job> done;
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return queue_.empty() && !busy_; });
    done.swap(done_);
  }
  for (Job& job : done) {
    // The record the carving kept right after queuing the write; found by
    // its start and wanted name should anything have come between.
    DocumentRecord* record = nullptr;
    auto matches = [&](const DocumentRecord& r) {
      return r.startSector == job.record.startSector && r.outputName == job.wantedName && !r.saved &&
             r.saveFailure.empty();
    };
    if (job.recordIndex < run.documents.size() && matches(run.documents[job.recordIndex])) {
      record = &run.documents[job.recordIndex];
    } else {
      for (DocumentRecord& r : run.documents) {
        if (matches(r)) {
          record = &r;
          break;
        }
      }
    }
    if (record != nullptr) {
      record->saved = job.record.saved;
      record->outputName = job.record.outputName;
      record->saveFailure = job.record.saveFailure;
    }
    if (job.record.saved) {
      if (job.counts) ++run.rescued;
      continue;
    }
    ++run.notWritten;
    if (run.writeFailure.empty()) run.writeFailure = job.record.saveFailure;
  }
  rescued_.store(0, std::memory_order_relaxed);
}

}  // namespace vellumark
