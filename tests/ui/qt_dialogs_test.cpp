// The real dialogs, offscreen, each looked at while it is open and then
// dismissed: their titles, filters and buttons in the chosen language.
#include "ui/qt_dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>
#include <functional>

#include "common/message_slots.h"
#include "texts/message_table.h"
#include "ui/progress_windows.h"

using namespace vellumark;

namespace {

// Calls look with the modal dialog that open brings up, then closes it.
template <typename Dialog>
void WhileOpen(const std::function<void()>& open, const std::function<void(Dialog*)>& look) {
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    QVERIFY(dialog != nullptr);
    seen = true;
    look(dialog);
    dialog->reject();
  });
  open();
  QVERIFY(seen);
}

bool HasChinese(const QString& text) {
  return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x2E80; });
}

}  // namespace

class QtDialogsTest : public QObject {
  Q_OBJECT

  QWidget* parent = nullptr;

 private slots:

  void textsFollowTheLanguage_data() {
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("cancel");  // Qt's own Cancel button
    QTest::newRow("English") << static_cast<int>(Language::English) << "Cancel";
    QTest::newRow("Simplified Chinese") << static_cast<int>(Language::SimplifiedChinese) << "取消";
    QTest::newRow("Traditional Chinese") << static_cast<int>(Language::TraditionalChinese) << "取消";
  }

  void textsFollowTheLanguage() {
    QFETCH(int, language);
    QFETCH(QString, cancel);
    const auto chosen = static_cast<Language>(language);
    ChooseLanguage(chosen);
    TranslateQtTexts();
    QtDialogs dialogs(parent);
    const bool english = chosen == Language::English;

    WhileOpen<QFileDialog>([&] { QVERIFY(!dialogs.ChooseFolder("/tmp")); }, [&](QFileDialog* dialog) {
      QCOMPARE(dialog->windowTitle(), QString::fromUtf8(Text(slot::kFolderChooserTitle)));
      QCOMPARE(HasChinese(dialog->windowTitle()), !english);
    });
    WhileOpen<QFileDialog>([&] { QVERIFY(!dialogs.OpenImagePath("/tmp")); }, [&](QFileDialog* dialog) {
      const QStringList filters = dialog->nameFilters();
      QCOMPARE(filters.size(), 2);
      for (const char* pattern : {"*.img", "*.dd", "*.raw", "*.bin", "*.iso"}) QVERIFY(filters[0].contains(pattern));
      QVERIFY(filters[1].endsWith("(*)"));
      QCOMPARE(HasChinese(filters.join("")), !english);
      // Qt's own buttons are in the same language.
      QStringList buttons;
      for (const QPushButton* button : dialog->findChildren<QPushButton*>()) buttons << button->text().remove('&');
      QVERIFY2(std::any_of(buttons.begin(), buttons.end(), [&](const QString& b) { return b.startsWith(cancel); }),
               qPrintable(buttons.join(", ")));
    });
    WhileOpen<QFileDialog>([&] { QVERIFY(!dialogs.SaveImagePath("/tmp")); }, [&](QFileDialog* dialog) {
      QVERIFY(dialog->nameFilters()[0].contains("*.img"));
    });

    // The search window's Cancel before any backup has run.
    TForm3 search;
    QCOMPARE(search.Button1->text(), QString::fromUtf8(Text(slot::kCancel)));
    QCOMPARE(HasChinese(search.Button1->text()), !english);
    ChooseLanguage(Language::English);
    TranslateQtTexts();
  }

  // Message boxes keep their caption whole in the title bar: the box is at
  // least as wide as the caption plus the window manager's buttons.
  void messageBoxesAreWideEnoughForTheirCaption() {
    QtPrompt prompt(parent);
    for (int caption : {slot::kFinished, slot::kPrompt, slot::kError}) {
      WhileOpen<QMessageBox>([&] { prompt.Show({slot::kTotalSectors, caption, "1"}); }, [&](QMessageBox* box) {
        box->adjustSize();
        QVERIFY(box->width() >= QFontMetrics(box->font()).horizontalAdvance(box->windowTitle()) + 100);
      });
    }
  }

  // A question whose answers are two actions names them on its buttons,
  // the first the default, with Cancel beside them; Escape cancels.
  void choicesAreNamedOnTheirButtons() {
    QtPrompt prompt(parent);
    const int choices[] = {slot::kBackUpFirst, slot::kRescueAnyway};
    const Message question{slot::kMountedReadWrite, slot::kPrompt, "\n/media/ann/LOST"};
    for (const std::size_t clicked : {0u, 1u}) {
      QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box != nullptr);
        QVERIFY(box->text().endsWith("Mounted at:\n/media/ann/LOST"));
        QStringList texts;
        for (const QAbstractButton* button : box->buttons()) texts << button->text();
        QVERIFY2(texts.contains("Back up first") && texts.contains("Rescue anyway") && texts.contains("Cancel"),
                 qPrintable(texts.join(", ")));
        QCOMPARE(box->defaultButton()->text(), QString("Back up first"));
        for (QAbstractButton* button : box->buttons()) {
          if (button->text() == QString::fromUtf8(Text(choices[clicked]))) button->click();
        }
      });
      QCOMPARE(prompt.Choose(question, choices), std::optional<std::size_t>(clicked));
    }
    QTimer::singleShot(0, [] {
      QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape);
    });
    QCOMPARE(prompt.Choose(question, choices), std::nullopt);
  }
};

QTEST_MAIN(QtDialogsTest)
#include "qt_dialogs_test.moc"
