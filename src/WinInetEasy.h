// The download client: the process-wide WinInet session, the proxy-port rule
// and DownloadFile, which fetches one file unless the local copy is current.
// Everything above the _WIN32 block is free of Win32 and builds natively.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// ---------------------------------------------------------------- module state

// The session handle (a HINTERNET); nullptr while closed.
extern void* InternetSession;
// host:port as typed by the user; OpenInternetSession keeps only the text
// behind the first ':'.
extern std::string ProxySetting;
// Port of every HTTP connection; only the low 16 bits reach WinInet.
extern std::int32_t HttpPort;
// The proxy-port rule set HttpPort; HTTPS then uses it too instead of 443.
extern bool HttpPortFromProxy;
// Reason of the last failed download.
extern std::string LastDownloadError;

// ---------------------------------------------------------------- pure rules

// The program's file name up to its first '.': "C:\x\update.exe" gives "update".
std::string AgentNameOf(const std::string& programPath);

// Trims proxySetting, cuts it to the text behind its first ':' and, when that
// text is a non-zero integer, sets httpPort and returns true with the host in
// proxyName. Otherwise proxyName is empty and httpPort is left alone.
bool ApplyProxyPortRule(std::string& proxySetting, std::int32_t& httpPort, std::string& proxyName);

// The scheme before the first ':' is HTTP (any case).
bool IsHttpUrl(const std::string& url);
// The scheme before the first ':' is HTTPS (any case).
bool IsHttpsUrl(const std::string& url);

struct TUrlParts {
  std::string Host;        // before the first '/' of the remainder (":port" stays in it)
  std::string ObjectPath;  // after that '/'
  std::string RemoteName;  // object path behind its last '/', '\' or ':'
  bool TooLong = false;    // the remainder exceeds 260 characters: not to be requested
};
// Splits a trimmed HTTP URL: separators after the scheme are skipped. A
// remainder longer than 260 characters is flagged, never cut: a cut request
// would fetch another file and store it under another name.
TUrlParts SplitUrl(const std::string& url);

// \\host\share, //host/share and the \\?\ and \\.\ forms: opening them makes
// Windows contact another machine with the user's credentials.
bool IsNetworkPath(const std::string& path);

// A name for the partial copy of target in the same folder and no longer
// than target, so every target that can be created can be downloaded.
std::string PartialNameFor(const std::string& target);

// A Content-Length value: decimal digits only, at most 2^31-1. Anything else
// (negative, absurd, garbage) counts as no length.
bool ParseContentLength(const std::string& text, std::int32_t& length);

struct THttpDate {
  int Year, Month, Day, Hour, Minute, Second;
};
// An HTTP date in the fixed form "Sun, 06 Nov 1994 08:49:37 GMT"; false for
// anything else.
bool ParseHttpDate(const std::string& text, THttpDate& date);

// The folder with a trailing '\' unless it is empty or already has one.
std::string FolderWithBackslash(const std::string& folder);

// ---------------------------------------------------------------- module start and finish

void StartWinInetEasy();
// Closes the session if it is open and empties ProxySetting and LastDownloadError.
void FinishWinInetEasy();

#if defined(_WIN32)
#include <windows.h>
#include <wininet.h>

// Opens the session on first use; true when it is open after the call.
bool OpenInternetSession();

// Low 32 bits of the size of the file found at path; -1 for nothing or a folder.
std::int32_t LocalFileSize(const std::string& path);

// Called on the complete temporary copy before it replaces the target; a
// non-empty result is the reason it is refused (the target stays as it was).
using TCopyCheck = std::function<std::string(const std::string& tempPath, std::uint32_t size)>;

// Fetches url into folder unless the copy there has the server's size and date.
// http:// and https:// (TLS with certificate checks) are fetched; anything else
// is a local path. Returns the local name (the URL itself for a local path) and
// the byte count in size; an empty name and size 0 mean failure, explained by
// LastDownloadError. The target is replaced only by a complete copy that check
// accepts. An unwritable target raises formkit::EStreamError.
std::string DownloadFile(const std::string& url, const std::string& folder, std::int32_t& size,
                         const TCopyCheck& check = {});

// Asked at least every 200 ms during a transfer; when it answers true the
// transfer stops, the local copy stays as it was and DownloadFile fails with
// "Cancelled <url>". Set by the dialog so that Cancel works during a download;
// nullptr: never cancelled.
extern bool (*DownloadCancelled)();

// A transfer that receives nothing for this long fails with
// "No data for 30 seconds <url>".
constexpr std::uint32_t kNoDataTimeoutMs = 30000;
// The limit in force; tests shorten it.
extern std::uint32_t NoDataTimeoutMs;

// The session opener, replaceable so tests can watch the agent name and make
// opening fail. Returns the previous one.
using InternetOpenFunc = HINTERNET(WINAPI*)(LPCSTR agent, DWORD accessType, LPCSTR proxy,
                                            LPCSTR proxyBypass, DWORD flags);
InternetOpenFunc SetInternetOpenFunc(InternetOpenFunc f);
#endif
