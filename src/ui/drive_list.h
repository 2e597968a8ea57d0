#pragma once

#include <QComboBox>
#include <functional>

namespace vellumark {

// The drive list, filled afresh each time it opens, so that disks plugged in
// or removed since show as they are.
class DriveList : public QComboBox {
  Q_OBJECT
 public:
  using QComboBox::QComboBox;

  // Puts the system's disks and partitions in the list, keeping the chosen
  // one chosen while it is there.
  void Refresh();
  void showPopup() override;
};

}  // namespace vellumark
