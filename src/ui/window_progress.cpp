#include "ui/window_progress.h"

#include <QCoreApplication>
#include <QFontMetrics>

#include "texts/message_table.h"
#include "ui/window_metrics.h"

namespace vellumark {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// A path longer than its label shows its beginning and its end, whole in
// the label's tip.
void ShowSource(QLabel* label, const std::string& source) {
  const QString text = Q(source);
  label->setText(QFontMetrics(label->font()).elidedText(text, Qt::ElideMiddle, label->width()));
  label->setToolTip(text);
}

}  // namespace

void WindowProgress::StageStarted(ProgressStage stage) {
  labels_.Start(stage, sourceName_());
  QWidget* window = stage == ProgressStage::Carve ? static_cast<QWidget*>(form2_) : form3_;
  if (stage != ProgressStage::Carve) main_->hide();
  window->setFont(WindowFont());
  window->setWindowTitle(Q(labels_.Caption()));
  if (stage == ProgressStage::Carve) {
    form2_->SpeedButton1->setChecked(false);
    form2_->ShowPaused();
    form2_->Button2->setText(QString::fromUtf8(Text(slot::kStop)));
  } else {
    form3_->Button1->setText(QString::fromUtf8(Text(slot::kCancel)));
  }
  Show();
  window->show();
}

void WindowProgress::Report(const ProgressReport& report) {
  labels_.Apply(report);
  Show();
}

void WindowProgress::Show() {
  if (labels_.Stage() == ProgressStage::Carve) {
    ShowSource(form2_->Label4, labels_.Source());
    form2_->Label1->setText(Q(labels_.Line(0)));
    form2_->Label2->setText(Q(labels_.Line(1)));
    form2_->Label3->setText(Q(labels_.Line(2)));
    form2_->Label5->setText(Q(labels_.Found()));
    form2_->Label6->setText(Q(labels_.Rate()));
  } else {
    ShowSource(form3_->Label4, labels_.Source());
    form3_->Label1->setText(Q(labels_.Line(0)));
    form3_->Label2->setText(Q(labels_.Line(1)));
    form3_->Label3->setText(Q(labels_.Line(2)));
    form3_->Label5->setText(Q(labels_.Pace()));
  }
}

void WindowProgress::StageEnded(ProgressStage stage) {
  if (stage == ProgressStage::Carve) {
    form2_->hide();
  } else {
    form3_->close();
  }
}

void WindowProgress::ProcessPendingEvents() { QCoreApplication::processEvents(); }

}  // namespace vellumark
