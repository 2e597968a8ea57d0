#include "ui/help_window.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/message_slots.h"
#include "texts/message_table.h"
#include "ui/window_metrics.h"

namespace vellumark {
namespace {

QString PageName() {
  switch (ChosenLanguage()) {
    case Language::SimplifiedChinese: return "help.zh_CN.html";
    case Language::TraditionalChinese: return "help.zh_TW.html";
    case Language::English: break;
  }
  return "help.html";
}

QString ReadAll(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

}  // namespace

QString HelpWindow::PageText() {
  const QString installed = QCoreApplication::applicationDirPath() + "/../share/doc/vellumark/";
  for (const QString& name : {PageName(), QString("help.html")}) {
    for (const QString& path : {QDir::cleanPath(installed + name), ":/help/" + name}) {
      const QString text = ReadAll(path);
      if (!text.isEmpty()) return text;
    }
  }
  return {};
}

HelpWindow::HelpWindow(QWidget* parent) : QDialog(parent) {
  setObjectName("HelpWindow");
  setFont(WindowFont());
  setWindowTitle(QString::fromUtf8(Text(slot::kHelp)));
  resize(640, 600);
  page_ = new QTextBrowser(this);
  page_->setObjectName("HelpPage");
  page_->setOpenExternalLinks(false);
  page_->setHtml(PageText());
  auto* close = new QPushButton(QString::fromUtf8(Text(slot::kCloseResults)), this);
  connect(close, &QPushButton::clicked, this, &QDialog::close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(page_);
  layout->addWidget(close, 0, Qt::AlignRight);
}

}  // namespace vellumark
