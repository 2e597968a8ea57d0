#pragma once

#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <vector>

#include "report/read_back.h"
#include "ui/window_services.h"

namespace vellumark {

// The documents a rescue wrote, one row each, with the selected one's
// properties, verdict and the start of its text below the list. Double-clicking
// a row opens the written file with the desktop's default handler, or says
// that there is none.
class ResultsWindow : public QDialog {
  Q_OBJECT
 public:
  // Original gives the name and folder the file system's records list the
  // document under; the column is hidden when no record matched any.
  // Reassembled gives the fragments of a document put back together around
  // foreign clusters, and is empty for one rebuilt the plain way.
  // NotSavedReason is empty for a document that was saved; a document found
  // but not saved has an empty name and says there why.
  enum Column { kName, kOriginal, kTitle, kVerdict, kSize, kFragments, kReassembled, kNotSavedReason, kColumns };

  // Keeps a copy of every inspection: each document found is listed, those
  // not saved with their reason and no file to open.
  ResultsWindow(const std::vector<DocumentInspection>& inspections, WindowServices services,
                QWidget* parent = nullptr);

  // The rescue's summary above the list, and the folder "Open folder" opens.
  void ShowOutcome(const std::string& summary, const std::string& folder);

  QTreeWidget* List() const { return list_; }
  QLabel* Summary() const { return summary_; }
  QPushButton* OpenFolderButton() const { return openFolder_; }
  QPlainTextEdit* Preview() const { return preview_; }

 private:
  void ShowSelected();
  void OpenRow(QTreeWidgetItem* item);
  const DocumentInspection* DocumentOf(const QTreeWidgetItem* item) const;

  std::vector<DocumentInspection> documents_;
  WindowServices services_;
  std::string folder_;
  QLabel* summary_;
  QLabel* listLabel_;
  QTreeWidget* list_;
  QLabel* previewLabel_;
  QPlainTextEdit* preview_;
  QPushButton* openFolder_;
  QPushButton* close_;
};

}  // namespace vellumark
