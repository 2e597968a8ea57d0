#pragma once

#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <functional>

namespace vellumark {

// The rescue progress window: source, progress, sector and rescued count,
// with Pause (a toggle) and Stop.
class TForm2 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm2(QWidget* parent = nullptr);

  QLabel* Label1;  // rescued count
  QLabel* Label2;  // progress
  QLabel* Label3;  // sector
  QLabel* Label4;  // source
  QPushButton* SpeedButton1;  // Pause, stays down until clicked again
  QPushButton* Button2;       // Stop

  std::function<void(bool paused)> onPause;
  std::function<void()> onStop;

  void SpeedButton1Click();
  void Button2Click();
};

// The search and backup progress window: source, sector, percent and
// found/errors, with Cancel. It cannot be closed while its operation runs.
class TForm3 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm3(QWidget* parent = nullptr);

  QLabel* Label1;  // sector
  QLabel* Label2;  // percent
  QLabel* Label3;  // found / errors
  QLabel* Label4;  // source
  QPushButton* Button1;  // Cancel

  std::function<void()> onCancel;
  std::function<bool()> operationStopped;

  void Button1Click();

 protected:
  void closeEvent(QCloseEvent* event) override;
};

}  // namespace vellumark
