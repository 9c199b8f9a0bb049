// The update dialog: the folder and proxy fields, the localised texts, and
// the view through which the update run (UpdateRun_win.h) shows itself.
#pragma once

#include <windows.h>

#include "Controls.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"
#include "Languages.h"
#include "RunView.h"

// The dialog's title, set when it is shown.
constexpr char kDialogTitle[] = " QUILLON - Internet";

// Posted to the dialog's window when a close asked for during a handler is due.
constexpr UINT kDeferredCloseMessage = WM_APP + 1;

class TUpdateForm : public formkit::TForm {
  FK_CLASS()
 public:
  ~TUpdateForm() override;
  // Published fields, bound by name from the form resource.
  formkit::TEdit* PathEdit = nullptr;
  formkit::TLabel* PathLabel = nullptr;
  formkit::TButton* PathBtn = nullptr;
  formkit::TButton* OkBtn = nullptr;
  formkit::TButton* CancelBtn = nullptr;
  formkit::TImage* Image1 = nullptr;
  formkit::TLabel* StatusLabel = nullptr;
  formkit::TLabel* Label1 = nullptr;
  formkit::TEdit* ProxyEdit = nullptr;
  formkit::TButton* ProxyBtn = nullptr;

  // Published methods.
  void FormShow(formkit::TObject* sender);
  void CancelBtnClick(formkit::TObject* sender);
  void PathBtnClick(formkit::TObject* sender);
  void OkBtnClick(formkit::TObject* sender);
  void ProxyBtnClick(formkit::TObject* sender);

  bool ApplyLanguage(int index);
  void UseFallbackTexts();
  void PrepareDialog();

  std::string ConnectErrorText;
  std::string LoadingText;
  std::string UpdateCaption;
  std::string ReadOnlyErrorText;
  std::string DiskErrorText;
  std::string AdminRightsText;
  std::int32_t LanguageIndex = 0;
  std::string InstallDir;

  // Handlers pump messages, so Cancel can be clicked inside one. A close asked
  // for while any of them runs is posted to the form's window when the
  // outermost has returned, and carried out by the message loop: the form is
  // never destroyed under a running handler.
  bool Running = false;  // the update run is in progress
  int BusyDepth = 0;     // handlers in progress
  bool CloseRequested = false;
  void RequestClose();
  void Dispatch(formkit::TMessage& message) override;

  // Cancel was pressed, or the window or the message loop is gone.
  bool Cancelled() const;

  // The proxy setting shown in ProxyEdit: the system's, or the user's own.
  std::string ProxySetting;
  // The program's file, read once when the dialog shows.
  std::string ProgramFile;

 private:
  void TakeMessages(const TDialogTexts& texts);
  // The one place that turns how a run ended into what the user sees.
  void ShowRunEnd(const TRunEnd& end, const std::string& logPath);
};

extern TUpdateForm* UpdateForm;
