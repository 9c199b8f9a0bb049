// The update run: from the Install click to the hand-over to the installer.
// It runs inside the Install handler on the dialog's thread; downloads
// process the dialog's messages between blocks.
#include <exception>
#include <utility>

#include "ScopedWin.h"
#include "UpdateDiscovery_win.h"
#include "UpdateFrm_win.h"
#include "UpdateLog_win.h"
#include "UpdateVerifier_win.h"

using formkit::ErrorBox;
using formkit::FolderExists;

TDownload TRunFiles::Fetch(const std::string& url, const std::string& name, std::uint64_t maxBytes,
                           const TCopyCheck& check, bool fetchAnew) {
  if (starting_ != nullptr) starting_(name);
  TDownload got = client_.Fetch(url, dir_, maxBytes, check, fetchAnew);
  if (got.Ok() && AskedFileOnly(got.Path, url, dir_, name).empty()) {
    got.Path.clear();
    got.Error = TDownloadError::NotFound;
    got.ErrorText = "No such File!";
  }
  return got;
}

using formkit::dyn::SetDefaultDllDirectories;

HMODULE LoadInstallerLibrary(const std::string& path) {
  const DWORD flags = SetDefaultDllDirectories() != nullptr
                          ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
                          : LOAD_WITH_ALTERED_SEARCH_PATH;
  return LoadLibraryExA(path.c_str(), nullptr, flags);
}

void InstallerDllSearch(const std::string& downloadDir) {
  if (auto setDefault = SetDefaultDllDirectories()) setDefault(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  SetDllDirectoryA(downloadDir.c_str());
}

void RestrictDllSearch() {
  if (auto setDefault = SetDefaultDllDirectories()) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetDllDirectoryA("");  // and the current folder leaves the classic search order
}

namespace {

TRunEnd Ended(TRunFailure failure, std::string detail = std::string()) { return {failure, std::move(detail)}; }

// A file that did not come: a failure on the local disk is no connection error.
TRunEnd NotFetched(TDownload& got) {
  return Ended(got.Error == TDownloadError::Local ? TRunFailure::Local : TRunFailure::Download,
               std::move(got.ErrorText));
}

std::string RunEndLogText(const TRunEnd& end) {
  switch (end.Failure) {
    case TRunFailure::None:
      return end.CloseDialog ? "Run ended: handed over to the installer" : "Run ended: the dialog stays for another try";
    case TRunFailure::Cancelled:
      return "Run ended: cancelled";
    case TRunFailure::ReadOnly:
      return "Run ended: folder cannot take files: " + end.Detail;
    case TRunFailure::NoDescription:
      return "Run ended: no update description" + (end.Detail.empty() ? std::string() : ": " + end.Detail);
    case TRunFailure::Download:
      return "Run ended: download failed: " + end.Detail;
    case TRunFailure::Local:
      return "Run ended: local disk failure: " + end.Detail;
    case TRunFailure::NoInstaller:
      return "Run ended: update2.dll cannot be loaded or has no MakeUpdate";
  }
  return std::string();
}

// Only the mode and the port: a proxy setting may hold more than support needs.
std::string ProxyLogText(std::string setting) {
  std::int32_t port = 80;
  std::string host;
  return ApplyProxyPortRule(setting, port, host)
             ? "Proxy: the system's settings, port " + formkit::DecimalText(static_cast<std::uint32_t>(port)) +
                   " from the proxy setting"
             : std::string("Proxy: the system's settings");
}

std::string StepLogText(const std::string& name, const TDownload& got) {
  return got.Ok() ? name + ": accepted, " + formkit::DecimalText(static_cast<std::uint64_t>(got.Size)) + " bytes"
                  : name + ": refused: " + got.ErrorText;
}

// A standard user's token, and an administrator's that UAC filters, are not
// elevated: rights they lack could still be had.
bool Elevated() {
  formkit::TScopedHandle token;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Out()) &&
         GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size) &&
         elevation.TokenIsElevated != 0;
}

}  // namespace

// The one place where a run that ended short is shown to the user.
bool TUpdateForm::RunUpdate() {
  TSupportLog log;
  log.Write(kLogRunMark + ProgramLogText());
  log.Write(WindowsLogText());
  Client.Log = &log;
  const TRunEnd end = RunSteps(log);
  log.Write(RunEndLogText(end));
  // Every box names the log, so the user can send it to support.
  const std::string logLine = log.Path().empty() ? std::string() : "\r\rLog: " + log.Path();
  switch (end.Failure) {
    case TRunFailure::None:
    case TRunFailure::Cancelled:
      break;
    case TRunFailure::ReadOnly:
      ErrorBox(end.Detail, end.Attributes);
      ErrorBox(InstallDir + "\r\r" + ReadOnlyErrorText + (Elevated() ? "" : "\r\r" + AdminRightsText) + logLine, -1);
      break;
    case TRunFailure::NoDescription:  // an empty description has no reason to give
      ErrorBox((end.Detail.empty() ? ConnectErrorText : ConnectFailureText(ConnectErrorText, end.Detail)) + logLine,
               -1);
      break;
    case TRunFailure::Download:
      ErrorBox(ConnectFailureText(ConnectErrorText, end.Detail) + logLine, -1);
      break;
    case TRunFailure::Local:
      ErrorBox(ConnectFailureText(DiskErrorText, end.Detail) + logLine, -1);
      break;
    case TRunFailure::NoInstaller:
      ErrorBox("update2.dll" + logLine, -1);
      break;
  }
  return end.CloseDialog;
}

TRunEnd TUpdateForm::RunSteps(TSupportLog& log) {
  InstallDir = formkit::FullPathOf(formkit::TrimBlanks(PathEdit->GetText()));
  log.Write("Installation folder: " + InstallDir);
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
  if (Cancelled()) return Ended(TRunFailure::Cancelled);
  // Only Cancel is left: Enter and Space reach it too.
  CancelBtn->SetFocus();

  Client.ProxySetting = formkit::TrimBlanks(ProxyEdit->GetText());
  log.Write(ProxyLogText(Client.ProxySetting));

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
  log.Open(downloadDir + "update.log");
  CopyFileA(ProgramFile.c_str(), (downloadDir + "update.exe").c_str(), FALSE);

  // Each step leaves the file it was about in got.
  TRunFiles files(Client, downloadDir, &StartProgress);
  TVerifier verifier;
  TDownload got = verifier.FetchDescription(files);
  log.Write(StepLogText(std::string("update.ini (") + TVerifier::kKind + ")", got));
  if (Cancelled()) return Ended(TRunFailure::Cancelled);
  if (!got.Ok())
    return got.Error == TDownloadError::Local ? NotFetched(got)
                                              : Ended(TVerifier::kDescriptionFailure, std::move(got.ErrorText));

  got = verifier.AcceptLibrary(files, UpdateBaseUrl + "update2.dll", "update2.dll");
  log.Write(StepLogText("update2.dll", got));
  if (Cancelled()) return Ended(TRunFailure::Cancelled);
  if (!got.Ok()) return NotFetched(got);

  const std::string clientCode = formkit::ShortStringText(ClientCode());
  const std::string downloadAddress =
      ChooseDownloadAddress(verifier.Setting("Adresses", AdressesKey(clientCode), std::string()),
                            verifier.Setting("Adresses", "A", std::string()), UpdateBaseUrl);

  got = verifier.AcceptFile(files, downloadAddress + "UPDATE.NFO", "UPDATE.NFO");
  log.Write(StepLogText("UPDATE.NFO", got));
  if (Cancelled()) return Ended(TRunFailure::Cancelled);
  if (!got.Ok()) return NotFetched(got);

  formkit::CheckInOut(SetCurrentDirectoryA(downloadDir.c_str()) != 0);
  // Signed sets lock the checked files until the hand-over.
  const std::string libraryPath = downloadDir + "update2.dll";
  formkit::TScopedFile locks[2];
  const std::string refusal = verifier.CheckBeforeLoading(libraryPath, got.Path, locks);
  if (TVerifier::kChecksBeforeLoading)
    log.Write("Hashed again before loading: " + (refusal.empty() ? std::string("update2.dll and UPDATE.NFO") : refusal));
  if (!refusal.empty()) return Ended(TRunFailure::Download, refusal);
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
  log.Write("MakeUpdate called: language " + LanguageCodeText(LanguageIndex) + ", address " + downloadAddress);
  InstallerDllSearch(downloadDir);
  makeUpdate(&installDir, &client, &address, LanguageCode(LanguageIndex), &proxy);
  RestrictDllSearch();
  log.Write("MakeUpdate returned");
  return TRunEnd();
}
