// The download client's network thread (WinInetNet_win.h).
#include "WinInetNet_win.h"

#include <utility>

#include "DownloadWatch.h"
#include "Forms.h"

namespace {

// The dialog processes its messages at least this often during a transfer.
constexpr DWORD kPumpIntervalMs = 200;
// How long a stopped transfer waits for its network thread to leave WinInet.
// Closing the handles does not end a waiting call everywhere (not under
// Wine); such a thread is left to end with the connection, on its own.
constexpr DWORD kThreadStopWaitMs = 200;
// A read step that has been going at this pace (bytes a millisecond: 1 MiB/s)
// reads ahead of what WinInet says has arrived, by what this many ms bring.
constexpr DWORD kFastPace = 1024;
constexpr DWORD kAheadMs = 10;
// Always from the server, nothing kept in the WinInet cache (a second copy on
// disk costs most of the speed), and redirects left to the client, which
// checks every hop.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT;

std::string LastResponseText() {
  char buffer[1024];
  DWORD error = 0;
  DWORD len = sizeof buffer;
  if (!InternetGetLastResponseInfoA(&error, buffer, &len)) return std::string();
  std::size_t n = 0;
  while (n < len && n < sizeof buffer && buffer[n] != 0) ++n;
  return std::string(buffer, n);
}

DWORD WINAPI NetThread(void* parameter) {
  std::unique_ptr<std::shared_ptr<TNetJob>> own(static_cast<std::shared_ptr<TNetJob>*>(parameter));
  TNetJob& job = **own;
  for (;;) {
    WaitForSingleObject(job.Wake.Get(), INFINITE);
    const TNetJob::TStep step = job.Step.load();
    if (step == TNetJob::TStep::Quit) return 0;
    if (step == TNetJob::TStep::Send)
      job.Send();
    else
      job.Read();
    SetEvent(job.Done.Get());
  }
}

}  // namespace

void PumpMessages() {
  if (formkit::Application) formkit::Application->ProcessMessages();
}

bool PauseUnlessCancelled(DWORD ms, TDownloadWatch* watch) {
  const DWORD start = GetTickCount();
  for (DWORD gone = 0; gone < ms; gone = GetTickCount() - start) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - gone < kPumpIntervalMs ? ms - gone : kPumpIntervalMs, QS_ALLINPUT);
    PumpMessages();
    if (watch != nullptr && watch->Cancelled()) return false;
  }
  return true;
}

// Keeps a handle unless a stop came first; then it is closed at once.
void TNetJob::Adopt(formkit::TScopedInet& owner, HINTERNET handle) {
  owner.Reset(handle);
  if (Stopping.load()) owner.Close();
}

void TNetJob::Send() {
  Request.Close();  // a redirect's hop before this one
  Connection.Close();
  SendError = 0;
  HINTERNET connection = InternetConnectA(Session, Host.c_str(), Port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  if (!connection) {
    ResponseText = LastResponseText();  // per thread: read it here
    Ok = false;
    return;
  }
  Adopt(Connection, connection);
  Ok = true;  // connected; a request may still fail
  HINTERNET request = HttpOpenRequestA(Connection.Get(), "GET", ObjectPath.c_str(), "HTTP/1.0", nullptr, nullptr,
                                       kRequestFlags | (Secure ? INTERNET_FLAG_SECURE : 0), 0);
  if (!request) return;
  Adopt(Request, request);
  // WinInet's own limit stays behind ours, so a stall gets our reason.
  InternetSetOptionA(Request.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &ReceiveTimeoutMs, sizeof ReceiveTimeoutMs);
  if (!HttpSendRequestA(Request.Get(), Headers.empty() ? nullptr : Headers.c_str(), static_cast<DWORD>(Headers.size()),
                        nullptr, 0)) {
    SendError = GetLastError();  // a refused certificate tells its reason here
    Request.Close();
  }
}

// InternetQueryDataAvailable waits for the first data and says how much has
// arrived; the read takes no more, so it returns at once on Windows and under
// Wine alike. Under Wine the answer is only what WinInet's 8 KiB buffer holds,
// not what waits in the socket, and a read per 8 KiB costs most of a fast
// transfer's speed: a transfer that has been going at over kFastPace also asks
// for what kAheadMs bring at its pace. A failure after some data is reported
// by the next step, which meets it again.
void TNetJob::Read() {
  Ok = true;
  Ended = false;
  DWORD filled = Filled.load(), pace = Pace;
  const DWORD begun = GetTickCount();
  while (filled < Limit) {
    DWORD available = 0;
    if (!InternetQueryDataAvailable(Request.Get(), &available, 0, 0)) {
      Ok = filled > 0;
      return;
    }
    if (available == 0) {
      Ended = true;
      return;
    }
    DWORD want = available + (pace >= kFastPace ? pace * kAheadMs : 0);
    if (want > Limit - filled) want = Limit - filled;
    DWORD count = 0;
    if (!InternetReadFile(Request.Get(), Buffer.get() + filled, want, &count)) {
      Ok = filled > 0;
      return;
    }
    if (count == 0) {
      Ended = true;
      return;
    }
    filled += count;
    const DWORD now = GetTickCount();
    LastData.store(now);
    Filled.store(filled);
    Pace = pace = filled / (now - begun + 1);
  }
}

TNetThread::TNetThread(std::shared_ptr<TNetJob> job, TDownloadWatch* watch, DWORD noDataTimeoutMs)
    : job_(std::move(job)), watch_(watch), noDataTimeoutMs_(noDataTimeoutMs) {
  auto* reference = new std::shared_ptr<TNetJob>(job_);
  thread_.Reset(CreateThread(nullptr, 0, NetThread, reference, 0, nullptr));
  if (!thread_) delete reference;
}

void TNetThread::Start(TNetJob::TStep step) {
  started_ = GetTickCount();
  job_->Step.store(step);
  SetEvent(job_->Wake.Get());
}

bool TNetThread::WaitAWhile() {
  const HANDLE done = job_->Done.Get();
  return MsgWaitForMultipleObjects(1, &done, FALSE, kPumpIntervalMs, QS_ALLINPUT) == WAIT_OBJECT_0;
}

bool TNetThread::Stalled() const {
  // In this order: data that arrives in between cannot lie after now.
  const DWORD lastData = job_->LastData.load();
  const DWORD now = GetTickCount();
  const DWORD quietSince = lastData - started_ <= now - started_ ? lastData : started_;  // the later of the two
  return now - quietSince >= noDataTimeoutMs_;
}

TWaitResult TNetThread::Run(TNetJob::TStep step) {
  Start(step);
  for (;;) {
    if (WaitAWhile()) return TWaitResult::Done;
    PumpMessages();
    if (watch_ != nullptr && watch_->Cancelled()) return TWaitResult::Cancelled;
    if (Stalled()) return TWaitResult::Stalled;
  }
}

void TNetThread::Stop() {
  if (!thread_) return;
  job_->Stopping.store(true);
  job_->Request.Close();
  job_->Connection.Close();
  job_->Step.store(TNetJob::TStep::Quit);
  SetEvent(job_->Wake.Get());
  WaitForSingleObject(thread_.Get(), kThreadStopWaitMs);
  thread_.Reset();
}
