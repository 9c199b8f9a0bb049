// The update dialog and its run, and the Win32 helpers of discovery.
#pragma once

#include <windows.h>

#include "Controls.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"
#include "UpdateFrm.h"
#include "UpdateSign.h"
#include "WinInetEasy_win.h"

bool IsInstallFolder(std::string& path);
bool HasLocaleInfoEx();
std::string SpecialFolderPath(int csidl);
std::string CurrentUserName();
std::string ReadRegistryString(HKEY root, const std::string& keyPath, const std::string& valueName);
std::string ReadSetting(const std::string& iniPath, const std::string& section, const std::string& key,
                        const std::string& fallback);

// False when the folder cannot take files; attributes as found (-1: none).
bool FolderTakesFiles(const std::string& folder, std::int32_t& attributes);

// The copy update.exe runs from Download, beside downloaded files: libraries
// that the program or Windows load by bare name come from the system folder
// only. Called at start, and again when MakeUpdate returns.
void RestrictDllSearch();

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

  bool TryInstallFolder(const std::string& candidate);
  bool ApplyLanguage(int index);
  void UseFallbackTexts();
  void PrepareDialog();

  std::string ConnectErrorText;
  std::string LoadingText;
  std::string UpdateCaption;
  std::string ReadOnlyErrorText;
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

 // The download client the run owns; the dialog sets its proxy and agent.
  TDownloadClient Client;
  // The program's file, read once when the dialog shows.
  std::string ProgramFile;

  // How a run ends short of the installer; RunUpdate shows it to the user.
  enum class TRunFailure : std::uint8_t {
    None,           // handed over, or the dialog stays for another try
    Cancelled,      // the dialog gave up: nothing to show
    ReadOnly,       // a folder cannot take files
    NoDescription,  // update.ini of an unsigned set did not come
    Download,       // a file did not come or was refused, for the reason in Detail
    NoInstaller,    // update2.dll cannot be loaded or has no MakeUpdate
  };
  struct TRunEnd {
    TRunFailure Failure = TRunFailure::None;
    std::string Detail;            // Download: the reason; ReadOnly: the folder
    std::int32_t Attributes = -1;  // ReadOnly: the folder's attributes
    bool CloseDialog = true;
  };

 private:
  // update.ini as the run reads it: the file through the profile reader, or,
  // for signed sets, the very bytes whose signature was checked.
  struct TDescription {
    std::string Path;
    bool Signed = false;
    TIniText Text;
    std::string Get(const std::string& section, const std::string& key, const std::string& fallback) const;
  };
  // The update run; true when the dialog is to close afterwards. The one
  // place that turns how the run ended into what the user sees.
  bool RunUpdate();
  TRunEnd RunSteps();
  TDownload FetchAsked(const std::string& url, const std::string& downloadDir, const std::string& name,
                       std::uint64_t maxBytes, const TCopyCheck& check = {}, bool fetchAnew = false);
  TDownload EnsureCurrentFile(const std::string& name, const std::string& downloadDir, const TDescription& description);
  // Signed sets: fetches update.ini.sig and update.ini and fills description
  // from the verified bytes; fails when the pair was not fetched or is refused.
  TDownload FetchSignedDescription(const std::string& downloadDir, TDescription& description);
  // Signed sets: downloadDir holds the copy of url's file whose SHA-256 the
  // description gives; a local copy with that hash is kept without a request.
  TDownload EnsureHashedFile(const std::string& url, const std::string& name, const std::string& downloadDir,
                             const TDescription& description);
};

extern TUpdateForm* UpdateForm;
