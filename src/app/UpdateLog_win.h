// The support log: update.log in the Download folder, appended by every run,
// for the vendor's support to read. Writing it never stops an update.
#pragma once

#include <string>

#include "ScopedWin.h"
#include "UpdateLog.h"

class TSupportLog {
 public:
  TSupportLog() = default;
  TSupportLog(const TSupportLog&) = delete;
  TSupportLog& operator=(const TSupportLog&) = delete;

  // One line with the time now. Lines written before Open are held and
  // written when it opens.
  void Write(const std::string& text);
  // Opens path for appending after dropping the oldest runs past the size
  // limit. False when it cannot be written: the run goes on without a log.
  bool Open(const std::string& path);
  // The log's path once it is written to; empty before or without one.
  const std::string& Path() const { return path_; }

 private:
  void Append(const std::string& line);

  formkit::TScopedFile file_;
  std::string path_;
  std::string held_;
  std::size_t size_ = 0;
  bool full_ = false;
};

// What the log says of this program and machine at the start of a run: the
// version, the build (processor, signed sets or not) and the Windows version.
std::string ProgramLogText();
std::string WindowsLogText();
