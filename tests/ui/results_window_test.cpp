// The list of rescued documents: opened by a rescue through the main window,
// and on its own with inspections made up to reach every verdict.
#include "ui/results_window.h"

#include <QHeaderView>
#include <QSettings>
#include <QtTest>
#include <filesystem>
#include <set>

#include "access/memory_platform_source.h"
#include "access/posix_platform_source.h"
#include "support/fat_volume.h"
#include "support/fixtures.h"
#include "ui/main_window.h"
#include "texts/message_table.h"
#include "texts/rescue_summary.h"

using namespace vellumark;
namespace fs = std::filesystem;

namespace {

struct FakeDialogs : WindowDialogs {
  std::optional<std::string> openPath;
  std::vector<std::string> opened;
  bool handled = true;  // whether the desktop has a program for the address
  std::optional<std::string> OpenImagePath(const std::string&) override { return openPath; }
  std::optional<std::string> SaveImagePath(const std::string&) override { return {}; }
  std::optional<std::string> ChooseFolder(const std::string&) override { return {}; }
  bool OpenAddress(const std::string& address) override {
    opened.push_back(address);
    return handled;
  }
};

QStringList Column(const QTreeWidget* list, int column) {
  QStringList texts;
  for (int row = 0; row < list->topLevelItemCount(); ++row) texts << list->topLevelItem(row)->text(column);
  return texts;
}

void ClickHeading(QTreeWidget* list, int column) {
  QHeaderView* header = list->header();
  const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

DocumentInspection Saved(const std::string& name, std::int64_t length, std::size_t runs, Verdict verdict) {
  DocumentInspection d;
  d.record = {"/rescued/" + name, DocumentKind::Word, 0, length, std::vector<SectorRun>(runs, {0, 1}), true, {}, {}};
  d.verdict = verdict;
  return d;
}

}  // namespace

class ResultsWindowTest : public QObject {
  Q_OBJECT

  test::TempDir dir;
  SilentPrompt prompt;
  FakeDialogs dialogs;
  int rescues = 0;

  // Rescues from a zeroed image holding the given corpus documents at the
  // given sectors, into a fresh folder.
  // Of each, only the first keptBytes are there when fewer are given.
  std::unique_ptr<TForm1> Rescue(const std::vector<std::pair<std::string, std::size_t>>& documents, fs::path& out,
                                 std::size_t keptBytes = SIZE_MAX) {
    std::vector<std::uint8_t> image(2048 * 512);
    for (const auto& [name, sector] : documents) {
      const auto bytes = test::ReadFileBytes(std::string(VELLUMARK_CORPUS_DIR) + "/doc/" + name);
      const auto kept = static_cast<std::ptrdiff_t>(std::min(keptBytes, bytes.size()));
      std::copy(bytes.begin(), bytes.begin() + kept, image.begin() + static_cast<std::ptrdiff_t>(sector * 512));
    }
    auto platform = std::make_unique<MemoryPlatformSource>();
    platform->Add("disk.img", std::move(image));
    out = fs::path(dir.path()) / ("out" + std::to_string(++rescues));
    fs::create_directory(out);
    dialogs = FakeDialogs{};
    dialogs.openPath = "disk.img";
    auto window = std::make_unique<TForm1>(WindowServices{prompt, dialogs}, std::move(platform));
    window->ApplyTexts();
    window->show();
    window->Button10->click();
    window->Edit2->setText(QString::fromStdString(out.string() + "/"));
    window->Button12->click();
    return window;
  }

 private slots:
  void initTestCase() {
    // Remembered folders go to this run's own settings, not the user's.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir.path().string()));
  }

  void aRescueListsWhatItWrote() {
    const std::string document = std::string(VELLUMARK_CORPUS_DIR) + "/doc/52420.doc";
    QVERIFY2(fs::exists(document), ("missing " + document).c_str());
    fs::path out;
    const auto window = Rescue({{"47950_normal.doc", 100}, {"52420.doc", 400}}, out);
    ResultsWindow* results = window->Results();
    QVERIFY(results && results->isVisible());
    QStringList written;
    for (const auto& entry : fs::directory_iterator(out)) {
      if (entry.path().extension() == ".DOC") written << QString::fromStdString(entry.path().filename().string());
    }
    QTreeWidget* list = results->List();
    QStringList names = Column(list, ResultsWindow::kName);
    QCOMPARE(written.size(), 2);
    written.sort(), names.sort();
    QCOMPARE(names, written);
    for (const QString& verdict : Column(list, ResultsWindow::kVerdict)) QVERIFY(!verdict.isEmpty());

    QTreeWidgetItem* second = list->topLevelItem(1);
    list->setCurrentItem(second);
    const std::string path = out.string() + "/" + second->text(ResultsWindow::kName).toStdString();
    int matched = 0;
    for (const DocumentInspection& d : window->Scan().Report()) {
      if (d.record.outputName != path || ++matched != 1) continue;
      const QString shown = results->Preview()->toPlainText();
      QVERIFY(shown.contains("Title: " + QString::fromStdString(d.properties.title) + "\n"));
      QVERIFY(shown.contains("Type: Word\n"));
      QVERIFY(shown.endsWith("\n\n" + QString::fromStdString(d.preview)));
    }
    QCOMPARE(matched, 1);
    const QPoint center = list->visualItemRect(second).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, center);  // a double click follows a click
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, center);
    QCOMPARE(dialogs.opened, std::vector<std::string>{"file://" + path});

    list->sortByColumn(ResultsWindow::kSize, Qt::AscendingOrder);
    const QStringList sizes = Column(list, ResultsWindow::kSize);
    QVERIFY(sizes[0].toLongLong() < sizes[1].toLongLong());
  }

  // Nothing found: the window opens all the same, its list empty, its
  // summary saying so and where the report is.
  void aRescueThatFindsNothingShowsAnEmptyListAndItsSummary() {
    fs::path out;
    const auto window = Rescue({}, out);
    QCOMPARE(window->StatusPanels[0]->text(), QString("Rescued file 0"));
    ResultsWindow* results = window->Results();
    QVERIFY(results != nullptr && results->isVisible());
    QCOMPARE(results->List()->topLevelItemCount(), 0);
    QCOMPARE(results->Summary()->text(), QString::fromStdString("Documents found: 0   saved: 0   not saved: 0\nReport: " +
                                                                 out.string() + "/rescue-report.csv"));
    QVERIFY(results->OpenFolderButton()->isVisible());
  }

  // A document whose header survived and little else: no rebuild holds
  // together, and it is listed, nameless, as damaged beyond rebuilding;
  // the counts add up.
  void aDocumentFoundButNotRebuiltIsListedWithWhy() {
    fs::path out;
    const auto window = Rescue({{"52420.doc", 100}}, out, 512);
    ResultsWindow* results = window->Results();
    QVERIFY(results != nullptr && results->isVisible());
    QTreeWidget* list = results->List();
    int damaged = 0;
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
      const QTreeWidgetItem* item = list->topLevelItem(row);
      if (item->text(ResultsWindow::kNotSavedReason) != QString(Text(slot::kNotSavedDamaged))) continue;
      ++damaged;
      QCOMPARE(item->text(ResultsWindow::kName), QString());
    }
    QCOMPARE(damaged, 1);
    QVERIFY2(results->Summary()->text().startsWith("Documents found: 1   saved: 0   not saved: 1"),
             qPrintable(results->Summary()->text()));
  }

  void madeUpInspectionsShowTheirVerdictAndProperties() {
    DocumentInspection whole = Saved("TEST_A.DOC", 10000, 3, Verdict::Whole);
    whole.properties = {"Minutes", "Ann Lee", 1236866700};
    whole.preview = "The meeting opened at nine.";
    whole.record.originalName = "Minutes.doc";
    whole.record.originalFolder = "Board/2009";
    DocumentInspection damaged = Saved("TEST_B.DOC", 900, 1, Verdict::Damaged);
    damaged.fault = "WordDocument stream ends early";
    damaged.faultKind = FaultKind::Structure;
    DocumentInspection reassembled = Saved("TEST_D.DOC", 20000, 7, Verdict::Whole);
    reassembled.record.reassembled = true;
    DocumentInspection partial = Saved("TEST_E.TXT", 300, 4, Verdict::Partial);
    partial.record.partialText = true;
    // Documents not saved are listed too (see the summary's test).
    ResultsWindow window({whole, damaged, reassembled, partial}, WindowServices{prompt, dialogs});
    window.show();

    QTreeWidget* list = window.List();
    QCOMPARE(window.windowTitle(), QString("Rescue File"));
    QCOMPARE(list->headerItem()->text(ResultsWindow::kFragments), QString("Fragments"));
    QCOMPARE(list->headerItem()->text(ResultsWindow::kReassembled), QString("Reassembled from"));
    QCOMPARE(Column(list, ResultsWindow::kName), QStringList({"TEST_A.DOC", "TEST_B.DOC", "TEST_D.DOC", "TEST_E.TXT"}));
    QCOMPARE(Column(list, ResultsWindow::kVerdict), QStringList({"whole", "damaged", "whole", "partial"}));
    // The name and folder the file system's records gave, where one matched.
    QVERIFY(!list->isColumnHidden(ResultsWindow::kOriginal));
    QCOMPARE(list->headerItem()->text(ResultsWindow::kOriginal), QString("Original name and folder"));
    QCOMPARE(Column(list, ResultsWindow::kOriginal), QStringList({"/Board/2009/Minutes.doc", "", "", ""}));
    QCOMPARE(Column(list, ResultsWindow::kFragments), QStringList({"3", "1", "7", "4"}));
    // Only the document put back together around foreign clusters says so.
    QCOMPARE(Column(list, ResultsWindow::kReassembled), QStringList({"", "", "7", ""}));
    QCOMPARE(window.Preview()->toPlainText(),
             QString::fromStdString("Original name and folder: /Board/2009/Minutes.doc\nTitle: Minutes\nAuthor: Ann Lee\nLast saved: " + LastSavedText(1236866700) +
                                    " UTC\nType: Word\nVerdict: whole\n\nThe meeting opened at nine."));
    list->setCurrentItem(list->topLevelItem(1));
    QVERIFY(window.Preview()->toPlainText().contains("Last saved: \n"));
    QVERIFY(window.Preview()->toPlainText().startsWith("Title: \n"));
    // The fault in plain words, the checks' detail after them.
    QVERIFY2(window.Preview()->toPlainText().contains(
                 "Verdict: damaged - Its inner structure does not check: parts of it are missing, or belong to "
                 "another file. (WordDocument stream ends early)\n"),
             qPrintable(window.Preview()->toPlainText()));

    // As text "900" would sort after "10000" whichever way.
    ClickHeading(list, ResultsWindow::kSize);
    const bool ascending = list->header()->sortIndicatorOrder() == Qt::AscendingOrder;
    QCOMPARE(Column(list, ResultsWindow::kSize),
             ascending ? QStringList({"300", "900", "10000", "20000"}) : QStringList({"20000", "10000", "900", "300"}));
    ClickHeading(list, ResultsWindow::kSize);
    QCOMPARE(Column(list, ResultsWindow::kSize).first(), ascending ? QString("20000") : QString("300"));

    window.findChild<QPushButton*>("CloseButton")->click();
    QVERIFY(!window.isVisible());
  }

  // Each kind of fault reads in plain words in every language, the checks'
  // own detail after them; a damaged document with no kind shows none.
  void faultsReadInPlainWordsInEveryLanguage() {
    const struct {
      FaultKind kind;
      int slot;
    } kinds[] = {{FaultKind::Unreadable, slot::kFaultUnreadable},
                 {FaultKind::CutShort, slot::kFaultCutShort},
                 {FaultKind::Structure, slot::kFaultStructure},
                 {FaultKind::NotRebuilt, slot::kFaultNotRebuilt}};
    for (const Language language : {Language::English, Language::SimplifiedChinese, Language::TraditionalChinese}) {
      ChooseLanguage(language);
      std::set<QString> sentences;
      for (const auto& k : kinds) {
        DocumentInspection damaged = Saved("TEST_B.DOC", 900, 1, Verdict::Damaged);
        damaged.faultKind = k.kind;
        damaged.fault = "detail of the check";
        ResultsWindow window({damaged}, WindowServices{prompt, dialogs});
        const QString sentence = QString::fromUtf8(Text(language, k.slot));
        QVERIFY(!sentence.isEmpty());
        sentences.insert(sentence);
        QVERIFY2(window.Preview()->toPlainText().contains(
                     QString::fromUtf8(Text(slot::kVerdictDamaged)) + " - " + sentence + " (detail of the check)\n"),
                 qPrintable(window.Preview()->toPlainText()));
      }
      QCOMPARE(sentences.size(), std::size(kinds));  // each kind its own words
    }
    ChooseLanguage(Language::English);
  }

  // "Original names and folders" hands the choice to the rescue: a document
  // deleted from a folder of a FAT32 that mtools wrote is written under its
  // name in that folder and listed with them; unchecked, the same document
  // keeps its TEST_ name and the list still shows where it was.
  void originalNamesFromTheVolumesRecords() {
    VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
    VELLUMARK_REQUIRE_TOOL("mcopy");
    const fs::path document = fs::path(VELLUMARK_CORPUS_DIR) / "doc" / "52420.doc";
    QVERIFY(fs::exists(document));
    test::TempDir volumeDir;
    test::FatVolume volume(volumeDir, 32, 8);
    volume.Mtools("mmd -i " + volume.image() + " ::Akten");
    volume.Copy(document.string(), "Akten/Bericht.doc");
    volume.Delete("::Akten/Bericht.doc");
    QVERIFY(volume.ok());
    for (const bool original : {true, false}) {
      const fs::path out = fs::path(dir.path()) / (original ? "named-original" : "named-test");
      fs::create_directory(out);
      dialogs = FakeDialogs{};
      dialogs.openPath = volume.image();
      TForm1 window(WindowServices{prompt, dialogs}, std::make_unique<PosixPlatformSource>());
      window.ApplyTexts();
      window.show();
      window.Button10->click();
      QCOMPARE(window.chkOriginalNames->text().remove('&'), QString("Original names and folders"));
      QVERIFY(!window.chkOriginalNames->isChecked());  // TEST_ names stay the default
      window.chkOriginalNames->setChecked(original);
      window.Edit2->setText(QString::fromStdString(out.string()));
      window.Edit4->setText("20000");
      window.Button12->click();
      ResultsWindow* results = window.Results();
      QVERIFY(results != nullptr);
      QTreeWidget* list = results->List();
      QCOMPARE(list->topLevelItemCount(), 1);
      QTreeWidgetItem* row = list->topLevelItem(0);
      QCOMPARE(row->text(ResultsWindow::kOriginal), QString("/Akten/Bericht.doc"));
      QVERIFY(!list->isColumnHidden(ResultsWindow::kOriginal));
      QVERIFY(results->Preview()->toPlainText().startsWith("Original name and folder: /Akten/Bericht.doc\n"));
      if (original) {
        QCOMPARE(row->text(ResultsWindow::kName), QString("Bericht.doc"));
        QVERIFY(test::ReadFileBytes((out / "Akten" / "Bericht.doc").string()) == test::ReadFileBytes(document.string()));
      } else {
        QVERIFY2(row->text(ResultsWindow::kName).startsWith("TEST_"), qPrintable(row->text(ResultsWindow::kName)));
        QVERIFY(!fs::exists(out / "Akten"));
      }
    }
  }

  // The summary of the rescue tops the list, the verdicts explain
  // themselves, the list sorts by verdict, and "Open folder" opens the
  // destination; with nothing saved the window still says what was found.
  void summaryTooltipsVerdictOrderAndFolder() {
    dialogs = FakeDialogs{};
    DocumentInspection unsaved = Saved("TEST_C.DOC", 512, 1, Verdict::Unchecked);
    unsaved.record.saved = false;
    unsaved.record.saveFailure = "No space left on device: /media/usb/TEST_C.DOC";
    ScanResult result;
    result.ran = true;
    result.notWritten = 1;
    result.writeFailure = "No space left on device: /media/usb/TEST_C.DOC";
    result.reportPath = "/media/usb/rescue-report.csv";
    result.reportWritten = true;
    const std::vector<DocumentInspection> found{Saved("TEST_A.DOC", 100, 1, Verdict::Whole),
                                                Saved("TEST_B.DOC", 100, 1, Verdict::Damaged), unsaved};
    ResultsWindow window(found, WindowServices{prompt, dialogs});
    window.ShowOutcome(RescueSummary(result, found), "/media/usb");
    window.show();
    QCOMPARE(window.Summary()->text(),
             QString("Documents found: 3   saved: 2   not saved: 1 (No space left on device: /media/usb/TEST_C.DOC)\n"
                     "Report: /media/usb/rescue-report.csv"));
    QTreeWidget* list = window.List();
    // No record matched any: no column of empty original names.
    QVERIFY(list->isColumnHidden(ResultsWindow::kOriginal));
    // By name: the document not saved, without one, comes first.
    QCOMPARE(list->topLevelItem(0)->toolTip(ResultsWindow::kVerdict), QString(Text(slot::kExplainUnchecked)));
    QCOMPARE(list->topLevelItem(1)->toolTip(ResultsWindow::kVerdict), QString(Text(slot::kExplainWhole)));
    QCOMPARE(list->topLevelItem(2)->toolTip(ResultsWindow::kVerdict), QString(Text(slot::kExplainDamaged)));
    ClickHeading(list, ResultsWindow::kVerdict);
    const QStringList verdicts = Column(list, ResultsWindow::kVerdict);
    QVERIFY(verdicts == QStringList({"damaged", "unchecked", "whole"}) ||
            verdicts == QStringList({"whole", "unchecked", "damaged"}));
    window.OpenFolderButton()->click();
    QCOMPARE(dialogs.opened, std::vector<std::string>{"file:///media/usb"});

    ResultsWindow none({unsaved}, WindowServices{prompt, dialogs});
    result.reportWritten = false;
    none.ShowOutcome(RescueSummary(result, {unsaved}), "/media/usb");
    // The document not saved is listed all the same, without a name, with
    // why; it has no file to open.
    QCOMPARE(none.List()->topLevelItemCount(), 1);
    QTreeWidgetItem* row = none.List()->topLevelItem(0);
    QCOMPARE(row->text(ResultsWindow::kName), QString());
    QCOMPARE(row->text(ResultsWindow::kNotSavedReason),
             QString("not written: No space left on device: /media/usb/TEST_C.DOC"));
    QVERIFY(none.Summary()->text().startsWith("Documents found: 1   saved: 0   not saved: 1 ("));
    dialogs.opened.clear();
    none.show();
    const QPoint center = none.List()->visualItemRect(row).center();
    QTest::mouseDClick(none.List()->viewport(), Qt::LeftButton, {}, center);
    QVERIFY(dialogs.opened.empty());

    // A stopped run says where it stopped, as its final message did, and
    // whether the carving was cut short.
    for (const bool carvingCut : {true, false}) {
      result.reportWritten = true;
      result.stopped = RunStop{1234, "40.25%", true, carvingCut};
      ResultsWindow stopped(found, WindowServices{prompt, dialogs});
      stopped.ShowOutcome(RescueSummary(result, found), "/media/usb");
      const QStringList lines = stopped.Summary()->text().split('\n');
      QCOMPARE(lines.size(), 3);
      QCOMPARE(lines[1], QString(Text(carvingCut ? slot::kStoppedCarvingCut : slot::kStoppedCarvingDone)) +
                             "40.25%, 1234");
      QCOMPARE(lines[2], QString("Report: /media/usb/rescue-report.csv"));
    }
  }

  // A file the desktop has no program for is said so, not left to the
  // terminal.
  void aFileWithoutAProgramSaysSo() {
    struct Recording : Prompt {
      std::vector<Message> shown;
      void Show(const Message& m) override { shown.push_back(m); }
      bool AskYesNo(const Message&) override { return false; }
    } recording;
    dialogs = FakeDialogs{};
    ResultsWindow window({Saved("TEST_A.DOC", 10000, 1, Verdict::Whole)}, WindowServices{recording, dialogs});
    window.show();
    QTreeWidget* list = window.List();
    const QPoint center = list->visualItemRect(list->topLevelItem(0)).center();
    const auto doubleClick = [&] {
      QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, center);  // a double click follows a click
      QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, center);
      QTest::qWait(QApplication::doubleClickInterval() + 50);  // the next click starts afresh
    };
    doubleClick();
    QVERIFY(recording.shown.empty());
    dialogs.handled = false;
    doubleClick();
    QCOMPARE(dialogs.opened.size(), std::size_t{2});
    QCOMPARE(recording.shown.size(), std::size_t{1});
    QCOMPARE(recording.shown[0].textSlot, slot::kFailedToOpenFile);
    QCOMPARE(recording.shown[0].suffix,
             std::string(" /rescued/TEST_A.DOC: no program on this system opens files of this kind"));
  }
};

QTEST_MAIN(ResultsWindowTest)
#include "results_window_test.moc"
