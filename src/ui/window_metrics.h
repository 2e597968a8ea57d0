#pragma once

#include <QFont>
#include <QString>
#include <QWidget>

namespace vellumark {

// The font every window draws its captions in: the TableFont first, then a
// font the program's packages install, so that the measured widths hold on
// any system. Its size gives the 13-pixel line height the layout was drawn
// for (Chinese a size up, where 11 pixels blur the characters).
QFont WindowFont();

// The fixed-pitch font of the sector dump at a given pixel size.
QFont DumpFont(int pixelSize);

// The width a caption may take inside a control of the given size: what is
// left inside a button's frame, a check box beside its box, a drop-down
// list's field beside its arrow; a label's whole width.
int CaptionRoom(const QWidget* control, int width, int height);

// The widest of the control's captions: a list's entries, a button's text.
int CaptionWidth(const QWidget* control);

}  // namespace vellumark
