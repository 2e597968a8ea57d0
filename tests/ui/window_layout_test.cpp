// The main window in each language at the shipped fonts, on the screen the
// offscreen configuration beside this test gives (a 1366x768 laptop, or a
// 1920x1080 screen at scale 2, which is 960x540 logical pixels): the window
// on the screen collapsed and expanded, every caption measured against the
// room its control leaves it, no two controls over one another, at the
// window's own size and at its smallest, and the sector dump whole at the
// size the window opens at where the screen has the room.
#include <QAbstractItemView>
#include <QApplication>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QTextBlock>
#include <QtTest>

#include "access/posix_platform_source.h"
#include "support/fixtures.h"
#include "texts/message_table.h"
#include "ui/main_window.h"
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

// Each text a control shows: a list's entries, a button's or label's text
// (its access key's ampersand aside).
QStringList CaptionsOf(const QWidget* control) {
  QStringList texts;
  if (const auto* box = qobject_cast<const QComboBox*>(control)) {
    for (int i = 0; i < box->count(); ++i) texts << box->itemText(i);
  } else if (const auto* button = qobject_cast<const QAbstractButton*>(control)) {
    texts << QString(button->text()).remove('&');
  } else if (const auto* label = qobject_cast<const QLabel*>(control)) {
    texts << (label->buddy() != nullptr ? QString(label->text()).remove('&') : label->text());
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

  // Every visible control inside parent, at any depth, but not inside a
  // list or an edit box (their own parts).
  static QWidgetList Controls(const QWidget* parent) {
    QWidgetList controls;
    for (QWidget* child : parent->findChildren<QWidget*>()) {
      if (!child->isVisibleTo(parent) || child->isWindow()) continue;
      if (qobject_cast<QLabel*>(child) || qobject_cast<QAbstractButton*>(child) || qobject_cast<QComboBox*>(child) ||
          qobject_cast<QLineEdit*>(child) || qobject_cast<DumpView*>(child)) {
        if (qobject_cast<QComboBox*>(child->parentWidget()) || qobject_cast<QLineEdit*>(child->parentWidget())) continue;
        if (qobject_cast<QAbstractScrollArea*>(child->parentWidget()->parentWidget())) continue;
        controls << child;
      }
    }
    return controls;
  }

  static QRect InWindow(const QWidget* control) {
    return QRect(control->mapTo(control->window(), QPoint(0, 0)), control->size());
  }

  static void CheckCaptionsFit(const QWidget* window, const QString& where) {
    for (const QWidget* control : Controls(window)) {
      if (control->objectName() == "DriveComboBox1" || control->objectName().startsWith("StatusPanel") ||
          control->objectName() == "Label5") {
        continue;  // data, the open source's path (shortened) and the wrapped steps
      }
      const QFontMetrics metrics(control->font());
      const int room = CaptionRoom(control, control->width(), control->height());
      for (const QString& text : CaptionsOf(control)) {
        QVERIFY2(metrics.horizontalAdvance(text) <= room,
                 qPrintable(where + ": \"" + text + "\" in " + control->objectName() + " needs " +
                            QString::number(metrics.horizontalAdvance(text)) + " of " + QString::number(room)));
        QVERIFY2(metrics.height() <= control->height(), qPrintable(where + ": " + control->objectName() + " too low"));
      }
    }
  }

  static void CheckNoOverlap(const QWidget* window, const QString& where) {
    const QWidgetList controls = Controls(window);
    const QRect inside = window->rect();
    for (int i = 0; i < controls.size(); ++i) {
      QVERIFY2(inside.contains(InWindow(controls[i])), qPrintable(where + ": " + controls[i]->objectName() + " leaves the window"));
      for (int j = i + 1; j < controls.size(); ++j) {
        if (controls[i]->isAncestorOf(controls[j]) || controls[j]->isAncestorOf(controls[i])) continue;
        QVERIFY2(!InWindow(controls[i]).intersects(InWindow(controls[j])),
                 qPrintable(where + ": " + controls[i]->objectName() + " over " + controls[j]->objectName()));
      }
    }
  }

  static void CheckOnScreen(const QWidget* window, const QString& where) {
    const QRect screen = window->screen()->availableGeometry();
    const QRect frame = window->frameGeometry();
    QVERIFY2(screen.contains(frame), qPrintable(where + QString(": %1,%2 %3x%4 on %5x%6")
                                                            .arg(frame.x()).arg(frame.y()).arg(frame.width())
                                                            .arg(frame.height()).arg(screen.width()).arg(screen.height())));
  }

  // The window at its own size and at its smallest: everything readable.
  static void CheckBothSizes(TForm1& window, const QString& where) {
    QApplication::processEvents();
    CheckOnScreen(&window, where);
    CheckCaptionsFit(&window, where);
    CheckNoOverlap(&window, where);
    const QSize own = window.size();
    window.resize(window.minimumSize());
    QApplication::processEvents();
    CheckCaptionsFit(&window, where + " (smallest)");
    CheckNoOverlap(&window, where + " (smallest)");
    window.resize(own);
    QApplication::processEvents();
  }

 private slots:
  void initTestCase() {
    dir = std::make_unique<test::TempDir>();
    // Remembered folders go to this run's own settings, not the user's.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir->path().string()));
    image = *dir / "fat.img";
    QCOMPARE(test::Run("mkfs.vfat -C -F 16 -s 2 " + image + " 8192 >/dev/null 2>&1"), 0);
    dialogs.openPath = image;
    qInfo("screen %dx%d logical pixels", QGuiApplication::primaryScreen()->size().width(),
          QGuiApplication::primaryScreen()->size().height());
  }

  void fitsTheScreenCollapsedAndExpanded_data() {
    QTest::addColumn<int>("language");
    QTest::newRow("English") << static_cast<int>(Language::English);
    QTest::newRow("Simplified Chinese") << static_cast<int>(Language::SimplifiedChinese);
    QTest::newRow("Traditional Chinese") << static_cast<int>(Language::TraditionalChinese);
  }

  void fitsTheScreenCollapsedAndExpanded() {
    QFETCH(int, language);
    const QString name = QTest::currentDataTag();
    ChooseLanguage(static_cast<Language>(language));
    TForm1 window(WindowServices{prompt, dialogs}, std::make_unique<PosixPlatformSource>());
    window.ApplyTexts();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // Resizable, within limits the screen can hold.
    const QRect screen = window.screen()->availableGeometry();
    QVERIFY(window.maximumWidth() > screen.width() && window.maximumHeight() > screen.height());
    QVERIFY2(window.minimumSizeHint().width() <= screen.width() && window.minimumSizeHint().height() <= screen.height(),
             qPrintable(name + QString(": smallest %1x%2").arg(window.minimumSizeHint().width()).arg(window.minimumSizeHint().height())));

    // Collapsed, nothing open: the top row and the status bar only.
    QVERIFY(!window.Memo1->isVisible());
    CheckBothSizes(window, name + " collapsed");
    const int collapsedHeight = window.height();

    // A source open, collapsed and expanded.
    window.Button10->click();
    QVERIFY(window.GroupBox1->isVisible());
    CheckBothSizes(window, name + " open");
    window.SpeedButton1->click();
    QVERIFY(window.Memo1->isVisible());
    QVERIFY(window.height() > collapsedHeight);
    CheckBothSizes(window, name + " expanded");

    // Where the screen has the room, the header and the 16 lines of the
    // 512-byte sector show whole, without scrolling either way.
    if (screen.height() >= 700) {
      QCOMPARE(window.Memo1->font().pixelSize(), DumpView::kFullPixels);
      QCOMPARE(window.Memo1->blockCount(), 17);
      QCOMPARE(window.Memo1->verticalScrollBar()->maximum(), 0);
      QCOMPARE(window.Memo1->horizontalScrollBar()->maximum(), 0);
    }
    qInfo("%s: %dx%d expanded (smallest %dx%d), dump font %d px", qPrintable(name), window.width(), window.height(),
          window.minimumSize().width(), window.minimumSize().height(), window.Memo1->font().pixelSize());

    // The drive list takes the width the window gains.
    const int listWidth = window.DriveComboBox1->width();
    window.resize(window.width() + 100, window.height());
    QApplication::processEvents();
    QCOMPARE(window.DriveComboBox1->width(), listWidth + 100);
    // It opens wide enough for its longest entry.
    const QFontMetrics metrics(window.DriveComboBox1->font());
    for (int i = 0; i < window.DriveComboBox1->count(); ++i) {
      QVERIFY(metrics.horizontalAdvance(window.DriveComboBox1->itemText(i)) < window.DriveComboBox1->view()->minimumWidth());
    }

    // Maximized, as any window may be.
    window.showMaximized();
    QApplication::processEvents();
    QVERIFY(window.isMaximized());

    // Collapsing again gives the height back.
    window.showNormal();
    window.SpeedButton1->click();
    QVERIFY(!window.Memo1->isVisible());
    CheckOnScreen(&window, name + " collapsed again");
    ChooseLanguage(Language::English);
  }

  // The results window opens no larger than the screen has room for.
  void theResultsWindowFitsTheScreen() {
    TForm1 window(WindowServices{prompt, dialogs}, std::make_unique<PosixPlatformSource>());
    ResultsWindow results({}, WindowServices{prompt, dialogs}, &window);
    results.show();
    const QSize room = results.screen()->availableGeometry().size();
    QVERIFY2(results.width() <= room.width() && results.height() <= room.height(),
             qPrintable(QString("%1x%2").arg(results.width()).arg(results.height())));
  }
};

QTEST_MAIN(WindowLayoutTest)
#include "window_layout_test.moc"
