// The main window in each language at the shipped fonts, on a 1366x768
// screen (see the offscreen configuration beside this test): every caption
// measured against the room its control leaves it, no two controls over one
// another, the expanded window on the screen, and the sector dump whole.
#include <QAbstractItemView>
#include <QApplication>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QSettings>
#include <QtTest>

#include "access/posix_platform_source.h"
#include "support/fixtures.h"
#include "ui/main_window.h"
#include "texts/message_table.h"
#include "ui/window_metrics.h"

using namespace vellumark;

namespace {

struct NoPrompt : Prompt {
  void Show(const Message&) override {}
  bool AskYesNo(const Message&) override { return false; }
};

struct FakeDialogs : WindowDialogs {
  std::optional<std::string> openPath;
  std::optional<std::string> OpenImagePath(const std::string&) override { return openPath; }
  std::optional<std::string> SaveImagePath(const std::string&) override { return {}; }
  std::optional<std::string> ChooseFolder(const std::string&) override { return {}; }
  bool OpenAddress(const std::string&) override { return true; }
};

// Each text a control shows: a list's entries, a button's or label's text.
QStringList CaptionsOf(const QWidget* control) {
  QStringList texts;
  if (const auto* box = qobject_cast<const QComboBox*>(control)) {
    for (int i = 0; i < box->count(); ++i) texts << box->itemText(i);
  } else if (const auto* button = qobject_cast<const QAbstractButton*>(control)) {
    texts << button->text();
  } else if (const auto* label = qobject_cast<const QLabel*>(control)) {
    texts << label->text();
  }
  return texts;
}

}  // namespace

class WindowLayoutTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::TempDir> dir;
  std::string image;
  NoPrompt prompt;
  FakeDialogs dialogs;

  // Every visible control of parent, the status bar's panels aside (they are
  // the status bar's own children).
  static QWidgetList Controls(const QWidget* parent) {
    QWidgetList controls;
    for (QWidget* child : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (child->isVisibleTo(parent) && !child->isWindow()) controls << child;
    }
    return controls;
  }

  static void CheckCaptionsFit(const QWidget* parent, const QString& language) {
    for (const QWidget* control : Controls(parent)) {
      if (control->objectName() == "DriveComboBox1" || control->objectName() == "StatusBar1") continue;
      const QFontMetrics metrics(control->font());
      const int room = CaptionRoom(control, control->width(), control->height());
      for (const QString& text : CaptionsOf(control)) {
        QVERIFY2(metrics.horizontalAdvance(text) <= room,
                 qPrintable(language + ": \"" + text + "\" in " + control->objectName() + " needs " +
                            QString::number(metrics.horizontalAdvance(text)) + " of " + QString::number(room)));
        QVERIFY2(metrics.height() <= control->height(), qPrintable(language + ": " + control->objectName() + " too low"));
      }
    }
  }

  static void CheckNoOverlap(const QWidget* parent, const QString& language) {
    const QWidgetList controls = Controls(parent);
    for (int i = 0; i < controls.size(); ++i) {
      QVERIFY2(parent->rect().contains(controls[i]->geometry()),
               qPrintable(language + ": " + controls[i]->objectName() + " leaves " + parent->objectName()));
      for (int j = i + 1; j < controls.size(); ++j) {
        QVERIFY2(!controls[i]->geometry().intersects(controls[j]->geometry()),
                 qPrintable(language + ": " + controls[i]->objectName() + " over " + controls[j]->objectName()));
      }
    }
  }

 private slots:
  void initTestCase() {
    dir = std::make_unique<test::TempDir>();
    // Remembered folders go to this run's own settings, not the user's.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir->path().string()));
    image = *dir / "fat.img";
    QCOMPARE(test::Run("mkfs.vfat -C -F 16 -s 2 " + image + " 8192 >/dev/null 2>&1"), 0);
    dialogs.openPath = image;
    QCOMPARE(QGuiApplication::primaryScreen()->size(), QSize(1366, 768));
  }

  void everyCaptionFitsAndNothingOverlaps_data() {
    QTest::addColumn<int>("language");
    QTest::newRow("English") << static_cast<int>(Language::English);
    QTest::newRow("Simplified Chinese") << static_cast<int>(Language::SimplifiedChinese);
    QTest::newRow("Traditional Chinese") << static_cast<int>(Language::TraditionalChinese);
  }

  void everyCaptionFitsAndNothingOverlaps() {
    QFETCH(int, language);
    const QString name = QTest::currentDataTag();
    ChooseLanguage(static_cast<Language>(language));
    TForm1 window(WindowServices{prompt, dialogs}, std::make_unique<PosixPlatformSource>());
    window.ApplyTexts();
    window.show();
    // The layout keeps its drawn proportions, grown by one factor at most
    // as far as a 1366x768 screen allows.
    QVERIFY(window.LayoutScale() >= 1.0);
    QCOMPARE(window.width(), qRound(870 * window.LayoutScale()));
    QCOMPARE(window.height(), qRound(238 * window.LayoutScale()));

    // Collapsed, nothing open: the top row and the status bar only.
    CheckCaptionsFit(&window, name);
    CheckNoOverlap(&window, name);
    QVERIFY(!window.Memo1->isVisible());
    QVERIFY(window.StatusBar1->geometry().bottom() == window.height() - 1);

    // A source open and the window expanded: the rescue controls, the dump.
    window.move(100, 500);
    window.Button10->click();
    QVERIFY(window.GroupBox1->isVisible());
    window.SpeedButton1->click();
    QCOMPARE(window.height(), qRound(542 * window.LayoutScale()));
    CheckCaptionsFit(&window, name);
    CheckNoOverlap(&window, name);
    CheckCaptionsFit(window.GroupBox1, name);
    CheckNoOverlap(window.GroupBox1, name);
    // Moved up so that its lower edge, status bar and all, is on the screen.
    const QRect screen = window.screen()->availableGeometry();
    QVERIFY2(screen.contains(window.frameGeometry()),
             qPrintable(name + QString(": %1,%2 %3x%4").arg(window.x()).arg(window.y()).arg(window.width()).arg(window.height())));

    // The header and the 16 lines of the 512-byte sector, whole, without
    // scrolling either way.
    QCOMPARE(window.Memo1->blockCount(), 17);
    QApplication::processEvents();
    QCOMPARE(window.Memo1->verticalScrollBar()->maximum(), 0);
    QCOMPARE(window.Memo1->horizontalScrollBar()->maximum(), 0);
    QTextCursor end = window.Memo1->textCursor();
    end.movePosition(QTextCursor::End);
    QVERIFY(window.Memo1->cursorRect(end).bottom() < window.Memo1->viewport()->height());
    const QFontMetrics dump(window.Memo1->font());
    const int lineWidth = dump.horizontalAdvance(window.Memo1->document()->firstBlock().text());
    QVERIFY(lineWidth <= window.Memo1->viewport()->width());

    // The drive list opens wide enough for its longest entry.
    const QFontMetrics metrics(window.DriveComboBox1->font());
    for (int i = 0; i < window.DriveComboBox1->count(); ++i) {
      QVERIFY(metrics.horizontalAdvance(window.DriveComboBox1->itemText(i)) <
              window.DriveComboBox1->view()->minimumWidth());
    }

    // The status bar's texts fit their panels.
    qInfo("%s: layout scale %.2f, dump font %d px", qPrintable(name), window.LayoutScale(), window.Memo1->font().pixelSize());
    for (QLabel* panel : {window.StatusPanels[0], window.StatusPanels[1], window.StatusPanels[2]}) {
      QVERIFY2(QFontMetrics(panel->font()).horizontalAdvance(panel->text()) <= panel->width(),
               qPrintable(name + ": " + panel->text()));
    }
    ChooseLanguage(Language::English);
  }
};

QTEST_MAIN(WindowLayoutTest)
#include "window_layout_test.moc"
