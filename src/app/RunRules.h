// The update run's portable rules: where its files come from, which
// download address it takes, and the texts it shows. Free of Win32, so they
// build natively for the sanitizer tests.
#pragma once

#include <cstdint>
#include <string>

// The three files of an update set, as the run asks for them and stores them.
enum class TSetFile : std::uint8_t { Description, Library, Info };
// "update.ini", "update2.dll", "UPDATE.NFO".
const char* SetFileName(TSetFile file);
// The one place a file's address is made: the description and the library
// under the base address, UPDATE.NFO under the download address that the
// description chose (ChooseDownloadAddress).
std::string SetFileUrl(TSetFile file, const std::string& baseUrl, const std::string& downloadAddress);

// Key of the Adresses section: the fourth character of the client code, "A"
// for a shorter code.
std::string AdressesKey(const std::string& clientCode);
// The address UPDATE.NFO comes from: the client's value, else "A"'s, else the
// base URL; always ends in '/'.
std::string ChooseDownloadAddress(const std::string& clientValue, const std::string& fallbackValue,
                                  const std::string& baseUrl);
// The name a download returned when it is the file the run asked for (name
// in downloadDir, or the local path itself), else empty: the run never takes
// a file of another name for the one it wanted.
std::string AskedFileOnly(const std::string& got, const std::string& url, const std::string& downloadDir,
                          const std::string& name);
// The final connection message: the last character of the text becomes ':'
// (the text is changed in place), then "\r\r " and the detail.
std::string ConnectFailureText(std::string& connectErrorText, const std::string& detail);
// The progress line of a download: the name, the bytes received and, when the
// total is known (not -1), the total and the percentage, in digits only.
std::string ProgressText(const std::string& name, std::uint64_t received, std::int64_t total);
// The marker of an installation folder.
constexpr const char* kMarkerFile = "varnowin.ini";
// The candidates of the drive scan for one drive letter, in order.
std::string DriveCandidate(char letter, int which);  // which: 0..2
