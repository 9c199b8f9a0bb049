// The download client's rules: the proxy-port rule, the URL and header rules
// and the result of a download. This header is free of Win32 and builds
// natively; WinInetEasy_win.h has the client with its session.
#pragma once

#include <cstdint>
#include <string>

// ---------------------------------------------------------------- results

// Why a download failed; the text that goes with it names the file.
enum class TDownloadError : std::uint8_t {
  None,
  NotFound,     // nothing usable at a local path, a scheme that is not fetched, or not the file asked for
  Refused,      // a network path, a URL too long, a file over its bound, a downgrade to http
  NoSession,    // the Internet session did not open
  Connection,   // no connection, no request or no answer
  Server,       // an error status or a form of answer that is refused
  Stalled,      // no data for the limit in force
  Cancelled,    // the owner gave up during the transfer
  Transfer,     // a cut, too long or unclosed transfer, or an answer that does not continue the partial copy
  CheckRefused, // the copy check refused the complete copy
  Local,        // the local disk failed: create, write, flush or rename (the text names the file)
  Dropped,      // the connection kept dropping until the attempts ran out
};

struct TDownload {
  std::string Path;       // the local name (a local path itself); empty on failure
  std::int64_t Size = 0;  // 0 on failure
  TDownloadError Error = TDownloadError::None;
  std::string ErrorText;  // why, for the user; empty when it worked (and for some silent servers)
  bool Ok() const { return Error == TDownloadError::None; }
};

// A download that worked, and one that failed (no name, no size).
TDownload DownloadSuccess(std::string path, std::int64_t size);
TDownload DownloadFailure(TDownloadError error, std::string text);

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

// The note beside the partial copy of target (same folder, no longer name)
// that says which version of the server's file the partial copy belongs to.
std::string PartialNoteNameFor(const std::string& target);

// What identifies the server's version of a file whose partial copy is kept.
struct TPartialNote {
  std::string Url;           // as asked, before any redirect
  std::int64_t Total = -1;   // the whole file's size
  std::string ETag;          // as the server sent them; either may be empty
  std::string LastModified;
};
// One line each; ParsePartialNote is false for anything but a complete note
// with a size and a validator.
std::string PartialNoteText(const TPartialNote& note);
bool ParsePartialNote(const std::string& text, TPartialNote& note);
// The If-Range value: a strong ETag, else the Last-Modified text.
std::string IfRangeOf(const TPartialNote& note);

// A 206 answer's Content-Range, "bytes FIRST-LAST/TOTAL"; false for any other
// form (an unknown total "*" included) or a range that does not fit in TOTAL.
bool ParseContentRange(const std::string& text, std::int64_t& first, std::int64_t& last, std::int64_t& total);

// Where a Location header leads from url: an absolute address as it is,
// "//host/path" with url's scheme, "/path" on url's host, anything else
// beside the last '/' of url's path.
std::string RedirectTarget(const std::string& url, const std::string& location);

// Splits "host:port" when the port is a number from 1 to 65535; otherwise
// the host stays as it is and port is left alone.
std::string HostWithoutPort(const std::string& host, std::int32_t& port);

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

// A DosDateTime as "YYYY-MM-DD hh:mm:ss" (for the support log).
std::string DosDateText(std::int32_t dosDateTime);

// The folder with a trailing '\' unless it is empty or already has one.
std::string FolderWithBackslash(const std::string& folder);
