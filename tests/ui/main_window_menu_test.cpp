// The main window from the keyboard and the menus, and what its messages
// say: the menu bar's operations, access keys that are all different and
// reach a control, Enter on buttons and in the boxes, what is open, and the
// messages' valid ranges and trimmed input.
#include <QApplication>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QtTest>
#include <filesystem>
#include <map>

#include "access/posix_platform_source.h"
#include "support/fixtures.h"
#include "texts/message_table.h"
#include "ui/main_window.h"
#include "ui/qt_dialogs.h"

using namespace vellumark;

namespace {

struct RecordingPrompt : Prompt {
  std::vector<Message> shown;
  void Show(const Message& m) override { shown.push_back(m); }
  bool AskYesNo(const Message& m) override {
    shown.push_back(m);
    return false;
  }
};

struct FakeDialogs : WindowDialogs {
  std::optional<std::string> openPath, savePath;
  std::optional<std::string> OpenImagePath(const std::string&) override { return openPath; }
  std::optional<std::string> SaveImagePath(const std::string&) override { return savePath; }
  std::optional<std::string> ChooseFolder(const std::string&) override { return {}; }
  bool OpenAddress(const std::string&) override { return true; }
};

// The letter after a caption's access-key ampersand; none where it has none.
QChar AccessKey(const QString& text) {
  for (int i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '&') {
      if (text[i + 1] == '&') {
        ++i;
        continue;
      }
      return text[i + 1].toUpper();
    }
  }
  return {};
}

}  // namespace

class MainWindowMenuTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::TempDir> dir;
  std::string image;
  RecordingPrompt prompt;
  FakeDialogs dialogs;
  std::unique_ptr<TForm1> window;

 private slots:
  void initTestCase() {
    dir = std::make_unique<test::TempDir>();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir->path().string()));
    image = *dir / "fat.img";
    QCOMPARE(test::Run("mkfs.vfat -C -F 16 -s 2 " + image + " 8192 >/dev/null 2>&1"), 0);
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

  void cleanup() { window.reset(); }

  void theMenusOpenCloseQuitAndHelp() {
    const QList<QAction*> menus = window->menuBar()->actions();
    QCOMPARE(menus.size(), 2);
    QCOMPARE(menus[0]->text(), QString("&File"));
    QCOMPARE(menus[1]->text(), QString("&Help"));
    QStringList items;
    for (QAction* action : window->MenuFile->actions()) items << action->text();
    QCOMPARE(items, QStringList({"Open &Drive", "Open &IMG file...", "&Close", "", "&Quit"}));
    QVERIFY(!window->ActionClose->isEnabled());

    window->ActionOpenImage->trigger();
    QVERIFY(window->GroupBox1->isVisible() && window->ActionClose->isEnabled());
    window->ActionClose->trigger();
    QVERIFY(window->GroupBox1->isHidden() && !window->ActionClose->isEnabled());

    window->ActionAbout->trigger();
    auto* about = window->findChild<QMessageBox*>("AboutBox");
    QVERIFY(about != nullptr && about->isVisible());
    QVERIFY(about->text().contains("Vellumark 1.3") && about->text().contains("Word documents"));
    about->close();

    QCOMPARE(window->ActionOpenImage->shortcut(), QKeySequence(QKeySequence::Open));
    QCOMPARE(window->ActionQuit->shortcut(), QKeySequence(QKeySequence::Quit));
    window->ActionQuit->trigger();
    QVERIFY(!window->isVisible());
  }

  // In every language each control's key is its own, and a label's key
  // moves the focus to the control it names.
  void accessKeysAreDistinctAndReachTheirControls_data() {
    QTest::addColumn<int>("language");
    QTest::newRow("English") << static_cast<int>(Language::English);
    QTest::newRow("Simplified Chinese") << static_cast<int>(Language::SimplifiedChinese);
    QTest::newRow("Traditional Chinese") << static_cast<int>(Language::TraditionalChinese);
  }

  void accessKeysAreDistinctAndReachTheirControls() {
    QFETCH(int, language);
    ChooseLanguage(static_cast<Language>(language));
    TForm1 other(WindowServices{prompt, dialogs}, std::make_unique<PosixPlatformSource>());
    other.ApplyTexts();
    std::map<QChar, QString> owners;
    auto claim = [&](const QString& text, const QString& owner) {
      const QChar key = AccessKey(text);
      QVERIFY2(!key.isNull(), qPrintable(owner + " has no access key: " + text));
      QVERIFY2(owners.emplace(key, owner).second, qPrintable(owner + " shares " + key + " with " + owners[key]));
    };
    for (QAction* menu : other.menuBar()->actions()) claim(menu->text(), menu->text());
    for (QAbstractButton* button : other.findChildren<QAbstractButton*>()) {
      if (button->text().contains('&')) claim(button->text(), button->objectName());
    }
    for (QLabel* label : other.findChildren<QLabel*>()) {
      if (!label->text().contains('&')) continue;
      claim(label->text(), label->objectName());
      QVERIFY2(label->buddy() != nullptr, qPrintable(label->objectName()));
    }
    QVERIFY(owners.size() >= 17);
    ChooseLanguage(Language::English);
    QCOMPARE(other.Label2->buddy(), other.Edit2);
  }

  // Enter presses the focused button, and in the folder and range boxes
  // starts the rescue they are set for.
  void enterPressesTheFocusedButtonAndStartsTheRescue() {
    window->Button10->setFocus();
    QTest::keyClick(window->Button10, Qt::Key_Return);
    QVERIFY(window->GroupBox1->isVisible());
    window->Edit2->setText(QString::fromStdString(*dir / "out"));
    QTest::keyClick(window->Edit4, Qt::Key_Return);
    QCOMPARE(window->StatusPanels[0]->text(), QString("Rescued file 0"));
    QVERIFY(std::filesystem::exists(*dir / "out/rescue-report.csv"));
  }

  // The status bar names what is open; the drive list no longer names a
  // drive once an image is open. An empty image is refused, saying why.
  void whatIsOpenIsNamed() {
    window->Button10->click();
    QCOMPARE(window->DriveComboBox1->currentIndex(), -1);
    QCOMPARE(window->StatusPanels[2]->toolTip(), QString::fromStdString(image));
    QVERIFY(window->StatusPanels[2]->text().startsWith("Source: "));
    window->Button2->click();
    QVERIFY(window->StatusPanels[2]->text().isEmpty());

    test::WriteFileBytes(*dir / "empty.img", {});
    dialogs.openPath = *dir / "empty.img";
    window->Button10->click();
    QCOMPARE(prompt.shown.size(), std::size_t{1});
    QCOMPARE(prompt.shown[0].textSlot, 48);
    QVERIFY2(prompt.shown[0].suffix.ends_with(": it is empty (0 bytes): there is no sector to read"), prompt.shown[0].suffix.c_str());
    QVERIFY(window->GroupBox1->isHidden());
  }

  // Refused ranges say the valid one; blanks around a number are no fault;
  // a folder typed that is not there is said to be missing.
  void messagesSayTheValidRangeAndTheMissingFolder() {
    window->Button10->click();
    struct Case {
      std::function<void()> act;
      int slot;
      std::string suffix;
    };
    const std::string range = "\nValid range: 0 - 16383";
    const Case cases[] = {
        {[&] { window->Edit1->setText("20000"); window->Button5->click(); }, 19, range},
        {[&] { window->Edit2->setText(QString::fromStdString(*dir / "out")); window->Edit4->setText("20000");
               window->Button12->click(); }, 23, range},
        {[&] { window->Button11->click(); }, 35, range},
        {[&] { window->Edit2->setText(" /nonexistent/folder "); window->Edit4->setText("16383");
               window->Button12->click(); }, slot::kSaveFolderMissing, "\n/nonexistent/folder"},
        {[&] { window->Edit2->setText(""); window->Button12->click(); }, 21, ""},
    };
    for (const Case& c : cases) {
      prompt.shown.clear();
      c.act();
      QCOMPARE(prompt.shown.size(), std::size_t{1});
      QCOMPARE(prompt.shown[0].textSlot, c.slot);
      QCOMPARE(prompt.shown[0].suffix, c.suffix);
      QCOMPARE(prompt.shown[0].captionSlot, slot::kError);
      QCOMPARE(IconOf(prompt.shown[0]), QMessageBox::Critical);
    }
    prompt.shown.clear();
    window->Edit1->setText(" 8191 ");
    window->Button5->click();
    QVERIFY(prompt.shown.empty());
    QCOMPARE(window->Edit1->text(), QString("8191"));
  }

  void theLessObviousControlsExplainThemselves() {
    for (QWidget* control : std::initializer_list<QWidget*>{window->ComboBox3, window->chkDOC, window->chkDOCX,
                                                             window->ComboBox1, window->ComboBox2, window->Button2}) {
      QVERIFY2(!control->toolTip().isEmpty(), qPrintable(control->objectName()));
    }
    QVERIFY(window->Button2->toolTip().contains("program stays open"));
  }
};

QTEST_MAIN(MainWindowMenuTest)
#include "main_window_menu_test.moc"
