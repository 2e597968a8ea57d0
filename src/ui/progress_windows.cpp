#include "ui/progress_windows.h"

#include <QCloseEvent>
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
  return button;
}

}  // namespace

TForm2::TForm2(QWidget* parent) : QWidget(parent) {
  setObjectName("TForm2");
  // Taller than drawn by one line, for the documents found below the buttons.
  MakeFixedDialog(this, 271, 153 + 24);
  Label4 = LabelAt(this, "Label4", 64, 11);
  Label2 = LabelAt(this, "Label2", 40, 35);
  Label3 = LabelAt(this, "Label3", 52, 59);
  Label1 = LabelAt(this, "Label1", 28, 83);
  Label5 = LabelAt(this, "Label5", 28, 147);
  SpeedButton1 = ButtonAt(this, "SpeedButton1", {}, 40, 112, 73);
  SpeedButton1->setCheckable(true);
  Button2 = ButtonAt(this, "Button2", {}, 160, 112, 75);
  connect(SpeedButton1, &QPushButton::clicked, this, &TForm2::SpeedButton1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
}

void TForm2::SpeedButton1Click() {
  if (onPause) onPause(SpeedButton1->isChecked());
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
