#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "common/front_end.h"
#include "texts/progress_labels.h"
#include "ui/progress_windows.h"

namespace vellumark {

// The engine's progress and event pump as the two progress windows show
// them: each stage prepares and shows its window, reports set its labels,
// and pending events run where the engine lets them (which is where the
// windows' buttons act).
class WindowProgress final : public ProgressSink, public Pump {
 public:
  WindowProgress(QWidget* mainWindow, TForm2* form2, TForm3* form3, std::function<std::string()> sourceName)
      : main_(mainWindow), form2_(form2), form3_(form3), sourceName_(std::move(sourceName)) {}

  void StageStarted(ProgressStage stage) override;
  void Report(const ProgressReport& report) override;
  void StageEnded(ProgressStage stage) override;
  void ProcessPendingEvents() override;

 private:
  // Puts the current texts into the window of the stage.
  void Show();

  QWidget* main_;
  TForm2* form2_;
  TForm3* form3_;
  std::function<std::string()> sourceName_;
  ProgressLabels labels_;
};

}  // namespace vellumark
