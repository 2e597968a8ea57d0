// The main window driven as a user would, offscreen, with message boxes and
// dialogs answered by fakes.
#include <QApplication>
#include <QSettings>
#include <QtTest>
#include <filesystem>
#include <optional>
#include <span>

#include <sys/stat.h>

#include "access/memory_platform_source.h"
#include "access/block_devices.h"
#include "access/posix_platform_source.h"
#include "support/fat_volume.h"
#include "support/fixtures.h"
#include "ui/main_window.h"
#include "texts/message_table.h"

using namespace vellumark;

namespace {

struct RecordingPrompt : Prompt {
  std::vector<Message> shown;
  bool answer = false;
  std::optional<std::size_t> choice;  // nothing: Cancel
  std::vector<int> choices;           // the choices last offered
  void Show(const Message& m) override { shown.push_back(m); }
  bool AskYesNo(const Message& m) override {
    shown.push_back(m);
    return answer;
  }
  std::optional<std::size_t> Choose(const Message& m, std::span<const int> offered) override {
    shown.push_back(m);
    choices.assign(offered.begin(), offered.end());
    return choice;
  }
};

struct FakeDialogs : WindowDialogs {
  std::vector<std::string> startFolders;  // where the image dialogs started
  std::optional<std::string> openPath, savePath, folder;
  std::vector<std::string> opened;
  bool handled = true;  // whether the desktop has a program for the address
  std::optional<std::string> OpenImagePath(const std::string& start) override {
    startFolders.push_back(start);
    return openPath; }
  std::optional<std::string> SaveImagePath(const std::string&) override { return savePath; }
  std::optional<std::string> ChooseFolder(const std::string&) override { return folder; }
  bool OpenAddress(const std::string& address) override {
    opened.push_back(address);
    return handled;
  }
};

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::TempDir> dir;
  std::string image;  // a FAT32 volume holding one deleted Word document
  std::string document;
  RecordingPrompt prompt;
  FakeDialogs dialogs;
  std::unique_ptr<TForm1> window;

  int LastSlot() const { return prompt.shown.empty() ? 0 : prompt.shown.back().textSlot; }

  // The message before the final count: where a stopped run stopped, under
  // its own caption; empty when the run was not stopped.
  std::optional<Message> StopBeforeTheCount() const {
    const auto& shown = prompt.shown;
    if (shown.size() < 2 || shown.back().textSlot != slot::kRescuedFile) return std::nullopt;
    const Message& stop = shown[shown.size() - 2];
    if (stop.captionSlot != slot::kRunStopped) return std::nullopt;
    return stop;
  }

  // What happened while an operation ran in the application's event loop,
  // as it does when started by a click.
  struct LoopRun {
    int lastWindowClosed = 0;  // times the program was told its last window closed
    bool hung = false;         // the operation had to be ended from outside
  };

  // Runs act (which starts an operation) inside the event loop, calling
  // watch at every pump until it returns true. Should the operation never
  // end, it is ended after a minute so that the test fails rather than hangs.
  LoopRun RunInEventLoop(const std::function<void()>& act, const std::function<bool()>& watch) {
    LoopRun run;
    QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
    QTimer watcher;
    watcher.setInterval(0);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
      if (watch()) watcher.stop();
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    watchdog.setInterval(60'000);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
      run.hung = true;
      window->EndRunningOperation();
    });
    QTimer::singleShot(0, [&] {
      watcher.start();
      watchdog.start();
      act();
      watcher.stop();
      watchdog.stop();
      QApplication::exit(0);
    });
    QApplication::exec();
    run.lastWindowClosed = static_cast<int>(lastClosed.count());
    return run;
  }

 private slots:
  void initTestCase() {
    dir = std::make_unique<test::TempDir>();
    // Remembered folders go to this run's own settings, not the user's.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir->path().string()));
    image = *dir / "fat32.img";
    document = std::string(VELLUMARK_CORPUS_DIR) + "/doc/52420.doc";
    QVERIFY2(std::filesystem::exists(document), ("missing " + document).c_str());
    QCOMPARE(test::Run("mkfs.vfat -C -F 32 " + image + " 100000 >/dev/null 2>&1 && MTOOLS_SKIP_CHECK=1 mcopy -i " +
                       image + " " + document + " ::REPORT.DOC && MTOOLS_SKIP_CHECK=1 mdel -i " + image +
                       " ::REPORT.DOC"),
             0);
    std::filesystem::create_directory(*dir / "out");
  }

  void init() {
    prompt.shown.clear();
    dialogs = FakeDialogs{};
    dialogs.openPath = image;
    window = std::make_unique<TForm1>(WindowServices{prompt, dialogs}, std::make_unique<PosixPlatformSource>());
    window->ApplyTexts();
    window->show();
  }

  void startsCollapsedWithNothingOpen() {
    QCOMPARE(window->windowTitle(), QString("Vellumark 1.3"));
    QVERIFY(!window->Memo1->isVisible());
    const int collapsed = window->height();
    QCOMPARE(window->ComboBox3->count(), 3);
    QCOMPARE(window->ComboBox3->currentIndex(), 0);
    QVERIFY(window->GroupBox1->isHidden());
    // Both kinds of Word document are looked for unless unchecked.
    QVERIFY(window->chkDOC->isChecked() && window->chkDOCX->isChecked());
    QCOMPARE(window->CurrentTypeMask(), type_mask::kWord | type_mask::kDocx);
    QVERIFY(!window->Button4->isEnabled() && !window->Edit1->isEnabled());
    QCOMPARE(window->Edit2->text(), QDir::homePath() + "/");
    window->SpeedButton1->click();
    QVERIFY(window->Memo1->isVisible() && window->height() > collapsed);
    window->SpeedButton1->click();
    QVERIFY(!window->Memo1->isVisible());
    QCOMPARE(window->height(), collapsed);
  }

  void openingAnImageShowsItsGeometryAndSectorZero() {
    window->Button10->click();
    QVERIFY(window->GroupBox1->isVisible());
    QCOMPARE(window->Edit3->text(), QString("0"));
    QCOMPARE(window->Edit4->text(), QString("199999"));
    QCOMPARE(window->StatusPanels[1]->text(), QString("Total Sectors: 200000"));
    QCOMPARE(window->ComboBox2->currentIndex(), 1);  // FAT32
    QCOMPARE(window->ComboBox3->currentIndex(), 0);
    QVERIFY(!window->ComboBox2->isEnabled() && !window->ComboBox1->isEnabled());
    QVERIFY(window->Memo1->toPlainText().startsWith("     0 1  2 3"));
    QVERIFY(window->Button4->isEnabled() && !window->Button3->isEnabled());
    window->Edit1->setText("12");
    window->Button5->click();
    QCOMPARE(window->Edit1->text(), QString("12"));
    QVERIFY(window->Button3->isEnabled());
    window->Button2->click();
    QVERIFY(window->GroupBox1->isHidden());
    QVERIFY(window->Memo1->toPlainText().isEmpty());
  }

  void listsFollowTheReason() {
    window->Button10->click();
    window->ComboBox3->setCurrentIndex(1);
    window->ComboBox3Click();
    QVERIFY(window->ComboBox2->isEnabled() && window->ComboBox1->isEnabled());
    QCOMPARE(window->ComboBox2->currentIndex(), 1);
    QCOMPARE(window->ComboBox1->currentIndex(), 0);  // the boot sector's: mkfs.vfat's 512 bytes for 100 MB
    window->ComboBox3->setCurrentIndex(2);
    window->ComboBox3Click();
    QCOMPARE(window->ComboBox1->currentIndex(), 1);  // FAT32's default for 200,000 sectors: 2 sectors
    window->ComboBox2->setCurrentIndex(2);
    window->ComboBox2Click();
    QCOMPARE(window->ComboBox1->currentIndex(), 3);  // NTFS: 8 sectors, "4K"
    window->ComboBox1->setCurrentIndex(5);
    window->ComboBox1Click();
    QCOMPARE(window->ComboBox1->currentIndex(), 5);
    QCOMPARE(window->ComboBox2->currentIndex(), 2);
  }

  // A stand-in partition whose device holds the temporary folder: neither
  // rescued files nor an image may be written there.
  void writingOntoTheSourcePartitionIsRefused() {
    struct stat folder {};
    QCOMPARE(::stat(dir->path().c_str(), &folder), 0);
    auto platform = std::make_unique<MemoryPlatformSource>();
    platform->Add("/dev/fake1", std::vector<std::uint8_t>(1 << 20)).deviceNumber = folder.st_dev;
    TForm1 onDevice(WindowServices{prompt, dialogs}, std::move(platform));
    onDevice.ApplyTexts();
    onDevice.DriveComboBox1->insertItem(0, "/dev/fake1  1.0 MiB");
    onDevice.DriveComboBox1->setCurrentIndex(0);
    onDevice.Button1->click();
    QVERIFY(onDevice.GroupBox1->isVisibleTo(&onDevice));
    onDevice.Edit2->setText(QString::fromStdString(*dir / "out"));
    prompt.shown.clear();
    onDevice.Button12->click();
    dialogs.savePath = *dir / "never.img";
    onDevice.Button11->click();
    QCOMPARE(prompt.shown.size(), std::size_t{2});
    QCOMPARE(prompt.shown[0].textSlot, 22);
    QCOMPARE(prompt.shown[1].textSlot, 36);
    QVERIFY(!std::filesystem::exists(*dir / "never.img"));
  }

  // A source the system has mounted read-write is said to be so before
  // the rescue, with a choice of what to do named on each button: back it
  // up first (the backup of the open source, no rescue), rescue anyway, or
  // cancel (neither).
  void aMountedSourceOffersItsBackupFirst() {
    const struct {
      std::optional<std::size_t> choice;
      bool rescued, backedUp;
    } cases[] = {{0, false, true}, {1, true, false}, {std::nullopt, false, false}};
    int run = 0;
    for (const auto& c : cases) {
      auto platform = std::make_unique<MemoryPlatformSource>();
      platform->Add("lost.img", test::ReadFileBytes(image)).readWriteMounts = {"/media/ann/LOST"};
      TForm1 mounted(WindowServices{prompt, dialogs}, std::move(platform));
      mounted.ApplyTexts();
      dialogs.openPath = "lost.img";
      mounted.Button10->click();
      mounted.Edit2->setText(QString::fromStdString(*dir / "out"));
      mounted.Edit4->setText("2047");
      const std::string backup = *dir / ("mounted" + std::to_string(++run) + ".img");
      dialogs.savePath = backup;
      prompt.shown.clear();
      prompt.choice = c.choice;
      mounted.Button12->click();
      QVERIFY(!prompt.shown.empty());
      QCOMPARE(prompt.shown.front().textSlot, slot::kMountedReadWrite);
      QCOMPARE(prompt.shown.front().suffix, std::string("\n/media/ann/LOST"));
      QCOMPARE(prompt.choices, (std::vector<int>{slot::kBackUpFirst, slot::kRescueAnyway}));
      QCOMPARE(mounted.Results() != nullptr, c.rescued);
      QCOMPARE(std::filesystem::exists(backup), c.backedUp);
      if (c.backedUp) QCOMPARE(std::filesystem::file_size(backup), std::uintmax_t{2048 * 512});
    }
    // Not mounted: nothing is asked.
    prompt.shown.clear();
    prompt.choices.clear();
    dialogs.openPath = image;
    window->Button10->click();
    window->Edit2->setText(QString::fromStdString(*dir / "out"));
    window->Button12->click();
    QVERIFY(prompt.choices.empty());
    QVERIFY(window->Results() != nullptr);
    prompt.choice.reset();
  }

  void rescueWritesTheDeletedDocument() {
    window->Button10->click();
    window->Edit2->setText(QString::fromStdString(*dir / "out"));
    window->Button12->click();
    QVERIFY(window->isVisible());
    QCOMPARE(window->StatusPanels[0]->text(), QString("Rescued file 1"));
    QCOMPARE(LastSlot(), 27);
    QCOMPARE(prompt.shown.back().suffix, std::string("1"));
    bool found = false;
    for (const auto& entry : std::filesystem::directory_iterator(*dir / "out")) {
      found |= test::ReadFileBytes(entry.path().string()) == test::ReadFileBytes(document);
    }
    QVERIFY(found);

    // The count was of that source: another open clears it.
    window->Button10->click();
    QVERIFY(window->StatusPanels[0]->text().isEmpty());
    // The folder saved to is where the next run starts.
    TForm1 next(WindowServices{prompt, dialogs}, std::make_unique<PosixPlatformSource>());
    QCOMPARE(next.Edit2->text(), QString::fromStdString(*dir / "out"));
  }

  // Documents deleted from a FAT32 volume of 512-byte clusters, each at an
  // odd sector (on no grid of larger clusters): "Formatted" and
  // "Repartitioned" bring every one back whatever cluster size is chosen,
  // as the command line does.
  void everyDocumentOffTheClusterGridComesBack() {
    test::TempDir volumeDir;
    test::FatVolume volume(volumeDir, 32, 1);
    QVERIFY(volume.ok());
    const std::vector<std::string> documents = {"doc/52420.doc", "ooxml/TestEditTime.docx", "doc/47304.doc"};
    std::vector<std::vector<std::uint8_t>> lost;
    std::string names;
    std::int64_t nextCluster = 3;  // the root directory has cluster 2
    for (std::size_t i = 0; i < documents.size(); ++i) {
      const std::string path = std::string(VELLUMARK_CORPUS_DIR) + "/" + documents[i];
      QVERIFY2(std::filesystem::exists(path), path.c_str());
      // After a kept file of one or two clusters, so that it starts at an odd sector.
      const int pad = volume.FirstSectorOf(nextCluster + 1) % 2 == 1 ? 1 : 2;
      volume.Add("K" + std::to_string(i) + ".TXT", std::vector<std::uint8_t>(static_cast<std::size_t>(pad) * 512 - 100, 'k'));
      const std::string name = "D" + std::to_string(i) + std::filesystem::path(path).extension().string();
      volume.Copy(path, name);
      const auto runs = volume.ClusterRuns(name);
      QCOMPARE(runs.size(), std::size_t{1});
      QCOMPARE(volume.FirstSectorOf(runs[0].first) % 2, std::int64_t{1});
      lost.push_back(test::ReadFileBytes(path));
      names += " ::" + name;
      nextCluster = runs[0].second + 1;
    }
    volume.Delete(names);
    QVERIFY(volume.ok());
    dialogs.openPath = volume.image();
    for (const int reason : {1, 2}) {        // Formatted, Repartitioned
      for (const int cluster : {0, 2, 3}) {  // 512, 2K, 4K
        window->Button10->click();
        window->ComboBox3->setCurrentIndex(reason);
        emit window->ComboBox3->activated(reason);
        window->ComboBox1->setCurrentIndex(cluster);
        emit window->ComboBox1->activated(cluster);
        const std::string out = volumeDir / ("out-" + std::to_string(reason) + "-" + std::to_string(cluster));
        std::filesystem::create_directory(out);
        window->Edit2->setText(QString::fromStdString(out));
        // The choices stand as made when the rescue starts.
        QCOMPARE(window->ComboBox3->currentIndex(), reason);
        QCOMPARE(window->ComboBox1->currentIndex(), cluster);
        window->Button12->click();
        QCOMPARE(window->StatusPanels[0]->text(), QString("Rescued file 3"));
        std::vector<std::vector<std::uint8_t>> saved;
        for (const auto& entry : std::filesystem::directory_iterator(out)) saved.push_back(test::ReadFileBytes(entry.path()));
        for (std::size_t i = 0; i < lost.size(); ++i) {
          QVERIFY2(std::find(saved.begin(), saved.end(), lost[i]) != saved.end(),
                   (documents[i] + " not saved, reason " + std::to_string(reason) + ", cluster size " +
                    window->ComboBox1->currentText().toStdString())
                       .c_str());
        }
      }
    }
  }

  // Cancelling the open dialog changes nothing; every open and close leaves
  // the status bar telling of the source that is open, or of none.
  void theStatusBarFollowsTheSource() {
    window->Button10->click();
    const QString total = window->StatusPanels[1]->text();
    QVERIFY(total.startsWith("Total Sectors: "));
    dialogs.openPath.reset();
    window->Button10->click();
    QVERIFY(window->GroupBox1->isVisible() && window->Memo1->isEnabled());
    QCOMPARE(window->StatusPanels[1]->text(), total);
    QVERIFY(!window->Memo1->toPlainText().isEmpty());

    window->Button2->click();
    QVERIFY(window->StatusPanels[1]->text().isEmpty());
    dialogs.openPath = image;
    window->Button10->click();
    QCOMPARE(window->StatusPanels[1]->text(), total);
    // A failed open leaves the image open before, and its view, as it was.
    dialogs.openPath = *dir / "missing.img";
    window->Button10->click();
    QVERIFY(window->GroupBox1->isVisible());
    QCOMPARE(window->StatusPanels[1]->text(), total);
    QVERIFY(!window->Memo1->toPlainText().isEmpty());
    window->Button2->click();
    window->Button10->click();
    QVERIFY(window->GroupBox1->isHidden());
    QVERIFY(window->StatusPanels[1]->text().isEmpty());

    // Each open dialog starts where the last image was; a cancelled one does
    // not move it.
    QCOMPARE(dialogs.startFolders.size(), std::size_t{5});
    QCOMPARE(dialogs.startFolders[1], dir->path().string());
    QCOMPARE(dialogs.startFolders[3], dir->path().string());
  }

  void theDriveListIsReadWhenItOpens() {
    window->DriveComboBox1->clear();
    window->SpeedButton1->click();
    window->DriveComboBox1->showPopup();
    QCOMPARE(static_cast<std::size_t>(window->DriveComboBox1->count()), ListBlockDevices().size());
    window->DriveComboBox1->hidePopup();
  }

  void aFolderChosenIsRemembered() {
    dialogs.folder = dir->path().string();
    window->Button10->click();
    window->Button6->click();
    TForm1 next(WindowServices{prompt, dialogs}, std::make_unique<PosixPlatformSource>());
    QCOMPARE(next.Edit2->text(), QString::fromStdString(dir->path().string()));
  }

  void backupWritesAnImageThatOpensAgain() {
    window->Button10->click();
    window->Edit3->setText("100");
    window->Edit4->setText("299");
    dialogs.savePath = *dir / "backup.img";
    window->Button11->click();
    QCOMPARE(LastSlot(), 47);
    QCOMPARE(std::filesystem::file_size(*dir / "backup.img"), std::uintmax_t{200 * 512});
    QVERIFY(window->isVisible());
  }

  void backupOntoTheOpenImageIsRefused() {
    window->Button10->click();
    const auto before = test::ReadFileBytes(image);
    dialogs.savePath = image;
    prompt.shown.clear();
    window->Button11->click();
    // Refused at once, never asked whether to replace it first.
    QCOMPARE(prompt.shown.size(), std::size_t{1});
    QCOMPARE(LastSlot(), 36);
    QVERIFY(test::ReadFileBytes(image) == before);

    // Another file of that name is asked about, and kept on No.
    test::WriteFileBytes(*dir / "earlier.img", {1, 2, 3});
    dialogs.savePath = *dir / "earlier.img";
    prompt.shown.clear();
    window->Button11->click();
    QCOMPARE(prompt.shown.size(), std::size_t{1});
    QCOMPARE(LastSlot(), slot::kReplaceImage);
    QVERIFY((test::ReadFileBytes(*dir / "earlier.img") == std::vector<std::uint8_t>{1, 2, 3}));
  }

  // Finished names the image and its size, and its map is there by then;
  // an unfinished image kept is said to be kept, where, with its map.
  void theBackupSaysWhatItWroteAndWhatItKept() {
    window->Button10->click();
    window->Edit3->setText("0");
    window->Edit4->setText("2047");
    const std::string target = *dir / "named.img";
    dialogs.savePath = target;
    window->Button11->click();
    QCOMPARE(LastSlot(), 47);
    QCOMPARE(prompt.shown.back().suffix, "\n" + target + "  (1.0 MiB)");

    window->Edit4->setText("99999");
    const std::string unfinished = *dir / "unfinished.img";
    dialogs.savePath = unfinished;
    prompt.shown.clear();
    prompt.answer = false;  // keep the unfinished image
    const LoopRun run = RunInEventLoop([&] { window->Button11->click(); }, [&] {
      if (!window->Form3()->isVisible()) return false;
      window->Form3()->Button1->click();
      return true;
    });
    QVERIFY(!run.hung);
    QCOMPARE(LastSlot(), slot::kUnfinishedImageKept);
    const std::string said = prompt.shown.back().suffix;
    QVERIFY2(said.starts_with(unfinished) && said.find(unfinished + ".map") != std::string::npos, said.c_str());
    QVERIFY(std::filesystem::exists(unfinished + ".map"));
  }

  // The program being ended while a rescue or a backup runs: the rescue
  // stops at once and still writes its report, the backup leaves no image,
  // and no question is waiting for an answer.
  void endingTheProgramStopsWhatRunsAtASafePoint() {
    window->Button10->click();
    std::filesystem::create_directory(*dir / "ended");
    window->Edit2->setText(QString::fromStdString(*dir / "ended"));
    QTimer::singleShot(0, window.get(), [this] { window->EndRunningOperation(); });
    window->Button12->click();
    QCOMPARE(window->StatusPanels[0]->text(), QString("Rescued file 0"));
    QVERIFY(std::filesystem::exists(*dir / "ended/rescue-report.csv"));

    prompt.shown.clear();
    dialogs.savePath = *dir / "ended/never.img";
    QTimer::singleShot(0, window.get(), [this] { window->EndRunningOperation(); });
    window->Button11->click();
    QVERIFY(!std::filesystem::exists(*dir / "ended/never.img"));
    for (const Message& m : prompt.shown) QVERIFY(m.textSlot != 44);
  }

  // The title-bar close of the rescue window is its Stop, whether the
  // carving runs or is paused: the carving ends at once (the one document is
  // not written), the main window comes back, and the program is never told
  // that its last window closed (which would end it, or with the carving
  // paused, leave it running with no window).
  void closingTheRescueWindowStopsTheCarving() {
    for (const bool pausedFirst : {false, true}) {
      window->Button10->click();
      const std::string folder = *dir / (pausedFirst ? "closed-paused" : "closed-running");
      std::filesystem::create_directory(folder);
      window->Edit2->setText(QString::fromStdString(folder));
      bool closed = false, stillShownAfterClose = false;
      const LoopRun run = RunInEventLoop([&] { window->Button12->click(); }, [&] {
        TForm2* rescue = window->Form2();
        if (!rescue->isVisible()) return false;
        if (pausedFirst && !rescue->SpeedButton1->isChecked()) {
          rescue->SpeedButton1->click();
          return false;
        }
        closed = rescue->close() || rescue->close();  // a second close while stopping changes nothing
        stillShownAfterClose = rescue->isVisible();
        return true;
      });
      QVERIFY2(!run.hung, pausedFirst ? "paused" : "running");
      QVERIFY(!closed && stillShownAfterClose);  // the close waits for the carving to stop
      QCOMPARE(run.lastWindowClosed, 0);
      QVERIFY(window->isVisible());
      QVERIFY(!window->Form2()->isVisible() && !window->Form3()->isVisible());
      QCOMPARE(window->StatusPanels[0]->text(), QString("Rescued file 0"));
      QVERIFY(std::filesystem::exists(folder + "/rescue-report.csv"));
      // The final message says the run was stopped: the whole range was
      // searched, the carving cut short.
      const std::optional<Message> stop = StopBeforeTheCount();
      QVERIFY(stop.has_value());
      QCOMPARE(stop->textSlot, slot::kStoppedCarvingCut);
      QCOMPARE(QString::fromStdString(stop->suffix), "100.00%, " + QString::number(window->Scan().LastRun().lastSector));
    }
  }

  // Ending the program closes every window (as a quit does): the progress
  // windows, otherwise kept until their operation ends, then close at once.
  void endingTheProgramClosesTheProgressWindows() {
    for (const bool inCarving : {false, true}) {
      window->Button10->click();
      const std::string folder = *dir / (inCarving ? "ended-carving" : "ended-search");
      std::filesystem::create_directory(folder);
      window->Edit2->setText(QString::fromStdString(folder));
      bool closedAtOnce = false;
      const LoopRun run = RunInEventLoop([&] { window->Button12->click(); }, [&] {
        QWidget* progress = inCarving ? static_cast<QWidget*>(window->Form2()) : window->Form3();
        if (!progress->isVisible() || (!inCarving && window->Scan().SearchStopped())) return false;
        window->EndRunningOperation();
        QApplication::closeAllWindows();
        closedAtOnce = !progress->isVisible();
        return true;
      });
      QVERIFY(!run.hung);
      QVERIFY2(closedAtOnce, inCarving ? "carving" : "search");
      QVERIFY(std::filesystem::exists(folder + "/rescue-report.csv"));
    }
  }

  // The search window's close is its Cancel: the search ends where it is
  // (here as the window appears, before any hit), what was found is carved.
  void closingTheSearchWindowCancelsTheSearch() {
    window->Button10->click();
    std::filesystem::create_directory(*dir / "closed-search");
    window->Edit2->setText(QString::fromStdString(*dir / "closed-search"));
    bool stillShownAfterClose = false;
    const LoopRun run = RunInEventLoop([&] { window->Button12->click(); }, [&] {
      TForm3* search = window->Form3();
      if (!search->isVisible() || window->Scan().SearchStopped()) return false;
      search->close();
      stillShownAfterClose = search->isVisible();
      return true;
    });
    QVERIFY(!run.hung);
    QVERIFY(stillShownAfterClose);
    QCOMPARE(run.lastWindowClosed, 0);
    QVERIFY(window->Scan().Hits().empty());
    QCOMPARE(window->StatusPanels[0]->text(), QString("Rescued file 0"));
    QVERIFY(window->isVisible() && !window->Form3()->isVisible());
    // The final message says where the search stopped; nothing was left to carve.
    const std::optional<Message> stop = StopBeforeTheCount();
    QVERIFY(stop.has_value());
    QCOMPARE(stop->textSlot, slot::kStoppedCarvingDone);
    QVERIFY(!stop->suffix.starts_with("100.00%"));
  }

  // The backup window's close is its Cancel: the user is asked about the
  // unfinished image (here: delete it), and the main window comes back.
  void closingTheBackupWindowCancelsTheBackup() {
    window->Button10->click();
    window->Edit3->setText("0");
    window->Edit4->setText("9999");
    dialogs.savePath = *dir / "closed-backup.img";
    prompt.answer = true;
    bool stillShownAfterClose = false;
    const LoopRun run = RunInEventLoop([&] { window->Button11->click(); }, [&] {
      TForm3* backup = window->Form3();
      if (!backup->isVisible()) return false;
      backup->close();
      stillShownAfterClose = backup->isVisible();
      return true;
    });
    prompt.answer = false;
    QVERIFY(!run.hung);
    QVERIFY(stillShownAfterClose);
    QCOMPARE(run.lastWindowClosed, 0);
    QCOMPARE(LastSlot(), 44);
    QVERIFY(!std::filesystem::exists(*dir / "closed-backup.img"));
    QVERIFY(window->isVisible() && !window->Form3()->isVisible());
  }

  // Paused, the rescue window says so and its button resumes; Escape is its
  // Stop. The carving's labels only ever move forward: the share of the
  // documents done, the sectors walked, never the sector it stands at.
  void theCarvingShowsPausedAndOnlyMovesForward() {
    window->Button10->click();
    std::filesystem::create_directory(*dir / "paused");
    window->Edit2->setText(QString::fromStdString(*dir / "paused"));
    QStringList pausedTexts;
    std::vector<std::pair<int, std::int64_t>> seen;  // percent, sectors walked
    int pumps = 0;
    const LoopRun run = RunInEventLoop([&] { window->Button12->click(); }, [&] {
      TForm2* rescue = window->Form2();
      if (!rescue->isVisible()) return false;
      const QString progress = rescue->Label2->text(), walked = rescue->Label3->text();
      if (walked.contains('/')) {
        seen.emplace_back(progress.section(' ', 1, 1).remove('%').toInt(),
                          walked.section(' ', 2, 2).toLongLong());
      }
      ++pumps;
      if (pumps == 1) {
        rescue->SpeedButton1->click();  // Pause
        pausedTexts << rescue->SpeedButton1->text() << (rescue->Label7->isVisible() ? rescue->Label7->text() : "");
        rescue->SpeedButton1->click();  // Resume
        pausedTexts << rescue->SpeedButton1->text() << (rescue->Label7->isVisible() ? rescue->Label7->text() : "");
        rescue->SpeedButton1->click();  // Pause again, then Escape stops
        QTest::keyClick(rescue, Qt::Key_Escape);
        return true;
      }
      return false;
    });
    QVERIFY(!run.hung);
    QCOMPARE(pausedTexts, QStringList({"Resume", "Paused", "Pause", ""}));
    QVERIFY(window->isVisible() && !window->Form2()->isVisible());
    QCOMPARE(StopBeforeTheCount()->textSlot, slot::kStoppedCarvingCut);

    // A whole run: every report moves forward and the walk ends at the
    // range's end, every document done.
    seen.clear();
    std::filesystem::create_directory(*dir / "forward");
    window->Edit2->setText(QString::fromStdString(*dir / "forward"));
    QString lastProgress, lastWalked;
    const LoopRun whole = RunInEventLoop([&] { window->Button12->click(); }, [&] {
      TForm2* rescue = window->Form2();
      if (!rescue->isVisible()) return false;
      lastProgress = rescue->Label2->text();
      lastWalked = rescue->Label3->text();
      if (lastWalked.contains('/')) {
        seen.emplace_back(lastProgress.section(' ', 1, 1).remove('%').toInt(), lastWalked.section(' ', 2, 2).toLongLong());
      }
      return false;
    });
    QVERIFY(!whole.hung);
    QVERIFY(!seen.empty());
    for (std::size_t i = 1; i < seen.size(); ++i) {
      QVERIFY2(seen[i].second >= seen[i - 1].second, qPrintable(QString("walked %1 after %2").arg(seen[i].second).arg(seen[i - 1].second)));
    }
    QCOMPARE(lastWalked, QString("Sectors done: 200000 / 200000"));
    QVERIFY2(lastProgress.startsWith("Progress: 100%   Documents done: 1 / 1"), qPrintable(lastProgress));
    QVERIFY(window->Form2()->Label1->toolTip().contains("save folder"));
    QVERIFY(window->Form2()->Label5->toolTip().contains("saved or not"));
  }

  // Escape in the search window is its Cancel.
  void escapeCancelsTheSearch() {
    window->Button10->click();
    std::filesystem::create_directory(*dir / "escaped");
    window->Edit2->setText(QString::fromStdString(*dir / "escaped"));
    const LoopRun run = RunInEventLoop([&] { window->Button12->click(); }, [&] {
      TForm3* search = window->Form3();
      if (!search->isVisible() || window->Scan().SearchStopped()) return false;
      QTest::keyClick(search, Qt::Key_Escape);
      return true;
    });
    QVERIFY(!run.hung);
    QCOMPARE(StopBeforeTheCount()->textSlot, slot::kStoppedCarvingDone);
  }

  void refusalsShowTheirMessageOnce() {
    window->Button10->click();
    struct Case {
      std::function<void()> act;
      int slot;
    };
    const Case cases[] = {
        {[&] { window->Edit1->setText("abc"); window->Button5->click(); }, 19},
        {[&] { window->Edit2->setText("/nonexistent/folder"); window->Button12->click(); }, slot::kSaveFolderMissing},
        {[&] { window->Edit2->setText(QString::fromStdString(*dir / "out")); window->Edit3->setText("x");
               window->Button12->click(); }, 23},
        {[&] { window->Button11->click(); }, 35},
        // Both Word boxes unchecked: nothing to rescue.
        {[&] { window->chkDOC->click(); window->chkDOCX->click(); window->Button12->click(); }, 20},
    };
    for (const Case& c : cases) {
      prompt.shown.clear();
      c.act();
      QCOMPARE(prompt.shown.size(), std::size_t{1});
      QCOMPARE(prompt.shown[0].textSlot, c.slot);
      QCOMPARE(prompt.shown[0].captionSlot, 17);
    }
    QCOMPARE(window->CurrentTypeMask(), TypeMask{0});
  }

  // A pipe chosen as an image is refused at once (opening it would wait for
  // a writer), and the message says which path and why.
  void openingAPipeSaysWhatItIs() {
    const std::string pipe = *dir / "pipe";
    QCOMPARE(::mkfifo(pipe.c_str(), 0600), 0);
    dialogs.openPath = pipe;
    window->Button10->click();
    QCOMPARE(prompt.shown.size(), std::size_t{1});
    QCOMPARE(prompt.shown[0].textSlot, 48);
    QCOMPARE(prompt.shown[0].suffix, " " + pipe + ": it is a pipe, not a drive or an image file");
    QVERIFY(window->GroupBox1->isHidden());
  }

  void deletedNeedsARecognisedBootSector() {
    test::WriteFileBytes(*dir / "random.img", test::PatternBytes(1 << 20));
    window->Button10->click();  // a recognised volume first: its lists are fixed
    QVERIFY(!window->ComboBox2->isEnabled());
    dialogs.openPath = *dir / "random.img";
    window->Button10->click();
    QCOMPARE(window->ComboBox3->currentIndex(), 2);
    // Repartitioned, chosen for the user, leaves its lists open to change.
    QVERIFY(window->ComboBox2->isEnabled() && window->ComboBox1->isEnabled());
    window->ComboBox3->setCurrentIndex(0);
    window->ComboBox3Click();
    QCOMPARE(LastSlot(), 70);
    QCOMPARE(window->ComboBox3->currentIndex(), 1);
  }

  // The help opens from the status bar's link (click, or Enter on it), the
  // Help menu and F1, inside the program and in the language of the windows.
  void helpIsReachableFromTheLinkTheMenuAndF1() {
    QCOMPARE(window->HelpLink->text(), QString("Help"));
    QVERIFY(window->HelpLink->focusPolicy() & Qt::TabFocus);
    window->HelpLink->setFocus();
    QTest::keyClick(window->HelpLink, Qt::Key_Return);
    QVERIFY(window->Help() != nullptr && window->Help()->isVisible());
    QVERIFY(window->Help()->Page()->toPlainText().contains("Simple steps"));
    QVERIFY(dialogs.opened.empty());
    window->Help()->close();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_F1);
    QVERIFY(window->Help()->isVisible());
    window->Help()->close();
    window->ActionHelp->trigger();
    QVERIFY(window->Help()->isVisible());
    QCOMPARE(window->ActionHelp->shortcut(), QKeySequence(Qt::Key_F1));
    for (auto [language, link, steps] : {std::tuple{Language::SimplifiedChinese, "帮助", "基本操作"},
                                         std::tuple{Language::TraditionalChinese, "說明", "基本操作"}}) {
      ChooseLanguage(language);
      TForm1 other(WindowServices{prompt, dialogs}, std::make_unique<PosixPlatformSource>());
      other.ApplyTexts();
      QCOMPARE(other.HelpLink->text(), QString::fromUtf8(link));
      other.HelpLink->click();
      const QString page = other.Help()->Page()->toPlainText();
      QVERIFY(page.contains(QString::fromUtf8(steps)) && !page.contains("Simple steps"));
    }
    ChooseLanguage(Language::English);
  }

  void textsFollowTheLanguage() {
    for (auto [language, open] : {std::pair{Language::SimplifiedChinese, "打开分区"},
                                  std::pair{Language::TraditionalChinese, "打開分區"}}) {
      ChooseLanguage(language);
      TForm1 other(WindowServices{prompt, dialogs}, std::make_unique<PosixPlatformSource>());
      other.ApplyTexts();
      QCOMPARE(other.Button1->text(), QString::fromUtf8(open) + "(&D)");
      QCOMPARE(other.font().family(), QString::fromUtf8(TableFont()));
    }
    ChooseLanguage(Language::English);
  }

  void cleanup() { window.reset(); }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
