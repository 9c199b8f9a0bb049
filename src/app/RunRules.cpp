#include "RunRules.h"

#include "SysUtils.h"
#include "WinInetEasy.h"

const char* SetFileName(TSetFile file) {
  switch (file) {
    case TSetFile::Description:
      return "update.ini";
    case TSetFile::Library:
      return "update2.dll";
    case TSetFile::Info:
      break;
  }
  return "UPDATE.NFO";
}

std::string SetFileUrl(TSetFile file, const std::string& baseUrl, const std::string& downloadAddress) {
  return (file == TSetFile::Info ? downloadAddress : baseUrl) + SetFileName(file);
}

std::string AdressesKey(const std::string& clientCode) {
  return clientCode.size() >= 4 ? std::string(1, clientCode[3]) : std::string("A");
}

std::string ChooseDownloadAddress(const std::string& clientValue, const std::string& fallbackValue,
                                  const std::string& baseUrl) {
  std::string address = clientValue.empty() ? fallbackValue : clientValue;
  if (address.empty()) return baseUrl;
  if (address.back() != '/') address += '/';
  return address;
}

std::string AskedFileOnly(const std::string& got, const std::string& url, const std::string& downloadDir,
                          const std::string& name) {
  const std::string trimmed = formkit::TrimBlanks(url);
  const std::string asked = IsHttpUrl(trimmed) || IsHttpsUrl(trimmed) ? downloadDir + name : trimmed;
  return got == asked ? got : std::string();
}

std::string ConnectFailureText(std::string& connectErrorText, const std::string& detail) {
  if (!connectErrorText.empty()) connectErrorText.back() = ':';
  return connectErrorText + "\r\r " + detail;
}

std::string ProgressText(const std::string& name, std::uint64_t received, std::int64_t total) {
  using formkit::DecimalText;  // digits grouped by blanks, the same in every language
  std::string text = name + ": " + DecimalText(received, ' ');
  if (total < 0) return text;
  const auto whole = static_cast<std::uint64_t>(total);
  // Rounded down: 100% only once the whole file is there.
  const std::uint64_t percent = received >= whole           ? 100
                                : whole <= UINT64_MAX / 100 ? received * 100 / whole
                                                            : received / (whole / 100);
  return text + " / " + DecimalText(whole, ' ') + " (" + DecimalText(percent, ' ') + "%)";
}

std::string DriveCandidate(char letter, int which) {
  static const char* const kFolders[] = {":\\PROGRAM FILES\\VARNO3\\", ":\\VARNO3\\", ":\\VARNOWIN3\\"};
  if (which < 0 || which > 2) return std::string();
  return std::string(1, letter) + kFolders[which];
}
