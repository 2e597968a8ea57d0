#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QWidget>
#include <memory>
#include <vector>

#include "access/platform_source.h"
#include "access/sector_source.h"
#include "access/volume_parameters.h"
#include "backup/image_backup.h"
#include "rescue/deep_scan.h"
#include "ui/drive_list.h"
#include "ui/help_window.h"
#include "ui/progress_windows.h"
#include "ui/results_window.h"
#include "ui/window_services.h"
#include "viewer/sector_view.h"

namespace vellumark {

class WindowProgress;

// The main window. Its controls keep the names users and tests know them by;
// each handler calls one engine operation and mirrors the engine's state into
// the controls.
class TForm1 : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kClientWidth = 870;
  static constexpr int kCollapsedHeight = 238;
  static constexpr int kExpandedHeight = 542;
  static constexpr int kStatusAddressFrom = 650;

  TForm1(WindowServices services, std::unique_ptr<PlatformSource> platform, QWidget* parent = nullptr);
  ~TForm1() override;

  // Puts the message-table texts into the controls.
  void ApplyTexts();
  // The program is being ended: a running rescue stops at its next safe
  // point and still writes its report; a running backup drops its unfinished
  // image without asking.
  void EndRunningOperation();

  // The factor by which the drawn layout is grown so that every caption of
  // the chosen language fits; 1 when all fit as drawn.
  double LayoutScale() const { return scale_; }

  TForm2* Form2() const { return form2_; }
  TForm3* Form3() const { return form3_; }
  TypeMask CurrentTypeMask() const { return typeMask_; }
  const DeepScan& Scan() const { return scan_; }
  // The documents of the last rescue that wrote any; null before one did.
  ResultsWindow* Results() const { return results_; }
  // The help window, once the status bar's link has opened it.
  HelpWindow* Help() const { return help_; }
  void ShowHelp();

  QLabel *Label1, *Label2, *Label3, *Label5, *Label6, *Label7, *Label8, *Label9, *Label11, *Label12;
  DriveList* DriveComboBox1;
  QComboBox *ComboBox1, *ComboBox2, *ComboBox3;
  QPushButton *Button1, *Button2, *Button3, *Button4, *Button5, *Button6, *Button8, *Button9, *Button10, *Button11,
      *Button12, *SpeedButton1;
  QGroupBox* GroupBox1;
  QCheckBox *chkDOC, *chkDOCX;
  QLineEdit *Edit1, *Edit2, *Edit3, *Edit4;
  QPlainTextEdit* Memo1;
  QStatusBar* StatusBar1;
  QLabel* StatusPanels[4];

  void Button1Click();
  void Button10Click();
  void Button2Click();
  void ComboBox1Click();
  void ComboBox2Click();
  void ComboBox3Click();
  void Button12Click();
  void Button11Click();
  void Button8Click();
  void Button3Click();
  void Button4Click();
  void Button9Click();
  void Button5Click();
  void chkDOCClick();
  void chkDOCXClick();
  void Button6Click();
  void SpeedButton1Click();
  void StatusBar1MouseDown(int x);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // A control's drawn place in its parent; height 0 is the control's own.
  struct Spot {
    QWidget* widget;
    int left, top, width, height;
  };
  template <typename Widget>
  Widget* Place(QWidget* parent, const char* name, int left, int top, int width, int height = 0);
  QLabel* RightLabel(QWidget* parent, const char* name, int roomLeft, int rightEdge, int top);
  int S(int pixels) const;
  int HeightOf(const Spot& spot) const;
  double NeededScale() const;
  std::vector<QWidget*> ExpandedOnly() const;
  void LayOut();
  void FitDumpFont();
  // The collapsed or expanded height, kept on the screen.
  void ShowHeight();
  void BuildControls();
  // Where the image dialogs start: the folder of the last image opened or
  // written.
  std::string ImageFolder() const;
  // The opened source in the controls, or why path could not be opened.
  void ShowOpened(const OpenResult& result, const std::string& path);
  void CloseSourceAndView();
  void MirrorLists();
  void MirrorView();
  void ShowError(int slot);
  // Runs a rescue or a backup; should memory run out in it, the windows are
  // put back and the application is told, before the exception could reach
  // the toolkit.
  template <typename Operation>
  void RunGuarded(Operation operation);
  void RunRescue();
  void RunBackup();

  WindowServices services_;
  TForm2* form2_;
  TForm3* form3_;
  std::unique_ptr<WindowProgress> progress_;
  SectorSource source_;
  VolumeParameters parameters_;
  SectorView view_;
  FrontEnd frontEnd_;
  DeepScan scan_;
  ImageBackup backup_;
  TypeMask typeMask_ = type_mask::kInitial;
  bool backupRunning_ = false;
  bool shownOnce_ = false;
  QPointer<ResultsWindow> results_;
  QPointer<HelpWindow> help_;
  std::vector<Spot> spots_;
  double scale_ = 1.0;
};

}  // namespace vellumark
