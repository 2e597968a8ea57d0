#pragma once

#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <functional>

namespace vellumark {

// The rescue progress window: source, progress, sector and rescued count,
// with Pause (a toggle) and Stop. Closing it from its title bar is Stop; it
// goes away when the carving has ended, which brings the main window back.
class TForm2 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm2(QWidget* parent = nullptr);

  QLabel* Label1;  // rescued count
  QLabel* Label2;  // progress
  QLabel* Label3;  // sector
  QLabel* Label4;  // source
  QLabel* Label5;  // documents found so far, below the buttons
  QLabel* Label6;  // speed and time left, below the documents found
  QLabel* Label7;  // "Paused", beside the buttons while paused
  QPushButton* SpeedButton1;  // Pause, stays down (as Resume) until clicked again
  QPushButton* Button2;       // Stop

  std::function<void(bool paused)> onPause;
  std::function<void()> onStop;
  // Whether a close may take the window away at once: only when the program
  // is being ended, which closes every window.
  std::function<bool()> mayClose;

  void SpeedButton1Click();
  void Button2Click();
  // The button's caption and the paused label for its state.
  void ShowPaused();

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Escape is Stop, as closing the window is.
  void keyPressEvent(QKeyEvent* event) override;
};

// The search and backup progress window: source, sector, percent and
// found/errors, with Cancel. Closing it from its title bar while its
// operation runs is Cancel; the operation then ends the window.
class TForm3 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm3(QWidget* parent = nullptr);

  QLabel* Label1;  // sector
  QLabel* Label2;  // percent
  QLabel* Label3;  // found / errors
  QLabel* Label4;  // source
  QLabel* Label5;  // speed and time left, below the found / errors line
  QPushButton* Button1;  // Cancel

  std::function<void()> onCancel;
  std::function<bool()> operationStopped;

  void Button1Click();

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Escape is Cancel, as closing the window is.
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace vellumark
