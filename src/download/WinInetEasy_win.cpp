// The download client's Win32 part: the session and a download
// (TDownloadClient::Fetch) in its steps: send and check the answer, is the
// copy current, receive into the partial copy, commit. The network thread
// that makes the blocking WinInet calls is in WinInetNet_win.cpp.
#include "WinInetEasy_win.h"

#include <initializer_list>
#include <memory>
#include <string_view>
#include <type_traits>
#include <utility>

#include "FailureCause.h"
#include "ScopedWin.h"
#include "SysUtils.h"
#include "WinInetNet_win.h"

using formkit::DecimalText;
using formkit::TrimBlanks;

namespace {

constexpr DWORD kQueryStatus = HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER;
// Header values are read as text into buffers of these sizes; a longer value
// counts as missing.
constexpr DWORD kLengthTextMax = 32;
constexpr DWORD kDateTextMax = 64;
constexpr DWORD kETagTextMax = 128;
constexpr DWORD kNoteTextMax = INTERNET_MAX_URL_LENGTH + 512;
// Hops followed before a request counts as a redirect loop.
constexpr int kMaxRedirects = 5;

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
      return FailureCause(error).Words != nullptr ? FailureText(error, url) : "OpenFile " + url;
  }
}

// A header's raw text, or false when it is missing or longer than maxLength.
bool HeaderText(HINTERNET request, DWORD query, DWORD maxLength, std::string& text) {
  std::unique_ptr<char[]> buffer(new char[maxLength + 1]());
  DWORD len = maxLength;
  if (!HttpQueryInfoA(request, query, buffer.get(), &len, nullptr) || len > maxLength) return false;
  text.assign(buffer.get(), len);
  return true;
}

// Last-Modified as a local DosDateTime; 0 when it is missing, is no date or
// lies outside the DOS date range.
formkit::DosDateTime RemoteDate(const std::string& text) {
  THttpDate d;
  SYSTEMTIME now;
  GetSystemTime(&now);  // gives a two-digit year its century
  if (text.empty() || !ParseHttpDate(text, d, now.wYear)) return 0;
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

// The copy's data and date on disk before the rename makes it the target:
// after a power cut the rename could survive without them, leaving a file
// that looks current and is not the copy.
bool FlushToDisk(const std::string& path, FlushFileFunc flush) {
  formkit::TScopedFile file(
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file && flush(file.Get()) != FALSE;
}

// Another program holds the file; it usually lets go within seconds.
bool HeldByAnother(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// Runs op until it succeeds, fails for another reason, waitMs pass or the
// owner gives up; the dialog stays responsive meanwhile. Returns 0 or the
// last error.
template <class Op>
DWORD RetryWhileHeld(const Op& op, DWORD waitMs, TDownloadWatch* watch) {
  constexpr DWORD kStepMs = 250;
  for (DWORD waited = 0;; waited += kStepMs) {
    if (op()) return 0;
    const DWORD error = GetLastError();
    if (!HeldByAnother(error) || waited >= waitMs || !PauseUnlessCancelled(kStepMs, watch)) return error;
  }
}

// Failures of the connection itself, worth another attempt; refusals are not.
bool IsDroppedConnection(DWORD sendError) {
  return sendError == ERROR_INTERNET_TIMEOUT || sendError == ERROR_INTERNET_CONNECTION_ABORTED ||
         sendError == ERROR_INTERNET_CONNECTION_RESET || sendError == ERROR_HTTP_INVALID_SERVER_RESPONSE;
}

bool IsRedirect(DWORD status) {
  return status == HTTP_STATUS_MOVED || status == HTTP_STATUS_REDIRECT || status == HTTP_STATUS_REDIRECT_METHOD ||
         status == HTTP_STATUS_REDIRECT_KEEP_VERB || status == HTTP_STATUS_PERMANENT_REDIRECT;
}

std::string Count(std::int64_t value) { return DecimalText(static_cast<std::uint64_t>(value)); }

// The partial copy of a target and the note beside it that names the
// server's version. A partial copy without a note is never resumed and goes
// when the download ends, whichever way; one with a note stays for the next
// attempt or the next run.
class TPartialCopy {
 public:
  explicit TPartialCopy(const std::string& target)
      : path_(PartialNameFor(target)), notePath_(PartialNoteNameFor(target)) {}
  ~TPartialCopy() {
    if (!kept_) Drop();
  }
  TPartialCopy(const TPartialCopy&) = delete;
  TPartialCopy& operator=(const TPartialCopy&) = delete;
  const std::string& Path() const { return path_; }
  std::int64_t Have() const { return have_; }
  const TPartialNote& Note() const { return note_; }

  // Takes what an earlier transfer of url left, when its note is whole and
  // the copy is short of the noted size and within maxBytes; drops anything else.
  void Load(const std::string& url, std::uint64_t maxBytes) {
    std::string text;
    TPartialNote note;
    const std::int64_t size = formkit::FileStamp(path_).Size;
    if (ReadNote(text) && ParsePartialNote(text, note) && note.Url == url && size > 0 && size < note.Total &&
        static_cast<std::uint64_t>(note.Total) <= maxBytes) {
      note_ = note;
      have_ = size;
      kept_ = true;
    } else {
      Drop();
    }
  }
  // The copy is kept under note from now on (false: the note was not written).
  bool Keep(const TPartialNote& note) {
    std::string text = PartialNoteText(note);
    formkit::TScopedFile file(
        CreateFileA(notePath_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    kept_ = file && WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
            written == text.size();
    return kept_;
  }
  // Goes with the download: no note, so nothing resumes it.
  void Forget() {
    DeleteFileA(notePath_.c_str());
    kept_ = false;
  }
  void Drop() {
    DeleteFileA(path_.c_str());
    DeleteFileA(notePath_.c_str());
    have_ = 0;
    kept_ = false;
  }
  // Drop, waiting up to waitMs for another program to let go of the copy.
  void Remove(DWORD waitMs, TDownloadWatch* watch) {
    RetryWhileHeld([&] { return DeleteFileA(path_.c_str()) != FALSE || GetLastError() == ERROR_FILE_NOT_FOUND; },
                   waitMs, watch);
    Drop();
  }

 private:
  bool ReadNote(std::string& text) const {
    formkit::TScopedFile file(CreateFileA(notePath_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    text.assign(kNoteTextMax, '\0');
    DWORD count = 0;
    if (!file || !ReadFile(file.Get(), &text[0], kNoteTextMax, &count, nullptr)) return false;
    text.resize(count);
    return true;
  }

  std::string path_, notePath_;
  TPartialNote note_;
  std::int64_t have_ = 0;
  bool kept_ = false;
};

// What the final answer says about the file.
struct TAnswer {
  std::int64_t Offset = 0;  // where its body starts in the file
  std::int64_t Total = -1;  // the whole file's size; -1: not said
  formkit::DosDateTime Date = 0;
  TPartialNote Note;        // the server's version of the file
  bool Resumable = false;   // a cut transfer can go on from where it stopped
};

// Missing from some SDK headers.
constexpr DWORD kStatusRangeNotSatisfiable = 416;

// A piece of a support-log line: a text or a count.
struct TPiece {
  TPiece(const char* text) : Text(text) {}
  TPiece(const std::string& text) : Text(text) {}
  template <class N, class = std::enable_if_t<std::is_integral_v<N>>>
  TPiece(N number) : Number(static_cast<std::int64_t>(number)) {}
  std::string_view Text;
  std::int64_t Number = -1;  // -1: a text
};

// One download over HTTP, in attempts: each resumes what the last one left.
class TFetch {
 public:
  TFetch(const TDownloadClient& client, HINTERNET session, std::string url, std::string target, std::uint64_t maxBytes,
         const TCopyCheck& check, bool fetchAnew)
      : client_(client), session_(session), url_(std::move(url)), target_(std::move(target)), maxBytes_(maxBytes),
        check_(check), fetchAnew_(fetchAnew), partial_(target_),
        stalledText_("No data for " + formkit::IntToText(static_cast<std::int32_t>(client.NoDataTimeoutMs / 1000)) +
                     " seconds " + url_) {}
  TDownload Run();

 private:
  TDownload Attempt();
  TDownload Send(TNetThread& net, TNetJob& job);
  TDownload CheckAnswer(HINTERNET request, TAnswer& answer);
  bool IsCurrent(const TAnswer& answer) const;
  TDownload Receive(TNetThread& net, TNetJob& job, const TAnswer& answer);
  DWORD ReadLimit() const;
  TDownload Commit(TNetJob& job, const TAnswer& answer);

  // A line for the support log, put together only when there is one.
  void Note(std::initializer_list<TPiece> pieces) const {
    if (client_.Watch == nullptr) return;
    std::string line;
    for (const TPiece& piece : pieces) line += piece.Number >= 0 ? Count(piece.Number) : std::string(piece.Text);
    client_.Watch->Log(line);
  }
  bool Cancelled() const { return client_.Watch != nullptr && client_.Watch->Cancelled(); }
  // The attempt failed on the way; another one may do better.
  TDownload Dropped(TDownloadError error, const std::string& text) {
    retry_ = true;
    return DownloadFailure(error, text);
  }
  // Refused for good: the partial copy goes too.
  TDownload Refused(TDownloadError error, const std::string& text) {
    partial_.Remove(client_.FileInUseWaitMs, client_.Watch);
    return DownloadFailure(error, text);
  }
  TDownload TooLarge() { return Refused(TDownloadError::Refused, "Larger than " + DecimalText(maxBytes_) + " bytes " + url_); }
  // The local disk failed with error (GetLastError's); the text says why.
  TDownload Unwritable(DWORD error) {
    partial_.Remove(client_.FileInUseWaitMs, client_.Watch);  // first, so the free space counts its room
    return DownloadFailure(TDownloadError::Local, LocalFailureText(error));
  }
  std::string LocalFailureText(DWORD error) const;

  const TDownloadClient& client_;
  HINTERNET session_;
  const std::string url_, target_;
  const std::uint64_t maxBytes_;
  const TCopyCheck& check_;
  const bool fetchAnew_;
  TPartialCopy partial_;
  const std::string stalledText_;
  bool retry_ = false;
  std::int64_t reached_ = 0, total_ = -1;  // how far the file got, of how much
  DWORD started_ = 0;
};

TDownload TFetch::Run() {
  for (std::uint32_t attempt = 1;; ++attempt) {
    retry_ = false;
    TDownload got = Attempt();
    if (!retry_) {
      if (!got.Ok()) Note({"Failed: ", got.ErrorText});
      return got;
    }
    if (attempt >= client_.MaxAttempts) {
      const std::string text = "Connection kept dropping: " + Count(reached_) + (total_ >= 0 ? " of " + Count(total_) : "") +
                               " bytes after " + Count(attempt) + " attempts (" + got.ErrorText + ")";
      Note({"Failed: ", text});
      return DownloadFailure(TDownloadError::Dropped, text);
    }
    const DWORD pause = client_.RetryPauseMs * attempt;
    Note({"Attempt ", attempt + 1, " of ", client_.MaxAttempts, " in ", pause, " ms after: ", got.ErrorText});
    if (!PauseUnlessCancelled(pause, client_.Watch)) {
      Note({"Cancelled"});
      return DownloadFailure(TDownloadError::Cancelled, "Cancelled " + url_);
    }
  }
}

TDownload TFetch::Attempt() {
  partial_.Load(url_, maxBytes_);
  auto job = std::make_shared<TNetJob>();
  job->Session = session_;
  job->ReceiveTimeoutMs = client_.NoDataTimeoutMs + 10000;
  if (partial_.Have() > 0)
    job->Headers = "Range: bytes=" + Count(partial_.Have()) + "-\r\nIf-Range: " + IfRangeOf(partial_.Note()) + "\r\n";
  TNetThread net(job, client_.Watch, client_.NoDataTimeoutMs);
  if (!net.Started()) return DownloadFailure(TDownloadError::Connection, "OpenFile " + url_);
  started_ = GetTickCount();
  TDownload got = Send(net, *job);
  TAnswer answer;
  if (got.Ok()) got = CheckAnswer(job->Request.Get(), answer);
  if (!got.Ok()) return got;
  if (!IsCurrent(answer)) return Receive(net, *job, answer);
  partial_.Drop();
  job->Request.Close();
  job->Connection.Close();
  Note({"Current, not fetched"});
  return DownloadSuccess(target_, answer.Total);
}

// Sends the request and follows redirects, each hop checked: http or https
// only, never from https to http, at most kMaxRedirects of them.
TDownload TFetch::Send(TNetThread& net, TNetJob& job) {
  using E = TDownloadError;
  std::string at = url_;
  for (int hop = 0;; ++hop) {
    const TUrlParts parts = SplitUrl(at);
    if (parts.TooLong) return Refused(E::Refused, "URL too long " + at);
    const bool secure = IsHttpsUrl(at);
    std::int32_t port = secure && !client_.HttpPortFromProxy ? INTERNET_DEFAULT_HTTPS_PORT : client_.HttpPort;
    job.Host = HostWithoutPort(parts.Host, port);
    job.Port = static_cast<INTERNET_PORT>(port);  // only the low 16 bits reach WinInet
    job.ObjectPath = parts.ObjectPath;
    job.Secure = secure;
    Note({"GET ", at, partial_.Have() > 0 ? " from byte " : "", partial_.Have() > 0 ? TPiece(partial_.Have()) : ""});
    switch (net.Run(TNetJob::TStep::Send)) {
      case TWaitResult::Cancelled:
        return DownloadFailure(E::Cancelled, "Cancelled " + url_);
      case TWaitResult::Stalled:
        return Dropped(E::Stalled, stalledText_);
      case TWaitResult::Done:
        break;
    }
    if (!job.Ok) return DownloadFailure(E::Connection, job.ResponseText);
    const HINTERNET request = job.Request.Get();
    if (!request) {
      job.Connection.Close();
      const std::string text = SendFailureText(job.SendError, url_);
      return IsDroppedConnection(job.SendError) ? Dropped(E::Connection, text) : DownloadFailure(E::Connection, text);
    }
    // A secure hop ends secure, whatever WinInet allows on the way.
    if (secure && !AnsweredSecurely(request)) return Refused(E::Refused, DowngradeText(url_));
    DWORD status = 0, statusLen = sizeof status;
    if (!HttpQueryInfoA(request, kQueryStatus, &status, &statusLen, nullptr)) status = 0;
    std::string location;
    if (!IsRedirect(status) || !HeaderText(request, HTTP_QUERY_LOCATION, INTERNET_MAX_URL_LENGTH, location))
      return DownloadSuccess(at, status);
    if (hop == kMaxRedirects) return Refused(E::Refused, "Too many redirects for " + url_);
    const std::string next = RedirectTarget(at, location);
    Note({"HTTP ", status, " to ", next});
    if (secure && !IsHttpsUrl(next)) return Refused(E::Refused, DowngradeText(url_));
    if (!IsHttpUrl(next) && !IsHttpsUrl(next)) return Refused(E::Refused, "Redirected to another scheme " + url_);
    at = next;
  }
}

// The answer to the request: its status, its form and the size and version of
// the file; a 206 must go on exactly where the partial copy ends.
TDownload TFetch::CheckAnswer(HINTERNET request, TAnswer& answer) {
  using E = TDownloadError;
  DWORD status = 0, statusLen = sizeof status;
  if (!HttpQueryInfoA(request, kQueryStatus, &status, &statusLen, nullptr)) status = 0;
  std::string lengthText, rangeText, etag, lastModified;
  std::int32_t length = -1;
  if (!HeaderText(request, HTTP_QUERY_CONTENT_LENGTH, kLengthTextMax, lengthText) ||
      !ParseContentLength(lengthText, length))
    length = -1;
  HeaderText(request, HTTP_QUERY_LAST_MODIFIED, kDateTextMax, lastModified);
  Note({"HTTP ", status, ", Content-Length ", length >= 0 ? TPiece(length) : "none", ", Last-Modified ",
        lastModified.empty() ? "none" : lastModified});
  // The server no longer has the part asked for: start again from zero.
  if (status == kStatusRangeNotSatisfiable && partial_.Have() > 0) {
    partial_.Drop();
    return Dropped(E::Server, "HTTP 416 " + url_);
  }
  // An error page is no copy of the file: leave the local one alone.
  if (status != HTTP_STATUS_OK && status != HTTP_STATUS_PARTIAL_CONTENT)
    return Refused(E::Server, "HTTP " + formkit::IntToText(static_cast<std::int32_t>(status)) + " " + url_);
  if (HasTransferEncoding(request)) return Refused(E::Server, "Transfer-Encoding in an HTTP/1.0 answer " + url_);
  answer.Total = length;
  if (status == HTTP_STATUS_PARTIAL_CONTENT) {
    std::int64_t first = 0, last = 0, total = 0;
    if (!HeaderText(request, HTTP_QUERY_CONTENT_RANGE, kLengthTextMax * 2, rangeText) ||
        !ParseContentRange(rangeText, first, last, total) || first != partial_.Have() || last + 1 != total ||
        (length >= 0 && length != total - first) || (first > 0 && total != partial_.Note().Total))
      return Refused(E::Transfer, "Range that does not continue the partial copy " + url_);
    answer.Offset = first;
    answer.Total = total;
  }
  if (answer.Total >= 0 && static_cast<std::uint64_t>(answer.Total) > maxBytes_) return TooLarge();
  total_ = answer.Total;
  answer.Date = answer.Total >= 0 ? RemoteDate(lastModified) : 0;
  HeaderText(request, HTTP_QUERY_ETAG, kETagTextMax, etag);
  answer.Note = TPartialNote{url_, answer.Total, etag, lastModified};
  std::string ranges;
  answer.Resumable = answer.Total > 0 && !IfRangeOf(answer.Note).empty() &&
                     (status == HTTP_STATUS_PARTIAL_CONTENT ||
                      (HeaderText(request, HTTP_QUERY_ACCEPT_RANGES, kLengthTextMax, ranges) && ranges == "bytes"));
  return DownloadSuccess(url_, answer.Total);
}

bool TFetch::IsCurrent(const TAnswer& answer) const {
  const formkit::TFileStamp local = formkit::FileStamp(target_);  // none: size -1
  if (local.Size < 0) {
    Note({"Local copy none"});
  } else if (client_.Watch != nullptr) {  // its date's text only for a log
    Note({"Local copy ", local.Size, " bytes dated ", DosDateText(local.Date)});
  }
  return !fetchAnew_ && answer.Total >= 0 && answer.Date != 0 && local.Size == answer.Total &&
         local.Date == answer.Date;
}

// A read step takes at most the room left under the bound, and one byte
// more to tell a file that passes it.
DWORD TFetch::ReadLimit() const {
  const std::uint64_t room = maxBytes_ - static_cast<std::uint64_t>(reached_);
  return room >= kBlockSize ? kBlockSize : static_cast<DWORD>(room + 1);
}

// The body goes to the partial copy beside the target, written as it
// arrives: a cut transfer keeps what came (when the server can resume it).
TDownload TFetch::Receive(TNetThread& net, TNetJob& job, const TAnswer& answer) {
  if (IsUnwritableTarget(target_)) return Unwritable(ERROR_ACCESS_DENIED);
  formkit::TScopedFile file(CreateFileA(partial_.Path().c_str(), GENERIC_WRITE, 0, nullptr,
                                        answer.Offset > 0 ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
  LARGE_INTEGER offset;
  offset.QuadPart = answer.Offset;
  if (!file || !SetFilePointerEx(file.Get(), offset, nullptr, FILE_BEGIN) || !SetEndOfFile(file.Get()))
    return Unwritable(GetLastError());
  if (answer.Resumable ? !partial_.Keep(answer.Note) : (partial_.Forget(), false)) return Unwritable(GetLastError());
  reached_ = answer.Offset;
  // A resumed copy shows where it starts.
  if (reached_ > 0 && client_.Watch != nullptr)
    client_.Watch->Progress(static_cast<std::uint64_t>(reached_), answer.Total);
  DWORD taken = 0;
  job.Limit = ReadLimit();
  net.Start(TNetJob::TStep::Read);
  for (;;) {
    const bool done = net.WaitAWhile();
    const DWORD filled = job.Filled.load();
    if (filled > taken) {  // written as it comes, at least every pump interval
      const DWORD count = filled - taken;
      // The copy is closed before it is removed.
      if (static_cast<std::uint64_t>(reached_) + count > maxBytes_) {  // nothing more is read
        file.Reset();
        return TooLarge();
      }
      DWORD written = 0;
      const bool wrote = WriteFile(file.Get(), job.Buffer.get() + taken, count, &written, nullptr) != FALSE;
      if (!wrote || written != count) {
        // A short write that succeeds sets no error of its own: the disk is full.
        const DWORD error = wrote ? ERROR_DISK_FULL : GetLastError();
        file.Reset();
        return Unwritable(error);
      }
      taken = filled;
      reached_ += count;
      if (client_.Watch != nullptr) client_.Watch->Progress(static_cast<std::uint64_t>(reached_), answer.Total);
    }
    PumpMessages();
    if (Cancelled()) {
      Note({"Cancelled at ", reached_, " bytes"});
      return DownloadFailure(TDownloadError::Cancelled, "Cancelled " + url_);
    }
    if (done) {
      if (!job.Ok) return Dropped(TDownloadError::Transfer, "Incomplete transfer " + url_);
      if (job.Ended) break;
      job.Filled.store(0);
      taken = 0;
      job.Limit = ReadLimit();
      net.Start(TNetJob::TStep::Read);
    } else if (net.Stalled()) {
      return Dropped(TDownloadError::Stalled, stalledText_);
    }
  }
  file.Reset();
  return Commit(job, answer);
}

// The complete copy, accepted by the check and on disk, replaces the target.
TDownload TFetch::Commit(TNetJob& job, const TAnswer& answer) {
  using E = TDownloadError;
  if (answer.Total >= 0 && reached_ < answer.Total) return Dropped(E::Transfer, "Incomplete transfer " + url_);
  if (answer.Total >= 0 && reached_ > answer.Total)
    return Refused(E::Transfer, "Body longer than its Content-Length " + url_);
  if (check_) {
    const std::string refused = check_(partial_.Path(), static_cast<std::uint64_t>(reached_));
    if (!refused.empty()) return Refused(E::CheckRefused, refused);
  }
  if (answer.Date != 0) formkit::SetFileDosDateTime(partial_.Path(), answer.Date);
  if (!FlushToDisk(partial_.Path(), client_.Flush)) {
    const DWORD error = GetLastError();
    return Refused(E::Local, "Not written to disk " + (error != 0 ? "(" + Count(error) + ") " : std::string()) + target_);
  }
  // A scanner looks at a new file, or the old one, for a moment.
  const DWORD moveError = RetryWhileHeld(
      [&] { return MoveFileExA(partial_.Path().c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE; },
      client_.FileInUseWaitMs, client_.Watch);
  if (moveError != 0) return Unwritable(moveError);
  partial_.Drop();  // the note; the copy is the target now
  Note({answer.Offset > 0 ? "Resumed from " : "Fetched ", answer.Offset > 0 ? TPiece(answer.Offset) : "",
        answer.Offset > 0 ? ": " : "", reached_ - answer.Offset, " bytes in ", GetTickCount() - started_, " ms"});
  const bool requestClosed = job.Request.Close();
  const bool connectionClosed = job.Connection.Close();
  if (!requestClosed || !connectionClosed)
    return DownloadFailure(E::Transfer, "InternetCloseHandle " + SplitUrl(url_).ObjectPath);
  return DownloadSuccess(target_, reached_);
}

std::string TFetch::LocalFailureText(DWORD error) const {
  if (FailureCause(error).Words == nullptr) return "Cannot write (" + Count(error) + ") " + target_;
  std::string text = FailureText(error, target_);
  if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) {
    const std::string folder = formkit::FolderPart(target_);
    ULARGE_INTEGER free = {};
    text += ": " + (total_ >= 0 ? Count(total_) : Count(reached_) + " or more") + " bytes needed in " + folder;
    if (GetDiskFreeSpaceExA(folder.c_str(), &free, nullptr, nullptr))
      text += ", " + Count(static_cast<std::int64_t>(free.QuadPart)) + " free";
  }
  return text;
}

// A path that is not fetched: only located and checked.
TDownload FetchLocal(const std::string& path, std::uint64_t maxBytes, const TCopyCheck& check) {
  using E = TDownloadError;
  if (IsNetworkPath(path)) return DownloadFailure(E::Refused, "Network path refused " + path);
  const std::int64_t local = formkit::FileStamp(path).Size;
  if (local == -1 || local == 0) return DownloadFailure(E::NotFound, "No such File!");
  if (static_cast<std::uint64_t>(local) > maxBytes)
    return DownloadFailure(E::Refused, "Larger than " + DecimalText(maxBytes) + " bytes " + path);
  if (check) {
    const std::string refused = check(path, static_cast<std::uint64_t>(local));
    if (!refused.empty()) return DownloadFailure(E::CheckRefused, refused);
  }
  return DownloadSuccess(path, local);
}

}  // namespace

bool TDownloadClient::OpenSession() {
  if (session_) return true;
  std::string proxyName;
  bool withProxy = ApplyProxyPortRule(ProxySetting, HttpPort, proxyName);
  if (withProxy) HttpPortFromProxy = true;
  session_.Reset(
      Open(Agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, withProxy ? proxyName.c_str() : nullptr, nullptr, 0));
  return static_cast<bool>(session_);
}

void TDownloadClient::Close() { session_.Close(); }

TDownload TDownloadClient::Fetch(const std::string& url, const std::string& folder, std::uint64_t maxBytes,
                                 const TCopyCheck& check, bool fetchAnew) {
  using E = TDownloadError;
  const std::string trimmed = TrimBlanks(url);
  if (!IsHttpUrl(trimmed) && !IsHttpsUrl(trimmed)) return FetchLocal(trimmed, maxBytes, check);
  const TUrlParts parts = SplitUrl(trimmed);
  if (parts.TooLong) return DownloadFailure(E::Refused, "URL too long " + trimmed);
  if (!OpenSession()) return DownloadFailure(E::NoSession, "No Internet Connection available");
  const std::string target = FolderWithBackslash(folder) + parts.RemoteName;
  // No file name, no partial copy beside it either.
  if (parts.RemoteName.empty()) return DownloadFailure(E::Local, "Cannot write " + target);
  return TFetch(*this, session_.Get(), trimmed, target, maxBytes, check, fetchAnew).Run();
}
