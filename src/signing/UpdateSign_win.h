// Signed update sets: hashing and signature checks through Windows' bcrypt.
#pragma once

#include <windows.h>

#include "UpdateSign.h"

// SHA-256 and ECDSA P-256 through Windows' bcrypt.dll, loaded from the system
// folder on first use, so a program that never verifies does not load it.
// Each returns false when bcrypt is missing or the operation fails.
bool Sha256OfBytes(const std::string& data, std::string& digest);
// Reads the file from its start through the given handle.
bool Sha256OfHandle(HANDLE file, std::string& digest);
bool Sha256OfFile(const std::string& path, std::string& digest);
// True only for a valid signature (raw r||s) of SHA-256(data) by the key
// (a BCRYPT_ECCPUBLIC_BLOB).
bool VerifyP256Sha256(const std::string& keyBlob, const std::string& data, const std::string& rawSignature);
// The whole file when it holds at most maxBytes; false otherwise.
bool ReadSmallFile(const std::string& path, std::size_t maxBytes, std::string& data);
// Writes data beside path and moves it into place; false when either fails.
bool WriteSmallFile(const std::string& path, const std::string& data);
