#include "ui/dump_view.h"

#include <QFontMetrics>
#include <QScrollBar>
#include <cmath>

#include "ui/window_metrics.h"

namespace vellumark {

DumpView::DumpView(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setFont(DumpFont(kFullPixels));
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QSize DumpView::Chrome() const {
  const int margin = 2 * static_cast<int>(std::ceil(document()->documentMargin()));
  return {2 * frameWidth() + margin + verticalScrollBar()->sizeHint().width(), 2 * frameWidth() + margin};
}

QSize DumpView::TextSize(int pixels) const {
  const QFontMetrics metrics(DumpFont(pixels));
  // Half a line more than the lines take: the editor scrolls as soon as the
  // last line's descent touches the edge.
  return {metrics.horizontalAdvance(QString(kColumns, '0')) + 1, metrics.lineSpacing() * kLines + metrics.lineSpacing() / 2};
}

QSize DumpView::sizeHint() const { return TextSize(kFullPixels) + Chrome(); }

// The smallest legible dump, with room for a horizontal scroll bar should
// the font not shrink far enough.
QSize DumpView::minimumSizeHint() const {
  const QSize text = TextSize(kSmallestPixels);
  return {text.width() / 2, text.height() / 2 + horizontalScrollBar()->sizeHint().height()};
}

void DumpView::resizeEvent(QResizeEvent* event) {
  QPlainTextEdit::resizeEvent(event);
  FitFont();
}

void DumpView::FitFont() {
  const QSize room = size() - Chrome();
  int pixels = kFullPixels;
  while (pixels > kSmallestPixels) {
    const QSize text = TextSize(pixels);
    if (text.width() <= room.width() && text.height() <= room.height()) break;
    --pixels;
  }
  if (font().pixelSize() != pixels) setFont(DumpFont(pixels));
}

}  // namespace vellumark
