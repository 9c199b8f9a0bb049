#include "UpdateDiscovery_win.h"

#include <shlobj.h>

#include "ScopedWin.h"
#include "SysUtils.h"
#include "RunRules.h"

using formkit::FolderExists;
using formkit::PathExists;

namespace {
const char kInternetSettingsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
}  // namespace

bool IsInstallFolder(std::string& path) {
  if (path.size() < 2) return false;
  if (path.back() != '\\') path += '\\';
  if (!FolderExists(path)) return false;
  return PathExists(path + kMarkerFile);
}

bool HasLocaleInfoEx() { return formkit::dyn::GetLocaleInfoEx() != nullptr; }

std::string SpecialFolderPath(int csidl) {
  formkit::TScopedCoTaskMem items;  // the shell allocator is the COM task allocator
  if (SHGetSpecialFolderLocation(nullptr, csidl, reinterpret_cast<LPITEMIDLIST*>(items.Out())) != S_OK ||
      !items)
    return std::string();
  char buffer[MAX_PATH + 1] = {};
  if (!SHGetPathFromIDListA(static_cast<LPCITEMIDLIST>(items.Get()), buffer)) return std::string();
  std::string result = buffer;
  // Some shells end the path with a backslash; callers add their own.
  while (!result.empty() && result.back() == '\\') result.pop_back();
  return result;
}

std::string CurrentUserName() {
  char buffer[257] = {};
  DWORD size = 256;
  if (!GetUserNameA(buffer, &size)) return "varnowin";
  return std::string(buffer);
}

std::string ReadRegistryString(HKEY root, const std::string& keyPath, const std::string& valueName) {
  formkit::TScopedKey key;
  if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_QUERY_VALUE, key.Out()) != ERROR_SUCCESS) return std::string();
  char buffer[251] = {};
  DWORD type = REG_SZ;
  DWORD size = 250;
  if (RegQueryValueExA(key.Get(), valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
      ERROR_SUCCESS)
    return std::string();
  buffer[250] = '\0';
  return std::string(buffer);
}

bool FolderTakesFiles(const std::string& folder, std::int32_t& attributes) {
  const DWORD found = GetFileAttributesA(folder.c_str());
  attributes = static_cast<std::int32_t>(found);
  return found != INVALID_FILE_ATTRIBUTES && (found & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (found & FILE_ATTRIBUTE_READONLY) == 0;
}

const std::string& TDocumentsFolder::Get() {
  if (!asked_ && HasLocaleInfoEx()) path_ = SpecialFolderPath(CSIDL_PERSONAL) + "\\Varno3\\";
  asked_ = true;
  return path_;
}

bool FindInstallFolder(const std::string& programFile, TDocumentsFolder& documents, std::string& folder) {
  const auto found = [&folder](const std::string& candidate) {
    std::string path = candidate;
    if (!IsInstallFolder(path)) return false;
    folder = path;
    return true;
  };
  folder = formkit::FolderPart(programFile);
  if (found(folder)) return true;
  std::string own = folder;
  if (!own.empty()) own.pop_back();
  folder = formkit::FolderPart(own);
  if (found(folder) || (!documents.Get().empty() && found(documents.Get()))) return true;
  for (char letter = 'C'; letter <= 'Z'; ++letter) {
    const char root[] = {letter, ':', '\\', '\0'};
    if (GetDriveTypeA(root) != DRIVE_FIXED) continue;
    for (int which = 0; which < 3; ++which)
      if (found(DriveCandidate(letter, which))) return true;
  }
  return false;
}

std::string SystemProxySetting() { return ReadRegistryString(HKEY_CURRENT_USER, kInternetSettingsKey, "ProxyServer"); }

std::string UserSettingsPath(const std::string& installDir) { return installDir + CurrentUserName() + ".ini"; }

bool Elevated() {
  formkit::TScopedHandle token;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Out()) &&
         GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size) &&
         elevation.TokenIsElevated != 0;
}
