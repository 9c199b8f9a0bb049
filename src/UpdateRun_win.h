// The update run's parts beside the dialog: how its files come, how it ends,
// and the library search around the installer.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "WinInetEasy_win.h"

// How a run ends short of the installer. The dialog shows it to the user in
// one place (TUpdateForm::RunUpdate).
enum class TRunFailure : std::uint8_t {
  None,           // handed over, or the dialog stays for another try
  Cancelled,      // the dialog gave up: nothing to show
  ReadOnly,       // a folder cannot take files
  NoDescription,  // update.ini of an unsigned set did not come
  Download,       // a file did not come or was refused, for the reason in Detail
  Local,          // a file could not be stored on the local disk, for the reason in Detail
  NoInstaller,    // update2.dll cannot be loaded or has no MakeUpdate
};

struct TRunEnd {
  TRunFailure Failure = TRunFailure::None;
  std::string Detail;            // Download: the reason; ReadOnly: the folder
  std::int32_t Attributes = -1;  // ReadOnly: the folder's attributes
  bool CloseDialog = true;
};

// The files of a run come through the run's client into its Download folder;
// a file of another name counts as none.
class TRunFiles {
 public:
  TRunFiles(TDownloadClient& client, std::string downloadDir, void (*starting)(const std::string& name))
      : client_(client), dir_(std::move(downloadDir)), starting_(starting) {}
  const std::string& Dir() const { return dir_; }
  TDownload Fetch(const std::string& url, const std::string& name, std::uint64_t maxBytes,
                  const TCopyCheck& check = {}, bool fetchAnew = false);

 private:
  TDownloadClient& client_;
  std::string dir_;
  void (*starting_)(const std::string& name);
};

// The copy update.exe runs from Download, beside downloaded files: libraries
// that the program or Windows load by bare name come from the system folder
// only. Called at start, and again when MakeUpdate returns.
void RestrictDllSearch();
// update2.dll by its full path; its own imports come from its folder first.
HMODULE LoadInstallerLibrary(const std::string& path);
// The installer finds libraries by bare name as it did when Download was the
// program's folder: the program's folder, Download, the system folders.
void InstallerDllSearch(const std::string& downloadDir);
