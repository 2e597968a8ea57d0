// The main window's controls and their layouts. Each row is a layout whose
// controls take their captions' room in any language; the drive list and
// the folder box take what width is left, the sector dump what height.
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/main_window.h"
#include "ui/window_metrics.h"

namespace vellumark {
namespace {

template <typename Widget>
Widget* Named(QWidget* parent, const char* name) {
  auto* widget = new Widget(parent);
  widget->setObjectName(name);
  return widget;
}

QLabel* RightLabel(QWidget* parent, const char* name) {
  auto* label = Named<QLabel>(parent, name);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return label;
}

// Buttons answer Enter when they have the focus, as they do in dialogs.
QPushButton* Button(QWidget* parent, const char* name) {
  auto* button = Named<QPushButton>(parent, name);
  button->setAutoDefault(true);
  return button;
}

QHBoxLayout* Row(std::initializer_list<QWidget*> widgets) {
  auto* row = new QHBoxLayout;
  for (QWidget* widget : widgets) row->addWidget(widget);
  return row;
}

}  // namespace

void TForm1::BuildControls() {
  auto* central = Named<QWidget>(this, "Central");
  setCentralWidget(central);
  auto* column = new QVBoxLayout(central);
  Label5 = Named<QLabel>(central, "Label5");
  Label5->setWordWrap(true);
  column->addWidget(Label5);
  column->addWidget(BuildTopRow());
  BuildRescueArea();
  column->addWidget(GroupBox1);
  SpeedButton1 = Button(central, "SpeedButton1");
  SpeedButton1->setCheckable(true);
  auto* more = new QHBoxLayout;
  more->addStretch(1);
  more->addWidget(SpeedButton1);
  column->addLayout(more);
  column->addWidget(BuildDumpArea(), 1);
  // Collapsed, what room there is stays below the controls.
  column->addStretch(0);
  BuildStatusBar();
  BuildMenus();
  ConnectControls();
}

QWidget* TForm1::BuildTopRow() {
  auto* row = Named<QWidget>(centralWidget(), "TopRow");
  Label12 = RightLabel(row, "Label12");
  DriveComboBox1 = Named<DriveList>(row, "DriveComboBox1");
  // Entries are long (path, size, model, label): the list takes the free
  // width and opens as wide as they need, never widening the window.
  DriveComboBox1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  DriveComboBox1->setMinimumContentsLength(16);
  DriveComboBox1->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  Button1 = Button(row, "Button1");
  Button10 = Button(row, "Button10");
  Button2 = Button(row, "Button2");
  auto* layout = Row({Label12, DriveComboBox1, Button1, Button10, Button2});
  layout->setStretch(1, 1);
  layout->setContentsMargins(0, 0, 0, 0);
  row->setLayout(layout);
  return row;
}

void TForm1::BuildRescueArea() {
  GroupBox1 = Named<QGroupBox>(centralWidget(), "GroupBox1");
  GroupBox1->hide();
  QGroupBox* box = GroupBox1;
  auto* grid = new QGridLayout(box);
  grid->setColumnStretch(1, 1);

  Label9 = RightLabel(box, "Label9");
  chkDOC = Named<QCheckBox>(box, "chkDOC");
  chkDOC->setChecked(true);
  chkDOCX = Named<QCheckBox>(box, "chkDOCX");
  chkDOCX->setChecked(true);
  // How the files are named sits beside what kinds are written.
  chkOriginalNames = Named<QCheckBox>(box, "chkOriginalNames");
  auto* types = Row({chkDOC, chkDOCX});
  types->addSpacing(12);
  types->addWidget(chkOriginalNames);
  types->addStretch(1);
  grid->addWidget(Label9, 0, 0);
  grid->addLayout(types, 0, 1);

  Label2 = RightLabel(box, "Label2");
  Edit2 = Named<QLineEdit>(box, "Edit2");
  Button6 = Button(box, "Button6");
  grid->addWidget(Label2, 1, 0);
  grid->addLayout(Row({Edit2, Button6}), 1, 1);

  Label8 = RightLabel(box, "Label8");
  ComboBox3 = Named<QComboBox>(box, "ComboBox3");
  Label7 = RightLabel(box, "Label7");
  ComboBox2 = Named<QComboBox>(box, "ComboBox2");
  ComboBox2->addItems({"FAT", "FAT32", "NTFS", "OTHER"});
  Label6 = RightLabel(box, "Label6");
  ComboBox1 = Named<QComboBox>(box, "ComboBox1");
  ComboBox1->addItems({"512", "1K", "2K", "4K", "8K", "16K", "32K"});
  auto* lists = Row({ComboBox3, Label7, ComboBox2, Label6, ComboBox1});
  lists->addStretch(1);
  grid->addWidget(Label8, 2, 0);
  grid->addLayout(lists, 2, 1);

  Label3 = RightLabel(box, "Label3");
  Edit3 = Named<QLineEdit>(box, "Edit3");
  Label11 = Named<QLabel>(box, "Label11");
  Label11->setText("-");
  Edit4 = Named<QLineEdit>(box, "Edit4");
  for (QLineEdit* edit : {Edit3, Edit4}) {
    edit->setMinimumWidth(QFontMetrics(WindowFont()).horizontalAdvance(QString(12, '0')));
  }
  Button12 = Button(box, "Button12");
  Button11 = Button(box, "Button11");
  auto* range = Row({Edit3, Label11, Edit4});
  range->addSpacing(12);
  range->addWidget(Button12);
  range->addWidget(Button11);
  range->addStretch(1);
  grid->addWidget(Label3, 3, 0);
  grid->addLayout(range, 3, 1);
}

QWidget* TForm1::BuildDumpArea() {
  dumpArea_ = Named<QWidget>(centralWidget(), "DumpArea");
  auto* column = new QVBoxLayout(dumpArea_);
  column->setContentsMargins(0, 0, 0, 0);
  Memo1 = Named<DumpView>(dumpArea_, "Memo1");
  Memo1->setEnabled(false);
  column->addWidget(Memo1, 1);
  Button8 = Button(dumpArea_, "Button8");
  Button3 = Button(dumpArea_, "Button3");
  Button4 = Button(dumpArea_, "Button4");
  Button9 = Button(dumpArea_, "Button9");
  Button8->setText("|<");
  Button3->setText("<");
  Button4->setText(">");
  Button9->setText(">|");
  Label1 = RightLabel(dumpArea_, "Label1");
  Edit1 = Named<QLineEdit>(dumpArea_, "Edit1");
  Edit1->setMaximumWidth(QFontMetrics(WindowFont()).horizontalAdvance(QString(14, '0')));
  Button5 = Button(dumpArea_, "Button5");
  for (QPushButton* arrow : {Button8, Button3, Button4, Button9}) {
    arrow->setMaximumWidth(std::max(32, arrow->sizeHint().height() * 3 / 2));
  }
  auto* navigation = Row({Button8, Button3, Button4, Button9, Label1, Edit1, Button5});
  navigation->addStretch(1);
  column->addLayout(navigation);
  for (QWidget* control : std::initializer_list<QWidget*>{Button8, Button3, Button4, Button9, Edit1, Button5}) {
    control->setEnabled(false);
  }
  Edit1->installEventFilter(this);
  dumpArea_->hide();
  return dumpArea_;
}

void TForm1::BuildStatusBar() {
  StatusBar1 = statusBar();
  StatusBar1->setObjectName("StatusBar1");
  for (int i = 0; i < 3; ++i) {
    StatusPanels[i] = new QLabel(StatusBar1);
    StatusPanels[i]->setObjectName(QString("StatusPanel%1").arg(i));
  }
  StatusBar1->addWidget(StatusPanels[0]);
  StatusBar1->addWidget(StatusPanels[1]);
  // The open source's path takes what is left, shortened in its middle.
  StatusPanels[2]->setMinimumWidth(40);
  StatusPanels[2]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  StatusBar1->addWidget(StatusPanels[2], 1);
  // The link to the help window: a flat button, so that the keyboard
  // reaches it and the whole word answers a click.
  HelpLink = Named<QPushButton>(StatusBar1, "HelpLink");
  HelpLink->setFlat(true);
  HelpLink->setCursor(Qt::PointingHandCursor);
  HelpLink->setForegroundRole(QPalette::Link);
  QFont link = HelpLink->font();
  link.setUnderline(true);
  HelpLink->setFont(link);
  HelpLink->setAutoDefault(true);
  StatusBar1->addPermanentWidget(HelpLink);
}

void TForm1::ConnectControls() {
  connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(Button10, &QPushButton::clicked, this, &TForm1::Button10Click);
  connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
  // activated is emitted for the user's choices only, never for a selection
  // made from code.
  connect(ComboBox1, &QComboBox::activated, this, &TForm1::ComboBox1Click);
  connect(ComboBox2, &QComboBox::activated, this, &TForm1::ComboBox2Click);
  connect(ComboBox3, &QComboBox::activated, this, &TForm1::ComboBox3Click);
  connect(Button12, &QPushButton::clicked, this, &TForm1::Button12Click);
  connect(Button11, &QPushButton::clicked, this, &TForm1::Button11Click);
  connect(Button8, &QPushButton::clicked, this, &TForm1::Button8Click);
  connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
  connect(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
  connect(Button9, &QPushButton::clicked, this, &TForm1::Button9Click);
  connect(Button5, &QPushButton::clicked, this, &TForm1::Button5Click);
  connect(Edit1, &QLineEdit::returnPressed, this, &TForm1::Button5Click);
  // Enter in the folder or range boxes starts the rescue they are set for.
  for (QLineEdit* edit : {Edit2, Edit3, Edit4}) connect(edit, &QLineEdit::returnPressed, this, &TForm1::Button12Click);
  connect(chkDOC, &QCheckBox::clicked, this, &TForm1::chkDOCClick);
  connect(chkDOCX, &QCheckBox::clicked, this, &TForm1::chkDOCXClick);
  connect(Button6, &QPushButton::clicked, this, &TForm1::Button6Click);
  connect(SpeedButton1, &QPushButton::clicked, this, &TForm1::SpeedButton1Click);
  connect(HelpLink, &QPushButton::clicked, this, &TForm1::ShowHelp);
}

void TForm1::ShowHeight() {
  const bool expanded = SpeedButton1->isChecked();
  dumpArea_->setVisible(expanded);
  // The layouts learn what is shown before the window takes its height.
  centralWidget()->layout()->activate();
  layout()->activate();
  const QSize hint = sizeHint();
  int height = hint.height();
  // Expanded, the window is as wide as the dump wants, where it was not yet.
  int width = expanded ? std::max(this->width(), hint.width()) : this->width();
  if (const QScreen* screen = this->screen()) {
    const QSize frameExtra = isVisible() ? frameGeometry().size() - geometry().size() : QSize();
    height = std::min(height, screen->availableGeometry().height() - frameExtra.height());
    width = std::min(width, screen->availableGeometry().width() - frameExtra.width());
  }
  resize(std::max(width, minimumSizeHint().width()), std::max(height, minimumSizeHint().height()));
  KeepOnScreen();
}

void TForm1::KeepOnScreen() {
  const QScreen* screen = this->screen();
  if (screen == nullptr) return;
  const QRect available = screen->availableGeometry();
  const QRect frame = frameGeometry();
  const int frameWide = frame.width() - geometry().width();
  const int frameHigh = frame.height() - geometry().height();
  // A window grown past the screen's edges moves back onto it, and is no
  // larger than the screen.
  if (width() + frameWide > available.width() || height() + frameHigh > available.height()) {
    resize(std::min(width(), available.width() - frameWide), std::min(height(), available.height() - frameHigh));
  }
  const int left = std::clamp(frame.left(), available.left(), std::max(available.left(), available.right() + 1 - frameGeometry().width()));
  const int top = std::clamp(frame.top(), available.top(), std::max(available.top(), available.bottom() + 1 - frameGeometry().height()));
  if (left != frame.left() || top != frame.top()) move(left, top);
}

}  // namespace vellumark
