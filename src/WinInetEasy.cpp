#include "WinInetEasy.h"

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

std::string FolderWithBackslash(const std::string& folder) {
  if (folder.empty() || folder.back() == '\\') return folder;
  return folder + '\\';
}
