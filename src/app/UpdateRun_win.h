// The update run: from the Install click to the hand-over to the installer.
// It runs on the dialog's thread and reaches the dialog only through its
// view; downloads process the dialog's messages between blocks.
#pragma once

#include <string>

#include "RunView.h"
#include "UpdateLog_win.h"
#include "Verifier_win.h"

// What the dialog holds when Install is clicked.
struct TRunInputs {
  std::string InstallDir;    // a full path
  std::string ProxySetting;  // as typed
  std::string ProgramFile;   // the running program, copied into Download
  int LanguageIndex = 0;     // handed to the installer
};

class TUpdateRun final : public TDownloadWatch {
 public:
  TUpdateRun(TRunView& view, TRunInputs inputs);
  TUpdateRun(const TUpdateRun&) = delete;
  TUpdateRun& operator=(const TUpdateRun&) = delete;

  // The whole run; every step and its end go to the support log.
  TRunEnd Execute();
  // The log's path once it is written to; empty before or without one.
  const std::string& LogPath() const { return log_.Path(); }
  // The installation folder as the run took it (with a trailing '\').
  const std::string& InstallDir() const { return installDir_; }

 private:
  TRunEnd Steps();
  TRunEnd PrepareFolders();
  TRunEnd FetchSet(TVerifier& verifier, std::string& downloadAddress, std::string& infoPath);
  TRunEnd HandOver(const TVerifier& verifier, const std::string& downloadAddress, const std::string& infoPath);

  // The files of the set: the run's Download folder, through its client.
  class TRunFiles final : public TSetFiles {
   public:
    explicit TRunFiles(TUpdateRun& run) : run_(run) {}
    const std::string& Dir() const override { return run_.downloadDir_; }
    TDownload Fetch(const std::string& url, const std::string& name, std::uint64_t maxBytes, const TCopyCheck& check,
                    bool fetchAnew) override;

   private:
    TUpdateRun& run_;
  };
  // TDownloadWatch: the dialog's Cancel, the progress line at most every
  // kProgressMs (always when a file is complete), and the support log.
  bool Cancelled() override { return view_.Cancelled(); }
  void Progress(std::uint64_t received, std::int64_t total) override;
  void Log(const std::string& line) override { log_.Write(line); }

  TRunView& view_;
  const TRunInputs in_;
  std::string installDir_, downloadDir_;
  TSupportLog log_;
  TDownloadClient client_;
  TRunFiles files_{*this};
  std::string fileName_;       // the file on its way
  std::uint32_t shownAt_ = 0;  // tick count of the last progress line
};
