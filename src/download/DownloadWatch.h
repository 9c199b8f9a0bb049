// What the download client's owner hears of its downloads: a line per step
// for the support log, how far a transfer got, and whether to stop. Free of
// Win32.
#pragma once

#include <cstdint>
#include <string>

// What the client's owner hears of a download, and how it stops one.
class TDownloadWatch {
 public:
  // Asked at least every 200 ms during a transfer and its pauses; true stops
  // it: the local copy stays as it was and the download fails with
  // "Cancelled <url>".
  virtual bool Cancelled() = 0;
  // Called at least every 200 ms while bytes arrive, with the bytes of the
  // file there so far and its whole size (-1 when the server sent no length).
  virtual void Progress(std::uint64_t received, std::int64_t total) = 0;
  // A plain line per step of a download (request, answer, local copy,
  // decision, redirect, attempt): no time, no line end.
  virtual void Log(const std::string& line) = 0;

 protected:
  ~TDownloadWatch() = default;
};
