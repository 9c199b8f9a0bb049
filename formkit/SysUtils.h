// Support library: text and number helpers, message boxes, the exception
// family with its error hooks, and the colour table; free of Win32, so it also
// builds natively. On Windows it brings the file and folder helpers of
// SysUtils_win.h along.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <vector>

#if defined(_WIN32)
#include "SysUtils_win.h"
#endif

namespace formkit {

// ---------------------------------------------------------------- strings

// One length byte and up to 255 characters; the layout handed across the
// installer-library boundary and stored in form streams.
struct ShortString {
  std::uint8_t Length = 0;
  char Chars[255] = {};
};
ShortString MakeShortString(const std::string& text);  // cuts to 255
std::string ShortStringText(const ShortString& s);

// ---------------------------------------------------------------- text and numbers

std::string IntToText(std::int32_t value);
std::string IntToHexText(std::uint32_t value);
// A byte count or a serial in decimal; a non-zero group puts that character
// between groups of three digits.
std::string DecimalText(std::uint64_t value, char group = '\0');
bool TryTextToInt(const std::string& text, std::int32_t& value);
std::int32_t TextToIntDef(const std::string& text, std::int32_t fallback);
void AppendChar(std::string& text, char c);
// 1-based positions; 0 means not found.
int CharPos(char c, const std::string& text);
int LastCharOfSet(const std::string& set, const std::string& text);
std::string FileNamePart(const std::string& path);
std::string FolderPart(const std::string& path);
std::string TrimBlanks(const std::string& text);
std::string UpperAscii(const std::string& text);
int CompareCStr(const char* a, const char* b);
char* CopyCStrMax(char* dest, const char* src, std::size_t maxCount);
// Exact, case-sensitive, scanning from highIndex down to 0; -1 when absent.
int IndexOfName(const char* name, const char* const* table, int highIndex);
template <std::size_t N>
int IndexOfName(const std::string& name, const char* const (&table)[N]) {
  return IndexOfName(name.c_str(), table, static_cast<int>(N) - 1);
}

struct TRect {
  std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};
TRect BoundsToRect(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height);

// A typed argument of FormatText.
class TFormatArg {
 public:
  enum class Kind { Integer, Char, ShortStr, CStr, Str };
  TFormatArg(std::int32_t v) : kind_(Kind::Integer), int_(v) {}
  TFormatArg(std::uint32_t v) : kind_(Kind::Integer), int_(static_cast<std::int32_t>(v)) {}
  TFormatArg(char c) : kind_(Kind::Char), char_(c) {}
  TFormatArg(const ShortString& s) : kind_(Kind::ShortStr), short_(&s) {}
  TFormatArg(const char* s) : kind_(Kind::CStr), cstr_(s) {}
  TFormatArg(const std::string& s) : kind_(Kind::Str), str_(&s) {}
  Kind kind() const { return kind_; }
  std::int32_t Int() const { return int_; }
  std::string Text() const;  // for the text kinds

 private:
  Kind kind_;
  std::int32_t int_ = 0;
  char char_ = 0;
  const ShortString* short_ = nullptr;
  const char* cstr_ = nullptr;
  const std::string* str_ = nullptr;
};
std::string FormatText(const std::string& format, const std::vector<TFormatArg>& args);

// ---------------------------------------------------------------- colours

// The raw table value: plain colours as 0x00BBGGRR, system colours as
// 0x80000000 + index; a name not in the table gives 0 (clBlack).
std::int32_t ColorTableValue(const std::string& name);
// The value a form stream stores: system colours resolved to their current RGB.
std::int32_t ColorFromIdent(const std::string& name);
// System colour lookup; GetSysColor on Windows. Replaceable for tests.
using SysColorFunc = std::int32_t (*)(int index);
SysColorFunc SetSysColorFunc(SysColorFunc f);

// ---------------------------------------------------------------- message boxes

constexpr unsigned kErrorBoxStyle = 0x22010;   // MB_OK|MB_ICONERROR|MB_TASKMODAL|MB_DEFAULT_DESKTOP_ONLY
constexpr unsigned kNoticeBoxStyle = 0;        // MB_OK
constexpr unsigned kUncaughtBoxStyle = 0x2010; // MB_OK|MB_ICONERROR|MB_TASKMODAL

// Every message box of the program goes through this gateway, so tests can
// see and answer boxes without a desktop. The default shows a real box
// (MessageBoxA); natively it prints to stderr and answers IDOK. An error
// that a handler stashed while the box was up is raised when it returns.
using MessageBoxFunc = int (*)(void* owner, const char* text, const char* caption, unsigned style);
MessageBoxFunc SetMessageBoxFunc(MessageBoxFunc f);  // returns the previous one
int ShowMessageBox(void* owner, const std::string& text, const char* caption, unsigned style);

void ErrorBox(const std::string& text, std::int32_t number);  // -1: the text alone
void NoticeBox(const std::string& text);

// ---------------------------------------------------------------- exceptions

// Toolkit errors show their message the moment they are created.
class Exception : public std::exception {
 public:
  explicit Exception(const std::string& message);
  Exception(const std::string& format, const std::vector<TFormatArg>& args);
  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;
  ~Exception() override;
  const char* what() const noexcept override { return Message.c_str(); }
  std::string Message;
};
class EAssertionFailed : public Exception { using Exception::Exception; };
class EStreamError : public Exception { using Exception::Exception; };
class EClassesError : public Exception { using Exception::Exception; };

// The address shown in error texts: on Windows the offset of the code in its
// module image, natively the low 32 bits of the address.
std::uint32_t CodeAddress(const void* address);
#define FK_CODE_ADDRESS() (::formkit::CodeAddress(__builtin_return_address(0)))

// "Runtime error NNN at XXXXXXXX", the text of the final stop report.
std::string RuntimeErrorText(int exitCode, std::uint32_t address);

// Error hooks, active between StartSysUtils and FinishSysUtils; outside that
// span the errors stop the program with the final report.
[[noreturn]] void RunError(int kind, std::uint32_t address);
[[noreturn]] void AssertionFailed(const char* message, const char* file, int line, std::uint32_t address);
// For an exception that left every handler: shows it, then stops the program
// with 217 (or 230 for an Exception without message) and the final report.
[[noreturn]] void UncaughtException(std::exception_ptr error, std::uint32_t address);
// Stops the process; with a non-zero address the final report is shown first.
[[noreturn]] void Halt(int exitCode, std::uint32_t errorAddress);
// Replaceable process exit, so tests can watch a halt. Must not return.
using ExitFunc = void (*)(int exitCode);
ExitFunc SetExitFunc(ExitFunc f);

// A failed file-system operation of the update run (folder creation, change of
// the current folder) is the runtime's input/output error of kind 0.
void CheckInOut(bool succeeded);

#define FK_ASSERT(cond, message)                                                     \
  do {                                                                               \
    if (!(cond)) ::formkit::AssertionFailed((message), __FILE__, __LINE__,           \
                                            ::formkit::CodeAddress(__builtin_return_address(0))); \
  } while (0)

// Exceptions never cross Win32 frames. A callback entered from Windows (a
// window procedure) catches whatever escapes it with StashException; the
// toolkit re-raises it with RaisePendingException once the Win32 call that
// dispatched the message has returned, so the caller sees it as if it had
// passed through. While one is pending, later ones are dropped (the first
// error is the one the user must see).
void StashException();
bool ExceptionPending();
void RaisePendingException();

// The platform's defaults of the replaceable functions above, defined in
// SysUtils_win.cpp or SysUtils_native.cpp.
std::int32_t DefaultSysColor(int index);
int DefaultMessageBox(void* owner, const char* text, const char* caption, unsigned style);
[[noreturn]] void DefaultExit(int exitCode);

// Module start and finish: installs and removes the error hooks.
void StartSysUtils();
void FinishSysUtils();

}  // namespace formkit
