// The update dialog: installation discovery, the localised texts and the
// update run. The language table and the small text rules above the _WIN32
// block are free of Win32 and build natively for the sanitizer tests.
#pragma once

#include <cstdint>
#include <string>

#include "SysUtils.h"
#include "UpdateSign.h"

// ---------------------------------------------------------------- language table

constexpr int kLanguageCount = 53;
constexpr int kEnglishIndex = 15;

struct TLanguageEntry {
  std::uint8_t PrimaryLanguage;  // compared with the low 10 bits of a locale id
  const char* Texts;             // "field/field/.../" or nullptr
};

// 1-based; entry 0 is unused. Read only.
extern const TLanguageEntry LanguageTable[kLanguageCount + 1];

// The code of entry index (1..53) as a ShortString inside the table's own
// writable storage of consecutive 3-byte ShortStrings, so its address can be
// handed to the installer library. Index 0 (no language) gives "EN".
formkit::ShortString* LanguageCode(int index);
std::string LanguageCodeText(int index);

// 0 when the code is not exactly two characters of a table entry.
int LanguageFromCode(const formkit::ShortString& code);
int LanguageFromCode(const std::string& code);

// The entry for a thread locale: the last entry with the locale's primary
// language, texts or not; 0 when none has it.
int LanguageForLocale(std::uint32_t localeId);

// Returns the text up to the next '/' and moves position past it. Stops at the
// end of the record when the '/' is missing, so a damaged record cannot
// run past its terminator.
std::string NextTextField(const char*& position);

// The seven fields of a record; the English record has only the last four.
struct TDialogTexts {
  bool HasCaptions = false;
  std::string PathCaption, OkCaption, CancelCaption;
  std::string LoadingText, UpdateCaption, ConnectErrorText, ReadOnlyErrorText;
};
// False for index 0, > 53 or an entry without texts (texts untouched).
bool ReadLanguageTexts(int index, TDialogTexts& texts);

// ---------------------------------------------------------------- update-run rules

// Built-in settings of the program (set from the build).
extern std::string UpdateBaseUrl;
// The publisher's P-256 public key (PEM or raw) from the build setting
// UPDATE_PUBLIC_KEY. Empty: update sets are not signed, nothing is verified
// and the verifying code is left out of the program.
std::string UpdatePublicKey();
const formkit::ShortString& ClientCode();

// Key of the Adresses section: the fourth character of the client code, "A"
// for a shorter code.
std::string AdressesKey(const std::string& clientCode);
// The address UPDATE.NFO comes from: the client's value, else "A"'s, else the
// base URL; always ends in '/'.
std::string ChooseDownloadAddress(const std::string& clientValue, const std::string& fallbackValue,
                                  const std::string& baseUrl);
// The name DownloadFile returned when it is the file the run asked for (name
// in downloadDir, or the local path itself), else empty: the run never takes
// a file of another name for the one it wanted.
std::string AskedFileOnly(const std::string& got, const std::string& url, const std::string& downloadDir,
                          const std::string& name);
// The final connection message: the last character of the text becomes ':'
// (the text is changed in place), then "\r\r " and the detail.
std::string ConnectFailureText(std::string& connectErrorText, const std::string& detail);
// The marker of an installation folder.
constexpr const char* kMarkerFile = "varnowin.ini";
// The candidates of the drive scan for one drive letter, in order.
std::string DriveCandidate(char letter, int which);  // which: 0..2

void StartUpdateFrm();
void FinishUpdateFrm();

#if defined(_WIN32)
#include <windows.h>

#include "Controls.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"

bool IsInstallFolder(std::string& path);
bool HasLocaleInfoEx();
std::string SpecialFolderPath(int csidl);
std::string CurrentUserName();
std::string ReadRegistryString(HKEY root, const std::string& keyPath, const std::string& valueName);
std::string ReadSetting(const std::string& iniPath, const std::string& section, const std::string& key,
                        const std::string& fallback);

// Shows the folder and the attribute value and returns true when the folder
// cannot take files.
bool FolderNotWritable(const std::string& folder);

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

 private:
  // update.ini as the run reads it: the file through the profile reader, or,
  // for signed sets, the very bytes whose signature was checked.
  struct TDescription {
    std::string Path;
    bool Signed = false;
    TIniText Text;
    std::string Get(const std::string& section, const std::string& key, const std::string& fallback) const;
  };
  // The update run; true when the dialog is to close afterwards.
  bool RunUpdate();
  bool EnsureCurrentFile(const std::string& name, const std::string& downloadDir, const TDescription& description,
                         std::string& currentFile);
  // Signed sets: fetches update.ini.sig and update.ini and fills description
  // from the verified bytes. False with the reason in LastDownloadError when
  // the description is refused; size 0 when update.ini was not fetched.
  bool FetchSignedDescription(const std::string& downloadDir, std::int32_t& size, TDescription& description,
                              std::string& currentFile);
  // Signed sets: downloadDir holds the copy of url's file whose SHA-256 the
  // description gives; a local copy with that hash is kept without a request.
  bool EnsureHashedFile(const std::string& url, const std::string& name, const std::string& downloadDir,
                        const TDescription& description, std::string& currentFile);
};

extern TUpdateForm* UpdateForm;
#endif
