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

bool ParseHttpDate(const std::string& text, THttpDate& date) {
  // "Sun, 06 Nov 1994 08:49:37 GMT": 29 characters in fixed places.
  static const char* const kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::string t = TrimBlanks(text);
  if (t.size() != 29 || t.compare(3, 2, ", ") != 0 || t[7] != ' ' || t[11] != ' ' || t[16] != ' ' ||
      t[19] != ':' || t[22] != ':' || t.compare(25, 4, " GMT") != 0)
    return false;
  bool dayName = false;
  for (const char* d : kDays) dayName = dayName || t.compare(0, 3, d) == 0;
  if (!dayName) return false;
  auto number = [&t](std::size_t at, std::size_t n, int& out) {
    out = 0;
    for (std::size_t i = at; i < at + n; ++i) {
      if (t[i] < '0' || t[i] > '9') return false;
      out = out * 10 + (t[i] - '0');
    }
    return true;
  };
  date.Month = 0;
  for (int m = 0; m < 12; ++m)
    if (t.compare(8, 3, kMonths[m]) == 0) date.Month = m + 1;
  if (date.Month == 0 || !number(5, 2, date.Day) || !number(12, 4, date.Year) || !number(17, 2, date.Hour) ||
      !number(20, 2, date.Minute) || !number(23, 2, date.Second))
    return false;
  static const int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (date.Year % 4 == 0 && date.Year % 100 != 0) || date.Year % 400 == 0;
  const int days = date.Month == 2 && !leap ? 28 : kMonthDays[date.Month - 1];
  return date.Day >= 1 && date.Day <= days && date.Hour < 24 && date.Minute < 60 && date.Second < 61;
}

std::string FolderWithBackslash(const std::string& folder) {
  if (folder.empty() || folder.back() == '\\') return folder;
  return folder + '\\';
}

std::string DecimalText(std::uint64_t value) {
  std::string text;
  do {
    text.insert(text.begin(), static_cast<char>('0' + value % 10));
    value /= 10;
  } while (value != 0);
  return text;
}
