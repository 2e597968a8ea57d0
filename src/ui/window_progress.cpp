#include "ui/window_progress.h"

#include <QCoreApplication>

#include "ui/message_table.h"

namespace vellumark {
namespace {

QString T(int slot) { return QString::fromUtf8(Text(slot)); }
QString Number(std::int64_t value) { return QString::number(value); }

void UseTableFont(QWidget* window) {
  QFont font = window->font();
  font.setFamily(QString::fromUtf8(TableFont()));
  window->setFont(font);
}

}  // namespace

void WindowProgress::StageStarted(ProgressStage stage) {
  stage_ = stage;
  const QString source = T(slot::kSource) + QString::fromStdString(sourceName_());
  switch (stage) {
    case ProgressStage::Search:
      main_->hide();
      UseTableFont(form3_);
      form3_->setWindowTitle(T(slot::kSearchingFile));
      form3_->Label4->setText(source);
      form3_->Label1->setText(T(slot::kSearchSector) + "0");
      form3_->Label2->setText(T(slot::kSearchPercent) + "0");
      form3_->Label3->clear();
      form3_->show();
      break;
    case ProgressStage::Carve:
      UseTableFont(form2_);
      form2_->setWindowTitle(T(slot::kRescueFiles));
      form2_->Label4->setText(source);
      form2_->Label1->setText(T(slot::kSuccess));
      form2_->Label2->setText(T(slot::kProgress));
      form2_->Label3->setText(T(slot::kSector));
      form2_->SpeedButton1->setText(T(slot::kPause));
      form2_->SpeedButton1->setChecked(false);
      form2_->Button2->setText(T(slot::kStop));
      form2_->show();
      break;
    case ProgressStage::Backup:
      main_->hide();
      UseTableFont(form3_);
      form3_->setWindowTitle(T(slot::kBackupToImage));
      form3_->Label4->setText(source);
      form3_->Label1->setText(T(slot::kCreatingImage));
      form3_->Label2->setText(T(slot::kWaitAMoment));
      form3_->Label3->clear();
      form3_->Button1->setText(T(slot::kCancel));
      form3_->show();
      break;
  }
}

void WindowProgress::Report(const ProgressReport& r) {
  switch (stage_) {
    case ProgressStage::Search:
      if (r.sector) form3_->Label1->setText(T(slot::kSearchSector) + Number(*r.sector));
      if (r.percentText) form3_->Label2->setText(T(slot::kSearchPercent) + QString::fromStdString(*r.percentText));
      if (r.found) form3_->Label3->setText(T(slot::kFound) + Number(*r.found));
      break;
    case ProgressStage::Carve:
      if (r.rescued) form2_->Label1->setText(T(slot::kSuccess) + Number(*r.rescued));
      if (r.progressPercent) form2_->Label2->setText(T(slot::kProgress) + Number(*r.progressPercent) + "%");
      if (r.sector) form2_->Label3->setText(T(slot::kSector) + Number(*r.sector));
      break;
    case ProgressStage::Backup:
      if (r.sector) form3_->Label1->setText(T(slot::kSector) + Number(*r.sector));
      if (r.percentText) form3_->Label2->setText(T(slot::kPercent) + QString::fromStdString(*r.percentText));
      if (r.errors) form3_->Label3->setText(*r.errors > 0 ? T(slot::kErrorCount) + Number(*r.errors) : QString());
      break;
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
