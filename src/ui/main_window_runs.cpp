// The main window's two long operations, the rescue and the backup: each
// hands the controls' values to the engine, and says what the engine refused
// or did.
#include <QFileInfo>
#include <QSettings>
#include <new>

#include "texts/failure_text.h"
#include "texts/message_table.h"
#include "texts/refusal_slots.h"
#include "texts/rescue_summary.h"
#include "ui/guarded_application.h"
#include "ui/main_window.h"

namespace vellumark {
namespace {

constexpr const char* kImageFolderKey = "folders/image";
constexpr const char* kSaveFolderKey = "folders/save";

std::string Trimmed(const QLineEdit* edit) { return edit->text().trimmed().toStdString(); }

}  // namespace

template <typename Operation>
void TForm1::RunGuarded(Operation operation) {
  try {
    operation();
  } catch (const std::bad_alloc&) {
    GuardedApplication* application = GuardedApplication::Instance();
    if (application == nullptr) throw;
    backupRunning_ = false;
    form2_->hide();
    form3_->hide();
    show();
    application->ReportOutOfMemory();
  }
}

void TForm1::Button12Click() { RunGuarded([this] { RunRescue(); }); }

void TForm1::Button11Click() { RunGuarded([this] { RunBackup(); }); }

bool TForm1::MountedSourceAccepted() {
  const std::vector<std::string> mounts = source_.ReadWriteMounts();
  if (mounts.empty()) return true;
  std::string where;
  for (const std::string& mount : mounts) where += "\n" + mount;
  // Each choice says what it does, where Yes and No would leave the user
  // to work out which of the two the question meant.
  constexpr int kChoices[] = {slot::kBackUpFirst, slot::kRescueAnyway};
  const std::optional<std::size_t> choice =
      services_.prompt.Choose({slot::kMountedReadWrite, slot::kPrompt, where}, kChoices);
  // Backing up first: the open source is the backup's, as the rescue's
  // range; the rescue is then better run on the image.
  if (choice == 0) Button11Click();
  return choice == 1;
}

void TForm1::RunRescue() {
  if (!source_.IsOpen()) return;
  ScanRequest request;
  request.saveFolder = Trimmed(Edit2);
  request.firstSectorText = Trimmed(Edit3);
  request.lastSectorText = Trimmed(Edit4);
  request.typeMask = typeMask_;
  request.originalNames = chkOriginalNames->isChecked();
  // Nothing is asked of a rescue the engine would refuse anyway.
  if (scan_.CheckInputs(request) == Refusal::None && !MountedSourceAccepted()) return;
  const ScanResult result = scan_.Run(request);
  if (!result.ran) {
    ShowRefusal(result);
    return;
  }
  QSettings().setValue(kSaveFolderKey, QString::fromStdString(request.saveFolder));
  StatusPanels[0]->setText(QString::fromUtf8(Text(slot::kRescuedFile)) + QString::number(result.rescued));
  show();
  // Opened after the final message, beside the main window rather than modal,
  // so that the user can keep working while looking through the list.
  // Also when documents were found and none could be saved (the summary
  // says why), and when none were found: the summary still shows what the
  // rescue did, and where its report is.
  const auto& report = scan_.Report();
  delete results_;
  results_ = new ResultsWindow(report, services_, this);
  results_->ShowOutcome(RescueSummary(result, report), request.saveFolder);
  results_->show();
}

void TForm1::ShowRefusal(const ScanResult& result) {
  if (result.refusal == Refusal::None) return;
  std::string detail = result.refusalDetail;
  if (result.refusal == Refusal::DestinationUntraced) detail = result.refusedPath;
  int slot = SlotOf(result.refusal);
  const std::string folder = Trimmed(Edit2);
  if (result.refusal == Refusal::NoSaveFolder && !folder.empty()) {
    // A folder was typed: it is not there (or is no folder).
    slot = slot::kSaveFolderMissing;
    detail = folder;
  }
  if (result.refusal == Refusal::ScanRangeInvalid) {
    detail = std::string(Text(slot::kValidRange)) + "0 - " + std::to_string(source_.ScanGeometry().LastSector);
  }
  ShowError(slot, detail.empty() ? std::string() : "\n" + detail);
  switch (result.refusal) {
    case Refusal::NoSaveFolder:
    case Refusal::FolderOnSource:
    case Refusal::DestinationUntraced:
    case Refusal::ReportOnSource:
    case Refusal::FolderBusy:
    case Refusal::FolderUnwritable: Edit2->setFocus(); break;
    case Refusal::ScanRangeInvalid: Edit3->setFocus(); break;
    default: break;
  }
}

void TForm1::RunBackup() {
  if (!source_.IsOpen()) return;
  const BackupRange range{Trimmed(Edit3), Trimmed(Edit4)};
  if (const Refusal refusal = backup_.CheckRange(range); refusal != Refusal::None) {
    ShowError(SlotOf(refusal), "\n" + std::string(Text(slot::kValidRange)) + "0 - " +
                                   std::to_string(source_.ScanGeometry().LastSector));
    Edit3->setFocus();
    return;
  }
  const auto target = services_.dialogs.SaveImagePath(ImageFolder());
  if (!target) return;
  BackupResult checked;
  if (const Refusal refusal = backup_.CheckTarget(*target, checked); refusal != Refusal::None) {
    ShowError(SlotOf(refusal), checked.refusedPath.empty()
                                   ? std::string()
                                   : "\n" + PathAndReason(checked.refusedPath, 0, SlotOf(checked.refusedKind)));
    return;
  }
  if (QFileInfo::exists(QString::fromStdString(*target)) &&
      !services_.prompt.AskYesNo({slot::kReplaceImage, slot::kPrompt, "\n" + *target})) {
    return;
  }
  QSettings().setValue(kImageFolderKey, QFileInfo(QString::fromStdString(*target)).absolutePath());
  backupRunning_ = true;
  const BackupResult result = backup_.Run(range, *target);
  backupRunning_ = false;
  if (!result.ran && result.refusal != Refusal::None) {
    ShowError(SlotOf(result.refusal), result.refusedPath.empty()
                                          ? std::string()
                                          : "\n" + PathAndReason(result.refusedPath, 0, SlotOf(result.refusedKind)));
  }
  show();
  // An unfinished image kept: where it is, that it is unfinished, and the
  // map from which GNU ddrescue can finish it.
  if (result.ran && !result.finished && !result.imagePath.empty()) {
    std::string where = result.imagePath;
    if (!result.mapPath.empty()) where += "\n" + std::string(Text(slot::kSectorsNotCopiedListed)) + result.mapPath;
    services_.prompt.Show({slot::kUnfinishedImageKept, slot::kPrompt, where});
  }
}

}  // namespace vellumark
