// The download client's Win32 part: the client object with its WinInet session.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "DownloadWatch.h"
#include "ScopedWin.h"
#include "WinInetEasy.h"

// Called on the complete temporary copy before it replaces the target; a
// non-empty result is the reason it is refused (the target stays as it was).
// It refers to the caller's function object, which must outlive the call:
// no copy, no allocation (std::function would cost the program both).
class TCopyCheck {
 public:
  TCopyCheck() = default;
  template <class F>
  TCopyCheck(const F& check)  // converts like a function
      : object_(&check), call_([](const void* object, const std::string& tempPath, std::uint64_t size) {
          return (*static_cast<const F*>(object))(tempPath, size);
        }) {}
  explicit operator bool() const { return call_ != nullptr; }
  std::string operator()(const std::string& tempPath, std::uint64_t size) const {
    return call_(object_, tempPath, size);
  }

 private:
  const void* object_ = nullptr;
  std::string (*call_)(const void*, const std::string&, std::uint64_t) = nullptr;
};

// A transfer that receives nothing for this long fails with
// "No data for 30 seconds <url>".
constexpr std::uint32_t kNoDataTimeoutMs = 30000;

// A download whose connection drops or stalls is tried this often in all,
// pausing 0.5 s, 1 s, 1.5 s... in between.
constexpr std::uint32_t kMaxAttempts = 5;
constexpr std::uint32_t kRetryPauseMs = 500;

// How long a replace or a removal waits for another program (a virus
// scanner, a backup) to let go of the file.
constexpr std::uint32_t kFileInUseWaitMs = 10000;

// The session opener, replaceable so tests can watch the agent name and make
// opening fail.
using InternetOpenFunc = HINTERNET(WINAPI*)(LPCSTR agent, DWORD accessType, LPCSTR proxy,
                                            LPCSTR proxyBypass, DWORD flags);
// Flushes a complete copy to disk before it replaces the target; replaceable
// so tests can make it fail.
using FlushFileFunc = BOOL(WINAPI*)(HANDLE file);

// The download client: one WinInet session, opened on first use and kept
// until the client goes, and the settings that go with it. Its owner (the
// update run) sets them; tests hand it their opener.
class TDownloadClient {
 public:
  TDownloadClient() = default;
  TDownloadClient(const TDownloadClient&) = delete;
  TDownloadClient& operator=(const TDownloadClient&) = delete;

  // Fetches url into folder unless the copy there has the server's size and
  // date (fetchAnew: always). http:// and https:// (TLS with certificate
  // checks) are fetched; anything else is a local path, only located and
  // checked. A file larger than maxBytes fails, its transfer stopped as soon
  // as the body passes the bound. The target is replaced only by a complete
  // copy that check accepts. A cut transfer is tried again (MaxAttempts in
  // all), each attempt going on from the partial copy when the server can
  // resume it; the partial copy stays for the next run after a cancel too.
  // Redirects are followed by the client, at most five, each checked.
  TDownload Fetch(const std::string& url, const std::string& folder, std::uint64_t maxBytes,
                  const TCopyCheck& check = {}, bool fetchAnew = false);

  // Opens the session on first use; true when it is open after the call.
  bool OpenSession();
  // Closes the session if it is open; the next download opens another.
  void Close();

  // The session's agent name (AgentNameOf the program's path).
  std::string Agent;
  // host:port as typed by the user; OpenSession keeps only the text behind
  // the first ':'.
  std::string ProxySetting;
  // Port of every HTTP connection; only the low 16 bits reach WinInet.
  std::int32_t HttpPort = 80;
  // The proxy-port rule set HttpPort; HTTPS then uses it too instead of 443.
  bool HttpPortFromProxy = false;
  // The no-data limit in force; tests shorten it.
  std::uint32_t NoDataTimeoutMs = kNoDataTimeoutMs;
  InternetOpenFunc Open = InternetOpenA;
  FlushFileFunc Flush = FlushFileBuffers;
  // Hears how far a download got, takes its log lines and may stop it.
  // nullptr: nobody watches.
  TDownloadWatch* Watch = nullptr;
  // How long a file held by another program is waited for; tests shorten it.
  std::uint32_t FileInUseWaitMs = kFileInUseWaitMs;
  // Attempts of one download when the connection drops, and the pause before
  // the second one (it grows by as much for each further one); tests shorten them.
  std::uint32_t MaxAttempts = kMaxAttempts;
  std::uint32_t RetryPauseMs = kRetryPauseMs;

 private:
  formkit::TScopedInet session_;
};
