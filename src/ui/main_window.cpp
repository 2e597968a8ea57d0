#include "ui/main_window.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QSettings>

#include "access/block_devices.h"
#include "texts/failure_text.h"
#include "texts/message_table.h"
#include "texts/refusal_slots.h"
#include "ui/window_metrics.h"
#include "ui/window_progress.h"

namespace vellumark {
namespace {

QString T(int slot) { return QString::fromUtf8(Text(slot)); }

// Where the folders the user chose last are kept between runs.
constexpr const char* kImageFolderKey = "folders/image";
constexpr const char* kSaveFolderKey = "folders/save";

}  // namespace

TForm1::TForm1(WindowServices services, std::unique_ptr<PlatformSource> platform, QWidget* parent)
    : QMainWindow(parent),
      services_(services),
      form2_(new TForm2),
      form3_(new TForm3),
      progress_(std::make_unique<WindowProgress>(this, form2_, form3_, [this] { return source_.SourceName(); })),
      source_(std::move(platform)),
      parameters_(source_),
      view_(source_),
      frontEnd_{services.prompt, *progress_, *progress_},
      scan_(source_, parameters_, frontEnd_),
      backup_(source_, frontEnd_) {
  setObjectName("TForm1");
  BuildControls();
  // The save folder of the last run, or else the user's own, since the
  // program's folder is a system folder on this platform.
  Edit2->setText(QSettings().value(kSaveFolderKey, QDir::homePath() + "/").toString());

  form2_->onPause = [this](bool paused) { scan_.SetPaused(paused); };
  form2_->onStop = [this] { scan_.Stop(); };
  form2_->mayClose = [this] { return scan_.EndRequested(); };
  form3_->onCancel = [this] {
    if (backupRunning_) {
      backup_.Cancel();
    } else {
      scan_.CancelSearch();
    }
  };
  form3_->operationStopped = [this] { return backupRunning_ ? backup_.Stopped() : scan_.SearchStopped(); };
  ShowSourceState();
}

TForm1::~TForm1() {
  delete form2_;
  delete form3_;
}

void TForm1::ApplyTexts() {
  setFont(WindowFont());
  Memo1->setFont(DumpFont(DumpView::kFullPixels));  // the dump keeps its fixed-pitch font
  Label5->setText(T(60));
  Label9->setText(T(7));
  ComboBox3->clear();
  ComboBox3->addItems({T(slot::kReasonDeleted), T(slot::kReasonFormatted), T(slot::kReasonRepartitioned)});
  ApplyAccessKeys();
  ApplyMenuTexts();
  ApplyToolTips();
  DriveComboBox1->Refresh();  // measured in the window's font
  // The window opens as wide as the expanded window asks for, so that
  // "More >>" only adds height, and within the screen.
  dumpArea_->show();
  adjustSize();
  dumpArea_->hide();
  ShowHeight();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shownOnce_) return;  // the scan and the backup hide and show the window again
  shownOnce_ = true;
  setWindowTitle(T(slot::kCaption));
  parameters_.SelectReason(kReasonDeleted);
  MirrorLists();
  KeepOnScreen();
}

void TForm1::EndRunningOperation() {
  scan_.StopAll();
  backup_.Abandon();
}

void TForm1::closeEvent(QCloseEvent* event) {
  CloseSourceAndView();
  QMainWindow::closeEvent(event);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Edit1 && event->type() == QEvent::KeyPress) {
    // The keys still reach the edit box afterwards.
    switch (static_cast<QKeyEvent*>(event)->key()) {
      case Qt::Key_Up: Button3Click(); break;
      case Qt::Key_Down: Button4Click(); break;
      case Qt::Key_PageDown: view_.PageDown(); MirrorView(); break;
      case Qt::Key_PageUp: view_.PageUp(); MirrorView(); break;
      default: break;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::ShowError(int slot, const std::string& suffix) { services_.prompt.Show({slot, slot::kError, suffix}); }

void TForm1::MirrorLists() {
  const ParameterLists& lists = parameters_.Lists();
  ComboBox1->setCurrentIndex(lists.clusterSizeEntry);
  ComboBox2->setCurrentIndex(lists.fileSystemEntry);
  ComboBox3->setCurrentIndex(lists.reasonEntry);
  ComboBox2->setEnabled(lists.fileSystemEnabled);
  ComboBox1->setEnabled(lists.clusterSizeEnabled);
}

void TForm1::MirrorView() {
  QString text;
  for (const std::string& line : view_.Lines()) text += QString::fromStdString(line) + "\n";
  text.chop(1);
  Memo1->setPlainText(text);
  if (!view_.Lines().empty()) Edit1->setText(QString::number(view_.ShownSector()));
  const NavigationButtons& buttons = view_.Buttons();
  Button8->setEnabled(buttons.first);
  Button3->setEnabled(buttons.previous);
  Button4->setEnabled(buttons.next);
  Button9->setEnabled(buttons.last);
}

void TForm1::ShowSourceState() {
  const bool open = source_.IsOpen();
  Memo1->setEnabled(open);
  Edit1->setEnabled(open);
  Button5->setEnabled(open);
  ActionClose->setEnabled(open);
  GroupBox1->setVisible(open);
  // What is open, named in full: the drive list only offers drives.
  const QString name = open ? QString::fromStdString(source_.SourceName()) : QString();
  StatusPanels[2]->setToolTip(name);
  QString source = T(slot::kSource);
  if (!source.endsWith(' ')) source += ' ';
  StatusPanels[2]->setText(open ? QFontMetrics(StatusPanels[2]->font())
                                      .elidedText(source + name, Qt::ElideMiddle, std::max(StatusPanels[2]->width(), 200))
                                : QString());
  if (isVisible()) ShowHeight();
}

void TForm1::CloseSourceAndView() {
  source_.CloseSource();
  ClearView();
}

void TForm1::ClearView() {
  // What the panels said was of the source just closed.
  StatusPanels[0]->clear();
  StatusPanels[1]->clear();
  view_.Clear();
  MirrorView();
  ShowSourceState();
}

void TForm1::ShowOpened(const OpenResult& result, const std::string& path) {
  if (!result.ok()) {
    // The source open before stays open, and its view with it.
    if (!source_.IsOpen()) ClearView();
    ShowError(SlotOf(result.error), PathAndReason(path, result.systemError, ReasonSlot(result)));
    return;
  }
  ClearView();
  parameters_.ShowOpened(result.bootSectorRecognised);
  MirrorLists();
  const std::int64_t last = source_.ScanGeometry().LastSector;
  Edit3->setText("0");
  Edit4->setText(QString::number(last));
  StatusPanels[1]->setText(T(slot::kTotalSectors) + QString::number(last + 1));
  view_.ShowSector(0);
  MirrorView();
  ShowSourceState();
}

void TForm1::Button1Click() {
  const std::string entry = DriveComboBox1->currentText().toStdString();
  const std::string path = DevicePathOfEntry(entry);
  const OpenResult result = source_.OpenPartition(path, entry);
  // After a failure the drive list names what stayed open: its drive, or
  // none for an image.
  if (!result.ok() && source_.IsOpen())
    DriveComboBox1->setCurrentIndex(DriveComboBox1->findText(QString::fromStdString(source_.SourceName())));
  ShowOpened(result, path);
}

void TForm1::Button10Click() {
  // A cancelled choice leaves the open source open.
  const auto path = services_.dialogs.OpenImagePath(ImageFolder());
  if (!path) return;
  QSettings().setValue(kImageFolderKey, QFileInfo(QString::fromStdString(*path)).absolutePath());
  const OpenResult result = source_.OpenImageFile(*path);
  // The drive list no longer names what is open.
  if (result.ok()) DriveComboBox1->setCurrentIndex(-1);
  ShowOpened(result, *path);
}

std::string TForm1::ImageFolder() const {
  return QSettings().value(kImageFolderKey, QDir::homePath()).toString().toStdString();
}

void TForm1::Button2Click() { CloseSourceAndView(); }

void TForm1::ComboBox1Click() {
  parameters_.SelectClusterSize(ComboBox1->currentIndex());
  parameters_.ChooseClusterSize();
  MirrorLists();
}

void TForm1::ComboBox2Click() {
  parameters_.SelectFileSystem(ComboBox2->currentIndex());
  parameters_.FileSystemDefaults();
  MirrorLists();
}

void TForm1::ComboBox3Click() {
  parameters_.SelectReason(ComboBox3->currentIndex());
  parameters_.ApplyReason(services_.prompt);
  MirrorLists();
}

void TForm1::Button8Click() {
  view_.First();
  MirrorView();
}

void TForm1::Button3Click() {
  view_.Previous();
  MirrorView();
}

void TForm1::Button4Click() {
  view_.Next();
  MirrorView();
}

void TForm1::Button9Click() {
  view_.Last();
  MirrorView();
}

void TForm1::Button5Click() {
  if (const int refusal = view_.GoTo(Edit1->text().toStdString())) {
    ShowError(refusal, "\n" + std::string(Text(slot::kValidRange)) + "0 - " +
                           std::to_string(source_.ScanGeometry().LastSector));
    return;
  }
  MirrorView();
}

void TForm1::chkDOCXClick() {
  if (chkDOCX->isChecked()) {
    typeMask_ |= type_mask::kDocx;
  } else {
    typeMask_ &= ~type_mask::kDocx;
  }
}

void TForm1::chkDOCClick() {
  if (chkDOC->isChecked()) {
    typeMask_ |= type_mask::kWord;
  } else {
    typeMask_ &= ~type_mask::kWord;
  }
}

void TForm1::Button6Click() {
  QString start = Edit2->text().trimmed();
  if (start.size() > 1 && start.endsWith('/')) start.chop(1);  // the root keeps its slash
  if (const auto folder = services_.dialogs.ChooseFolder(start.toStdString())) {
    Edit2->setText(QString::fromStdString(*folder));
    QSettings().setValue(kSaveFolderKey, Edit2->text());
  }
}

void TForm1::SpeedButton1Click() { ShowHeight(); }

}  // namespace vellumark
