#include "ui/qt_dialogs.h"

#include <QDesktopServices>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QSpacerItem>
#include <QLibraryInfo>
#include <QTranslator>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QProcess>
#include <QPushButton>
#include <QUrl>
#include <algorithm>
#include <vector>

#include "common/message_slots.h"
#include "texts/message_table.h"

namespace vellumark {
namespace {

QString TextOf(const Message& message) {
  return QString::fromUtf8(Text(message.textSlot)) + QString::fromStdString(message.suffix);
}

std::optional<std::string> Chosen(const QString& path) {
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

// How long the desktop may take to say which program opens a type.
constexpr int kQueryMilliseconds = 5000;

// What a title bar takes beside its title: the window manager's buttons and
// margins.
constexpr int kTitleBarExtra = 160;

// A message box at least as wide as its caption needs, which window managers
// would otherwise cut to a letter or two over a short text.
void KeepCaptionRoom(QMessageBox& box) {
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    const int wanted = QFontMetrics(box.font()).horizontalAdvance(box.windowTitle()) + kTitleBarExtra;
    grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                  grid->columnCount());
  }
}

int AskBox(QWidget* parent, QMessageBox::Icon icon, const Message& message, QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, QString::fromUtf8(Text(message.captionSlot)), TextOf(message), buttons, parent);
  KeepCaptionRoom(box);
  return box.exec();
}

}  // namespace

QMessageBox::Icon IconOf(const Message& message) {
  switch (message.captionSlot) {
    case slot::kError: return QMessageBox::Critical;
    case slot::kRunStopped: return QMessageBox::Warning;
    default: return QMessageBox::Information;
  }
}

void QtPrompt::Show(const Message& message) {
  if (silent_) return;
  AskBox(parent_, IconOf(message), message, QMessageBox::Ok);
}

bool QtPrompt::AskYesNo(const Message& message) {
  if (silent_) return false;
  return AskBox(parent_, QMessageBox::Question, message, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

std::optional<std::size_t> QtPrompt::Choose(const Message& message, std::span<const int> choiceSlots) {
  if (silent_) return std::nullopt;
  QMessageBox box(QMessageBox::Warning, QString::fromUtf8(Text(message.captionSlot)), TextOf(message),
                  QMessageBox::NoButton, parent_);
  std::vector<QAbstractButton*> choices;
  for (const int slot : choiceSlots) choices.push_back(box.addButton(QString::fromUtf8(Text(slot)), QMessageBox::AcceptRole));
  // Escape and the title bar's close button cancel, as the Cancel button does.
  box.setEscapeButton(box.addButton(QMessageBox::Cancel));
  if (!choices.empty()) box.setDefaultButton(qobject_cast<QPushButton*>(choices.front()));
  KeepCaptionRoom(box);
  box.exec();
  const auto chosen = std::find(choices.begin(), choices.end(), box.clickedButton());
  if (chosen == choices.end()) return std::nullopt;
  return static_cast<std::size_t>(chosen - choices.begin());
}

std::optional<std::string> QtDialogs::OpenImagePath(const std::string& startFolder) {
  return Chosen(QFileDialog::getOpenFileName(parent_, {}, QString::fromStdString(startFolder),
                                             QString::fromUtf8(Text(slot::kImageFileFilter)), nullptr,
                                             QFileDialog::ReadOnly));
}

std::optional<std::string> QtDialogs::SaveImagePath(const std::string& startFolder) {
  QFileDialog dialog(parent_, {}, QString::fromStdString(startFolder), QString::fromUtf8(Text(slot::kImageFileFilter)));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix("img");
  // The window asks about replacing a file itself, once it knows the file
  // may be written at all (the open source may not).
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front().toStdString();
}

std::optional<std::string> QtDialogs::ChooseFolder(const std::string& start) {
  return Chosen(QFileDialog::getExistingDirectory(parent_, QString::fromUtf8(Text(slot::kFolderChooserTitle)), QString::fromStdString(start),
                                                  QFileDialog::ShowDirsOnly));
}

void TranslateQtTexts() {
  static QTranslator* translator = nullptr;
  if (translator != nullptr) {
    QCoreApplication::removeTranslator(translator);
    delete translator;
    translator = nullptr;
  }
  const char* name = nullptr;
  switch (ChosenLanguage()) {
    case Language::SimplifiedChinese: name = "qtbase_zh_CN"; break;
    case Language::TraditionalChinese: name = "qtbase_zh_TW"; break;
    case Language::English: return;
  }
  auto* loaded = new QTranslator;
  if (!loaded->load(QString::fromLatin1(name), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete loaded;
    return;  // Qt's own texts stay English where its translations are missing
  }
  QCoreApplication::installTranslator(loaded);
  translator = loaded;
}

bool QtDialogs::OpenAddress(const std::string& address) {
  const QUrl url(QString::fromStdString(address));
  if (url.isLocalFile()) {
    // The desktop's opener reports a missing handler only on the terminal,
    // after the program has handed the file over; ask first.
    const QString type = QMimeDatabase().mimeTypeForFile(url.toLocalFile()).name();
    QProcess query;
    query.start("xdg-mime", {"query", "default", type});
    if (query.waitForFinished(kQueryMilliseconds) && query.exitStatus() == QProcess::NormalExit && query.exitCode() == 0 &&
        query.readAllStandardOutput().trimmed().isEmpty()) {
      return false;
    }
  }
  return QDesktopServices::openUrl(url);
}

}  // namespace vellumark
