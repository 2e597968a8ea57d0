#include "ui/window_metrics.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>

#include "texts/message_table.h"

namespace vellumark {

QFont WindowFont() {
  QFont font;
  const bool chinese = ChosenLanguage() != Language::English;
  font.setFamilies({QString::fromUtf8(TableFont()), chinese ? "WenQuanYi Micro Hei" : "DejaVu Sans Condensed",
                    "DejaVu Sans", "WenQuanYi Micro Hei"});
  font.setPixelSize(chinese ? 12 : 11);
  return font;
}

QFont DumpFont(int pixelSize) {
  QFont font;
  font.setFamilies({"Courier New", "DejaVu Sans Mono"});
  font.setStyleHint(QFont::TypeWriter);
  font.setPixelSize(pixelSize);
  return font;
}

int CaptionRoom(const QWidget* control, int width, int height) {
  const QRect rect(0, 0, width, height);
  QStyle* style = control->style();
  if (const auto* box = qobject_cast<const QComboBox*>(control)) {
    QStyleOptionComboBox option;
    option.initFrom(box);
    option.rect = rect;
    option.editable = box->isEditable();
    option.frame = box->hasFrame();
    // The label is drawn one pixel in from each side of the field.
    return style->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box).width() - 2;
  }
  if (const auto* check = qobject_cast<const QCheckBox*>(control)) {
    QStyleOptionButton option;
    option.initFrom(check);
    option.rect = rect;
    option.text = check->text();
    return style->subElementRect(QStyle::SE_CheckBoxContents, &option, check).width();
  }
  if (const auto* button = qobject_cast<const QPushButton*>(control)) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.rect = rect;
    option.text = button->text();
    return style->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
  }
  if (const auto* label = qobject_cast<const QLabel*>(control)) {
    return width - 2 * label->margin() - 2 * label->frameWidth();
  }
  return width;
}

int CaptionWidth(const QWidget* control) {
  const QFontMetrics metrics(control->font());
  if (const auto* box = qobject_cast<const QComboBox*>(control)) {
    int widest = 0;
    for (int i = 0; i < box->count(); ++i) widest = std::max(widest, metrics.horizontalAdvance(box->itemText(i)));
    return widest;
  }
  if (const auto* button = qobject_cast<const QAbstractButton*>(control)) return metrics.horizontalAdvance(button->text());
  if (const auto* label = qobject_cast<const QLabel*>(control)) return metrics.horizontalAdvance(label->text());
  return 0;
}

}  // namespace vellumark
