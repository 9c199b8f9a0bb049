// The download client's network thread: it makes the blocking WinInet calls
// of one request (connect, send, read) while the dialog's thread keeps
// processing its messages and writes what has arrived.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <memory>
#include <string>

#include "ScopedWin.h"

class TDownloadWatch;

// A read step gathers up to this much before the dialog's thread starts the
// next one. Under Wine smaller blocks cost most of the speed (128 KiB: 0.21 of
// a bare 1 MiB loop, 512 KiB: 0.55), and 2 MiB measured slower too (0.4).
constexpr DWORD kBlockSize = 1 << 20;

// One request, shared by the dialog's thread and the network thread. The
// network thread holds its own reference, so a thread left behind in WinInet
// after a stop never touches freed memory. The dialog's thread sets the
// inputs of a step before it starts it and reads the results when it is done;
// during a read step it may take what Filled publishes.
struct TNetJob {
  enum class TStep { Send, Read, Quit };

  // Send's inputs.
  HINTERNET Session = nullptr;
  std::string Host, ObjectPath, Headers;
  INTERNET_PORT Port = 80;
  bool Secure = false;  // TLS; no flag relaxes the certificate checks
  DWORD ReceiveTimeoutMs = 0;
  // Either thread may close them; closing ends a call waiting on them.
  formkit::TScopedInet Connection, Request;
  // Send's results: Ok false when no connection was made (ResponseText
  // says why); no Request when the request failed (SendError says why).
  bool Ok = false;
  std::string ResponseText;
  DWORD SendError = 0;

  // A read step appends to Buffer up to Limit bytes, publishing Filled after
  // every read, and never asks for more than has arrived: Wine's read waits
  // until its buffer is full. Ok false: the read failed; Ended: the body did.
  std::unique_ptr<char[]> Buffer{new char[kBlockSize]};
  DWORD Limit = kBlockSize;
  std::atomic<DWORD> Filled{0};
  bool Ended = false;
  DWORD Pace = 0;  // bytes a millisecond in the last read step (the network thread's own)
  // When data last arrived; a stall is counted from here.
  std::atomic<DWORD> LastData{0};

  std::atomic<TStep> Step{TStep::Quit};
  std::atomic<bool> Stopping{false};
  formkit::TScopedHandle Wake{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
  formkit::TScopedHandle Done{CreateEventA(nullptr, FALSE, FALSE, nullptr)};

  void Send();
  void Read();

 private:
  void Adopt(formkit::TScopedInet& owner, HINTERNET handle);
};

enum class TWaitResult { Done, Cancelled, Stalled };

// Runs the network thread for a job and stops it on every way out: the
// handles are closed first, which ends a call that is waiting for the server.
class TNetThread {
 public:
  TNetThread(std::shared_ptr<TNetJob> job, TDownloadWatch* watch, DWORD noDataTimeoutMs);
  ~TNetThread() { Stop(); }
  TNetThread(const TNetThread&) = delete;
  TNetThread& operator=(const TNetThread&) = delete;
  bool Started() const { return thread_ && job_->Wake && job_->Done; }

  // Hands a step to the thread.
  void Start(TNetJob::TStep step);
  // Waits for the step at most one pump interval; true when it is done.
  // Messages that arrive meanwhile wake it; the caller processes them.
  bool WaitAWhile();
  // No byte arrived since the step started or since the last one that did,
  // for the whole no-data limit.
  bool Stalled() const;
  // Start, then wait processing messages until the step is done, the owner
  // gives up or the no-data limit passes.
  TWaitResult Run(TNetJob::TStep step);

 private:
  void Stop();

  std::shared_ptr<TNetJob> job_;
  TDownloadWatch* watch_;
  DWORD noDataTimeoutMs_;
  DWORD started_ = 0;
  formkit::TScopedHandle thread_;
};

// Processes the dialog's messages, as every wait of the download client does.
void PumpMessages();
// Waits ms processing messages; false as soon as the watch cancels.
bool PauseUnlessCancelled(DWORD ms, TDownloadWatch* watch);
