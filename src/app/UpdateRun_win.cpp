#include "UpdateRun_win.h"

#include <utility>

#include "BuildSettings.h"
#include "FailureCause.h"
#include "InstallerLibrary_win.h"
#include "Languages.h"
#include "RunRules.h"
#include "ScopedWin.h"
#include "UpdateDiscovery_win.h"

using formkit::FolderExists;

namespace {

// The progress line is redrawn at most this often.
constexpr DWORD kProgressMs = 250;

TRunEnd Ended(TRunFailure failure, std::string detail = std::string()) { return {failure, std::move(detail)}; }

// A file that did not come: a failure on the local disk is no connection error.
TRunEnd NotFetched(TDownload& got) {
  return Ended(got.Error == TDownloadError::Local ? TRunFailure::Local : TRunFailure::Download,
               std::move(got.ErrorText));
}

std::string RunEndLogText(const TRunEnd& end) {
  switch (end.Failure) {
    case TRunFailure::None:
      return end.CloseDialog ? "Run ended: handed over to the installer"
                             : "Run ended: the dialog stays for another try";
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

// A folder made when missing; the failure names its cause and the folder.
// The dialog stays, so another folder can be tried.
bool MadeFolder(const std::string& folder, TRunEnd& end) {
  if (FolderExists(folder) || CreateDirectoryA(folder.c_str(), nullptr)) return true;
  end = Ended(TRunFailure::Local, FailureText(GetLastError(), folder));
  end.CloseDialog = false;
  return false;
}

}  // namespace

TUpdateRun::TUpdateRun(TRunView& view, TRunInputs inputs) : view_(view), in_(std::move(inputs)) {
  client_.Agent = AgentNameOf(in_.ProgramFile);
  client_.ProxySetting = in_.ProxySetting;
  client_.Watch = this;
}

TRunEnd TUpdateRun::Execute() {
  log_.Write(kLogRunMark + ProgramLogText());
  log_.Write(WindowsLogText());
  const TRunEnd end = Steps();
  log_.Write(RunEndLogText(end));
  return end;
}

TRunEnd TUpdateRun::Steps() {
  installDir_ = in_.InstallDir;
  log_.Write("Installation folder: " + installDir_);
  if (!IsInstallFolder(installDir_) && !view_.AcceptFolderWithoutMarker(installDir_)) {
    TRunEnd stay;
    stay.CloseDialog = false;
    return stay;
  }
  view_.ShowRunning();
  if (Cancelled()) return Ended(TRunFailure::Cancelled);
  log_.Write(ProxyLogText(client_.ProxySetting));

  TRunEnd end = PrepareFolders();
  if (end.Failure != TRunFailure::None) return end;
  log_.Open(downloadDir_ + "update.log");
  CopyFileA(in_.ProgramFile.c_str(), (downloadDir_ + "update.exe").c_str(), FALSE);

  TVerifier verifier;
  std::string downloadAddress, infoPath;
  end = FetchSet(verifier, downloadAddress, infoPath);
  if (end.Failure != TRunFailure::None) return end;
  return HandOver(verifier, downloadAddress, infoPath);
}

TRunEnd TUpdateRun::PrepareFolders() {
  downloadDir_ = installDir_ + "Download\\";
  TRunEnd end;
  if (!MadeFolder(installDir_, end) || !MadeFolder(downloadDir_, end)) return end;
  for (const std::string* folder : {&installDir_, &downloadDir_}) {
    std::int32_t attributes = 0;
    if (!FolderTakesFiles(*folder, attributes)) {
      end = Ended(TRunFailure::ReadOnly, *folder);
      end.Attributes = attributes;
      end.CloseDialog = false;
      return end;
    }
  }
  return end;
}

// Each step leaves the file it was about in got.
TRunEnd TUpdateRun::FetchSet(TVerifier& verifier, std::string& downloadAddress, std::string& infoPath) {
  const auto name = [](TSetFile file) { return std::string(SetFileName(file)); };
  TDownload got = verifier.FetchDescription(files_, SetFileUrl(TSetFile::Description, UpdateBaseUrl, ""));
  log_.Write(StepLogText(name(TSetFile::Description) + " (" + TVerifier::kKind + ")", got));
  if (Cancelled()) return Ended(TRunFailure::Cancelled);
  // An unsigned set without a description shows the connection text alone.
  if (!got.Ok() && got.Error != TDownloadError::Local)
    return Ended(TVerifier::kSigned ? TRunFailure::Download : TRunFailure::NoDescription, std::move(got.ErrorText));
  if (!got.Ok()) return NotFetched(got);

  got = verifier.AcceptLibrary(files_, SetFileUrl(TSetFile::Library, UpdateBaseUrl, ""), name(TSetFile::Library));
  log_.Write(StepLogText(name(TSetFile::Library), got));
  if (Cancelled()) return Ended(TRunFailure::Cancelled);
  if (!got.Ok()) return NotFetched(got);

  const std::string clientCode = formkit::ShortStringText(ClientCode());
  downloadAddress = ChooseDownloadAddress(verifier.Setting("Adresses", AdressesKey(clientCode), std::string()),
                                          verifier.Setting("Adresses", "A", std::string()), UpdateBaseUrl);
  got = verifier.AcceptFile(files_, SetFileUrl(TSetFile::Info, UpdateBaseUrl, downloadAddress), name(TSetFile::Info));
  log_.Write(StepLogText(name(TSetFile::Info), got));
  if (Cancelled()) return Ended(TRunFailure::Cancelled);
  if (!got.Ok()) return NotFetched(got);
  infoPath = got.Path;
  return TRunEnd();
}

TRunEnd TUpdateRun::HandOver(const TVerifier& verifier, const std::string& downloadAddress,
                             const std::string& infoPath) {
  if (!SetCurrentDirectoryA(downloadDir_.c_str()))
    return Ended(TRunFailure::Local, FailureText(GetLastError(), downloadDir_));
  // Signed sets lock the checked files until the hand-over.
  const std::string libraryPath = downloadDir_ + SetFileName(TSetFile::Library);
  formkit::TScopedFile locks[2];
  const std::string refusal = verifier.CheckBeforeLoading(libraryPath, infoPath, locks);
  if (TVerifier::kSigned)
    log_.Write("Hashed again before loading: " +
               (refusal.empty() ? std::string("update2.dll and UPDATE.NFO") : refusal));
  if (!refusal.empty()) return Ended(TRunFailure::Download, refusal);
  // The copy that was just checked, not whatever the search path finds first.
  formkit::TScopedModule library(LoadInstallerLibrary(libraryPath));
  const TMakeUpdate makeUpdate = MakeUpdateOf(library.Get());
  if (makeUpdate == nullptr) return Ended(TRunFailure::NoInstaller);
  // The installer stays loaded: it may leave work of its own running when
  // MakeUpdate returns.
  library.Detach();
  // The installer may rewrite or remove its own files; the loaded library
  // stays as it was checked, since a mapped image cannot be written.
  for (formkit::TScopedFile& lock : locks) lock.Reset();

  view_.HideForInstaller();
  formkit::ShortString installDir = formkit::MakeShortString(installDir_);
  formkit::ShortString client = ClientCode();
  formkit::ShortString address = formkit::MakeShortString(downloadAddress);
  formkit::ShortString proxy = formkit::MakeShortString(client_.ProxySetting);
  log_.Write("MakeUpdate called: language " + LanguageCodeText(in_.LanguageIndex) + ", address " + downloadAddress);
  InstallerDllSearch(downloadDir_);
  makeUpdate(&installDir, &client, &address, LanguageCode(in_.LanguageIndex), &proxy);
  RestrictDllSearch();
  log_.Write("MakeUpdate returned");
  return TRunEnd();
}

TDownload TUpdateRun::TRunFiles::Fetch(const std::string& url, const std::string& name, std::uint64_t maxBytes,
                                       const TCopyCheck& check, bool fetchAnew) {
  run_.fileName_ = name;
  run_.shownAt_ = GetTickCount() - kProgressMs;  // the first block shows at once
  run_.view_.ShowProgress(name);
  TDownload got = run_.client_.Fetch(url, Dir(), maxBytes, check, fetchAnew);
  if (got.Ok() && AskedFileOnly(got.Path, url, Dir(), name).empty()) {
    got.Path.clear();
    got.Error = TDownloadError::NotFound;
    got.ErrorText = "No such File!";
  }
  return got;
}

void TUpdateRun::Progress(std::uint64_t received, std::int64_t total) {
  const DWORD now = GetTickCount();
  const bool complete = total >= 0 && received >= static_cast<std::uint64_t>(total);
  if (!complete && now - shownAt_ < kProgressMs) return;
  shownAt_ = now;
  view_.ShowProgress(ProgressText(fileName_, received, total));
}
