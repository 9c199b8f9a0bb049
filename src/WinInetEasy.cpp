#include "WinInetEasy.h"

#include "SysUtils.h"

using formkit::CharPos;
using formkit::FileNamePart;
using formkit::LastCharOfSet;
using formkit::TrimBlanks;
using formkit::TryTextToInt;
using formkit::UpperAscii;

void* InternetSession = nullptr;
std::string ProxySetting;
std::int32_t HttpPort = 80;
bool HttpPortFromProxy = false;
std::string LastDownloadError;

namespace {
constexpr std::size_t kMaxUrlRemainder = 260;
}

void StartWinInetEasy() {
  InternetSession = nullptr;
  ProxySetting.clear();
  HttpPort = 80;
  HttpPortFromProxy = false;
  LastDownloadError.clear();
}

std::string AgentNameOf(const std::string& programPath) {
  std::string name = FileNamePart(programPath);
  int dot = CharPos('.', name);
  if (dot > 0) name.resize(static_cast<std::size_t>(dot - 1));
  return name;
}

bool ApplyProxyPortRule(std::string& proxySetting, std::int32_t& httpPort, std::string& proxyName) {
  proxyName.clear();
  proxySetting = TrimBlanks(proxySetting);
  int colon = CharPos(':', proxySetting);
  if (colon == 0) return false;
  std::string host = proxySetting.substr(0, static_cast<std::size_t>(colon - 1));
  // The setting keeps only the port text, valid or not.
  proxySetting.erase(0, static_cast<std::size_t>(colon));
  std::int32_t port = 0;
  if (!TryTextToInt(proxySetting, port) || port == 0) return false;
  httpPort = port;
  proxyName = host;
  return true;
}

namespace {
std::string SchemeOf(const std::string& url) {
  int colon = CharPos(':', url);
  return colon > 0 ? UpperAscii(url.substr(0, static_cast<std::size_t>(colon - 1))) : std::string();
}
}  // namespace

bool IsHttpUrl(const std::string& url) { return SchemeOf(url) == "HTTP"; }

bool IsHttpsUrl(const std::string& url) { return SchemeOf(url) == "HTTPS"; }

TUrlParts SplitUrl(const std::string& url) {
  TUrlParts parts;
  std::size_t i = static_cast<std::size_t>(CharPos(':', url));  // just after the scheme's ':'
  while (i < url.size() && (url[i] == '/' || url[i] == ':')) ++i;
  std::string rest = i < url.size() ? url.substr(i, kMaxUrlRemainder) : std::string();
  std::size_t slash = rest.find('/');
  if (slash == std::string::npos) {
    parts.ObjectPath = rest;
  } else {
    parts.Host = rest.substr(0, slash);
    parts.ObjectPath = rest.substr(slash + 1);
  }
  int last = LastCharOfSet("/\\:", parts.ObjectPath);
  parts.RemoteName = parts.ObjectPath.substr(static_cast<std::size_t>(last));
  return parts;
}

std::string FolderWithBackslash(const std::string& folder) {
  if (folder.empty() || folder.back() == '\\') return folder;
  return folder + '\\';
}

#if defined(_WIN32)

#include <memory>
#include <utility>

#include "Classes.h"
#include "Forms.h"

namespace {

constexpr DWORD kBlockSize = 131072;
// Always from the server, and nothing kept in the WinInet cache: a download
// written there as well costs a second copy on disk and most of the speed.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
constexpr DWORD kQueryContentLength = HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER;   // 0x20000005
constexpr DWORD kQueryLastModified = HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME;  // 0x4000000B
constexpr DWORD kQueryStatus = HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER;

InternetOpenFunc openFunc = nullptr;

// Closes its handle on every way out; Close() reports the result where it counts.
class TInetHandle {
 public:
  explicit TInetHandle(HINTERNET handle) : handle_(handle) {}
  ~TInetHandle() {
    if (handle_) InternetCloseHandle(handle_);
  }
  TInetHandle(const TInetHandle&) = delete;
  TInetHandle& operator=(const TInetHandle&) = delete;
  HINTERNET Get() const { return handle_; }
  bool Close() {
    HINTERNET h = handle_;
    handle_ = nullptr;
    return h == nullptr || InternetCloseHandle(h) != FALSE;
  }

 private:
  HINTERNET handle_;
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

// Last-Modified as a local DosDateTime; 0 when the header is missing or lies
// outside the DOS date range.
formkit::DosDateTime RemoteDate(HINTERNET request) {
  SYSTEMTIME st = {};
  DWORD len = sizeof st;
  if (!HttpQueryInfoA(request, kQueryLastModified, &st, &len, nullptr)) return 0;
  FILETIME utc, local;
  if (!SystemTimeToFileTime(&st, &utc)) return 0;
  FileTimeToLocalFileTime(&utc, &local);
  SYSTEMTIME localSt;
  if (!FileTimeToSystemTime(&local, &localSt) || localSt.wYear < 1980 || localSt.wYear > 2107) return 0;
  WORD date = 0, time = 0;
  if (!FileTimeToDosDateTime(&local, &date, &time)) return 0;
  return static_cast<formkit::DosDateTime>((static_cast<std::uint32_t>(date) << 16) | time);
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

// Missing from some SDK headers.
constexpr DWORD kErrorSecureFailure = INTERNET_ERROR_BASE + 175;

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
    default:
      return "OpenFile " + url;
  }
}

bool IsUnwritableTarget(const std::string& path) {
  DWORD attr = GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0;
}

}  // namespace

InternetOpenFunc SetInternetOpenFunc(InternetOpenFunc f) {
  InternetOpenFunc previous = openFunc ? openFunc : InternetOpenA;
  openFunc = f;
  return previous;
}

bool OpenInternetSession() {
  if (InternetSession) return true;
  char path[MAX_PATH + 1] = {};
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string agent = AgentNameOf(std::string(path, n < MAX_PATH ? n : MAX_PATH));
  std::string proxyName;
  bool withProxy = ApplyProxyPortRule(ProxySetting, HttpPort, proxyName);
  if (withProxy) HttpPortFromProxy = true;
  InternetOpenFunc open = openFunc ? openFunc : InternetOpenA;
  InternetSession = open(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, withProxy ? proxyName.c_str() : nullptr,
                         nullptr, 0);
  return InternetSession != nullptr;
}

std::int32_t LocalFileSize(const std::string& path) {
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(path.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return -1;
  FindClose(search);
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
  return static_cast<std::int32_t>(data.nFileSizeLow);
}

bool (*DownloadCancelled)() = nullptr;

std::string DownloadFile(const std::string& url, const std::string& folder, std::int32_t& size,
                         const TCopyCheck& check) {
  LastDownloadError = "No such File!";
  size = 0;
  const std::string trimmed = TrimBlanks(url);
  const bool secure = IsHttpsUrl(trimmed);

  if (!IsHttpUrl(trimmed) && !secure) {
    std::int32_t local = LocalFileSize(trimmed);
    if (local == -1 || local == 0) return std::string();
    size = local;
    return trimmed;
  }

  if (!OpenInternetSession()) {
    LastDownloadError = "No Internet Connection available";
    return std::string();
  }

  const TUrlParts parts = SplitUrl(trimmed);
  const std::string target = FolderWithBackslash(folder) + parts.RemoteName;
  std::unique_ptr<char[]> buffer(new char[kBlockSize]);

  const INTERNET_PORT port =
      secure && !HttpPortFromProxy ? INTERNET_DEFAULT_HTTPS_PORT : static_cast<INTERNET_PORT>(HttpPort & 0xFFFF);
  TInetHandle connection(InternetConnectA(static_cast<HINTERNET>(InternetSession), parts.Host.c_str(), port, nullptr,
                                          nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection.Get()) {
    LastDownloadError = LastResponseText();
    return std::string();
  }

  // No flag relaxes the certificate checks: a refused certificate fails the download.
  TInetHandle request(HttpOpenRequestA(connection.Get(), "GET", parts.ObjectPath.c_str(), "HTTP/1.0", nullptr,
                                       nullptr, kRequestFlags | (secure ? INTERNET_FLAG_SECURE : 0), 0));
  DWORD sendError = 0;
  if (request.Get() && !HttpSendRequestA(request.Get(), nullptr, 0, nullptr, 0)) {
    sendError = GetLastError();
    request.Close();
  }
  if (!request.Get()) {
    connection.Close();
    LastDownloadError = SendFailureText(sendError, trimmed);
    return std::string();
  }

  // An error page is no copy of the file: leave the local one alone.
  DWORD status = 0;
  DWORD statusLen = sizeof status;
  if (!HttpQueryInfoA(request.Get(), kQueryStatus, &status, &statusLen, nullptr)) status = 0;
  if (status < 200 || status > 299) {
    LastDownloadError = "HTTP " + formkit::IntToText(static_cast<std::int32_t>(status)) + " " + trimmed;
    return std::string();
  }

  std::int32_t contentLength = 0;
  DWORD lengthLen = sizeof contentLength;
  bool haveLength = HttpQueryInfoA(request.Get(), kQueryContentLength, &contentLength, &lengthLen, nullptr) != FALSE;
  formkit::DosDateTime remoteDate = haveLength ? RemoteDate(request.Get()) : 0;
  if (haveLength && remoteDate != 0 && formkit::PathExists(target) && LocalFileSize(target) == contentLength &&
      formkit::FileDosDateTime(target) == remoteDate) {
    request.Close();
    connection.Close();
    size = contentLength;
    return target;
  }

  // The body goes to a file beside the target, which is replaced only by a
  // complete copy; the errors still name the target.
  if (parts.RemoteName.empty() || IsUnwritableTarget(target)) throw formkit::EStreamError(target);
  TTempFile temp(target + ".part");
  formkit::THandle probe = formkit::FileHandleCreate(temp.Path());
  if (probe == formkit::kInvalidHandle) {
    temp.Keep();  // nothing was created
    throw formkit::EStreamError(target);
  }
  formkit::FileHandleClose(probe);

  std::uint32_t received = 0;
  bool failed = false;
  bool cancelled = false;
  {
    formkit::TFileStream stream(temp.Path(), formkit::fmCreate);
    for (;;) {
      DWORD count = 0;
      if (!InternetReadFile(request.Get(), buffer.get(), kBlockSize, &count)) {
        failed = true;
        count = 0;
      } else if (count > 0) {
        received += count;
        if (stream.Write(buffer.get(), static_cast<std::int32_t>(count)) != static_cast<std::int32_t>(count))
          failed = true;
      }
      if (formkit::Application) formkit::Application->ProcessMessages();
      if (count != 0 && DownloadCancelled != nullptr && DownloadCancelled()) cancelled = true;
      if (count == 0 || failed || cancelled) break;
    }
  }
  if (cancelled) {
    LastDownloadError = "Cancelled " + trimmed;
    return std::string();
  }
  if (failed || (haveLength && received < static_cast<std::uint32_t>(contentLength))) {
    LastDownloadError = "Incomplete transfer " + trimmed;
    return std::string();
  }

  if (check) {
    std::string refusal = check(temp.Path(), received);
    if (!refusal.empty()) {
      LastDownloadError = refusal;
      return std::string();
    }
  }
  if (remoteDate != 0) formkit::SetFileDosDateTime(temp.Path(), remoteDate);
  if (!MoveFileExA(temp.Path().c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    throw formkit::EStreamError(target);
  }
  temp.Keep();

  size = static_cast<std::int32_t>(received);
  bool requestClosed = request.Close();
  bool connectionClosed = connection.Close();
  if (!requestClosed || !connectionClosed) {
    LastDownloadError = "InternetCloseHandle " + parts.ObjectPath;
    return std::string();
  }
  return target;
}

void FinishWinInetEasy() {
  if (InternetSession) InternetCloseHandle(static_cast<HINTERNET>(InternetSession));
  InternetSession = nullptr;
  ProxySetting.clear();
  LastDownloadError.clear();
}

#else

void FinishWinInetEasy() {
  InternetSession = nullptr;
  ProxySetting.clear();
  LastDownloadError.clear();
}

#endif  // _WIN32
