#pragma once

#include <QPlainTextEdit>

namespace vellumark {

// The hex dump of one sector. It asks for the room that shows the header
// and the 16 lines of a 512-byte sector whole at its full size, and in a
// smaller window draws them in the largest font that still shows them
// whole, down to a size that stays legible (below it, it scrolls).
class DumpView : public QPlainTextEdit {
  Q_OBJECT
 public:
  static constexpr int kLines = 17;     // the header and 16 lines of a 512-byte sector
  static constexpr int kColumns = 117;  // the widest line
  static constexpr int kFullPixels = 12;
  static constexpr int kSmallestPixels = 8;

  explicit DumpView(QWidget* parent = nullptr);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  // The room around the text: frame, margins and the vertical scroll bar.
  QSize Chrome() const;
  QSize TextSize(int pixels) const;
  void FitFont();
};

}  // namespace vellumark
