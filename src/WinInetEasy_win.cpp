// The download client's Win32 part: the session, the network thread and a
// download (TDownloadClient::Fetch).
#include "WinInetEasy_win.h"

#include <atomic>
#include <memory>
#include <utility>

#include "Classes.h"
#include "Forms.h"
#include "ScopedWin.h"
#include "SysUtils.h"

using formkit::FileNamePart;
using formkit::TrimBlanks;

namespace {

// A read step hands over up to this much. Under Wine smaller blocks cost most
// of the speed (128 KiB: 0.21 of a bare 1 MiB loop, 512 KiB: 0.55), and 2 MiB
// measured slower too (0.4).
constexpr DWORD kBlockSize = 1 << 20;
// Always from the server, and nothing kept in the WinInet cache: a download
// written there as well costs a second copy on disk and most of the speed.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
constexpr DWORD kQueryStatus = HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER;
// Header values are read as text into buffers of these sizes; a longer value
// counts as missing.
constexpr DWORD kLengthTextMax = 32;
constexpr DWORD kDateTextMax = 64;
// The dialog processes its messages at least this often during a transfer.
constexpr DWORD kPumpIntervalMs = 200;
// How long one read step goes on gathering data that keeps arriving.
constexpr DWORD kFillMs = 50;
// How long a stopped transfer waits for its network thread to leave WinInet.
// Closing the handles does not end a waiting call everywhere (not under
// Wine); such a thread is left to end with the connection, on its own.
constexpr DWORD kThreadStopWaitMs = 200;

// The copy's data and date on disk before the rename makes it the target:
// after a power cut the rename could survive without them, leaving a file
// that looks current and is not the copy.
bool FlushToDisk(const std::string& path, FlushFileFunc flush) {
  formkit::TScopedFile file(
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file && flush(file.Get()) != FALSE;
}

// Closes its handle on every way out; Close() reports the result where it
// counts. Either thread may close it: the exchange lets only one of them.
class TInetHandle {
 public:
  TInetHandle() = default;
  ~TInetHandle() { Close(); }
  TInetHandle(const TInetHandle&) = delete;
  TInetHandle& operator=(const TInetHandle&) = delete;
  HINTERNET Get() const { return handle_.load(); }
  void Set(HINTERNET handle) { handle_.store(handle); }
  bool Close() {
    HINTERNET h = handle_.exchange(nullptr);
    return h == nullptr || InternetCloseHandle(h) != FALSE;
  }

 private:
  std::atomic<HINTERNET> handle_{nullptr};
};

// The partial file of a transfer; removed unless the transfer completed.
class TTempFile {
 public:
  explicit TTempFile(std::string path) : path_(std::move(path)) {}
  ~TTempFile() {
    if (!kept_) DeleteFileA(path_.c_str());
  }
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;
  const std::string& Path() const { return path_; }
  void Keep() { kept_ = true; }

 private:
  std::string path_;
  bool kept_ = false;
};

// Missing from some SDK headers.
constexpr DWORD kErrorSecureFailure = INTERNET_ERROR_BASE + 175;

std::string DowngradeText(const std::string& url) { return "Redirected from https to http " + url; }

// A refused certificate names itself; other send failures keep the old text.
std::string SendFailureText(DWORD error, const std::string& url) {
  switch (error) {
    case ERROR_INTERNET_INVALID_CA:
      return "Untrusted certificate (12045) " + url;
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
      return "Certificate for another name (12038) " + url;
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
      return "Expired certificate (12037) " + url;
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case kErrorSecureFailure:
      return "Certificate refused (" + formkit::IntToText(static_cast<std::int32_t>(error)) + ") " + url;
    case ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR:
      return DowngradeText(url);
    default:
      return "OpenFile " + url;
  }
}

std::string LastResponseText() {
  char buffer[1024];
  DWORD error = 0;
  DWORD len = sizeof buffer;
  if (!InternetGetLastResponseInfoA(&error, buffer, &len)) return std::string();
  std::size_t n = 0;
  while (n < len && n < sizeof buffer && buffer[n] != 0) ++n;
  return std::string(buffer, n);
}

// A header's raw text, or false when it is missing or longer than maxLength.
bool HeaderText(HINTERNET request, DWORD query, DWORD maxLength, std::string& text) {
  std::unique_ptr<char[]> buffer(new char[maxLength + 1]());
  DWORD len = maxLength;
  if (!HttpQueryInfoA(request, query, buffer.get(), &len, nullptr) || len > maxLength) return false;
  text.assign(buffer.get(), len);
  return true;
}

// Last-Modified as a local DosDateTime; 0 when the header is missing, is no
// date or lies outside the DOS date range.
formkit::DosDateTime RemoteDate(HINTERNET request) {
  std::string text;
  THttpDate d;
  SYSTEMTIME now;
  GetSystemTime(&now);  // gives a two-digit year its century
  if (!HeaderText(request, HTTP_QUERY_LAST_MODIFIED, kDateTextMax, text) || !ParseHttpDate(text, d, now.wYear))
    return 0;
  SYSTEMTIME st = {};
  st.wYear = static_cast<WORD>(d.Year);
  st.wMonth = static_cast<WORD>(d.Month);
  st.wDay = static_cast<WORD>(d.Day);
  st.wHour = static_cast<WORD>(d.Hour);
  st.wMinute = static_cast<WORD>(d.Minute);
  st.wSecond = static_cast<WORD>(d.Second);
  FILETIME utc;
  formkit::DosDateTime value = 0;
  return SystemTimeToFileTime(&st, &utc) && formkit::LocalDosDateTime(utc, value) ? value : 0;
}

// Any Transfer-Encoding. Chunks answer only HTTP/1.1 requests, and WinInet
// ends a chunked body cut by a closed connection as if it were complete.
bool HasTransferEncoding(HINTERNET request) {
  char text[16];
  DWORD len = sizeof text;
  return HttpQueryInfoA(request, HTTP_QUERY_TRANSFER_ENCODING, text, &len, nullptr) != FALSE ||
         GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

// Whether the answer came over TLS, after whatever redirects WinInet followed.
bool AnsweredSecurely(HINTERNET request) {
  char url[INTERNET_MAX_URL_LENGTH + 1] = {};
  DWORD len = INTERNET_MAX_URL_LENGTH;
  DWORD flags = 0, flagsLen = sizeof flags;
  return InternetQueryOptionA(request, INTERNET_OPTION_URL, url, &len) && !IsHttpUrl(url) &&
         InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, &flagsLen) &&
         (flags & SECURITY_FLAG_SECURE) != 0;
}

bool IsUnwritableTarget(const std::string& path) {
  DWORD attr = GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0;
}

// One request, shared by the dialog's thread and the network thread that makes
// the blocking WinInet calls. The network thread holds its own reference, so
// a thread left behind in WinInet after a stop never touches freed memory.
struct TNetJob {
  enum class TStep { Send, Read, Quit };

  HINTERNET Session = nullptr;
  std::string Host, ObjectPath;
  INTERNET_PORT Port = 80;
  bool Secure = false;  // TLS; no flag relaxes the certificate checks
  DWORD ReceiveTimeoutMs = 0;
  TInetHandle Connection, Request;
  std::unique_ptr<char[]> Buffer{new char[kBlockSize]};
  std::atomic<TStep> Step{TStep::Quit};
  std::atomic<bool> Stopping{false};
  formkit::TScopedHandle Wake{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
  formkit::TScopedHandle Done{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
  // Results of the last step, published by Done.
  bool Ok = false;
  DWORD Count = 0;
  std::string ResponseText;
  DWORD SendError = 0;
  // When data last arrived: a step that gathers a block may outlast a
  // stall's start, so stalls are counted from here.
  std::atomic<DWORD> LastData{0};

  // Keeps a handle unless a stop came first; then it is closed at once.
  void Adopt(TInetHandle& owner, HINTERNET handle) {
    owner.Set(handle);
    if (Stopping.load()) owner.Close();
  }

  void Send() {
    HINTERNET connection = InternetConnectA(Session, Host.c_str(), Port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (!connection) {
      ResponseText = LastResponseText();  // per thread: read it here
      Ok = false;
      return;
    }
    Adopt(Connection, connection);
    HINTERNET request = HttpOpenRequestA(Connection.Get(), "GET", ObjectPath.c_str(), "HTTP/1.0", nullptr, nullptr,
                                         kRequestFlags | (Secure ? INTERNET_FLAG_SECURE : 0), 0);
    if (!request) {
      Ok = true;  // connected, no request
      return;
    }
    Adopt(Request, request);
    // WinInet's own limit stays behind ours, so a stall gets our reason.
    InternetSetOptionA(Request.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &ReceiveTimeoutMs, sizeof ReceiveTimeoutMs);
    if (!HttpSendRequestA(Request.Get(), nullptr, 0, nullptr, 0)) {
      SendError = GetLastError();  // a refused certificate tells its reason here
      Request.Close();
    }
    Ok = true;
  }

  // What has arrived, up to a block. The first query waits for data; later
  // ones take what keeps coming for kFillMs, so a fast transfer moves whole
  // blocks (one hand-over each, not one per network packet) and a slow one
  // hands over what it has. A failure after some data is reported by the
  // next step, which meets it again.
  void Read() {
    Count = 0;
    Ok = true;
    const DWORD start = GetTickCount();
    DWORD available = 0;
    if (!InternetQueryDataAvailable(Request.Get(), &available, 0, 0)) {
      Ok = false;
      return;
    }
    if (available == 0) return;  // the end of the body
    // Then whatever the connection holds, without waiting for more.
    do {
      INTERNET_BUFFERSA part = {};
      part.dwStructSize = sizeof part;
      part.lpvBuffer = Buffer.get() + Count;
      part.dwBufferLength = kBlockSize - Count;
      if (!InternetReadFileExA(Request.Get(), &part, IRF_NO_WAIT, 0)) {
        Ok = Count > 0;
        return;
      }
      if (part.dwBufferLength == 0) break;  // nothing more for now, or the end
      Count += part.dwBufferLength;
      LastData.store(GetTickCount());
    } while (Count < kBlockSize && GetTickCount() - start < kFillMs);
  }
};

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

enum class TWaitResult { Done, Cancelled, Stalled };

// Runs the network thread for a job and stops it on every way out: the
// handles are closed first, which ends a call that is waiting for the server.
class TNetThread {
 public:
  TNetThread(std::shared_ptr<TNetJob> job, const TDownloadClient& client) : job_(std::move(job)), client_(client) {
    auto* reference = new std::shared_ptr<TNetJob>(job_);
    thread_.Reset(CreateThread(nullptr, 0, NetThread, reference, 0, nullptr));
    if (!thread_) delete reference;
  }
  ~TNetThread() { Stop(); }
  TNetThread(const TNetThread&) = delete;
  TNetThread& operator=(const TNetThread&) = delete;
  bool Started() const { return thread_ && job_->Wake && job_->Done; }

  // Hands a step to the thread and waits for it on the dialog's thread,
  // processing messages meanwhile. Cancelled when the dialog gave up; stalled
  // when the step took the client's no-data limit.
  TWaitResult Run(TNetJob::TStep step) {
    job_->Step.store(step);
    SetEvent(job_->Wake.Get());
    const DWORD start = GetTickCount();
    const HANDLE done = job_->Done.Get();
    for (;;) {
      if (MsgWaitForMultipleObjects(1, &done, FALSE, kPumpIntervalMs, QS_ALLINPUT) == WAIT_OBJECT_0)
        return TWaitResult::Done;
      if (formkit::Application) formkit::Application->ProcessMessages();
      if (client_.Cancelled != nullptr && client_.Cancelled()) return TWaitResult::Cancelled;
      const DWORD now = GetTickCount();
      const DWORD lastData = job_->LastData.load();
      const DWORD quietSince = lastData - start < now - start ? lastData : start;  // the later of the two
      if (now - quietSince >= client_.NoDataTimeoutMs) return TWaitResult::Stalled;
    }
  }

 private:
  void Stop() {
    if (!thread_) return;
    job_->Stopping.store(true);
    job_->Request.Close();
    job_->Connection.Close();
    job_->Step.store(TNetJob::TStep::Quit);
    SetEvent(job_->Wake.Get());
    WaitForSingleObject(thread_.Get(), kThreadStopWaitMs);
    thread_.Reset();
  }

  std::shared_ptr<TNetJob> job_;
  const TDownloadClient& client_;
  formkit::TScopedHandle thread_;
};

}  // namespace

bool TDownloadClient::OpenSession() {
  if (session_) return true;
  std::string proxyName;
  bool withProxy = ApplyProxyPortRule(ProxySetting, HttpPort, proxyName);
  if (withProxy) HttpPortFromProxy = true;
  session_ = Open(Agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, withProxy ? proxyName.c_str() : nullptr, nullptr, 0);
  return session_ != nullptr;
}

void TDownloadClient::Close() {
  if (session_) InternetCloseHandle(session_);
  session_ = nullptr;
}

TDownload TDownloadClient::Fetch(const std::string& url, const std::string& folder, std::uint64_t maxBytes,
                                 const TCopyCheck& check, bool fetchAnew) {
  using E = TDownloadError;
  const std::string trimmed = TrimBlanks(url);
  const bool secure = IsHttpsUrl(trimmed);
  const std::string tooLarge = "Larger than " + formkit::DecimalText(maxBytes) + " bytes " + trimmed;

  if (!IsHttpUrl(trimmed) && !secure) {
    if (IsNetworkPath(trimmed)) {
      return DownloadFailure(E::Refused, "Network path refused " + trimmed);
    }
    const std::int64_t local = formkit::FileStamp(trimmed).Size;
    if (local == -1 || local == 0) return DownloadFailure(E::NotFound, "No such File!");
    if (static_cast<std::uint64_t>(local) > maxBytes) {
      return DownloadFailure(E::Refused, tooLarge);
    }
    if (check) {
      const std::string refused = check(trimmed, static_cast<std::uint64_t>(local));
      if (!refused.empty()) {
        return DownloadFailure(E::CheckRefused, refused);
      }
    }
    return DownloadSuccess(trimmed, local);
  }

  const TUrlParts parts = SplitUrl(trimmed);
  if (parts.TooLong) {
    return DownloadFailure(E::Refused, "URL too long " + trimmed);
  }

  if (!OpenSession()) {
    return DownloadFailure(E::NoSession, "No Internet Connection available");
  }

  const std::string target = FolderWithBackslash(folder) + parts.RemoteName;
  auto job = std::make_shared<TNetJob>();
  job->Session = session_;
  job->Host = parts.Host;
  job->ObjectPath = parts.ObjectPath;
  job->Secure = secure;
  // Only the low 16 bits of HttpPort reach WinInet.
  job->Port = secure && !HttpPortFromProxy ? INTERNET_DEFAULT_HTTPS_PORT : static_cast<INTERNET_PORT>(HttpPort);
  job->ReceiveTimeoutMs = NoDataTimeoutMs + 10000;
  TNetThread net(job, *this);
  if (!net.Started()) {
    return DownloadFailure(E::Connection, "OpenFile " + trimmed);
  }
  const std::string stalled = "No data for " + formkit::IntToText(static_cast<std::int32_t>(NoDataTimeoutMs / 1000)) +
                              " seconds " + trimmed;

  switch (net.Run(TNetJob::TStep::Send)) {
    case TWaitResult::Cancelled:
      return DownloadFailure(E::Cancelled, "Cancelled " + trimmed);
    case TWaitResult::Stalled:
      return DownloadFailure(E::Stalled, stalled);
    case TWaitResult::Done:
      break;
  }
  if (!job->Ok) {
    return DownloadFailure(E::Connection, job->ResponseText);
  }
  HINTERNET request = job->Request.Get();
  if (!request) {
    job->Connection.Close();
    return DownloadFailure(E::Connection, SendFailureText(job->SendError, trimmed));
  }

  // A secure start ends secure, whatever WinInet allows on the way.
  if (secure && !AnsweredSecurely(request)) {
    return DownloadFailure(E::Refused, DowngradeText(trimmed));
  }

  // An error page is no copy of the file: leave the local one alone.
  DWORD status = 0;
  DWORD statusLen = sizeof status;
  if (!HttpQueryInfoA(request, kQueryStatus, &status, &statusLen, nullptr)) status = 0;
  if (status < 200 || status > 299) {
    return DownloadFailure(E::Server, "HTTP " + formkit::IntToText(static_cast<std::int32_t>(status)) + " " + trimmed);
  }

  if (HasTransferEncoding(request)) {
    return DownloadFailure(E::Server, "Transfer-Encoding in an HTTP/1.0 answer " + trimmed);
  }

  std::string lengthText;
  std::int32_t contentLength = 0;
  const bool haveLength = HeaderText(request, HTTP_QUERY_CONTENT_LENGTH, kLengthTextMax, lengthText) &&
                          ParseContentLength(lengthText, contentLength);
  if (haveLength && static_cast<std::uint64_t>(contentLength) > maxBytes) {
    return DownloadFailure(E::Refused, tooLarge);
  }
  formkit::DosDateTime remoteDate = haveLength ? RemoteDate(request) : 0;
  if (!fetchAnew && haveLength && remoteDate != 0) {
    const formkit::TFileStamp local = formkit::FileStamp(target);  // none: size -1
    if (local.Size == contentLength && local.Date == remoteDate) {
      job->Request.Close();
      job->Connection.Close();
      return DownloadSuccess(target, contentLength);
    }
  }

  // The body goes to a file beside the target, which is replaced only by a
  // complete copy; the errors still name the target.
  if (parts.RemoteName.empty() || IsUnwritableTarget(target)) throw formkit::EStreamError(target);
  TTempFile temp(PartialNameFor(target));
  formkit::THandle probe = formkit::FileHandleCreate(temp.Path());
  if (probe == formkit::kInvalidHandle) {
    temp.Keep();  // nothing was created
    throw formkit::EStreamError(target);
  }
  formkit::FileHandleClose(probe);

  std::uint64_t received = 0;
  bool failed = false, overBound = false;
  TWaitResult stop = TWaitResult::Done;
  {
    formkit::TFileStream stream(temp.Path(), formkit::fmCreate);
    for (;;) {
      stop = net.Run(TNetJob::TStep::Read);
      if (stop != TWaitResult::Done) break;
      if (!job->Ok) {
        failed = true;
        break;
      }
      const DWORD count = job->Count;
      if (count == 0) break;
      received += count;
      if (received > maxBytes) {  // nothing more is read, nothing kept
        overBound = true;
        break;
      }
      if (stream.Write(job->Buffer.get(), static_cast<std::int32_t>(count)) != static_cast<std::int32_t>(count)) {
        failed = true;
        break;
      }
      if (Progress != nullptr) Progress(received, haveLength ? contentLength : -1);
      if (formkit::Application) formkit::Application->ProcessMessages();
      if (Cancelled != nullptr && Cancelled()) {
        stop = TWaitResult::Cancelled;
        break;
      }
    }
  }
  if (stop == TWaitResult::Cancelled) {
    return DownloadFailure(E::Cancelled, "Cancelled " + trimmed);
  }
  if (stop == TWaitResult::Stalled) {
    return DownloadFailure(E::Stalled, stalled);
  }
  if (overBound) {
    return DownloadFailure(E::Refused, tooLarge);
  }
  if (failed || (haveLength && received < static_cast<std::uint64_t>(contentLength))) {
    return DownloadFailure(E::Transfer, "Incomplete transfer " + trimmed);
  }
  if (haveLength && received > static_cast<std::uint64_t>(contentLength)) {
    return DownloadFailure(E::Transfer, "Body longer than its Content-Length " + trimmed);
  }
  if (check) {
    std::string refused = check(temp.Path(), received);
    if (!refused.empty()) {
      return DownloadFailure(E::CheckRefused, refused);
    }
  }

  if (remoteDate != 0) formkit::SetFileDosDateTime(temp.Path(), remoteDate);
  if (!FlushToDisk(temp.Path(), Flush)) {
    return DownloadFailure(E::Transfer, "Not written to disk " + target);
  }
  if (!MoveFileExA(temp.Path().c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    throw formkit::EStreamError(target);
  }
  temp.Keep();

  bool requestClosed = job->Request.Close();
  bool connectionClosed = job->Connection.Close();
  if (!requestClosed || !connectionClosed) {
    return DownloadFailure(E::Transfer, "InternetCloseHandle " + parts.ObjectPath);
  }
  return DownloadSuccess(target, static_cast<std::int64_t>(received));
}
