#include "WinInetEasy.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "SysUtils.h"

using formkit::CharPos;
using formkit::FileNamePart;
using formkit::LastCharOfSet;
using formkit::TrimBlanks;
using formkit::TryTextToInt;
using formkit::UpperAscii;

TDownload DownloadSuccess(std::string path, std::int64_t size) {
  TDownload result;
  result.Path = std::move(path);
  result.Size = size;
  return result;
}

TDownload DownloadFailure(TDownloadError error, std::string text) {
  TDownload result;
  result.Error = error;
  result.ErrorText = std::move(text);
  return result;
}

namespace {
constexpr std::size_t kMaxUrlRemainder = 260;
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
  std::string rest = i < url.size() ? url.substr(i) : std::string();
  parts.TooLong = rest.size() > kMaxUrlRemainder;
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

bool IsNetworkPath(const std::string& path) {
  auto separator = [](char c) { return c == '\\' || c == '/'; };
  return path.size() >= 2 && separator(path[0]) && separator(path[1]);
}

std::string PartialNameFor(const std::string& target) {
  if (target.empty()) return target;
  std::string partial = target;
  partial.back() = partial.back() == '~' ? '#' : '~';
  return partial;
}

std::string PartialNoteNameFor(const std::string& target) {
  if (target.empty()) return target;
  std::string note = target;
  note.back() = note.back() == '!' ? '%' : '!';
  return note;
}

std::string PartialNoteText(const TPartialNote& note) {
  return note.Url + '\n' + formkit::DecimalText(static_cast<std::uint64_t>(note.Total)) + '\n' + note.ETag + '\n' +
         note.LastModified + '\n';
}

namespace {
// Decimal digits only, at most 18 of them (no sign, no blanks).
bool ParseCount(const std::string& text, std::int64_t& value) {
  if (text.empty() || text.size() > 18) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}
}  // namespace

bool ParsePartialNote(const std::string& text, TPartialNote& note) {
  std::string lines[4];
  std::size_t at = 0;
  for (std::string& line : lines) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos) return false;
    line = text.substr(at, end - at);
    at = end + 1;
  }
  TPartialNote read;
  read.Url = lines[0];
  read.ETag = lines[2];
  read.LastModified = lines[3];
  if (at != text.size() || read.Url.empty() || !ParseCount(lines[1], read.Total) || read.Total == 0 ||
      IfRangeOf(read).empty())
    return false;
  note = read;
  return true;
}

std::string IfRangeOf(const TPartialNote& note) {
  // A weak ETag may stand for other bytes: If-Range takes only strong ones.
  if (!note.ETag.empty() && note.ETag.compare(0, 2, "W/") != 0) return note.ETag;
  return note.LastModified;
}

bool ParseContentRange(const std::string& text, std::int64_t& first, std::int64_t& last, std::int64_t& total) {
  const std::string t = TrimBlanks(text);
  if (t.compare(0, 6, "bytes ") != 0) return false;
  const std::size_t dash = t.find('-', 6), slash = t.find('/', 6);
  if (dash == std::string::npos || slash == std::string::npos || slash < dash) return false;
  return ParseCount(t.substr(6, dash - 6), first) && ParseCount(t.substr(dash + 1, slash - dash - 1), last) &&
         ParseCount(t.substr(slash + 1), total) && first <= last && last < total;
}

std::string RedirectTarget(const std::string& url, const std::string& location) {
  const std::string to = TrimBlanks(location);
  const std::size_t scheme = to.find_first_of(":/?#");
  if (scheme != std::string::npos && scheme > 0 && to[scheme] == ':') return to;
  // The origin: the scheme, the separators after it, the host.
  std::size_t i = static_cast<std::size_t>(CharPos(':', url));
  while (i < url.size() && (url[i] == '/' || url[i] == ':')) ++i;
  const std::size_t hostEnd = std::min(url.find('/', i), url.size());
  if (to.compare(0, 2, "//") == 0) return url.substr(0, static_cast<std::size_t>(CharPos(':', url))) + to;
  if (!to.empty() && to[0] == '/') return url.substr(0, hostEnd) + to;
  const std::size_t lastSlash = url.rfind('/');
  if (lastSlash == std::string::npos || lastSlash < hostEnd) return url.substr(0, hostEnd) + '/' + to;
  return url.substr(0, lastSlash + 1) + to;
}

std::string HostWithoutPort(const std::string& host, std::int32_t& port) {
  const std::size_t colon = host.rfind(':');
  std::int64_t value = 0;
  if (colon == std::string::npos || !ParseCount(host.substr(colon + 1), value) || value < 1 || value > 65535)
    return host;
  port = static_cast<std::int32_t>(value);
  return host.substr(0, colon);
}

bool ParseContentLength(const std::string& text, std::int32_t& length) {
  const std::string digits = TrimBlanks(text);
  if (digits.empty() || digits.size() > 10) return false;
  std::int64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value > INT32_MAX) return false;
  length = static_cast<std::int32_t>(value);
  return true;
}

namespace {
const char* const kDayNames[] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
const char* const kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Matches all of t against form: "www" is a day's short name, "W" its full
// name, "nnn" a month; runs of d, e, y, h, m and s are the digits of the day
// (e: its first may be a blank), year, hour, minute and second; any other
// character stands for itself. Returns the year's digit count, 0: no match.
std::size_t MatchDate(const std::string& t, const char* form, THttpDate& date) {
  std::size_t at = 0, yearDigits = 0;
  while (*form != '\0') {
    const char c = *form;
    std::size_t run = 1;
    while (form[run] == c) ++run;
    int* field = c == 'd' || c == 'e' ? &date.Day
                 : c == 'y'            ? &date.Year
                 : c == 'h'            ? &date.Hour
                 : c == 'm'            ? &date.Minute
                 : c == 's'            ? &date.Second
                                       : nullptr;
    if (c == 'w' || c == 'W') {
      std::size_t length = 0;
      for (const char* name : kDayNames) {
        const std::size_t n = c == 'W' ? std::strlen(name) : run;
        if (t.compare(at, n, name, n) == 0) length = n;
      }
      if (length == 0) return 0;
      at += length;
    } else if (c == 'n') {
      date.Month = 0;
      for (int m = 0; m < 12; ++m)
        if (t.compare(at, run, kMonthNames[m]) == 0) date.Month = m + 1;
      if (date.Month == 0) return 0;
      at += run;
    } else if (field != nullptr) {
      *field = 0;
      for (std::size_t k = 0; k < run; ++k, ++at) {
        if (at >= t.size()) return 0;
        const char digit = c == 'e' && k == 0 && t[at] == ' ' ? '0' : t[at];
        if (digit < '0' || digit > '9') return 0;
        *field = *field * 10 + (digit - '0');
      }
      if (c == 'y') yearDigits = run;
    } else {
      run = 1;
      if (at >= t.size() || t[at] != c) return 0;
      ++at;
    }
    form += run;
  }
  return at == t.size() ? yearDigits : 0;
}
}  // namespace

bool ParseHttpDate(const std::string& text, THttpDate& date, int thisYear) {
  const std::string t = TrimBlanks(text);
  std::size_t yearDigits = 0;
  for (const char* form : {"www, dd nnn yyyy hh:mm:ss GMT", "W, dd-nnn-yy hh:mm:ss GMT", "www nnn ee hh:mm:ss yyyy"})
    if (yearDigits == 0) yearDigits = MatchDate(t, form, date);
  if (yearDigits == 0) return false;
  if (yearDigits == 2) {
    // The year of these two digits that lies at most 50 years ahead.
    date.Year += thisYear - thisYear % 100;
    if (date.Year > thisYear + 50) date.Year -= 100;
    if (date.Year <= thisYear - 50) date.Year += 100;
  }
  static const int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (date.Year % 4 == 0 && date.Year % 100 != 0) || date.Year % 400 == 0;
  const int days = date.Month == 2 && !leap ? 28 : kMonthDays[date.Month - 1];
  return date.Day >= 1 && date.Day <= days && date.Hour < 24 && date.Minute < 60 && date.Second < 61;
}

std::string DosDateText(std::int32_t dosDateTime) {
  const auto v = static_cast<std::uint32_t>(dosDateTime);
  const std::uint32_t fields[] = {1980 + (v >> 25), (v >> 21) & 15, (v >> 16) & 31,
                                  (v >> 11) & 31,   (v >> 5) & 63,  (v & 31) * 2};
  std::string text;
  for (int i = 0; i < 6; ++i) {
    if (i > 0) text += " -- ::"[i];
    if (fields[i] < 10) text += '0';
    text += formkit::DecimalText(fields[i]);
  }
  return text;
}

std::string FolderWithBackslash(const std::string& folder) {
  if (folder.empty() || folder.back() == '\\') return folder;
  return folder + '\\';
}
