#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "common/message_slots.h"

// The seam between the engine and whoever shows its work: the Qt windows
// implement these with message boxes, labels and processEvents, the command
// line with terminal output. Engine operations take them by reference and never
// know which front end they talk to.
namespace vellumark {

// A modal message: the text of one slot, optionally followed directly by a
// value the engine supplies (a count, a sector number), under a caption slot.
struct Message {
  int textSlot = 0;
  int captionSlot = slot::kError;
  std::string suffix;
};

class Prompt {
 public:
  virtual ~Prompt() = default;
  // A box with one OK button; returns when the user has dismissed it.
  virtual void Show(const Message& message) = 0;
  // A box with Yes and No; true for Yes.
  virtual bool AskYesNo(const Message& message) = 0;
  // A box with a button for each choice (the texts of choiceSlots, in
  // order, the first the default) and Cancel: the index of the choice taken,
  // or nothing for Cancel or a box closed. Where the choices would read
  // ambiguously as Yes and No. A front end that cannot offer them cancels.
  virtual std::optional<std::size_t> Choose(const Message& message, std::span<const int> choiceSlots) {
    (void)message, (void)choiceSlots;
    return std::nullopt;
  }
};

// Long operations run on the caller's thread and call this at fixed points so
// that a window can let pending events run (where Cancel, Pause and Stop take
// effect). A terminal front end may use it to poll for an interrupt.
class Pump {
 public:
  virtual ~Pump() = default;
  virtual void ProcessPendingEvents() = 0;
};

// What the progress windows' labels show. An operation fills the fields whose
// labels change; the others are left as they are. The front end formats them
// with the message-table texts.
enum class ProgressStage : std::uint8_t { Search, Carve, Backup };

struct ProgressReport {
  ProgressStage stage = ProgressStage::Search;
  std::optional<std::int64_t> sector;
  std::optional<std::string> percentText;      // search and backup: PercentText
  std::optional<std::int32_t> found;           // search: compound-document hits
  std::optional<std::int32_t> rescued;         // carve: files rescued so far
  std::optional<std::int32_t> progressPercent; // carve: share of hits handled
  std::optional<std::int64_t> errors;          // backup: unreadable sectors
  std::optional<double> bytesPerSecond;        // search and backup, once measured
  std::optional<std::int64_t> secondsLeft;     // search and backup, once measured
  std::optional<std::int32_t> documentsFound;  // carve: documents found so far, saved or not
  // The carving walks the hits from the range's top down: how many sectors
  // of the range it has walked (never fewer than before), how many of the
  // search's document hits it has handled, and how many hits a second.
  std::optional<std::int64_t> sectorsWalked;
  std::optional<std::int64_t> sectorsTotal;
  std::optional<std::int32_t> documentsDone;
  std::optional<std::int32_t> documentsTotal;
  std::optional<double> filesPerSecond;
};

class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  // A progress window is prepared and shown / closed.
  virtual void StageStarted(ProgressStage stage) = 0;
  virtual void Report(const ProgressReport& report) = 0;
  virtual void StageEnded(ProgressStage stage) = 0;
};

// Bundle handed to every long engine operation.
struct FrontEnd {
  Prompt& prompt;
  Pump& pump;
  ProgressSink& progress;
};

// Front ends that ignore everything; useful for scripting and tests.
class SilentPrompt final : public Prompt {
 public:
  explicit SilentPrompt(bool answer = false) : answer_(answer) {}
  void Show(const Message&) override {}
  bool AskYesNo(const Message&) override { return answer_; }

 private:
  bool answer_;
};

class NoPump final : public Pump {
 public:
  void ProcessPendingEvents() override {}
};

class NoProgress final : public ProgressSink {
 public:
  void StageStarted(ProgressStage) override {}
  void Report(const ProgressReport&) override {}
  void StageEnded(ProgressStage) override {}
};

}  // namespace vellumark
