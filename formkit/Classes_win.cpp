// Win32 part of the component library: file streams, form resources and
// the ANSI code page.
#include <windows.h>

#include "Classes.h"

namespace formkit {

TFileStream::TFileStream(const std::string& fileName, std::uint16_t mode)
    : Handle(mode == fmCreate ? FileHandleCreate(fileName) : FileHandleOpen(fileName, mode)), FileName(fileName) {
  if (!Handle) throw EStreamError(fileName);
}

TFileStream::~TFileStream() = default;  // Handle closes the file

void TFileStream::SetPosition(std::int32_t position) {
  if (Handle) FileHandleSeek(Handle.Get(), position, 0);
}

std::int32_t TFileStream::GetPosition() { return FileHandleSeek(Handle.Get(), 0, 1); }

std::int32_t TFileStream::GetSize() {
  if (!Handle) return 0;
  std::int32_t position = FileHandleSeek(Handle.Get(), 0, 1);
  std::int32_t size = FileHandleSeek(Handle.Get(), 0, 2);
  FileHandleSeek(Handle.Get(), position, 0);
  return size;
}

void TFileStream::SetSize(std::int32_t size) {
  Seek(size, 0);
  if (!SetEndOfFile(Handle.Get())) throw EStreamError(std::string("SetSize"));
}

std::int32_t TFileStream::Read(void* buffer, std::int32_t count) {
  if (!Handle || count <= 0) return 0;
  return FileHandleRead(Handle.Get(), buffer, count);
}

std::int32_t TFileStream::Write(const void* buffer, std::int32_t count) {
  if (!Handle || count <= 0) return 0;
  return FileHandleWrite(Handle.Get(), buffer, count);
}

std::int32_t TFileStream::Seek(std::int32_t offset, std::uint16_t origin) {
  if (!Handle) return 0;
  return FileHandleSeek(Handle.Get(), offset, origin);
}

std::int32_t TFileStream::CopyFrom(TStream&, std::int32_t) {
  FK_ASSERT(false, "TFileStream.CopyFrom");
  return 0;
}

void TFileStream::ReadComponentData() { FK_ASSERT(false, "TFileStream.ReadComponentData"); }

// The form resource.

TReader::TReader(const std::string& resourceName) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC info = FindResourceA(module, resourceName.c_str(), MAKEINTRESOURCEA(10));
  HGLOBAL handle = info != nullptr ? LoadResource(module, info) : nullptr;
  const void* data = handle != nullptr ? LockResource(handle) : nullptr;
  if (data == nullptr) throw EClassesError("Form resource " + resourceName + " not found");
  // The data belongs to the mapped module: nothing to free (FreeResource is a
  // no-op on 32-bit and 64-bit Windows).
  ResourceHandle = handle;
  Start = Current = static_cast<const std::uint8_t*>(data);
  Size = static_cast<std::int32_t>(SizeofResource(module, info));
  Created = new TList();
}

std::string TReader::Utf8ToAnsi(const char* text, std::int32_t length) {
  if (length <= 0) return std::string();
  int wideLength = MultiByteToWideChar(CP_UTF8, 0, text, length, nullptr, 0);
  if (wideLength <= 0) return std::string();
  std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, length, &wide[0], wideLength);
  // A character outside the basic plane is one '?', not one per surrogate.
  std::wstring::size_type kept = 0;
  for (std::wstring::size_type i = 0; i < wide.size(); ++i) {
    if (wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      wide[kept++] = L'?';
      ++i;
    } else {
      wide[kept++] = wide[i];
    }
  }
  wide.resize(kept);
  wideLength = static_cast<int>(kept);
  int ansiLength = WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, "?", nullptr);
  if (ansiLength <= 0) return std::string();
  std::string ansi(static_cast<std::size_t>(ansiLength), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, &ansi[0], ansiLength, "?", nullptr);
  return ansi;
}

}  // namespace formkit
