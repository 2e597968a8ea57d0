#include "ui/main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QAbstractItemView>
#include <algorithm>
#include <cmath>
#include <new>

#include "access/block_devices.h"
#include "texts/failure_text.h"
#include "ui/guarded_application.h"
#include "ui/help_window.h"
#include "texts/message_table.h"
#include "texts/refusal_slots.h"
#include "texts/rescue_summary.h"
#include "ui/window_metrics.h"
#include "ui/window_progress.h"

namespace vellumark {
namespace {

QString T(int slot) { return QString::fromUtf8(Text(slot)); }

// Every text is measured in the window font; the window's drawn geometry
// grows by one factor until the widest caption fits, never cut.
// Where the folders the user chose last are kept between runs.
constexpr const char* kImageFolderKey = "folders/image";
constexpr const char* kSaveFolderKey = "folders/save";

constexpr int kDumpLines = 17;  // the header and 16 lines of a 512-byte sector
constexpr int kDumpColumns = 117;

}  // namespace

TForm1::TForm1(WindowServices services, std::unique_ptr<PlatformSource> platform, QWidget* parent)
    : QWidget(parent),
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
}

TForm1::~TForm1() {
  delete form2_;
  delete form3_;
}

template <typename Widget>
Widget* TForm1::Place(QWidget* parent, const char* name, int left, int top, int width, int height) {
  auto* widget = new Widget(parent);
  widget->setObjectName(name);
  spots_.push_back({widget, left, top, width, height});
  return widget;
}

// Right-aligned labels span the room left of the control they name, so that
// a longer text (another language) grows to the left within it.
QLabel* TForm1::RightLabel(QWidget* parent, const char* name, int roomLeft, int rightEdge, int top) {
  auto* label = Place<QLabel>(parent, name, roomLeft, top, rightEdge - roomLeft);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return label;
}

void TForm1::BuildControls() {
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);

  Label5 = Place<QLabel>(this, "Label5", 16, 8, 846);
  Label12 = RightLabel(this, "Label12", 8, 125, 44);
  DriveComboBox1 = Place<DriveList>(this, "DriveComboBox1", 128, 42, 145);
  Button1 = Place<QPushButton>(this, "Button1", 279, 40, 78, 25);
  Button10 = Place<QPushButton>(this, "Button10", 358, 40, 91, 25);
  Button2 = Place<QPushButton>(this, "Button2", 454, 40, 43, 25);

  GroupBox1 = Place<QGroupBox>(this, "GroupBox1", 8, 66, 753, 146);
  GroupBox1->hide();
  Label9 = RightLabel(GroupBox1, "Label9", 2, 85, 17);
  chkDOC = Place<QCheckBox>(GroupBox1, "chkDOC", 88, 16, 97);
  chkDOC->setText("DOC(WPS)");
  chkDOC->setChecked(true);
  chkDOCX = Place<QCheckBox>(GroupBox1, "chkDOCX", 190, 16, 160);
  chkDOCX->setChecked(true);
  Label2 = RightLabel(GroupBox1, "Label2", 2, 117, 44);
  Edit2 = Place<QLineEdit>(GroupBox1, "Edit2", 120, 40, 481);
  Button6 = Place<QPushButton>(GroupBox1, "Button6", 602, 39, 60, 25);
  Label8 = RightLabel(GroupBox1, "Label8", 2, 78, 76);
  ComboBox3 = Place<QComboBox>(GroupBox1, "ComboBox3", 81, 72, 136);
  Label7 = RightLabel(GroupBox1, "Label7", 220, 310, 76);
  ComboBox2 = Place<QComboBox>(GroupBox1, "ComboBox2", 313, 72, 62);
  ComboBox2->addItems({"FAT", "FAT32", "NTFS", "OTHER"});
  Label6 = RightLabel(GroupBox1, "Label6", 378, 473, 76);
  ComboBox1 = Place<QComboBox>(GroupBox1, "ComboBox1", 476, 72, 45);
  ComboBox1->addItems({"512", "1K", "2K", "4K", "8K", "16K", "32K"});
  Label3 = RightLabel(GroupBox1, "Label3", 2, 133, 108);
  Edit3 = Place<QLineEdit>(GroupBox1, "Edit3", 136, 104, 121);
  Label11 = Place<QLabel>(GroupBox1, "Label11", 259, 108, 8);
  Label11->setAlignment(Qt::AlignCenter);
  Label11->setText("-");
  Edit4 = Place<QLineEdit>(GroupBox1, "Edit4", 268, 104, 121);
  Button12 = Place<QPushButton>(GroupBox1, "Button12", 500, 108, 86, 25);
  Button11 = Place<QPushButton>(GroupBox1, "Button11", 620, 108, 114, 25);

  SpeedButton1 = Place<QPushButton>(this, "SpeedButton1", 776, 186, 81, 25);
  SpeedButton1->setCheckable(true);

  Memo1 = Place<QPlainTextEdit>(this, "Memo1", 8, 220, 854, 264);
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setFont(DumpFont(12));
  Memo1->setEnabled(false);
  Button8 = Place<QPushButton>(this, "Button8", 16, 488, 32, 25);
  Button3 = Place<QPushButton>(this, "Button3", 48, 488, 32, 25);
  Button4 = Place<QPushButton>(this, "Button4", 80, 488, 32, 25);
  Button9 = Place<QPushButton>(this, "Button9", 112, 488, 32, 25);
  Button8->setText("|<");
  Button3->setText("<");
  Button4->setText(">");
  Button9->setText(">|");
  Label1 = RightLabel(this, "Label1", 146, 203, 492);
  Edit1 = Place<QLineEdit>(this, "Edit1", 206, 488, 80);
  Button5 = Place<QPushButton>(this, "Button5", 288, 488, 41, 25);
  for (QWidget* control : {static_cast<QWidget*>(Button8), static_cast<QWidget*>(Button3), static_cast<QWidget*>(Button4),
                           static_cast<QWidget*>(Button9), static_cast<QWidget*>(Edit1), static_cast<QWidget*>(Button5)}) {
    control->setEnabled(false);
  }
  Edit1->installEventFilter(this);

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName("StatusBar1");
  StatusBar1->setSizeGripEnabled(false);
  for (int i = 0; i < 4; ++i) {
    StatusPanels[i] = new QLabel(StatusBar1);
    StatusBar1->addWidget(StatusPanels[i]);
  }
  // The fourth panel is the link to the help window.
  QFont link = StatusPanels[3]->font();
  link.setUnderline(true);
  StatusPanels[3]->setFont(link);
  StatusPanels[3]->setForegroundRole(QPalette::Link);
  StatusPanels[3]->setCursor(Qt::PointingHandCursor);
  StatusBar1->installEventFilter(this);
  for (QLabel* panel : StatusPanels) panel->installEventFilter(this);
  LayOut();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }

  connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(Button10, &QPushButton::clicked, this, &TForm1::Button10Click);
  connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
  // activated is emitted for the user's choices only, never for a selection
  // made from code.
  connect(ComboBox1, &QComboBox::activated, this, &TForm1::ComboBox1Click);
  connect(ComboBox2, &QComboBox::activated, this, &TForm1::ComboBox2Click);
  connect(ComboBox3, &QComboBox::activated, this, &TForm1::ComboBox3Click);
  connect(Button12, &QPushButton::clicked, this, &TForm1::Button12Click);
  connect(Button11, &QPushButton::clicked, this, &TForm1::Button11Click);
  connect(Button8, &QPushButton::clicked, this, &TForm1::Button8Click);
  connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
  connect(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
  connect(Button9, &QPushButton::clicked, this, &TForm1::Button9Click);
  connect(Button5, &QPushButton::clicked, this, &TForm1::Button5Click);
  connect(Edit1, &QLineEdit::returnPressed, this, &TForm1::Button5Click);
  connect(chkDOC, &QCheckBox::clicked, this, &TForm1::chkDOCClick);
  connect(chkDOCX, &QCheckBox::clicked, this, &TForm1::chkDOCXClick);
  connect(Button6, &QPushButton::clicked, this, &TForm1::Button6Click);
  connect(SpeedButton1, &QPushButton::clicked, this, &TForm1::SpeedButton1Click);
}

void TForm1::ApplyTexts() {
  setFont(WindowFont());
  Memo1->setFont(Memo1->font());  // the dump keeps its fixed-pitch font
  Button1->setText(T(2));
  Button10->setText(T(3));
  Button2->setText(T(4));
  Label5->setText(T(60));
  Label1->setText(T(5));
  Button5->setText(T(6));
  Label9->setText(T(7));
  chkDOCX->setText(T(slot::kDocxBox));
  Label2->setText(T(8));
  Button6->setText(T(9));
  Label7->setText(T(11));
  Label6->setText(T(12));
  Label3->setText(T(13));
  Button12->setText(T(14));
  Button11->setText(T(15));
  SpeedButton1->setText(T(62));
  Label8->setText(T(66));
  ComboBox3->addItems({T(slot::kReasonDeleted), T(slot::kReasonFormatted), T(slot::kReasonRepartitioned)});
  Label12->setText(T(78));
  StatusPanels[3]->setText(T(slot::kHelp));
  scale_ = NeededScale();
  LayOut();
}

int TForm1::S(int pixels) const { return static_cast<int>(std::lround(pixels * scale_)); }

int TForm1::HeightOf(const Spot& spot) const {
  return spot.height > 0 ? S(spot.top + spot.height) - S(spot.top) : spot.widget->sizeHint().height();
}

double TForm1::NeededScale() const {
  double scale = 1.0;
  for (const Spot& spot : spots_) {
    // The drive list's entries are data, not captions: its list opens as
    // wide as they need.
    if (spot.widget == DriveComboBox1 || spot.width <= 0) continue;
    const int room = CaptionRoom(spot.widget, spot.width, HeightOf(spot));
    const int wanting = CaptionWidth(spot.widget) - room;
    // The frame around the caption keeps its size, so the control must grow
    // by exactly the caption's shortfall.
    if (wanting > 0) scale = std::max(scale, static_cast<double>(spot.width + wanting) / spot.width);
  }
  return std::ceil(scale * 100) / 100;
}

std::vector<QWidget*> TForm1::ExpandedOnly() const {
  return {Memo1, Button8, Button3, Button4, Button9, Label1, Edit1, Button5};
}

void TForm1::LayOut() {
  for (const Spot& spot : spots_) {
    // Edges rather than widths are scaled, so that neighbours stay apart.
    spot.widget->setGeometry(S(spot.left), S(spot.top), S(spot.left + spot.width) - S(spot.left), HeightOf(spot));
  }
  const int widths[4] = {136, 152, 312, 250};
  for (int i = 0; i < 4; ++i) StatusPanels[i]->setFixedWidth(S(widths[i]));
  FitDumpFont();
  DriveComboBox1->Refresh();  // measured in the window's font
  ShowHeight();
}

void TForm1::FitDumpFont() {
  // The largest size up to the dump's 12 pixels at which the header and the
  // 16 lines of a sector show whole beside the scroll bar.
  const int frame = 2 * Memo1->frameWidth() + 2 * static_cast<int>(std::ceil(Memo1->document()->documentMargin()));
  const int roomWide = Memo1->width() - frame - Memo1->verticalScrollBar()->sizeHint().width();
  const int roomHigh = Memo1->height() - frame;
  for (int pixels = 12; pixels > 6; --pixels) {
    const QFontMetrics metrics(DumpFont(pixels));
    if (metrics.horizontalAdvance(QString(kDumpColumns, '0')) + 1 <= roomWide &&
        metrics.lineSpacing() * kDumpLines <= roomHigh) {
      Memo1->setFont(DumpFont(pixels));
      return;
    }
  }
  Memo1->setFont(DumpFont(6));
}

void TForm1::ShowHeight() {
  const bool expanded = SpeedButton1->isChecked();
  const int height = S(expanded ? kExpandedHeight : kCollapsedHeight);
  setFixedSize(S(kClientWidth), height);
  StatusBar1->setGeometry(0, height - S(22), width(), S(22));
  StatusBar1->raise();
  // Collapsed, the hex view would lie under the status bar.
  for (QWidget* control : ExpandedOnly()) control->setVisible(expanded);
  // A window grown past the screen's lower edge moves up, as far as its top.
  if (const QScreen* screen = this->screen(); screen != nullptr && isVisible()) {
    const QRect available = screen->availableGeometry();
    const QRect frame = frameGeometry();
    const int frameExtra = frame.height() - geometry().height();
    const int bottom = frame.top() + frameExtra + height;
    const int over = bottom - (available.bottom() + 1);
    if (over > 0) move(x(), std::max(available.top(), frame.top() - over));
  }
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shownOnce_) return;  // the scan and the backup hide and show the window again
  shownOnce_ = true;
  setWindowTitle(T(slot::kCaption));
  parameters_.SelectReason(kReasonDeleted);
  MirrorLists();
}

void TForm1::EndRunningOperation() {
  scan_.StopAll();
  backup_.Abandon();
}

void TForm1::closeEvent(QCloseEvent* event) {
  CloseSourceAndView();
  QWidget::closeEvent(event);
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
  } else if (event->type() == QEvent::MouseButtonPress &&
             (watched == StatusBar1 || std::find(std::begin(StatusPanels), std::end(StatusPanels), watched) !=
                                           std::end(StatusPanels))) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint inBar = static_cast<QWidget*>(watched)->mapTo(StatusBar1, mouse->position().toPoint());
    StatusBar1MouseDown(inBar.x());
  }
  return QWidget::eventFilter(watched, event);
}

void TForm1::ShowError(int slot) { services_.prompt.Show({slot, slot::kError, {}}); }

void TForm1::MirrorLists() {
  const ParameterLists& lists = parameters_.Lists();
  ComboBox1->setCurrentIndex(lists.clusterSizeEntry);
  ComboBox2->setCurrentIndex(lists.fileSystemEntry);
  ComboBox3->setCurrentIndex(lists.reasonEntry);
  ComboBox2->setEnabled(lists.fileSystemEnabled);
  ComboBox1->setEnabled(lists.clusterSizeEnabled);
}

void TForm1::MirrorView() {
  Memo1->setPlainText(QString::fromStdString([this] {
    std::string text;
    for (const std::string& line : view_.Lines()) text += line + "\n";
    if (!text.empty()) text.pop_back();
    return text;
  }()));
  if (!view_.Lines().empty()) Edit1->setText(QString::number(view_.ShownSector()));
  const NavigationButtons& buttons = view_.Buttons();
  Button8->setEnabled(buttons.first);
  Button3->setEnabled(buttons.previous);
  Button4->setEnabled(buttons.next);
  Button9->setEnabled(buttons.last);
}

void TForm1::CloseSourceAndView() {
  source_.CloseSource();
  // What the panels said was of the source just closed.
  StatusPanels[0]->clear();
  StatusPanels[1]->clear();
  view_.Clear();
  MirrorView();
  Memo1->setEnabled(false);
  Edit1->setEnabled(false);
  Button5->setEnabled(false);
  GroupBox1->hide();
}

void TForm1::ShowOpened(const OpenResult& result, const std::string& path) {
  if (!result.ok()) {
    services_.prompt.Show(
        {SlotOf(result.error), slot::kError, PathAndReason(path, result.systemError, ReasonSlot(result))});
    return;
  }
  parameters_.ShowOpened(result.bootSectorRecognised);
  MirrorLists();
  const std::int64_t last = source_.ScanGeometry().LastSector;
  Edit3->setText("0");
  Edit4->setText(QString::number(last));
  StatusPanels[1]->setText(T(slot::kTotalSectors) + QString::number(last + 1));
  view_.ShowSector(0);
  MirrorView();
  Memo1->setEnabled(true);
  Edit1->setEnabled(true);
  Button5->setEnabled(true);
  GroupBox1->show();
}

void TForm1::Button1Click() {
  CloseSourceAndView();
  const std::string entry = DriveComboBox1->currentText().toStdString();
  const std::string path = DevicePathOfEntry(entry);
  ShowOpened(source_.OpenPartition(path, entry), path);
}

void TForm1::Button10Click() {
  // A cancelled choice leaves the open source open.
  const auto path = services_.dialogs.OpenImagePath(ImageFolder());
  if (!path) return;
  CloseSourceAndView();
  QSettings().setValue(kImageFolderKey, QFileInfo(QString::fromStdString(*path)).absolutePath());
  ShowOpened(source_.OpenImageFile(*path), *path);
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

void TForm1::RunRescue() {
  if (!source_.IsOpen()) return;
  ScanRequest request;
  request.saveFolder = Edit2->text().toStdString();
  request.firstSectorText = Edit3->text().toStdString();
  request.lastSectorText = Edit4->text().toStdString();
  request.typeMask = typeMask_;
  const ScanResult result = scan_.Run(request);
  if (result.ran) QSettings().setValue(kSaveFolderKey, Edit2->text());
  if (!result.ran) {
    if (result.refusal == Refusal::None) return;
    std::string detail = result.refusalDetail;
    if (result.refusal == Refusal::DestinationUntraced) detail = result.refusedPath;
    services_.prompt.Show({SlotOf(result.refusal), slot::kError, detail.empty() ? std::string() : "\n" + detail});
    if (result.refusal == Refusal::NoSaveFolder || result.refusal == Refusal::FolderOnSource ||
        result.refusal == Refusal::DestinationUntraced ||
        result.refusal == Refusal::ReportOnSource || result.refusal == Refusal::FolderBusy ||
        result.refusal == Refusal::FolderUnwritable) {
      Edit2->setFocus();
    }
    return;
  }
  StatusPanels[0]->setText(T(slot::kRescuedFile) + QString::number(result.rescued));
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

void TForm1::Button11Click() { RunGuarded([this] { RunBackup(); }); }

void TForm1::RunBackup() {
  if (!source_.IsOpen()) return;
  const BackupRange range{Edit3->text().toStdString(), Edit4->text().toStdString()};
  if (const Refusal refusal = backup_.CheckRange(range); refusal != Refusal::None) {
    ShowError(SlotOf(refusal));
    return;
  }
  const auto target = services_.dialogs.SaveImagePath(ImageFolder());
  if (!target) return;
  QSettings().setValue(kImageFolderKey, QFileInfo(QString::fromStdString(*target)).absolutePath());
  backupRunning_ = true;
  const BackupResult result = backup_.Run(range, *target);
  backupRunning_ = false;
  if (!result.ran && result.refusal != Refusal::None) {
    services_.prompt.Show({SlotOf(result.refusal), slot::kError,
                           result.refusedPath.empty()
                               ? std::string()
                               : "\n" + PathAndReason(result.refusedPath, 0, SlotOf(result.refusedKind))});
  }
  show();
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
    ShowError(refusal);
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
  QString start = Edit2->text();
  if (start.size() > 1 && start.endsWith('/')) start.chop(1);  // the root keeps its slash
  if (const auto folder = services_.dialogs.ChooseFolder(start.toStdString())) {
    Edit2->setText(QString::fromStdString(*folder));
    QSettings().setValue(kSaveFolderKey, Edit2->text());
  }
}

void TForm1::SpeedButton1Click() { ShowHeight(); }

void TForm1::StatusBar1MouseDown(int x) {
  if (x > S(kStatusAddressFrom)) ShowHelp();
}

void TForm1::ShowHelp() {
  if (help_ == nullptr) help_ = new HelpWindow(this);
  help_->show();
  help_->raise();
  help_->activateWindow();
}

}  // namespace vellumark
