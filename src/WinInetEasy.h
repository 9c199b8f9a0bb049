// The download client: the process-wide WinInet session, the proxy-port rule
// and DownloadFile, which fetches one file unless the local copy is current.
// This header is free of Win32 and builds natively; WinInetEasy_win.h has
// the session and DownloadFile.
#pragma once

#include <cstdint>
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
// An HTTP date in one of its three forms, "Sun, 06 Nov 1994 08:49:37 GMT",
// "Sunday, 06-Nov-94 08:49:37 GMT" and "Sun Nov  6 08:49:37 1994"; false for
// anything else. A two-digit year is the one at most 50 years after thisYear.
bool ParseHttpDate(const std::string& text, THttpDate& date, int thisYear);

// The folder with a trailing '\' unless it is empty or already has one.
std::string FolderWithBackslash(const std::string& folder);

// A byte count or a serial in decimal.
std::string DecimalText(std::uint64_t value);
