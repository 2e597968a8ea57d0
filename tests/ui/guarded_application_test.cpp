// The window program when memory runs out: an event handler (a rescue runs
// in one) that throws std::bad_alloc unwinds to the application object,
// which hands it to the program's action instead of aborting; the program
// itself then ends with a message and status 1.
#include <QPushButton>
#include <QSettings>
#include <QtTest>
#include <filesystem>

#include "access/memory_platform_source.h"
#include "support/fixtures.h"
#include "ui/guarded_application.h"
#include "ui/main_window.h"

using namespace vellumark;

namespace {

// Reads past a point fail for want of memory, as a read into a freshly
// allocated buffer might on a starved machine.
class StarvedSource final : public PlatformSource {
 public:
  StarvedSource(std::vector<std::uint8_t> bytes, std::int64_t starvedFrom) : starvedFrom_(starvedFrom) {
    inner_.Add("disk.img", std::move(bytes));
  }
  bool Open(const std::string& path) override { return inner_.Open(path); }
  OpenFailure LastOpenFailure() const override { return inner_.LastOpenFailure(); }
  std::optional<std::int64_t> PartitionLength() override { return inner_.PartitionLength(); }
  std::optional<std::uint32_t> PartitionSectorSize() override { return inner_.PartitionSectorSize(); }
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override {
    position_ = inner_.Seek(offset, origin);
    return position_;
  }
  std::int64_t Read(void* destination, std::size_t count) override {
    if (position_ >= starvedFrom_) throw std::bad_alloc();
    return inner_.Read(destination, count);
  }
  std::int64_t ReadAt(void* destination, std::size_t count, std::int64_t offset) override {
    if (offset + static_cast<std::int64_t>(count) > starvedFrom_) throw std::bad_alloc();
    return inner_.ReadAt(destination, count, offset);
  }
  void Close() override { inner_.Close(); }
  bool IsOpen() const override { return inner_.IsOpen(); }
  std::optional<std::uint64_t> DeviceNumber() override { return std::nullopt; }
  std::optional<FileId> OpenFileId() override { return std::nullopt; }

 private:
  MemoryPlatformSource inner_;
  std::int64_t starvedFrom_;
  std::int64_t position_ = 0;
};

struct QuietPrompt : Prompt {
  std::vector<int> shown;
  void Show(const Message& m) override { shown.push_back(m.textSlot); }
  bool AskYesNo(const Message&) override { return false; }
};

struct NoDialogs : WindowDialogs {
  std::optional<std::string> OpenImagePath(const std::string&) override { return "disk.img"; }
  std::optional<std::string> SaveImagePath(const std::string&) override { return std::nullopt; }
  std::optional<std::string> ChooseFolder(const std::string&) override { return std::nullopt; }
  bool OpenAddress(const std::string&) override { return true; }
};

// Throws from its event handler when sent a user event.
class Thrower : public QObject {
 public:
  int delivered = 0;
  bool event(QEvent* e) override {
    if (e->type() != QEvent::User) return QObject::event(e);
    ++delivered;
    if (delivered == 1) throw std::bad_alloc();
    return true;
  }
};

GuardedApplication& App() { return *static_cast<GuardedApplication*>(qApp); }

}  // namespace

class GuardedApplicationTest : public QObject {
  Q_OBJECT

  test::TempDir settings;

 private slots:
  void initTestCase() {
    // Remembered folders go to this run's own settings, not the user's.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(settings.path().string()));
  }

  void badAllocInAHandlerReachesTheActionAndEventsGoOn() {
    int actions = 0;
    App().OnOutOfMemory([&] { ++actions; });
    Thrower thrower;
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QCoreApplication::sendPostedEvents(&thrower);
    QCOMPARE(actions, 1);
    QCOMPARE(thrower.delivered, 2);  // the next event was delivered as ever
    QVERIFY(App().RanOutOfMemory());
  }

  // A rescue started by a click runs out of memory in its search: the run
  // unwinds (its folder lock is given back, nothing is left in the folder),
  // the main window is back in place of the progress window, and the
  // application's action is told.
  void rescueRunningOutOfMemoryUnwindsToTheAction() {
    test::TempDir dir;
    QuietPrompt prompt;
    NoDialogs dialogs;
    TForm1 window(WindowServices{prompt, dialogs},
                  std::make_unique<StarvedSource>(std::vector<std::uint8_t>(1 << 20), 256 * 1024));
    window.ApplyTexts();
    window.show();
    window.Button10->click();
    QVERIFY(window.GroupBox1->isVisible());
    window.Edit2->setText(QString::fromStdString(dir.path().string()));
    int actions = 0;
    App().OnOutOfMemory([&] { ++actions; });
    QTest::mouseClick(window.Button12, Qt::LeftButton);
    QCOMPARE(actions, 1);
    QVERIFY(std::filesystem::is_empty(dir.path()));
    QVERIFY(window.isVisible() && !window.Form3()->isVisible() && !window.Form2()->isVisible());
    App().OnOutOfMemory({});
  }

  // The program itself, made to run out of memory from its start (every
  // allocation of 64 KiB or more fails, the sector source's read-ahead
  // window among them): a message and status 1, not an abort.
  void windowProgramEndsWithAMessageAndStatusOne() {
    if (!VELLUMARK_CAN_PRELOAD) QSKIP("a sanitizer's runtime must be the first library loaded");
    int status = -1;
    const std::string err = test::RunOutput(
        "QT_QPA_PLATFORM=offscreen LANG=C LC_ALL= LD_PRELOAD=" VELLUMARK_FAILING_NEW
        " VELLUMARK_FAIL_NEW_FROM=65536 timeout 60 " VELLUMARK_WINDOW_PROGRAM " 2>&1 >/dev/null",
        &status);
    QCOMPARE(status, 1);
    QVERIFY2(err.find("Out of memory! The operation was stopped.\n") != std::string::npos, err.c_str());
    QVERIFY2(err.find("terminate") == std::string::npos, err.c_str());
  }
};

int main(int argc, char** argv) {
  GuardedApplication application(argc, argv);
  GuardedApplicationTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "guarded_application_test.moc"
