#include "ui/progress_windows.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QGuiApplication>
#include <QScreen>

#include "common/message_slots.h"
#include "texts/message_table.h"

namespace vellumark {
namespace {

// Small fixed windows without border icons, centred on the desktop. Window
// managers may still offer to close them; see the closeEvent handlers. They
// show while the main window is hidden, so closing one must never count as
// the program's last window closing, which would end the program as soon as
// the operation returns (or, with the rescue paused, leave it running with
// no window at all).
void MakeFixedDialog(QWidget* window, int width, int height) {
  window->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  window->setAttribute(Qt::WA_QuitOnClose, false);
  window->setFixedSize(width, height);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    window->move(screen->availableGeometry().center() - window->rect().center());
  }
}

QLabel* LabelAt(QWidget* parent, const char* name, int left, int top) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->move(left, top);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  label->setMinimumWidth(parent->width() - left - 4);
  return label;
}

QPushButton* ButtonAt(QWidget* parent, const char* name, const QString& caption, int left, int top, int width) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setGeometry(left, top, width, 25);
  // Enter on the focused button presses it.
  button->setAutoDefault(true);
  return button;
}

}  // namespace

TForm2::TForm2(QWidget* parent) : QWidget(parent) {
  setObjectName("TForm2");
  // Wider and taller than drawn, for the documents done beside the progress,
  // and the documents found and the pace below the buttons.
  MakeFixedDialog(this, 360, 153 + 48);
  Label4 = LabelAt(this, "Label4", 28, 11);
  Label2 = LabelAt(this, "Label2", 28, 35);
  Label3 = LabelAt(this, "Label3", 28, 59);
  Label1 = LabelAt(this, "Label1", 28, 83);
  Label5 = LabelAt(this, "Label5", 28, 147);
  Label6 = LabelAt(this, "Label6", 28, 171);
  SpeedButton1 = ButtonAt(this, "SpeedButton1", {}, 28, 112, 85);
  SpeedButton1->setCheckable(true);
  Button2 = ButtonAt(this, "Button2", {}, 125, 112, 85);
  Label7 = LabelAt(this, "Label7", 225, 116);
  QFont bold = Label7->font();
  bold.setBold(true);
  Label7->setFont(bold);
  Label7->hide();
  // The two counts differ: the tips say how.
  Label1->setToolTip(QString::fromUtf8(Text(slot::kExplainSuccess)));
  Label5->setToolTip(QString::fromUtf8(Text(slot::kExplainDocumentsFound)));
  connect(SpeedButton1, &QPushButton::clicked, this, &TForm2::SpeedButton1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
}

void TForm2::SpeedButton1Click() {
  if (onPause) onPause(SpeedButton1->isChecked());
  ShowPaused();
}

void TForm2::ShowPaused() {
  const bool paused = SpeedButton1->isChecked();
  SpeedButton1->setText(QString::fromUtf8(Text(paused ? slot::kResume : slot::kPause)));
  Label7->setText(QString::fromUtf8(Text(slot::kPaused)));
  Label7->setVisible(paused);
}

void TForm2::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    Button2Click();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TForm2::Button2Click() {
  if (onStop) onStop();
}

void TForm2::closeEvent(QCloseEvent* event) {
  if (mayClose && mayClose()) {
    event->accept();
    return;
  }
  // Stop also ends a pause. The carving stops at its next safe point, which
  // can be a while into a large file, and only then hides the window; a
  // second close meanwhile must not leave the program with none showing.
  Button2Click();
  event->ignore();
}

TForm3::TForm3(QWidget* parent) : QWidget(parent) {
  setObjectName("TForm3");
  MakeFixedDialog(this, 241, 172);
  Label4 = LabelAt(this, "Label4", 18, 16);
  Label1 = LabelAt(this, "Label1", 18, 40);
  Label2 = LabelAt(this, "Label2", 18, 64);
  Label3 = LabelAt(this, "Label3", 18, 88);
  Label5 = LabelAt(this, "Label5", 18, 106);
  Button1 = ButtonAt(this, "Button1", QString::fromUtf8(Text(slot::kCancel)), 88, 128, 75);
  connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
}

void TForm3::Button1Click() {
  if (onCancel) onCancel();
}

void TForm3::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    Button1Click();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TForm3::closeEvent(QCloseEvent* event) {
  // The operation ends the window, not the user: a close while it runs is
  // its Cancel (a backup then asks about the unfinished image as ever).
  if (operationStopped && !operationStopped()) {
    Button1Click();
    event->ignore();
    return;
  }
  event->accept();
}

}  // namespace vellumark
