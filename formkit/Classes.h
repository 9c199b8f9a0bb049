// Toolkit module Classes: the pointer list, the stream classes and (below)
// the component model with the form-stream reader.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

#include <initializer_list>
#include <iterator>

#include "SysUtils.h"

namespace formkit {

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;
};

// Growable array of untyped pointers; never frees what it points to.
class TList : public TObject {
 public:
  ~TList() override;
  std::int32_t Add(void* item);
  void* Get(std::int32_t index) const { return Items[index]; }

  void** Items = nullptr;
  std::int32_t Count = 0;
  std::int32_t Capacity = 0;
};

// ---------------------------------------------------------------- component model

class TComponent;
class TReader;

// An event: a code address and the object it is called on; calling it passes
// the sending control.
using TNotifyCode = void (*)(TObject* self, TObject* sender);
struct TNotifyEvent {
  TNotifyCode Code = nullptr;
  TObject* Data = nullptr;
  bool IsSet() const { return Code != nullptr; }
  void operator()(TObject* sender) const { Code(Data, sender); }
};

// The small explicit tables that stand in for published fields and methods.
struct TPublishedField {
  const char* Name;
  void (*Store)(TComponent* owner, TComponent* child);
};
struct TPublishedMethod {
  const char* Name;
  TNotifyCode Code;
};
struct TClassInfo {
  const char* ClassName;
  const TClassInfo* Parent;
  TComponent* (*NewInstance)();  // nullptr for abstract classes
  const TPublishedField* Fields;
  int FieldCount;
  const TPublishedMethod* Methods;
  int MethodCount;

  bool InheritsFrom(const TClassInfo* other) const;
  // Own table first, then the ancestors'; ASCII letters compared without case.
  const TPublishedField* FindField(const std::string& name) const;
  const TPublishedMethod* FindMethod(const std::string& name) const;
};

class TPersistent : public TObject {
 public:
  // The object holding the properties "<name>.xxx"; nil here.
  virtual TPersistent* FindSubObject(const std::string& name);
  // Resolves dotted names through FindSubObject; skips the value of a name
  // nobody recognised.
  virtual void ReadNamedProperty(const std::string& name, TReader& reader);
};

class TComponent : public TPersistent {
 public:
  static const TClassInfo ClassInfo;
  virtual const TClassInfo* ClassType() const { return &ClassInfo; }
  bool InheritsFrom(const TClassInfo& cls) const { return ClassType()->InheritsFrom(&cls); }

  virtual void AttachToParent(TComponent* container);
  virtual TComponent* GetContainer();
  // The virtual constructor, run right after the instance was allocated.
  virtual void Create(TComponent* owner);
  virtual void AfterLoad();

  TComponent* Owner = nullptr;
  std::string Name;
};

template <class C>
TComponent* NewComponent() {
  if constexpr (std::is_abstract_v<C>) {
    return nullptr;
  } else {
    return new C();
  }
}
template <class Owner, class T, T* Owner::*Member>
void StorePublishedField(TComponent* owner, TComponent* child) {
  if (child->InheritsFrom(T::ClassInfo)) static_cast<Owner*>(owner)->*Member = static_cast<T*>(child);
}
template <class C, void (C::*Method)(TObject*)>
void CallPublishedMethod(TObject* self, TObject* sender) {
  (static_cast<C*>(self)->*Method)(sender);
}

// Inside a component class: its class information.
#define FK_CLASS()                                             \
 public:                                                       \
  static const ::formkit::TClassInfo ClassInfo;                \
  const ::formkit::TClassInfo* ClassType() const override { return &ClassInfo; }

// In the .cpp: a class without published members, or with tables made of
// FK_FIELD / FK_METHOD entries.
#define FK_IMPLEMENT_CLASS(Cls, ParentCls) \
  const ::formkit::TClassInfo Cls::ClassInfo = {#Cls, &ParentCls::ClassInfo, &::formkit::NewComponent<Cls>, nullptr, 0, nullptr, 0}
#define FK_IMPLEMENT_PUBLISHED_CLASS(Cls, ParentCls, FieldTable, MethodTable)                           \
  const ::formkit::TClassInfo Cls::ClassInfo = {#Cls, &ParentCls::ClassInfo, &::formkit::NewComponent<Cls>, \
                                                FieldTable, static_cast<int>(std::size(FieldTable)),       \
                                                MethodTable, static_cast<int>(std::size(MethodTable))}
#define FK_FIELD(Cls, Field) \
  { #Field, &::formkit::StorePublishedField<Cls, std::remove_pointer_t<decltype(Cls::Field)>, &Cls::Field> }
#define FK_METHOD(Cls, Method) \
  { #Method, &::formkit::CallPublishedMethod<Cls, &Cls::Method> }

// Class registry: later registrations are found first.
void RegisterComponentClasses(std::initializer_list<const TClassInfo*> classes);
void UnregisterAllComponentClasses();
// Raises EClassesError with the class name when no class of that name is registered.
TComponent* CreateRegisteredComponent(const std::string& className, TComponent* owner);

// Reads a form stream ("TPF0") from an RCDATA resource or a memory block. It
// never reads past the end of the data: a damaged stream raises EClassesError.
class TReader : public TObject {
 public:
  explicit TReader(const std::string& resourceName);
  TReader(const void* data, std::int32_t size);
  ~TReader() override;
  // Calls AfterLoad on every component created so far, also after a reading
  // error. A failing AfterLoad becomes the pending exception (the first one
  // wins) and the others still run.
  void FinishLoad();

  std::int32_t Read(void* buffer, std::int32_t count);
  std::uint8_t ReadByte();
  std::uint16_t ReadWord();
  std::int32_t ReadInt32();
  std::string ReadShortString();
  bool EndOfList();
  // Returns the prefix flags (0 without prefix); childPosition is set when flag 2 is.
  std::uint8_t ReadPrefix(std::int32_t& childPosition);

  std::int32_t ReadInteger();
  bool ReadBoolean();
  std::string ReadString();
  std::int32_t ReadColor();
  std::unique_ptr<std::uint8_t[]> ReadBinary(std::int32_t& length);
  int ReadEnum(const char* const* names, int highIndex);
  std::uint32_t ReadSet(const char* const* names, int highIndex);
  template <std::size_t N>
  int ReadEnum(const char* const (&names)[N]) { return ReadEnum(names, static_cast<int>(N) - 1); }
  template <std::size_t N>
  std::uint32_t ReadSet(const char* const (&names)[N]) { return ReadSet(names, static_cast<int>(N) - 1); }
  // Skips the value of an unrecognised property, or raises "Unknown value type".
  void SkipValue();

  // The bytes of a UTF-8 value in the ANSI code page ('?' where it has no character).
  static std::string Utf8ToAnsi(const char* text, std::int32_t length);

  void* ResourceHandle = nullptr;
  const std::uint8_t* Start = nullptr;
  const std::uint8_t* Current = nullptr;
  std::int32_t Size = 0;
  std::int32_t Offset = 0;
  TList* Created = nullptr;
  std::int32_t Depth = 0;  // nesting of the child list being read

 private:
  // Raises "Form stream damaged" unless count more bytes are there.
  void Require(std::int64_t count) const;
  void Skip(std::int32_t count);
};

constexpr std::int32_t kFormSignature = 0x30465054;  // "TPF0"

void ReadComponentBody(TComponent* obj, TReader& reader);
// Binds an event by name through the component and its owners; a name found
// nowhere shows "<component name> 9999" and gives an empty event.
TNotifyEvent LookupEventHandler(TComponent* component, const std::string& methodName);

// ---------------------------------------------------------------- streams

class TStream : public TObject {
 public:
  virtual void SetPosition(std::int32_t position) = 0;
  virtual std::int32_t GetPosition() = 0;
  virtual std::int32_t GetSize() = 0;
  virtual void SetSize(std::int32_t size) = 0;
  virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
  virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;
  // Only computes the target: 0 from the start, 1 from the position, 2 from the end.
  virtual std::int32_t Seek(std::int32_t offset, std::uint16_t origin);
  // Copying between streams and reading a whole component have no caller in
  // this program; file streams reject them.
  virtual std::int32_t CopyFrom(TStream& source, std::int32_t count) = 0;
  virtual void ReadComponentData() = 0;
};

constexpr std::uint16_t fmCreate = 0xFFFF;

#if defined(_WIN32)
// Windows only (Classes_win.cpp).
class TFileStream : public TStream {
 public:
  // fmCreate creates or truncates; any other mode opens an existing file.
  // Raises EStreamError with the file name when that fails.
  TFileStream(const std::string& fileName, std::uint16_t mode);
  ~TFileStream() override;
  void SetPosition(std::int32_t position) override;
  std::int32_t GetPosition() override;
  std::int32_t GetSize() override;
  void SetSize(std::int32_t size) override;
  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int32_t Seek(std::int32_t offset, std::uint16_t origin) override;
  std::int32_t CopyFrom(TStream& source, std::int32_t count) override;
  void ReadComponentData() override;

  THandle Handle;
  std::string FileName;
};
#endif

}  // namespace formkit
