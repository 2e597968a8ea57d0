#include "ui/results_window.h"

#include <QGuiApplication>
#include <QScreen>

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "common/message_slots.h"
#include "report/not_saved_reason.h"
#include "texts/document_words.h"
#include "texts/message_table.h"
#include "ui/window_metrics.h"

namespace vellumark {
namespace {

QString T(int slot) { return QString::fromUtf8(Text(slot)); }

QString VerdictWord(Verdict verdict) {
  switch (verdict) {
    case Verdict::Whole: return T(slot::kVerdictWhole);
    case Verdict::Damaged: return T(slot::kVerdictDamaged);
    case Verdict::Partial: return T(slot::kVerdictPartial);
    case Verdict::WholeStructure: return T(slot::kVerdictWholeStructure);
    default: return T(slot::kVerdictUnchecked);
  }
}

// What a verdict means, for the verdict column's tooltip.
QString VerdictExplained(Verdict verdict) {
  switch (verdict) {
    case Verdict::Whole: return T(slot::kExplainWhole);
    case Verdict::Damaged: return T(slot::kExplainDamaged);
    case Verdict::Partial: return T(slot::kExplainPartial);
    case Verdict::WholeStructure: return T(slot::kExplainWholeStructure);
    default: return T(slot::kExplainUnchecked);
  }
}

// Why a document found has no file, in the chosen language, with the
// system's reason or the sector of the document holding it.
QString NotSavedWords(const DocumentRecord& record) {
  switch (ReasonNotSaved(record)) {
    case NotSavedReason::None: break;
    case NotSavedReason::Damaged: return T(slot::kNotSavedDamaged);
    case NotSavedReason::NotWritten:
      return T(slot::kNotSavedNotWritten) + ": " + QString::fromStdString(record.saveFailure);
    case NotSavedReason::NotChosen: return T(slot::kNotSavedNotChosen);
    case NotSavedReason::InsideAnother:
      return T(slot::kNotSavedInsideAnother) + QString::number(record.insideDocumentAt);
  }
  return {};
}

QString Line(int labelSlot, const QString& value) { return T(labelSlot) + ": " + value + "\n"; }

QString Details(const DocumentInspection& document) {
  const DocumentProperties& properties = document.properties;
  QString saved;
  if (properties.lastSaved) saved = QString::fromStdString(LastSavedText(*properties.lastSaved)) + " UTC";
  QString verdict = VerdictWord(document.verdict);
  if (document.verdict == Verdict::Damaged) {
    // In plain words first; the checks' own detail follows for whoever
    // reports the fault on.
    const std::string fault = FaultWords(document);
    if (!fault.empty()) verdict += " - " + QString::fromStdString(fault);
  }
  if (document.verdict == Verdict::WholeStructure) {
    verdict += " (" + QString::number(document.unverifiedSectors) + "): " +
               QString::fromStdString(ByteRangesText(document.unverified));
  }
  QString original;
  if (const std::string path = OriginalPath(document.record); !path.empty()) {
    original = Line(slot::kOriginalPath, QString::fromStdString(path));
  }
  // The kinds are named by their programs' names, which need no
  // translation; a document of no known kind has no type to name.
  QString kind;
  if (document.record.kind != DocumentKind::Other) {
    kind = Line(slot::kKind, QString::fromUtf8(KindName(document.record.kind)));
  }
  return original + Line(slot::kColumnTitle, QString::fromStdString(properties.title)) +
         Line(slot::kAuthor, QString::fromStdString(properties.author)) + Line(slot::kLastSaved, saved) + kind +
         Line(slot::kColumnVerdict, verdict) + "\n" + QString::fromStdString(document.preview);
}

}  // namespace

ResultsWindow::ResultsWindow(const std::vector<DocumentInspection>& inspections, WindowServices services,
                             QWidget* parent)
    : QDialog(parent), services_(services) {
  setObjectName("ResultsWindow");
  documents_ = inspections;
  // The same face and size as the main window, so that Chinese texts draw in
  // the font the table was written for.
  setFont(WindowFont());
  setWindowTitle(T(slot::kRescueFileCaption));
  // No larger than the screen leaves room for, with a title bar.
  // Wide enough for every column at scale 1 in each language.
  QSize size(880, 540);
  if (const QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen()) {
    size = size.boundedTo(screen->availableGeometry().size() - QSize(16, 48));
  }
  resize(size);

  summary_ = new QLabel(this);
  summary_->setObjectName("Summary");
  summary_->setWordWrap(true);
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  summary_->hide();
  listLabel_ = new QLabel(T(slot::kFileList), this);
  listLabel_->setObjectName("FileListLabel");
  list_ = new QTreeWidget(this);
  list_->setObjectName("FileList");
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setHeaderLabels({T(slot::kColumnName), T(slot::kOriginalPath), T(slot::kColumnTitle), T(slot::kColumnVerdict),
                          T(slot::kColumnSize), T(slot::kColumnFragments), T(slot::kColumnReassembled),
                          T(slot::kColumnNotSavedReason)});
  for (std::size_t i = 0; i < documents_.size(); ++i) {
    const DocumentInspection& document = documents_[i];
    auto* item = new QTreeWidgetItem(list_);
    if (document.record.saved) {
      item->setText(kName, QFileInfo(QString::fromStdString(document.record.outputName)).fileName());
    }
    item->setText(kOriginal, QString::fromStdString(OriginalPath(document.record)));
    item->setText(kNotSavedReason, NotSavedWords(document.record));
    item->setData(kName, Qt::UserRole, static_cast<qulonglong>(i));
    item->setText(kTitle, QString::fromStdString(document.properties.title));
    item->setText(kVerdict, VerdictWord(document.verdict));
    item->setToolTip(kVerdict, VerdictExplained(document.verdict));
    // Numbers as display data: the list then sorts these columns by value,
    // not as text where "900" would come after "10000".
    item->setData(kSize, Qt::DisplayRole, static_cast<qlonglong>(document.record.length));
    item->setData(kFragments, Qt::DisplayRole, static_cast<qulonglong>(document.record.runs.size()));
    if (document.record.reassembled) {
      item->setData(kReassembled, Qt::DisplayRole, static_cast<qulonglong>(document.record.runs.size()));
    }
    item->setTextAlignment(kSize, Qt::AlignRight | Qt::AlignVCenter);
    item->setTextAlignment(kFragments, Qt::AlignRight | Qt::AlignVCenter);
    item->setTextAlignment(kReassembled, Qt::AlignRight | Qt::AlignVCenter);
  }
  list_->setSortingEnabled(true);
  list_->sortByColumn(kName, Qt::AscendingOrder);
  for (int column = 0; column < kColumns; ++column) list_->resizeColumnToContents(column);
  list_->setColumnHidden(kOriginal, std::none_of(documents_.begin(), documents_.end(), [](const DocumentInspection& d) {
                           return !d.record.originalName.empty();
                         }));

  previewLabel_ = new QLabel(T(slot::kPreview), this);
  previewLabel_->setObjectName("PreviewLabel");
  preview_ = new QPlainTextEdit(this);
  preview_->setObjectName("Preview");
  preview_->setReadOnly(true);
  openFolder_ = new QPushButton(T(slot::kOpenFolder), this);
  openFolder_->setObjectName("OpenFolderButton");
  openFolder_->hide();
  close_ = new QPushButton(T(slot::kCloseResults), this);
  close_->setObjectName("CloseButton");

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(openFolder_);
  buttons->addStretch();
  buttons->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(summary_);
  layout->addWidget(listLabel_);
  layout->addWidget(list_, 3);
  layout->addWidget(previewLabel_);
  layout->addWidget(preview_, 2);
  layout->addLayout(buttons);

  connect(list_, &QTreeWidget::currentItemChanged, this, &ResultsWindow::ShowSelected);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, &ResultsWindow::OpenRow);
  connect(close_, &QPushButton::clicked, this, &QDialog::close);
  // Where no file manager is registered, the user is told so and where the
  // folder is, rather than nothing happening.
  connect(openFolder_, &QPushButton::clicked, this, [this] {
    if (!services_.dialogs.OpenAddress(QUrl::fromLocalFile(QString::fromStdString(folder_)).toString().toStdString())) {
      services_.prompt.Show({slot::kFailedToOpenFile, slot::kError, " " + folder_ + ": " + Text(slot::kNoHandler)});
    }
  });
  if (list_->topLevelItemCount() > 0) list_->setCurrentItem(list_->topLevelItem(0));
}

void ResultsWindow::ShowOutcome(const std::string& summary, const std::string& folder) {
  summary_->setText(QString::fromStdString(summary));
  summary_->show();
  folder_ = folder;
  openFolder_->setVisible(!folder.empty());
}

const DocumentInspection* ResultsWindow::DocumentOf(const QTreeWidgetItem* item) const {
  if (item == nullptr) return nullptr;
  return &documents_[item->data(kName, Qt::UserRole).toULongLong()];
}

void ResultsWindow::ShowSelected() {
  const DocumentInspection* document = DocumentOf(list_->currentItem());
  preview_->setPlainText(document ? Details(*document) : QString());
}

void ResultsWindow::OpenRow(QTreeWidgetItem* item) {
  const DocumentInspection* document = DocumentOf(item);
  if (document != nullptr && document->record.saved) {
    const QUrl file = QUrl::fromLocalFile(QString::fromStdString(document->record.outputName));
    if (!services_.dialogs.OpenAddress(file.toString().toStdString())) {
      services_.prompt.Show({slot::kFailedToOpenFile, slot::kError,
                             " " + document->record.outputName + ": " + Text(slot::kNoHandler)});
    }
  }
}

}  // namespace vellumark
