#include "Classes.h"

#include <cstdlib>
#include <cstring>

namespace formkit {

// ---------------------------------------------------------------- TList

TList::~TList() { std::free(Items); }

std::int32_t TList::Add(void* item) {
  if (Count == Capacity) {
    // Small lists grow in steps of 16, larger ones by a quarter.
    std::int32_t grown = Capacity <= 64 ? Capacity + 16 : Capacity + Capacity / 4;
    void** items = static_cast<void**>(std::realloc(Items, sizeof(void*) * static_cast<std::size_t>(grown)));
    if (items == nullptr) throw std::bad_alloc();
    Items = items;
    Capacity = grown;
  }
  Items[Count] = item;
  return Count++;
}

// ---------------------------------------------------------------- streams

std::int32_t TStream::Seek(std::int32_t offset, std::uint16_t origin) {
  switch (origin) {
    case 0: return offset;
    case 1: return offset + GetPosition();
    case 2: return offset + GetSize();
    default: return GetPosition();
  }
}

#if defined(_WIN32)

TFileStream::TFileStream(const std::string& fileName, std::uint16_t mode) : FileName(fileName) {
  Handle = mode == fmCreate ? FileHandleCreate(fileName) : FileHandleOpen(fileName, mode);
  if (Handle < 0) throw EStreamError(fileName);
}

TFileStream::~TFileStream() {
  if (Handle >= 0) FileHandleClose(Handle);
}

void TFileStream::SetPosition(std::int32_t position) {
  if (Handle > 0) FileHandleSeek(Handle, position, 0);
}

std::int32_t TFileStream::GetPosition() { return FileHandleSeek(Handle, 0, 1); }

std::int32_t TFileStream::GetSize() {
  if (Handle < 0) return 0;
  std::int32_t position = FileHandleSeek(Handle, 0, 1);
  std::int32_t size = FileHandleSeek(Handle, 0, 2);
  FileHandleSeek(Handle, position, 0);
  return size;
}

void TFileStream::SetSize(std::int32_t size) {
  Seek(size, 0);
  if (!SetEndOfFile(reinterpret_cast<HANDLE>(Handle))) throw EStreamError(std::string("SetSize"));
}

std::int32_t TFileStream::Read(void* buffer, std::int32_t count) {
  if (Handle < 0 || count <= 0) return 0;
  return FileHandleRead(Handle, buffer, count);
}

std::int32_t TFileStream::Write(const void* buffer, std::int32_t count) {
  if (Handle < 0 || count <= 0) return 0;
  return FileHandleWrite(Handle, buffer, count);
}

std::int32_t TFileStream::Seek(std::int32_t offset, std::uint16_t origin) {
  if (Handle < 0) return 0;
  return FileHandleSeek(Handle, offset, origin);
}

std::int32_t TFileStream::CopyFrom(TStream&, std::int32_t) {
  FK_ASSERT(false, "TFileStream.CopyFrom");
  return 0;
}

void TFileStream::ReadComponentData() { FK_ASSERT(false, "TFileStream.ReadComponentData"); }

#endif

}  // namespace formkit
