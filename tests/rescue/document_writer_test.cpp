// Documents written on the writer's thread end as those written in turn by
// the carving: the same names (taken ones numbered), the same failures and
// retries, the same counts, and the same records handed on for inspection.
#include "rescue/document_writer.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "access/memory_platform_source.h"
#include "rescue/carve_services.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using test::PatternBytes;

struct Quiet final : Pump, ProgressSink {
  void ProcessPendingEvents() override {}
  void StageStarted(ProgressStage) override {}
  void Report(const ProgressReport&) override {}
  void StageEnded(ProgressStage) override {}
};

struct Seen final : SavedDocuments {
  std::vector<DocumentRecord> records;
  std::vector<Bytes> bytes;
  void Add(const DocumentRecord& record, std::span<const std::uint8_t> written) override {
    records.push_back(record);
    bytes.emplace_back(written.begin(), written.end());
  }
};

struct Outcome {
  std::vector<DocumentRecord> documents;
  std::int32_t rescued = 0, notWritten = 0;
  std::string writeFailure;
  Seen seen;
  std::vector<std::string> files;
};

// The same documents saved into a fresh folder under dir, where a file of
// other bytes already has the first name, with or without the writer.
Outcome SaveAll(const fs::path& dir, bool onWriter) {
  MemoryPlatformSource* mem = new MemoryPlatformSource;
  mem->Add("disk.img", PatternBytes(64 * 512));
  SectorSource source{std::unique_ptr<PlatformSource>(mem)};
  EXPECT_TRUE(source.OpenImageFile("disk.img").ok());
  SilentPrompt prompt;
  Quiet quiet;
  FrontEnd fe{prompt, quiet, quiet};
  RescueRun run(source, fe);
  const fs::path folder = dir / "out";
  fs::create_directory(folder);
  test::WriteFileBytes(folder / "TEST_0000001.DOC", PatternBytes(700, 9));

  Outcome outcome;
  run.savedDocuments = &outcome.seen;
  std::unique_ptr<DocumentWriter> writer;
  if (onWriter) writer = std::make_unique<DocumentWriter>(&outcome.seen, 3000);  // a budget some must wait for
  run.writer = writer.get();
  const struct {
    const char* name;
    std::size_t size;
    bool text;
  } saves[] = {
      {"missing/TEST_0000009.DOC", 512, false},  // fails: later saves are tried once
      {"out/TEST_0000001.DOC", 1536, false},     // taken by other bytes: -2
      {"out/TEST_0000002.TXT", 40, true},        // text: not counted as rescued
      {"out/TEST_0000001.DOC", 2048, false},     // taken twice now: -3
      {"out/TEST_0000003.DOC", 4096, false},     // larger than the budget: queued alone
      {"out/TEST_0000004.DOC", 512, false},
  };
  int n = 0;
  for (const auto& s : saves) {
    DocumentRecord record;
    record.startSector = ++n;
    record.outputName = (dir / s.name).string();
    const Bytes data = PatternBytes(s.size, n);
    if (s.text) {
      SaveText(run, record, std::string(data.begin(), data.end()));
    } else {
      SaveDocument(run, record, data.data(), data.size());
    }
    run.documents.push_back(record);
  }
  if (writer) {
    run.writer = nullptr;
    writer->Finish(run);
  }
  // Names without the folder, which differs between the two runs.
  const std::string prefix = dir.string();
  auto stripText = [&](std::string& s) {
    for (std::size_t at; (at = s.find(prefix)) != std::string::npos;) s.erase(at, prefix.size());
  };
  auto strip = [&](DocumentRecord& r) {
    stripText(r.outputName);
    stripText(r.saveFailure);
  };
  for (DocumentRecord& r : run.documents) strip(r);
  for (DocumentRecord& r : outcome.seen.records) strip(r);
  outcome.documents = run.documents;
  outcome.rescued = run.rescued;
  outcome.notWritten = run.notWritten;
  outcome.writeFailure = run.writeFailure;
  stripText(outcome.writeFailure);
  for (const auto& entry : fs::directory_iterator(folder)) outcome.files.push_back(entry.path().filename());
  std::sort(outcome.files.begin(), outcome.files.end());
  return outcome;
}

TEST(DocumentWriter, WritesAsTheCarvingWouldInTurn) {
  test::TempDir inTurn, onThread;
  const Outcome expected = SaveAll(inTurn.path(), false);
  const Outcome got = SaveAll(onThread.path(), true);
  ASSERT_EQ(expected.documents.size(), 6u);
  EXPECT_EQ(expected.rescued, 4);
  EXPECT_EQ(expected.notWritten, 1);
  EXPECT_EQ(expected.documents[3].outputName, "/out/TEST_0000001-3.DOC");
  EXPECT_TRUE(expected.documents[5].saved);
  EXPECT_EQ(expected.writeFailure, expected.documents[0].saveFailure);

  EXPECT_EQ(got.rescued, expected.rescued);
  EXPECT_EQ(got.notWritten, expected.notWritten);
  EXPECT_EQ(got.writeFailure, expected.writeFailure);
  EXPECT_EQ(got.files, expected.files);
  ASSERT_EQ(got.documents.size(), expected.documents.size());
  for (std::size_t i = 0; i < got.documents.size(); ++i) {
    EXPECT_TRUE(got.documents[i] == expected.documents[i]) << i << ": " << got.documents[i].outputName;
  }
  ASSERT_EQ(got.seen.records.size(), expected.seen.records.size());
  for (std::size_t i = 0; i < got.seen.records.size(); ++i) {
    EXPECT_TRUE(got.seen.records[i] == expected.seen.records[i]) << i;
    EXPECT_EQ(got.seen.bytes[i], expected.seen.bytes[i]) << i;
  }
}

}  // namespace
}  // namespace vellumark
