// The download client's Win32 part: the WinInet session and DownloadFile.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <functional>

#include "WinInetEasy.h"

void StartWinInetEasy();
// Closes the session if it is open and empties ProxySetting and LastDownloadError.
void FinishWinInetEasy();

// Opens the session on first use; true when it is open after the call.
bool OpenInternetSession();

// Size of the file found at path; -1 for nothing or a folder.
std::int64_t LocalFileSize(const std::string& path);

// Called on the complete temporary copy before it replaces the target; a
// non-empty result is the reason it is refused (the target stays as it was).
using TCopyCheck = std::function<std::string(const std::string& tempPath, std::uint64_t size)>;

// Fetches url into folder unless the copy there has the server's size and date
// (fetchAnew: always). http:// and https:// (TLS with certificate checks) are
// fetched; anything else is a local path, only located and checked. Returns
// the local name (the URL itself for a local path) and the byte count in size; an empty name and size
// 0 mean failure, explained by LastDownloadError. A file larger than maxBytes
// fails, its transfer stopped as soon as the body passes the bound. The target
// is replaced only by a complete copy that check accepts. An unwritable target
// raises formkit::EStreamError.
std::string DownloadFile(const std::string& url, const std::string& folder, std::int64_t& size,
                         std::uint64_t maxBytes, const TCopyCheck& check = {}, bool fetchAnew = false);

// Asked at least every 200 ms during a transfer; when it answers true the
// transfer stops, the local copy stays as it was and DownloadFile fails with
// "Cancelled <url>". Set by the dialog so that Cancel works during a download;
// nullptr: never cancelled.
extern bool (*DownloadCancelled)();

// Called after every block written with the bytes received so far and the
// expected total (-1 when the server sent no length), for a progress display;
// nullptr: nobody watches.
extern void (*DownloadProgress)(std::uint64_t received, std::int64_t total);

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

// Flushes a complete copy to disk before it replaces the target; replaceable
// so tests can make it fail. Returns the previous one.
using FlushFileFunc = BOOL(WINAPI*)(HANDLE file);
FlushFileFunc SetFlushFileFunc(FlushFileFunc f);
