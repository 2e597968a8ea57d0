#include "ui/drive_list.h"

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QScrollBar>
#include <algorithm>

#include "access/block_devices.h"

namespace vellumark {

void DriveList::Refresh() {
  const std::string chosen = DevicePathOfEntry(currentText().toStdString());
  clear();
  int widest = 0;
  const QFontMetrics metrics(font());
  for (const BlockDevice& device : ListBlockDevices()) {
    const QString entry = QString::fromStdString(device.DisplayText());
    addItem(entry);
    if (device.path == chosen) setCurrentIndex(count() - 1);
    widest = std::max(widest, metrics.horizontalAdvance(entry));
  }
  // The entries are longer than the list is wide: the opened list shows them
  // whole.
  view()->setMinimumWidth(widest + view()->verticalScrollBar()->sizeHint().width() + metrics.averageCharWidth() * 2);
}

void DriveList::showPopup() {
  Refresh();
  QComboBox::showPopup();
}

}  // namespace vellumark
