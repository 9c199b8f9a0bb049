#include "SysUtils.h"

#include <cstdlib>
#include <cstring>

namespace formkit {

// ---------------------------------------------------------------- strings

ShortString MakeShortString(const std::string& text) {
  ShortString s;
  std::size_t n = text.size() > 255 ? 255 : text.size();
  s.Length = static_cast<std::uint8_t>(n);
  std::memcpy(s.Chars, text.data(), n);
  return s;
}

std::string ShortStringText(const ShortString& s) { return std::string(s.Chars, s.Length); }

// ---------------------------------------------------------------- numbers

namespace {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsBlank(unsigned char c) { return c <= 0x20; }

}  // namespace

std::string IntToText(std::int32_t value) {
  // Unsigned magnitude, so that -2147483648 works.
  const std::uint32_t magnitude =
      value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  return value < 0 ? "-" + DecimalText(magnitude) : DecimalText(magnitude);
}

std::string DecimalText(std::uint64_t value, char group) {
  std::string text;
  for (int digits = 0; digits == 0 || value != 0; ++digits, value /= 10) {
    if (group != '\0' && digits > 0 && digits % 3 == 0) text.insert(text.begin(), group);
    text.insert(text.begin(), static_cast<char>('0' + value % 10));
  }
  return text;
}

std::string IntToHexText(std::uint32_t value) {
  static const char kHex[] = "0123456789ABCDEF";
  int digits = 1;
  while (digits < 8 && (value >> (4 * digits)) != 0) ++digits;
  std::string out(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i) {
    out[static_cast<std::size_t>(i)] = kHex[value & 0xF];
    value >>= 4;
  }
  return out;
}

bool TryTextToInt(const std::string& text, std::int32_t& value) {
  const std::size_t n = text.size();
  std::size_t i = 0;
  if (n == 0) return false;
  while (i < n && text[i] == ' ') ++i;
  bool negative = false;
  if (i < n && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < n && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= n) return false;
  std::uint32_t result = 0;
  if (hex) {
    int significant = 0;
    for (; i < n; ++i) {
      int d = HexDigitValue(text[i]);
      if (d < 0) return false;
      if (significant > 0 || d != 0) ++significant;
      if (significant > 8) return false;
      result = (result << 4) | static_cast<std::uint32_t>(d);
    }
  } else {
    const std::uint32_t limit = negative ? 2147483648u : 2147483647u;
    for (; i < n; ++i) {
      char c = text[i];
      if (c < '0' || c > '9') return false;
      std::uint32_t d = static_cast<std::uint32_t>(c - '0');
      if (result > (limit - d) / 10) return false;
      result = result * 10 + d;
    }
  }
  if (negative) result = 0u - result;
  value = static_cast<std::int32_t>(result);
  return true;
}

std::int32_t TextToIntDef(const std::string& text, std::int32_t fallback) {
  std::int32_t v;
  return TryTextToInt(text, v) ? v : fallback;
}

// ---------------------------------------------------------------- text

void AppendChar(std::string& text, char c) { text.push_back(c); }

int CharPos(char c, const std::string& text) {
  const void* hit = std::memchr(text.data(), static_cast<unsigned char>(c), text.size());
  return hit == nullptr ? 0 : static_cast<int>(static_cast<const char*>(hit) - text.data()) + 1;
}

int LastCharOfSet(const std::string& set, const std::string& text) {
  for (std::size_t i = text.size(); i > 0; --i) {
    char c = text[i - 1];
    // A zero byte ends the scan as well: the text may come from a C buffer.
    if (c == '\0' || set.find(c) != std::string::npos) return static_cast<int>(i);
  }
  return 0;
}

std::string FileNamePart(const std::string& path) {
  return path.substr(static_cast<std::size_t>(LastCharOfSet("\\:", path)));
}

std::string FolderPart(const std::string& path) {
  return path.substr(0, static_cast<std::size_t>(LastCharOfSet("\\:", path)));
}

std::string TrimBlanks(const std::string& text) {
  std::size_t first = 0, last = text.size();
  while (first < last && IsBlank(static_cast<unsigned char>(text[first]))) ++first;
  if (first == last) return std::string();
  while (last > first && IsBlank(static_cast<unsigned char>(text[last - 1]))) --last;
  return text.substr(first, last - first);
}

std::string UpperAscii(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

int CompareCStr(const char* a, const char* b) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
  for (;; ++p, ++q) {
    if (*p != *q) return static_cast<int>(*p) - static_cast<int>(*q);
    if (*q == 0) return 0;
  }
}

char* CopyCStrMax(char* dest, const char* src, std::size_t maxCount) {
  std::size_t i = 0;
  for (; i < maxCount && src[i] != '\0'; ++i) dest[i] = src[i];
  dest[i] = '\0';
  return dest;
}

int IndexOfName(const char* name, const char* const* table, int highIndex) {
  for (int i = highIndex; i >= 0; --i)
    if (CompareCStr(name, table[i]) == 0) return i;
  return -1;
}

TRect BoundsToRect(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) {
  TRect r;
  r.Left = left;
  r.Top = top;
  r.Right = left + width;
  r.Bottom = top + height;
  return r;
}

// ---------------------------------------------------------------- FormatText

std::string TFormatArg::Text() const {
  switch (kind_) {
    case Kind::Char: return std::string(1, char_);
    case Kind::ShortStr: return ShortStringText(*short_);
    case Kind::CStr: return cstr_ == nullptr ? std::string() : std::string(cstr_);
    case Kind::Str: return *str_;
    case Kind::Integer: break;
  }
  return std::string();
}

std::string FormatText(const std::string& format, const std::vector<TFormatArg>& args) {
  if (args.empty()) return format;
  const std::size_t length = format.size();
  const std::size_t count = args.size();
  std::string result;
  std::size_t pos = 0;
  std::size_t index = 0;
  while (pos < length) {
    std::size_t percent = format.find('%', pos);
    if (percent == std::string::npos) {
      result.append(format, pos, std::string::npos);
      break;
    }
    result.append(format, pos, percent - pos);
    pos = percent + 1;
    if (pos >= length) break;  // a lone '%' at the end is dropped
    char c = format[pos];
    if (c >= '0' && c <= '9' && pos + 1 < length && format[pos + 1] == ':') {
      index = static_cast<std::size_t>(c - '0');
      pos += 2;
      if (pos >= length) break;
      c = format[pos];
    }
    if (c == '%') {
      result.push_back('%');
    } else if (c == '.' && pos + 2 < length && index < count && format[pos + 1] >= '1' &&
               format[pos + 1] <= '9' && (format[pos + 2] == 'd' || format[pos + 2] == 'x') &&
               args[index].kind() == TFormatArg::Kind::Integer) {
      std::int32_t v = args[index].Int();
      std::string digits = format[pos + 2] == 'd' ? IntToText(v) : IntToHexText(static_cast<std::uint32_t>(v));
      std::size_t width = static_cast<std::size_t>(format[pos + 1] - '0');
      if (digits.size() < width) result.append(width - digits.size(), '0');
      result += digits;
      ++index;
      pos += 2;
    } else if (index < count) {
      const TFormatArg& a = args[index];
      bool isInt = a.kind() == TFormatArg::Kind::Integer;
      if (c == 'd' && isInt) {
        result += IntToText(a.Int());
      } else if (c == 'x' && isInt) {
        result += IntToHexText(static_cast<std::uint32_t>(a.Int()));
      } else if (c == 's' && !isInt) {
        result += a.Text();
      }
      ++index;
    }
    ++pos;
  }
  return result;
}

// ---------------------------------------------------------------- colours

namespace {

struct ColorEntry {
  const char* Name;
  std::int32_t Value;
};

constexpr std::int32_t kSys = static_cast<std::int32_t>(0x80000000u);

const ColorEntry kColors[42] = {
    {"clBlack", 0x000000},          {"clMaroon", 0x000080},
    {"clGreen", 0x008000},          {"clOlive", 0x008080},
    {"clNavy", 0x800000},           {"clPurple", 0x800080},
    {"clTeal", 0x808000},           {"clGray", 0x808080},
    {"clSilver", 0xC0C0C0},         {"clRed", 0x0000FF},
    {"clLime", 0x00FF00},           {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},           {"clFuchsia", 0xFF00FF},
    {"clAqua", 0xFFFF00},           {"clWhite", 0xFFFFFF},
    {"clScrollBar", kSys + 0},      {"clBackground", kSys + 1},
    {"clActiveCaption", kSys + 2},  {"clInactiveCaption", kSys + 3},
    {"clMenu", kSys + 4},           {"clWindow", kSys + 5},
    {"clWindowFrame", kSys + 6},    {"clMenuText", kSys + 7},
    {"clWindowText", kSys + 8},     {"clCaptionText", kSys + 9},
    {"clActiveBorder", kSys + 10},  {"clInactiveBorder", kSys + 11},
    {"clAppWorkSpace", kSys + 12},  {"clHighlight", kSys + 13},
    {"clHighlightText", kSys + 14}, {"clBtnFace", kSys + 15},
    {"clBtnShadow", kSys + 16},     {"clGrayText", kSys + 17},
    {"clBtnText", kSys + 18},       {"clInactiveCaptionText", kSys + 19},
    {"clBtnHighlight", kSys + 20},  {"cl3DDkShadow", kSys + 21},
    {"cl3DLight", kSys + 22},       {"clInfoText", kSys + 23},
    {"clInfoBk", kSys + 24},        {"clNone", 0x1FFFFFFF},
};

SysColorFunc gSysColor = &DefaultSysColor;

}  // namespace

std::int32_t ColorTableValue(const std::string& name) {
  // Position 0 is the fallback and is never compared.
  for (int i = 41; i >= 1; --i)
    if (CompareCStr(name.c_str(), kColors[i].Name) == 0) return kColors[i].Value;
  return kColors[0].Value;
}

std::int32_t ColorFromIdent(const std::string& name) {
  std::int32_t v = ColorTableValue(name);
  return v < 0 ? gSysColor(v & 0xFF) : v;
}

SysColorFunc SetSysColorFunc(SysColorFunc f) {
  SysColorFunc old = gSysColor;
  gSysColor = f != nullptr ? f : &DefaultSysColor;
  return old;
}

// ---------------------------------------------------------------- message boxes

namespace {

MessageBoxFunc gMessageBox = &DefaultMessageBox;

}  // namespace

MessageBoxFunc SetMessageBoxFunc(MessageBoxFunc f) {
  MessageBoxFunc old = gMessageBox;
  gMessageBox = f != nullptr ? f : &DefaultMessageBox;
  return old;
}

int ShowMessageBox(void* owner, const std::string& text, const char* caption, unsigned style) {
  const int answer = gMessageBox(owner, text.c_str(), caption, style);
  // The box's own message loop may have run a handler that failed.
  RaisePendingException();
  return answer;
}

void ErrorBox(const std::string& text, std::int32_t number) {
  ShowMessageBox(nullptr, number == -1 ? text : text + " " + IntToText(number), nullptr, kErrorBoxStyle);
}

void NoticeBox(const std::string& text) { ShowMessageBox(nullptr, text, nullptr, kNoticeBoxStyle); }

// ---------------------------------------------------------------- exceptions and hooks

// The boxes of the error reports themselves leave a pending error for later:
// they are shown while an exception is made or while the program stops.
Exception::Exception(const std::string& message) : Message(message) {
  gMessageBox(nullptr, Message.c_str(), nullptr, kNoticeBoxStyle);
}

Exception::Exception(const std::string& format, const std::vector<TFormatArg>& args)
    : Exception(FormatText(format, args)) {}

Exception::~Exception() = default;

namespace {

bool gHooksInstalled = false;
std::exception_ptr gPending;

ExitFunc gExit = &DefaultExit;

// Exit code for a runtime error outside the hooks' span; kind 0 must not
// end the process with the success code.
constexpr int kUnhookedIoExitCode = 1;
constexpr int kUnhookedAssertExitCode = 227;

}  // namespace

std::string RuntimeErrorText(int exitCode, std::uint32_t address) {
  std::string code = IntToText(exitCode);
  if (code.size() < 3) code.insert(0, 3 - code.size(), ' ');
  std::string hex = IntToHexText(address);
  hex.insert(0, 8 - hex.size(), '0');
  return "Runtime error " + code + " at " + hex;
}

ExitFunc SetExitFunc(ExitFunc f) {
  ExitFunc old = gExit;
  gExit = f != nullptr ? f : &DefaultExit;
  return old;
}

void Halt(int exitCode, std::uint32_t errorAddress) {
  if (errorAddress != 0) gMessageBox(nullptr, RuntimeErrorText(exitCode, errorAddress).c_str(), "Error", 0);
  gExit(exitCode);
  std::abort();  // an exit function must not return
}

void RunError(int kind, std::uint32_t address) {
  if (!gHooksInstalled) Halt(kind != 0 ? kind : kUnhookedIoExitCode, address);
  throw Exception("Error %d at %x", {kind, address});
}

void AssertionFailed(const char* message, const char* file, int line, std::uint32_t address) {
  if (!gHooksInstalled) Halt(kUnhookedAssertExitCode, address);
  throw EAssertionFailed("%s in %s (%d) at %x", {message, file, line, address});
}

void UncaughtException(std::exception_ptr error, std::uint32_t address) {
  if (gHooksInstalled && error) {
    try {
      std::rethrow_exception(error);
    } catch (const Exception& e) {
      if (e.Message.empty()) Halt(230, address);
      gMessageBox(nullptr, e.Message.c_str(), nullptr, kUncaughtBoxStyle);
    } catch (...) {
      // Not one of ours: only the final report.
    }
  }
  Halt(217, address);
}

void CheckInOut(bool succeeded) {
  if (!succeeded) RunError(0, CodeAddress(__builtin_return_address(0)));
}

void StashException() {
  if (!gPending) gPending = std::current_exception();
}

bool ExceptionPending() { return static_cast<bool>(gPending); }

void RaisePendingException() {
  if (!gPending) return;
  std::exception_ptr e = gPending;
  gPending = nullptr;
  std::rethrow_exception(e);
}

void StartSysUtils() { gHooksInstalled = true; }

void FinishSysUtils() {
  gHooksInstalled = false;
  gPending = nullptr;
}

}  // namespace formkit
