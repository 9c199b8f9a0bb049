// Where the installation is and what its user set: the install-folder
// search, the registry and the settings files.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// True when path (given a trailing '\\') is a folder with the marker file.
bool IsInstallFolder(std::string& path);
bool HasLocaleInfoEx();
std::string SpecialFolderPath(int csidl);
std::string CurrentUserName();
std::string ReadRegistryString(HKEY root, const std::string& keyPath, const std::string& valueName);

// The user's token is elevated. A standard user's token, and an
// administrator's that UAC filters, are not: rights they lack could still
// be had.
bool Elevated();

// False when the folder cannot take files; attributes as found (-1: none).
bool FolderTakesFiles(const std::string& folder, std::int32_t& attributes);

// Documents\Varno3\, asked only when needed: the shell's DLLs take a while to
// load, and a program in its install folder never needs them before the
// dialog shows. Empty on a Windows without GetLocaleInfoEx.
class TDocumentsFolder {
 public:
  const std::string& Get();

 private:
  std::string path_;
  bool asked_ = false;
};

// The installation: the program's folder, its parent, the documents folder,
// then a scan of the fixed drives. True with the folder found in folder.
bool FindInstallFolder(const std::string& programFile, TDocumentsFolder& documents, std::string& folder);

// The proxy of the current user's Internet settings, as host:port.
std::string SystemProxySetting();

// The installation's settings file of the current user.
std::string UserSettingsPath(const std::string& installDir);
