#pragma once

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <memory>

#include "access/platform_source.h"
#include "access/sector_source.h"
#include "access/volume_parameters.h"
#include "backup/image_backup.h"
#include "rescue/deep_scan.h"
#include "ui/drive_list.h"
#include "ui/help_window.h"
#include "ui/progress_windows.h"
#include "ui/results_window.h"
#include "ui/dump_view.h"
#include "ui/window_services.h"
#include "viewer/sector_view.h"

namespace vellumark {

class WindowProgress;

// The main window. Its controls keep the names users and tests know them by;
// each handler calls one engine operation and mirrors the engine's state into
// the controls. The window is laid out by Qt's layouts, so that it can be
// resized and fits small or scaled screens; "More >>" shows the sector dump
// below the rescue controls.
class TForm1 : public QMainWindow {
  Q_OBJECT
 public:
  TForm1(WindowServices services, std::unique_ptr<PlatformSource> platform, QWidget* parent = nullptr);
  ~TForm1() override;

  // Puts the message-table texts into the controls and the menus.
  void ApplyTexts();
  // The program is being ended: a running rescue stops at its next safe
  // point and still writes its report; a running backup drops its unfinished
  // image without asking.
  void EndRunningOperation();

  TForm2* Form2() const { return form2_; }
  TForm3* Form3() const { return form3_; }
  TypeMask CurrentTypeMask() const { return typeMask_; }
  const DeepScan& Scan() const { return scan_; }
  // The documents of the last rescue; null before one ran.
  ResultsWindow* Results() const { return results_; }
  // The help window, once opened (menu, F1 or the status bar's link).
  HelpWindow* Help() const { return help_; }
  void ShowHelp();
  void ShowAbout();

  QLabel *Label1, *Label2, *Label3, *Label5, *Label6, *Label7, *Label8, *Label9, *Label11, *Label12;
  DriveList* DriveComboBox1;
  QComboBox *ComboBox1, *ComboBox2, *ComboBox3;
  QPushButton *Button1, *Button2, *Button3, *Button4, *Button5, *Button6, *Button8, *Button9, *Button10, *Button11,
      *Button12, *SpeedButton1;
  QGroupBox* GroupBox1;
  QCheckBox *chkDOC, *chkDOCX;
  // Files written under the original names and folders the file system's
  // records give them, where a record matches (TEST_ names otherwise).
  QCheckBox* chkOriginalNames;
  QLineEdit *Edit1, *Edit2, *Edit3, *Edit4;
  DumpView* Memo1;
  QStatusBar* StatusBar1;
  // The rescued count, the sector count, the source that is open, and the
  // link to the help window.
  QLabel* StatusPanels[3];
  QPushButton* HelpLink;
  QMenu *MenuFile, *MenuHelp;
  QAction *ActionOpenDrive, *ActionOpenImage, *ActionClose, *ActionQuit, *ActionHelp, *ActionAbout;

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

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // main_window_controls.cpp: the controls and their layouts.
  void BuildControls();
  QWidget* BuildTopRow();
  void BuildRescueArea();
  QWidget* BuildDumpArea();
  void BuildStatusBar();
  void ConnectControls();
  // The collapsed or expanded height, the window kept on the screen.
  void ShowHeight();
  void KeepOnScreen();

  // main_window_menu.cpp: the menu bar, access keys and tooltips.
  void BuildMenus();
  void ApplyMenuTexts();
  void ApplyAccessKeys();
  void ApplyToolTips();

  // main_window_runs.cpp: the rescue and the backup.
  // Runs a rescue or a backup; should memory run out in it, the windows are
  // put back and the application is told, before the exception could reach
  // the toolkit.
  template <typename Operation>
  void RunGuarded(Operation operation);
  void RunRescue();
  void RunBackup();
  // A source the system has mounted read-write may still be written to:
  // the user is told, and may back it up first. False when the rescue is
  // not to go on.
  bool MountedSourceAccepted();
  void ShowRefusal(const ScanResult& result);

  // Where the image dialogs start: the folder of the last image opened or
  // written.
  std::string ImageFolder() const;
  // The opened source in the controls, or why path could not be opened.
  void ShowOpened(const OpenResult& result, const std::string& path);
  void CloseSourceAndView();
  void ClearView();
  // The controls that depend on a source being open.
  void ShowSourceState();
  void MirrorLists();
  void MirrorView();
  void ShowError(int slot, const std::string& suffix = {});

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
  QWidget* dumpArea_ = nullptr;
};

}  // namespace vellumark
