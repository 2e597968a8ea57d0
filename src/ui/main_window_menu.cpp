// The main window's menu bar, its access keys and its tooltips: the same
// operations as the buttons, reachable from the keyboard.
#include <QApplication>
#include <QMenuBar>
#include <QMessageBox>

#include "texts/message_table.h"
#include "ui/access_keys.h"
#include "ui/main_window.h"

namespace vellumark {
namespace {

QString T(int slot) { return QString::fromUtf8(Text(slot)); }

void Caption(QAbstractButton* button, int slot, char key) { button->setText(WithAccessKey(T(slot), QChar(key))); }

void Caption(QLabel* label, int slot, char key, QWidget* buddy) {
  label->setText(WithAccessKey(T(slot), QChar(key)));
  label->setBuddy(buddy);
}

}  // namespace

void TForm1::BuildMenus() {
  MenuFile = menuBar()->addMenu(QString());
  MenuFile->setObjectName("MenuFile");
  ActionOpenDrive = MenuFile->addAction(QString(), this, &TForm1::Button1Click);
  ActionOpenImage = MenuFile->addAction(QString(), this, &TForm1::Button10Click);
  ActionOpenImage->setShortcut(QKeySequence::Open);
  ActionClose = MenuFile->addAction(QString(), this, &TForm1::Button2Click);
  ActionClose->setShortcut(QKeySequence::Close);
  MenuFile->addSeparator();
  ActionQuit = MenuFile->addAction(QString(), this, &QWidget::close);
  ActionQuit->setShortcut(QKeySequence::Quit);
  ActionQuit->setMenuRole(QAction::QuitRole);

  MenuHelp = menuBar()->addMenu(QString());
  MenuHelp->setObjectName("MenuHelp");
  ActionHelp = MenuHelp->addAction(QString(), this, &TForm1::ShowHelp);
  ActionHelp->setShortcut(QKeySequence::HelpContents);
  ActionAbout = MenuHelp->addAction(QString(), this, &TForm1::ShowAbout);
  ActionAbout->setMenuRole(QAction::AboutRole);
}

void TForm1::ApplyMenuTexts() {
  MenuFile->setTitle(WithAccessKey(T(slot::kMenuFile), 'F'));
  ActionOpenDrive->setText(WithAccessKey(T(2), 'D'));
  ActionOpenImage->setText(WithAccessKey(T(3), 'I') + "...");
  ActionClose->setText(WithAccessKey(T(4), 'C'));
  ActionQuit->setText(WithAccessKey(T(slot::kMenuQuit), 'Q'));
  MenuHelp->setTitle(WithAccessKey(T(slot::kHelp), 'H'));
  ActionHelp->setText(WithAccessKey(T(slot::kHelp), 'H'));
  ActionAbout->setText(WithAccessKey(T(slot::kMenuAbout), 'A'));
}

// Letters chosen so that no two controls of the window share one, nor a
// control the menus' F and H.
void TForm1::ApplyAccessKeys() {
  Caption(Button1, 2, 'D');
  Caption(Button10, 3, 'I');
  Caption(Button2, 4, 'C');
  Caption(Label12, 78, 'L', DriveComboBox1);
  Caption(Label2, 8, 'S', Edit2);
  Caption(Button6, 9, 'B');
  Caption(Label8, 66, 'R', ComboBox3);
  Caption(Label7, 11, 'Y', ComboBox2);
  Caption(Label6, 12, 'U', ComboBox1);
  Caption(Label3, 13, 'A', Edit3);
  Caption(Button12, 14, 'T');
  Caption(Button11, 15, 'K');
  Caption(SpeedButton1, 62, 'M');
  Caption(Label1, 5, 'E', Edit1);
  Caption(Button5, 6, 'G');
  chkDOC->setText(WithAccessKey("DOC(WPS)", 'W'));
  Caption(chkDOCX, slot::kDocxBox, 'X');
  Caption(chkOriginalNames, slot::kOriginalNamesBox, 'N');
  HelpLink->setText(T(slot::kHelp));
}

void TForm1::ApplyToolTips() {
  Label8->setToolTip(T(slot::kExplainReason));
  ComboBox3->setToolTip(T(slot::kExplainReason));
  Label9->setToolTip(T(slot::kExplainFileTypes));
  chkDOC->setToolTip(T(slot::kExplainFileTypes));
  chkDOCX->setToolTip(T(slot::kExplainFileTypes));
  Label6->setToolTip(T(slot::kExplainClusterSize));
  ComboBox1->setToolTip(T(slot::kExplainClusterSize));
  Label7->setToolTip(T(slot::kExplainFileSystem));
  ComboBox2->setToolTip(T(slot::kExplainFileSystem));
  Button2->setToolTip(T(slot::kExplainClose));
  Label3->setToolTip(T(slot::kExplainRange));
  HelpLink->setToolTip(ActionHelp->shortcut().toString(QKeySequence::NativeText));
}

void TForm1::ShowHelp() {
  if (help_ == nullptr) help_ = new HelpWindow(this);
  help_->show();
  help_->raise();
  help_->activateWindow();
}

// Not modal: the window stays usable while it is open.
void TForm1::ShowAbout() {
  auto* box = new QMessageBox(QMessageBox::Information, T(slot::kMenuAbout),
                              "<p><b>" + T(slot::kCaption).toHtmlEscaped() + "</b></p><p>" +
                                  T(slot::kAboutText).toHtmlEscaped() + "</p>",
                              QMessageBox::Ok, this);
  box->setObjectName("AboutBox");
  box->setAttribute(Qt::WA_DeleteOnClose);
  if (!windowIcon().isNull()) box->setIconPixmap(windowIcon().pixmap(64, 64));
  box->setWindowModality(Qt::NonModal);
  box->show();
}

}  // namespace vellumark
