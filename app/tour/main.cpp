// A guided run of the window program for the README's pictures: it opens an
// image, searches and rescues it into a folder and backs it up, and saves a
// picture of every window on the way (with the window manager's frame) as the
// user would see it. The disk is made slow, as a real one is, so that the
// progress windows are seen with work under way. Run it under an X server
// with a window manager (scripts/screenshots does).
//
// Usage: vellumark-screenshot-tour IMAGE RESCUE_FOLDER BACKUP_IMAGE OUT_DIR
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <iostream>
#include <thread>

#include "access/posix_platform_source.h"
#include "ui/main_window.h"
#include "texts/message_table.h"
#include "ui/qt_dialogs.h"

namespace {

using namespace vellumark;

// A disk that delivers a set number of bytes a second, after a seek for
// every read, as a spinning disk does.
class SlowDisk final : public PlatformSource {
 public:
  static constexpr double kBytesPerSecond = 40e6;
  static constexpr double kSeekSeconds = 0.008;

  bool Open(const std::string& path) override { return disk_.Open(path); }
  OpenFailure LastOpenFailure() const override { return disk_.LastOpenFailure(); }
  std::optional<std::int64_t> PartitionLength() override { return disk_.PartitionLength(); }
  std::optional<std::uint32_t> PartitionSectorSize() override { return disk_.PartitionSectorSize(); }
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override { return disk_.Seek(offset, origin); }
  std::int64_t Read(void* destination, std::size_t count) override {
    Wait(count);
    return disk_.Read(destination, count);
  }
  std::int64_t ReadAt(void* destination, std::size_t count, std::int64_t offset) override {
    Wait(count);
    return disk_.ReadAt(destination, count, offset);
  }
  void Close() override { disk_.Close(); }
  bool IsOpen() const override { return disk_.IsOpen(); }
  std::optional<std::uint64_t> DeviceNumber() override { return disk_.DeviceNumber(); }
  std::optional<FileId> OpenFileId() override { return disk_.OpenFileId(); }
  // The demonstration image is mounted nowhere: for the picture of the
  // question a mounted source asks, the disk says it is, where mounts names.
  std::vector<std::string> ReadWriteMounts() override { return mounts.empty() ? disk_.ReadWriteMounts() : mounts; }
  std::vector<std::string> mounts;

 private:
  static void Wait(std::size_t count) {
    std::this_thread::sleep_for(std::chrono::duration<double>(kSeekSeconds + static_cast<double>(count) / kBytesPerSecond));
  }
  PosixPlatformSource disk_;
};

// The dialogs answered with the tour's own paths.
struct TourDialogs final : WindowDialogs {
  std::string image, backup;
  std::optional<std::string> OpenImagePath(const std::string&) override { return image; }
  std::optional<std::string> SaveImagePath(const std::string&) override { return backup; }
  std::optional<std::string> ChooseFolder(const std::string&) override { return std::nullopt; }
  bool OpenAddress(const std::string&) override { return true; }
};

// Lets the windows draw (and the window manager frame them) for a while,
// holding up whatever operation pumped the events that got here.
void Settle(int milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

// Saves the screen under the widget's window, its frame included, and
// under a menu opened from it.
void Picture(QWidget* widget, const std::string& file, const QWidget* menu = nullptr) {
  QWidget* top = widget->window();
  QRect frame = top->frameGeometry();
  if (menu != nullptr) frame = frame.united(menu->frameGeometry());
  // What lies off the screen has nothing to grab; a grab that comes back
  // empty while the server is busy is tried again.
  frame = frame.intersected(top->screen()->geometry());
  QPixmap shot;
  for (int attempt = 0; attempt < 5 && shot.isNull(); ++attempt) {
    if (attempt > 0) Settle(300);
    shot = top->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
  }
  if (!shot.save(QString::fromStdString(file))) {
    std::cerr << "could not save " << file << " (" << frame.x() << "," << frame.y() << " " << frame.width() << "x"
              << frame.height() << ")\n";
  }
  else std::cout << file << "\n";
}

// Watches the windows while an operation runs: each progress window is
// pictured once its work is under way, and each message box once, then
// answered with its default button.
class Watcher : public QObject {
 public:
  Watcher(TForm1& window, std::string outDir) : window_(window), outDir_(std::move(outDir)) {
    timer_.setInterval(50);
    connect(&timer_, &QTimer::timeout, this, [this] { Look(); });
    timer_.start();
  }
  // What the next search-and-backup window and the next message box are;
  // cancel: the box is answered with its Cancel rather than its default.
  void Expect(std::string progress, std::string message, bool cancel = false) {
    progressName_ = std::move(progress);
    messageName_ = std::move(message);
    cancel_ = cancel;
    seen_.invalidate();
  }

 private:
  void Look() {
    if (busy_) return;
    busy_ = true;
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      Settle(600);
      // Pictured with its frame: the window manager may take a moment more.
      for (int i = 0; i < 25 && box->frameGeometry() == box->geometry(); ++i) Settle(200);
      Settle(300);
      if (!messageName_.empty()) Picture(box, outDir_ + "/" + messageName_ + ".png");
      messageName_.clear();
      if (cancel_ && box->escapeButton() != nullptr) box->escapeButton()->click();
      else if (QAbstractButton* button = box->defaultButton()) button->click();
      else box->accept();
      cancel_ = false;
    } else if (window_.Form2()->isVisible() && !rescuePictured_) {
      // The demonstration's carving is short: it is held for a second at
      // first sight, so that its next report has a pace to show, and
      // pictured then; then paused, and resumed.
      if (!carvingHeld_) {
        carvingHeld_ = true;
        Settle(1100);
        // The next report may be the carving's last: looked at at once.
        timer_.setInterval(0);
      } else {
        timer_.setInterval(50);
        rescuePictured_ = true;
        Settle(400);
        Picture(window_.Form2(), outDir_ + "/rescue-progress.png");
        window_.Form2()->SpeedButton1->click();
        Settle(600);
        Picture(window_.Form2(), outDir_ + "/rescue-paused.png");
        window_.Form2()->SpeedButton1->click();
      }
    } else if (window_.Form3()->isVisible() && !progressName_.empty()) {
      if (!seen_.isValid()) seen_.start();
      if (seen_.elapsed() > 1200) {
        Settle(400);
        Picture(window_.Form3(), outDir_ + "/" + progressName_ + ".png");
        progressName_.clear();
      }
    }
    busy_ = false;
  }

  TForm1& window_;
  std::string outDir_;
  QTimer timer_;
  QElapsedTimer seen_;
  bool carvingHeld_ = false;
  std::string progressName_, messageName_;
  bool rescuePictured_ = false;
  bool cancel_ = false;
  bool busy_ = false;
};

// The first row whose verdict is the word of verdictSlot, if any.
QTreeWidgetItem* RowWithVerdict(QTreeWidget* list, int verdictSlot) {
  for (int row = 0; row < list->topLevelItemCount(); ++row) {
    QTreeWidgetItem* item = list->topLevelItem(row);
    if (item->text(ResultsWindow::kVerdict) == QString::fromUtf8(Text(verdictSlot))) return item;
  }
  return nullptr;
}

int Tour(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("Vellumark");
  // The tour's remembered folders are its own, not the user's.
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QFileInfo(argv[3]).absolutePath());
  TranslateQtTexts();

  QWidget* dialogParent = nullptr;
  QtPrompt prompt(dialogParent);
  TourDialogs dialogs;
  dialogs.image = argv[1];
  dialogs.backup = argv[3];
  const std::string out = argv[4];
  auto disk = std::make_unique<SlowDisk>();
  SlowDisk& slowDisk = *disk;
  TForm1 window({prompt, dialogs}, std::move(disk));
  dialogParent = &window;
  window.ApplyTexts();
  window.move(40, 30);
  window.show();
  Watcher watcher(window, out);

  QTimer::singleShot(0, [&] {
    Settle(1000);
    window.Button10Click();  // Open IMG file
    window.chkOriginalNames->setChecked(true);
    Settle(800);
    Picture(&window, out + "/main-window.png");
    window.SpeedButton1->click();  // More >>
    Settle(800);
    Picture(&window, out + "/main-window-expanded.png");
    window.SpeedButton1->click();
    Settle(400);
    // The File menu, opened as a click on it would.
    window.menuBar()->setActiveAction(window.MenuFile->menuAction());
    Settle(600);
    Picture(&window, out + "/main-window-menu.png", window.MenuFile);
    window.MenuFile->close();
    window.menuBar()->setActiveAction(nullptr);
    Settle(300);

    window.Edit2->setText(QString::fromStdString(argv[2]));
    // The question a source mounted read-write asks before the rescue,
    // answered with Cancel.
    slowDisk.mounts = {"/media/user/LOST-DISK"};
    watcher.Expect("", "mounted-source", true);
    window.Button12Click();
    slowDisk.mounts.clear();
    Settle(300);

    watcher.Expect("search-progress", "final-message");
    window.Button12Click();  // search, rescue, final message
    if (ResultsWindow* results = window.Results()) {
      // Beside the main window, over its right part, on the screen.
      const QRect screen = window.screen()->availableGeometry();
      const QRect frame = results->frameGeometry();
      results->move(std::clamp(window.frameGeometry().right() - 500, screen.left(), screen.right() - frame.width()),
                    std::clamp(160, screen.top(), std::max(screen.top(), screen.bottom() - frame.height())));
      // A document that came back whole selected, its preview below.
      if (QTreeWidgetItem* whole = RowWithVerdict(results->List(), slot::kVerdictWhole)) {
        results->List()->setCurrentItem(whole);
      }
      Settle(800);
      Picture(results, out + "/results-window.png");
      // A damaged document selected: its fault in plain words.
      if (QTreeWidgetItem* damaged = RowWithVerdict(results->List(), slot::kVerdictDamaged)) {
        results->List()->setCurrentItem(damaged);
        Settle(500);
        Picture(results, out + "/results-window-damaged.png");
      }
      results->close();
    }

    watcher.Expect("backup-progress", "backup-message");
    // Backup to IMG file, of the first 32 MiB: long enough to be seen.
    window.Edit3->setText("0");
    window.Edit4->setText("65535");
    window.Button11Click();
    Settle(300);
    QApplication::quit();
  });
  return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "usage: vellumark-screenshot-tour IMAGE RESCUE_FOLDER BACKUP_IMAGE OUT_DIR\n";
    return 2;
  }
  ChooseLanguageFromSystem();
  return Tour(argc, argv);
}
