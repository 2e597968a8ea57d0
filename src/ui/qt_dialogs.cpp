#include "ui/qt_dialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

#include "ui/message_table.h"

namespace vellumark {
namespace {

QString TextOf(const Message& message) {
  return QString::fromUtf8(Text(message.textSlot)) + QString::fromStdString(message.suffix);
}

std::optional<std::string> Chosen(const QString& path) {
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

}  // namespace

void QtPrompt::Show(const Message& message) {
  if (silent_) return;
  QMessageBox::information(parent_, QString::fromUtf8(Text(message.captionSlot)), TextOf(message));
}

bool QtPrompt::AskYesNo(const Message& message) {
  if (silent_) return false;
  return QMessageBox::question(parent_, QString::fromUtf8(Text(message.captionSlot)), TextOf(message),
                               QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

std::optional<std::string> QtDialogs::OpenImagePath() {
  return Chosen(QFileDialog::getOpenFileName(parent_, {}, {}, QString::fromUtf8("磁盘映像文件(*.img);;所有文件(*)"),
                                             nullptr, QFileDialog::ReadOnly));
}

std::optional<std::string> QtDialogs::SaveImagePath() {
  QFileDialog dialog(parent_, {}, {}, QString::fromUtf8("磁盘映像文件(*.img)"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix("img");
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front().toStdString();
}

std::optional<std::string> QtDialogs::ChooseFolder(const std::string& start) {
  return Chosen(QFileDialog::getExistingDirectory(parent_, QString::fromUtf8("恢复文件保存到"), QString::fromStdString(start),
                                                  QFileDialog::ShowDirsOnly));
}

void QtDialogs::OpenAddress(const std::string& address) {
  QDesktopServices::openUrl(QUrl(QString::fromStdString(address)));
}

}  // namespace vellumark
