// The update dialog: discovery, the localised texts and the update run.
#include "UpdateFrm_win.h"

#include <shlobj.h>

#include <cstring>
#include <exception>
#include <utility>

#include "LibraryImage.h"
#include "ScopedWin.h"
#include "UpdateKey.h"
#include "UpdateSign_win.h"
#include "WinInetEasy_win.h"

namespace {
// Known when the program is compiled, so a build without a key has none of
// the verifying code.
constexpr bool kSignedSets = kUpdatePublicKeySize != 0;
}  // namespace

using formkit::ErrorBox;
using formkit::FolderExists;
using formkit::PathExists;

namespace {

template <class H>
HWND AsWindow(H handle) {
  return (HWND)(handle);
}

const char kInternetSettingsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const char kFallbackFolder[] = "C:\\Program Files\\Varno3\\";

// Marks a handler of the dialog as running. When the outermost one ends and a
// close was asked for meanwhile, the close is posted to the loop.
class TBusyGuard {
 public:
  explicit TBusyGuard(TUpdateForm* form) : form_(form) { ++form_->BusyDepth; }
  TBusyGuard(const TBusyGuard&) = delete;
  TBusyGuard& operator=(const TBusyGuard&) = delete;
  ~TBusyGuard() {
    // Without a window there is nothing left to close; an error on its way
    // out ends the program instead.
    if (--form_->BusyDepth == 0 && form_->CloseRequested && form_->Handle != nullptr && !std::uncaught_exceptions())
      PostMessageA(AsWindow(form_->Handle), kDeferredCloseMessage, 0, 0);
  }

 private:
  TUpdateForm* form_;
};

// The download client asks between blocks whether the dialog gave up.
bool DialogGaveUp() { return UpdateForm != nullptr && UpdateForm->Running && UpdateForm->Cancelled(); }

// The path label, emptied for the run, shows the file on its way; redrawn at
// most every kProgressMs, and always when a file is complete.
constexpr DWORD kProgressMs = 250;
std::string progressName;
DWORD progressShownAt = 0;

void ShowProgress(std::uint64_t received, std::int64_t total) {
  const DWORD now = GetTickCount();
  const bool complete = total >= 0 && received >= static_cast<std::uint64_t>(total);
  if (UpdateForm == nullptr || !UpdateForm->Running || (!complete && now - progressShownAt < kProgressMs)) return;
  progressShownAt = now;
  UpdateForm->PathLabel->SetCaption(ProgressText(progressName, received, total));
}

void StartProgress(const std::string& name) {
  progressName = name;
  progressShownAt = GetTickCount() - kProgressMs;  // the first block shows at once
  if (UpdateForm != nullptr && UpdateForm->Running) UpdateForm->PathLabel->SetCaption(name);
}

}  // namespace

TUpdateForm* UpdateForm = nullptr;

// ---------------------------------------------------------------- discovery and settings

bool IsInstallFolder(std::string& path) {
  if (path.size() < 2) return false;
  if (path.back() != '\\') path += '\\';
  if (!FolderExists(path)) return false;
  return PathExists(path + kMarkerFile);
}

bool HasLocaleInfoEx() { return formkit::dyn::GetLocaleInfoEx() != nullptr; }

std::string SpecialFolderPath(int csidl) {
  formkit::TScopedCoTaskMem items;  // the shell allocator is the COM task allocator
  if (SHGetSpecialFolderLocation(nullptr, csidl, reinterpret_cast<LPITEMIDLIST*>(items.Out())) != S_OK ||
      !items)
    return std::string();
  char buffer[MAX_PATH + 1] = {};
  if (!SHGetPathFromIDListA(static_cast<LPCITEMIDLIST>(items.Get()), buffer)) return std::string();
  std::string result = buffer;
  // Some shells end the path with a backslash; callers add their own.
  while (!result.empty() && result.back() == '\\') result.pop_back();
  return result;
}

std::string CurrentUserName() {
  char buffer[257] = {};
  DWORD size = 256;
  if (!GetUserNameA(buffer, &size)) return "varnowin";
  return std::string(buffer);
}

std::string ReadRegistryString(HKEY root, const std::string& keyPath, const std::string& valueName) {
  formkit::TScopedKey key;
  if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_QUERY_VALUE, key.Out()) != ERROR_SUCCESS) return std::string();
  char buffer[251] = {};
  DWORD type = REG_SZ;
  DWORD size = 250;
  if (RegQueryValueExA(key.Get(), valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
      ERROR_SUCCESS)
    return std::string();
  buffer[250] = '\0';
  return std::string(buffer);
}

std::string ReadSetting(const std::string& iniPath, const std::string& section, const std::string& key,
                        const std::string& fallback) {
  char buffer[2048] = {};
  DWORD count = GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(), buffer, sizeof buffer,
                                         iniPath.c_str());
  if (count > sizeof buffer - 1) count = sizeof buffer - 1;
  return std::string(buffer, count);
}

bool FolderTakesFiles(const std::string& folder, std::int32_t& attributes) {
  const DWORD found = GetFileAttributesA(folder.c_str());
  attributes = static_cast<std::int32_t>(found);
  return found != INVALID_FILE_ATTRIBUTES && (found & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (found & FILE_ATTRIBUTE_READONLY) == 0;
}

namespace {
using formkit::dyn::SetDefaultDllDirectories;

// update2.dll by its full path; its own imports come from its folder first.
HMODULE LoadInstallerLibrary(const std::string& path) {
  const DWORD flags = SetDefaultDllDirectories() != nullptr
                          ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
                          : LOAD_WITH_ALTERED_SEARCH_PATH;
  return LoadLibraryExA(path.c_str(), nullptr, flags);
}

// The installer finds libraries by bare name as it did when Download was the
// program's folder: the program's folder, Download, the system folders.
void InstallerDllSearch(const std::string& downloadDir) {
  if (auto setDefault = SetDefaultDllDirectories()) setDefault(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  SetDllDirectoryA(downloadDir.c_str());
}
}  // namespace

void RestrictDllSearch() {
  if (auto setDefault = SetDefaultDllDirectories()) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetDllDirectoryA("");  // and the current folder leaves the classic search order
}

// ---------------------------------------------------------------- the dialog

namespace {
const formkit::TPublishedField kUpdateFormFields[] = {
    FK_FIELD(TUpdateForm, PathEdit),  FK_FIELD(TUpdateForm, PathLabel),   FK_FIELD(TUpdateForm, PathBtn),
    FK_FIELD(TUpdateForm, OkBtn),     FK_FIELD(TUpdateForm, CancelBtn),   FK_FIELD(TUpdateForm, Image1),
    FK_FIELD(TUpdateForm, StatusLabel), FK_FIELD(TUpdateForm, Label1),    FK_FIELD(TUpdateForm, ProxyEdit),
    FK_FIELD(TUpdateForm, ProxyBtn),
};
const formkit::TPublishedMethod kUpdateFormMethods[] = {
    FK_METHOD(TUpdateForm, FormShow),    FK_METHOD(TUpdateForm, CancelBtnClick), FK_METHOD(TUpdateForm, PathBtnClick),
    FK_METHOD(TUpdateForm, OkBtnClick),  FK_METHOD(TUpdateForm, ProxyBtnClick),
};
}  // namespace

FK_IMPLEMENT_PUBLISHED_CLASS(TUpdateForm, formkit::TForm, kUpdateFormFields, kUpdateFormMethods);

TUpdateForm::~TUpdateForm() {
  if (UpdateForm == this) UpdateForm = nullptr;
}

bool TUpdateForm::TryInstallFolder(const std::string& candidate) {
  std::string path = candidate;
  if (!IsInstallFolder(path)) return false;
  InstallDir = path;
  return true;
}

bool TUpdateForm::ApplyLanguage(int index) {
  TDialogTexts texts;
  if (!ReadLanguageTexts(index, texts)) return false;
  LanguageIndex = index;
  if (texts.HasCaptions) {
    PathLabel->SetCaption(texts.PathCaption);
    OkBtn->SetCaption(texts.OkCaption);
    CancelBtn->SetCaption(texts.CancelCaption);
  }
  LoadingText = texts.LoadingText;
  UpdateCaption = texts.UpdateCaption;
  ConnectErrorText = texts.ConnectErrorText;
  ReadOnlyErrorText = texts.ReadOnlyErrorText;
  return true;
}

// Without a language of its own the dialog still needs its messages and an
// Install caption: the English texts stand in, the stored captions stay.
void TUpdateForm::UseFallbackTexts() {
  TDialogTexts texts;
  ReadLanguageTexts(kEnglishIndex, texts);
  LoadingText = texts.LoadingText;
  UpdateCaption = texts.UpdateCaption;
  ConnectErrorText = texts.ConnectErrorText;
  ReadOnlyErrorText = texts.ReadOnlyErrorText;
}

void TUpdateForm::PrepareDialog() {
  StatusLabel->SetCaption(std::string());
  Label1->SetCaption(kDialogTitle);
  SetCaption(kDialogTitle);
  OkBtn->SetFocus();
  Reshow();
  formkit::Application->ProcessMessages();
}

void TUpdateForm::FormShow(formkit::TObject*) {
  TBusyGuard busy(this);
  // Asked only when needed: the shell's DLLs take a while to load, and a
  // program in its install folder never needs them before the dialog shows.
  std::string documentsFolder;
  bool documentsAsked = false;
  auto documents = [&]() -> const std::string& {
    if (!documentsAsked && HasLocaleInfoEx()) documentsFolder = SpecialFolderPath(CSIDL_PERSONAL) + "\\Varno3\\";
    documentsAsked = true;
    return documentsFolder;
  };

  ProgramFile = formkit::ProgramPath();
  Client.Agent = AgentNameOf(ProgramFile);
  InstallDir = formkit::FolderPart(ProgramFile);
  if (!TryInstallFolder(InstallDir)) {
    std::string own = InstallDir;
    if (!own.empty()) own.pop_back();
    InstallDir = formkit::FolderPart(own);
    bool found = TryInstallFolder(InstallDir) || (!documents().empty() && TryInstallFolder(documents()));
    for (char letter = 'C'; !found && letter <= 'Z'; ++letter) {
      const char root[] = {letter, ':', '\\', '\0'};
      if (GetDriveTypeA(root) != DRIVE_FIXED) continue;
      for (int which = 0; which < 3 && !found; ++which) found = TryInstallFolder(DriveCandidate(letter, which));
    }
  }

  LanguageIndex = LanguageForLocale(static_cast<std::uint32_t>(GetThreadLocale()));
  Client.ProxySetting = ReadRegistryString(HKEY_CURRENT_USER, kInternetSettingsKey, "ProxyServer");

  if (TryInstallFolder(InstallDir)) {
    const std::string settings = InstallDir + CurrentUserName() + ".ini";
    std::string code = ReadSetting(settings, "Prefs", "defLangue", std::string());
    if (code.size() > 255) code.resize(255);
    if (!ApplyLanguage(LanguageFromCode(code)) && !ApplyLanguage(LanguageIndex)) UseFallbackTexts();
    Client.ProxySetting = ReadSetting(settings, "Protect", "Proxy", Client.ProxySetting);
    OkBtn->SetCaption(UpdateCaption);
  } else {
    InstallDir = documents().empty() ? std::string(kFallbackFolder) : documents();
    if (!ApplyLanguage(LanguageIndex)) UseFallbackTexts();
  }
  PrepareDialog();
  PathEdit->SetText(InstallDir);
  ProxyEdit->SetText(Client.ProxySetting);
  ProxyEdit->Hide();
}

void TUpdateForm::PathBtnClick(formkit::TObject*) {
  TBusyGuard busy(this);
  std::string folder = formkit::TrimBlanks(PathEdit->GetText());
  if (!formkit::SelectDirectory(AsWindow(Handle), PathLabel->GetCaption(), folder)) return;
  if (!IsInstallFolder(folder)) return;
  InstallDir = folder;
  PathEdit->SetText(folder);
  PrepareDialog();
}

void TUpdateForm::ProxyBtnClick(formkit::TObject*) {
  ProxyBtn->Hide();
  StatusLabel->SetCaption("Proxy:         (adress:port)");
  ProxyEdit->Show();
}

bool TUpdateForm::Cancelled() const {
  if (CloseRequested) return true;
  if (formkit::Application != nullptr && formkit::Application->Terminated) return true;
  return Handle != 0 && !IsWindow(AsWindow(Handle));
}

void TUpdateForm::CancelBtnClick(formkit::TObject*) { RequestClose(); }

void TUpdateForm::RequestClose() {
  if (BusyDepth > 0) {
    CloseRequested = true;  // a running update stops at its next step
    return;
  }
  Close();
}

void TUpdateForm::Dispatch(formkit::TMessage& message) {
  // A handler that started after the close was posted ends with its own post.
  if (message.Msg == kDeferredCloseMessage) {
    if (BusyDepth == 0) Close();
    return;
  }
  formkit::TForm::Dispatch(message);
}

void TUpdateForm::OkBtnClick(formkit::TObject*) {
  if (Running) return;
  TBusyGuard busy(this);
  Running = true;
  Client.Cancelled = &DialogGaveUp;
  Client.Progress = &ShowProgress;
  bool close;
  try {
    close = RunUpdate();
  } catch (...) {
    Running = false;
    Client.Cancelled = nullptr;
    Client.Progress = nullptr;
    throw;
  }
  Running = false;
  Client.Cancelled = nullptr;
  Client.Progress = nullptr;
  // The guard posts the close when this is the outermost handler.
  if (close) CloseRequested = true;
}

namespace {

// The first bytes of a file, up to maxBytes; empty when it cannot be read.
std::string FileHead(const std::string& path, std::size_t maxBytes) {
  formkit::TScopedFile file(
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string head(maxBytes, '\0');
  DWORD count = 0;
  if (!file || !ReadFile(file.Get(), &head[0], static_cast<DWORD>(maxBytes), &count, nullptr)) count = 0;
  head.resize(count);
  return head;
}

// UPDATE.NFO of an unsigned set has no stated size; this is far above any.
constexpr std::uint64_t kMaxUnsignedNfoBytes = 64 << 20;

// The size update.ini gives a file is the bound of its download.
std::uint64_t StatedSize(std::int64_t size) { return size > 0 ? static_cast<std::uint64_t>(size) : 0; }

}  // namespace

// Fetches url into downloadDir; a file of another name counts as none.
TDownload TUpdateForm::FetchAsked(const std::string& url, const std::string& downloadDir, const std::string& name,
                                  std::uint64_t maxBytes, const TCopyCheck& check, bool fetchAnew) {
  StartProgress(name);
  TDownload got = Client.Fetch(url, downloadDir, maxBytes, check, fetchAnew);
  if (got.Ok() && AskedFileOnly(got.Path, url, downloadDir, name).empty()) {
    got.Path.clear();
    got.Error = TDownloadError::NotFound;
    got.ErrorText = "No such File!";
  }
  return got;
}

std::string TUpdateForm::TDescription::Get(const std::string& section, const std::string& key,
                                           const std::string& fallback) const {
  return kSignedSets && Signed ? Text.Get(section, key, fallback) : ReadSetting(Path, section, key, fallback);
}

// Makes sure downloadDir holds the current copy of the library name. A copy
// of another size, or no DLL for this processor, never replaces the one in
// place.
TDownload TUpdateForm::EnsureCurrentFile(const std::string& name, const std::string& downloadDir,
                                         const TDescription& description) {
  if (kSignedSets && description.Signed) return EnsureHashedFile(UpdateBaseUrl + name, name, downloadDir, description);
  const std::string path = downloadDir + name;
  const std::int32_t expectedDate = formkit::TextToIntDef(description.Get("FileDate", name, "0"), 0);
  const std::int64_t expectedSize = formkit::TextToIntDef(description.Get("FileSize", name, "0"), 0);
  const formkit::TFileStamp local = formkit::FileStamp(path);
  if (local.Date != -1 && local.Date == expectedDate && local.Size == expectedSize) return DownloadSuccess(path, local.Size);
  const std::string badSize = "Bad size for " + UpdateBaseUrl + name;
  std::string notLibrary;
  const TCopyCheck copyCheck = [&](const std::string& tempPath, std::uint64_t size) {
    if (static_cast<std::int64_t>(size) != expectedSize) return badSize;
    notLibrary = LibraryImageFault(FileHead(tempPath, kLibraryHeadBytes), size, kProgramMachine);
    return notLibrary.empty() ? std::string() : "Bad library for " + UpdateBaseUrl + name + " (" + notLibrary + ")";
  };
  const TDownload got = FetchAsked(UpdateBaseUrl + name, downloadDir, name, StatedSize(expectedSize), copyCheck);
  if (got.Size == expectedSize) return got;
  return DownloadFailure(TDownloadError::CheckRefused, notLibrary.empty() ? badSize : got.ErrorText);
}

namespace {

// Signed by any of the publisher's keys.
bool SignedByPublisher(const std::string& bytes, const std::string& signatureDer) {
  std::string signature, key;
  if (!EcdsaDerToRaw(signatureDer, signature)) return false;
  for (unsigned which = 0; which < kUpdatePublicKeyCount; ++which)
    if (P256PublicKeyBlob(UpdatePublicKey(which), key) && VerifyP256Sha256(key, bytes, signature)) return true;
  return false;
}

// The description's signature, form and release, checked against the bytes
// it came in. Returns the refusal, or an empty text.
std::string CheckDescription(const std::string& bytes, const std::string& signatureDer, std::uint32_t lastSerial,
                             const std::string& url) {
  if (!SignedByPublisher(bytes, signatureDer)) return "Bad signature for " + url;
  const TIniText ini(bytes);
  if (!ini.Valid()) return "Unreadable lines in " + url;
  std::uint32_t serial = 0, expires = 0;
  if (!ReleaseSerial(ini, serial)) return "Bad Serial in " + url;
  if (!ReleaseExpiry(ini, expires)) return "Bad Expires in " + url;
  if (serial < lastSerial)
    return "Older release in " + url + " (Serial " + DecimalText(serial) + ", " + DecimalText(lastSerial) +
           " already here)";
  SYSTEMTIME now;
  GetSystemTime(&now);
  if (expires != 0 && now.wYear * 10000u + now.wMonth * 100u + now.wDay > expires)
    return "Expired release in " + url + " (Expires " + ini.Get("Release", "Expires", "") + ")";
  return std::string();
}

std::string HashOfFileIs(const std::string& path, const std::string& digest, const std::string& url) {
  std::string actual;
  return Sha256OfFile(path, actual) && actual == digest ? std::string() : "Bad checksum for " + url;
}

}  // namespace

TDownload TUpdateForm::FetchSignedDescription(const std::string& downloadDir, TDescription& description) {
  const std::string url = UpdateBaseUrl + "update.ini";
  const std::string path = downloadDir + "update.ini";
  // The release already here sets the floor only when its stored signature
  // verifies: an unsigned run may have left any Serial there.
  std::string stored, storedSignature;
  std::uint32_t lastSerial = 0;
  if (!ReadSmallFile(path, kMaxDescriptionBytes, stored) ||
      !ReadSmallFile(path + ".sig", kMaxSignatureBytes, storedSignature) ||
      !SignedByPublisher(stored, storedSignature) || !ReleaseSerial(TIniText(stored), lastSerial))
    lastSerial = 0;

  // Both are small and always fetched anew. The signature is held back until
  // the description it signs has been fetched and checked, so a pair that
  // fails never replaces the stored one.
  std::string verified, refusal;
  bool signatureFetched = false;
  const TCopyCheck signatureCheck = [&](const std::string& signaturePath, std::uint64_t) {
    signatureFetched = true;
    std::string signature;
    ReadSmallFile(signaturePath, kMaxSignatureBytes, signature);
    const TCopyCheck descriptionCheck = [&](const std::string& tempPath, std::uint64_t) {
      std::string fetched;
      ReadSmallFile(tempPath, kMaxDescriptionBytes, fetched);
      refusal = CheckDescription(fetched, signature, lastSerial, url);
      if (refusal.empty()) verified = fetched;
      return refusal;
    };
    const TDownload got = FetchAsked(url, downloadDir, "update.ini", kMaxDescriptionBytes, descriptionCheck, true);
    if (!got.Ok() && refusal.empty()) refusal = got.ErrorText.empty() ? url : got.ErrorText;
    return refusal;
  };
  TDownload got = FetchAsked(url + ".sig", downloadDir, "update.ini.sig", kMaxSignatureBytes, signatureCheck, true);
  if (!signatureFetched) got.ErrorText = "Bad signature for " + url + " (no update.ini.sig: " + got.ErrorText + ")";
  if (!got.Ok()) return got;
  description.Signed = true;
  description.Text = TIniText(verified);
  return DownloadSuccess(path, static_cast<std::int64_t>(verified.size()));
}

TDownload TUpdateForm::EnsureHashedFile(const std::string& url, const std::string& name,
                                        const std::string& downloadDir, const TDescription& description) {
  // Its size, like its hash, comes from the signed description.
  std::string digest;
  if (!ExpectedSha256(description.Text, name, digest))
    return DownloadFailure(TDownloadError::CheckRefused, "Bad checksum for " + url + " (no Sha256 entry)");
  const std::string path = downloadDir + name;
  // Same hash, same file: no request, whatever the date says. Otherwise
  // fetched anew, whatever the date says: a copy changed in place keeps it.
  if (HashOfFileIs(path, digest, url).empty()) return DownloadSuccess(path, LocalFileSize(path));
  const TCopyCheck hashCheck = [&](const std::string& tempPath, std::uint64_t) {
    return HashOfFileIs(tempPath, digest, url);
  };
  const std::int64_t statedSize = formkit::TextToIntDef(description.Get("FileSize", name, "0"), 0);
  return FetchAsked(url, downloadDir, name, StatedSize(statedSize), hashCheck, true);
}

namespace {
TUpdateForm::TRunEnd Ended(TUpdateForm::TRunFailure failure, std::string detail = std::string()) {
  TUpdateForm::TRunEnd end;
  end.Failure = failure;
  end.Detail = std::move(detail);
  return end;
}
}  // namespace

// The one place where a run that ended short is shown to the user.
bool TUpdateForm::RunUpdate() {
  const TRunEnd end = RunSteps();
  switch (end.Failure) {
    case TRunFailure::None:
    case TRunFailure::Cancelled:
      break;
    case TRunFailure::ReadOnly:
      ErrorBox(end.Detail, end.Attributes);
      ErrorBox(InstallDir + "\r\r" + ReadOnlyErrorText, -1);
      break;
    case TRunFailure::NoDescription:
      ErrorBox(ConnectErrorText, -1);
      break;
    case TRunFailure::Download:
      ErrorBox(ConnectFailureText(ConnectErrorText, end.Detail), -1);
      break;
    case TRunFailure::NoInstaller:
      ErrorBox("update2.dll", -1);
      break;
  }
  return end.CloseDialog;
}

TUpdateForm::TRunEnd TUpdateForm::RunSteps() {
  InstallDir = formkit::FullPathOf(formkit::TrimBlanks(PathEdit->GetText()));
  if (!IsInstallFolder(InstallDir)) {
    const std::string question = PathLabel->GetCaption() + "\r\r " + InstallDir;
    if (formkit::ShowMessageBox(AsWindow(Handle), question, Caption.c_str(), MB_YESNOCANCEL | MB_ICONQUESTION) !=
        IDYES) {
      TRunEnd stay;
      stay.CloseDialog = false;
      return stay;
    }
  }

  PathEdit->Hide();
  PathBtn->Hide();
  ProxyBtn->Hide();
  ProxyEdit->Hide();
  PathLabel->SetCaption(std::string());
  OkBtn->Hide();
  StatusLabel->SetCaption(LoadingText);
  // The progress line takes the label's row up to the right edge.
  RECT area = {};
  GetClientRect(AsWindow(Handle), &area);
  PathLabel->Width = area.right - PathLabel->Left;
  Reshow();
  const TRunEnd cancelled = Ended(TRunFailure::Cancelled);
  if (Cancelled()) return cancelled;
  // Only Cancel is left: Enter and Space reach it too.
  CancelBtn->SetFocus();

  Client.ProxySetting = formkit::TrimBlanks(ProxyEdit->GetText());

  if (!FolderExists(InstallDir)) formkit::CheckInOut(CreateDirectoryA(InstallDir.c_str(), nullptr) != 0);
  const std::string downloadDir = InstallDir + "Download\\";
  if (!FolderExists(downloadDir)) formkit::CheckInOut(CreateDirectoryA(downloadDir.c_str(), nullptr) != 0);
  for (const std::string* folder : {&std::as_const(InstallDir), &downloadDir}) {
    std::int32_t attributes = 0;
    if (!FolderTakesFiles(*folder, attributes)) {
      TRunEnd readOnly = Ended(TRunFailure::ReadOnly, *folder);
      readOnly.Attributes = attributes;
      readOnly.CloseDialog = false;
      return readOnly;
    }
  }
  CopyFileA(ProgramFile.c_str(), (downloadDir + "update.exe").c_str(), FALSE);

  // Each step leaves the file it was about in got.
  TDescription description;
  description.Path = downloadDir + "update.ini";
  TDownload got;
  if (kSignedSets) {
    got = FetchSignedDescription(downloadDir, description);
    if (Cancelled()) return cancelled;
    if (!got.Ok()) return Ended(TRunFailure::Download, got.ErrorText);
  } else {
    got = FetchAsked(UpdateBaseUrl + "update.ini", downloadDir, "update.ini", kMaxDescriptionBytes);
    if (Cancelled()) return cancelled;
    if (got.Size == 0 || !got.Ok()) return Ended(TRunFailure::NoDescription);
  }

  got = EnsureCurrentFile("update2.dll", downloadDir, description);
  if (Cancelled()) return cancelled;
  if (!got.Ok()) return Ended(TRunFailure::Download, got.ErrorText);

  const std::string clientCode = formkit::ShortStringText(ClientCode());
  const std::string downloadAddress =
      ChooseDownloadAddress(description.Get("Adresses", AdressesKey(clientCode), std::string()),
                            description.Get("Adresses", "A", std::string()), UpdateBaseUrl);

  const std::string nfoUrl = downloadAddress + "UPDATE.NFO";
  if (kSignedSets && description.Signed) {
    got = EnsureHashedFile(nfoUrl, "UPDATE.NFO", downloadDir, description);
    if (Cancelled()) return cancelled;
  } else {
    got = FetchAsked(nfoUrl, downloadDir, "UPDATE.NFO", kMaxUnsignedNfoBytes);
    if (Cancelled()) return cancelled;
    if (got.Size == 0 || !got.Ok()) got = DownloadFailure(TDownloadError::NotFound, nfoUrl);
  }
  if (!got.Ok()) return Ended(TRunFailure::Download, got.ErrorText);

  formkit::CheckInOut(SetCurrentDirectoryA(downloadDir.c_str()) != 0);
  // Signed sets: the library and UPDATE.NFO are hashed once more right before
  // the library is loaded, through handles that keep writers out until the
  // hand-over.
  const std::string libraryPath = downloadDir + "update2.dll";
  const std::string hashedAgain[][2] = {{libraryPath, "update2.dll"}, {got.Path, "UPDATE.NFO"}};
  formkit::TScopedFile locks[2];
  for (int i = 0; i < 2 && kSignedSets && description.Signed; ++i) {
    const std::string& path = hashedAgain[i][0];
    locks[i].Reset(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string digest, actual;
    if (!locks[i] || !ExpectedSha256(description.Text, hashedAgain[i][1], digest) ||
        !Sha256OfHandle(locks[i].Get(), actual) || actual != digest)
      return Ended(TRunFailure::Download, "Bad checksum for " + path);
  }
  // The copy that was just checked, not whatever the search path finds first.
  formkit::TScopedModule library(LoadInstallerLibrary(libraryPath));
  using TMakeUpdate = void(__stdcall*)(formkit::ShortString*, formkit::ShortString*, formkit::ShortString*,
                                       formkit::ShortString*, formkit::ShortString*);
  auto makeUpdate = library ? reinterpret_cast<TMakeUpdate>(
                                  reinterpret_cast<void*>(GetProcAddress(library.Get(), "MakeUpdate")))
                            : nullptr;
  if (makeUpdate == nullptr) return Ended(TRunFailure::NoInstaller);
  // The installer stays loaded: it may leave work of its own running when
  // MakeUpdate returns.
  library.Detach();
  // The installer may rewrite or remove its own files; the loaded library
  // stays as it was checked, since a mapped image cannot be written.
  for (formkit::TScopedFile& lock : locks) lock.Reset();

  Hide();
  formkit::ShortString installDir = formkit::MakeShortString(InstallDir);
  formkit::ShortString client = ClientCode();
  formkit::ShortString address = formkit::MakeShortString(downloadAddress);
  formkit::ShortString proxy = formkit::MakeShortString(Client.ProxySetting);
  InstallerDllSearch(downloadDir);
  makeUpdate(&installDir, &client, &address, LanguageCode(LanguageIndex), &proxy);
  RestrictDllSearch();
  return TRunEnd();
}
