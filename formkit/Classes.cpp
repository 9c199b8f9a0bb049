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

// ---------------------------------------------------------------- class information

namespace {

constexpr std::size_t kMaxNameLength = 255;
constexpr std::size_t kMaxDottedRest = 200;
// Deeper nesting than any real form; stops a crafted stream from exhausting the stack.
constexpr std::int32_t kMaxNestingDepth = 64;

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameTextAscii(const char* a, const std::string& b) {
  std::size_t i = 0;
  for (; a[i] != '\0'; ++i) {
    if (i >= b.size() || LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return i == b.size();
}

std::string CutName(const std::string& name) {
  return name.size() > kMaxNameLength ? name.substr(0, kMaxNameLength) : name;
}

[[noreturn]] void StreamDamaged() { throw EClassesError(std::string("Form stream damaged")); }

}  // namespace

bool TClassInfo::InheritsFrom(const TClassInfo* other) const {
  for (const TClassInfo* c = this; c != nullptr; c = c->Parent) {
    if (c == other) return true;
  }
  return false;
}

const TPublishedField* TClassInfo::FindField(const std::string& name) const {
  std::string key = CutName(name);
  for (const TClassInfo* c = this; c != nullptr; c = c->Parent) {
    for (int i = 0; i < c->FieldCount; ++i) {
      if (SameTextAscii(c->Fields[i].Name, key)) return &c->Fields[i];
    }
  }
  return nullptr;
}

const TPublishedMethod* TClassInfo::FindMethod(const std::string& name) const {
  std::string key = CutName(name);
  for (const TClassInfo* c = this; c != nullptr; c = c->Parent) {
    for (int i = 0; i < c->MethodCount; ++i) {
      if (SameTextAscii(c->Methods[i].Name, key)) return &c->Methods[i];
    }
  }
  return nullptr;
}

// ---------------------------------------------------------------- TPersistent, TComponent

TPersistent* TPersistent::FindSubObject(const std::string&) { return nullptr; }

void TPersistent::ReadNamedProperty(const std::string& name, TReader& reader) {
  std::string::size_type dot = name.find('.');
  if (dot == std::string::npos) {
    reader.SkipValue();
    return;
  }
  std::string head = name.substr(0, dot);
  std::string rest = name.substr(dot + 1, kMaxDottedRest);
  TPersistent* sub = FindSubObject(head);
  // A dotted name the component has no sub-object for is a fault in the form.
  if (sub == nullptr) throw EClassesError("Unknown property " + name);
  sub->ReadNamedProperty(rest, reader);
}

const TClassInfo TComponent::ClassInfo = {"TComponent", nullptr, &NewComponent<TComponent>, nullptr, 0, nullptr, 0};

void TComponent::AttachToParent(TComponent*) {}
TComponent* TComponent::GetContainer() { return Owner; }
void TComponent::Create(TComponent* owner) { Owner = owner; }
void TComponent::AfterLoad() {}

// ---------------------------------------------------------------- class registry

namespace {

struct RegistryNode {
  const TClassInfo* Class;
  RegistryNode* Next;
};
RegistryNode* gRegistryHead = nullptr;

}  // namespace

void RegisterComponentClasses(std::initializer_list<const TClassInfo*> classes) {
  for (const TClassInfo* c : classes) gRegistryHead = new RegistryNode{c, gRegistryHead};
}

void UnregisterAllComponentClasses() {
  while (gRegistryHead != nullptr) {
    RegistryNode* next = gRegistryHead->Next;
    delete gRegistryHead;
    gRegistryHead = next;
  }
}

TComponent* CreateRegisteredComponent(const std::string& className, TComponent* owner) {
  const TClassInfo* found = nullptr;
  for (RegistryNode* n = gRegistryHead; n != nullptr; n = n->Next) {
    if (className == n->Class->ClassName) {
      found = n->Class;
      break;
    }
  }
  if (found == nullptr || found->NewInstance == nullptr) throw EClassesError(className);
  TComponent* instance = found->NewInstance();
  instance->Create(owner);
  return instance;
}

// ---------------------------------------------------------------- TReader

TReader::TReader(const void* data, std::int32_t size)
    : Start(static_cast<const std::uint8_t*>(data)),
      Current(static_cast<const std::uint8_t*>(data)),
      Size(data != nullptr && size > 0 ? size : 0),
      Created(new TList()) {}

TReader::~TReader() { delete Created; }

void TReader::FinishLoad() {
  for (std::int32_t i = 0; i < Created->Count; ++i) {
    try {
      static_cast<TComponent*>(Created->Get(i))->AfterLoad();
    } catch (...) {
      StashException();
    }
  }
  Created->Count = 0;
}

void TReader::Require(std::int64_t count) const {
  if (count < 0 || count > static_cast<std::int64_t>(Size) - Offset) StreamDamaged();
}

void TReader::Skip(std::int32_t count) {
  Require(count);
  Current += count;
  Offset += count;
}

std::int32_t TReader::Read(void* buffer, std::int32_t count) {
  if (count > Size - Offset) count = Size - Offset;
  if (count <= 0) return 0;  // a negative count must not move the position back
  std::memcpy(buffer, Current, static_cast<std::size_t>(count));
  Current += count;
  Offset += count;
  return count;
}

std::uint8_t TReader::ReadByte() {
  Require(1);
  std::uint8_t b = *Current;
  ++Current;
  ++Offset;
  return b;
}

std::uint16_t TReader::ReadWord() {
  Require(2);
  std::uint16_t w = static_cast<std::uint16_t>(Current[0] | (Current[1] << 8));
  Current += 2;
  Offset += 2;
  return w;
}

std::int32_t TReader::ReadInt32() {
  Require(4);
  std::uint32_t v = static_cast<std::uint32_t>(Current[0]) | (static_cast<std::uint32_t>(Current[1]) << 8) |
                    (static_cast<std::uint32_t>(Current[2]) << 16) | (static_cast<std::uint32_t>(Current[3]) << 24);
  Current += 4;
  Offset += 4;
  return static_cast<std::int32_t>(v);
}

std::string TReader::ReadShortString() {
  std::uint8_t length = ReadByte();
  Require(length);
  std::string s(reinterpret_cast<const char*>(Current), length);
  Current += length;
  Offset += length;
  return s;
}

bool TReader::EndOfList() {
  if (Offset < Size && *Current == 0) {
    ++Current;
    ++Offset;
    return true;
  }
  return false;
}

std::uint8_t TReader::ReadPrefix(std::int32_t& childPosition) {
  if (Size <= 1 || Offset >= Size || (*Current & 0xF0) != 0xF0) return 0;
  std::uint8_t flags = ReadByte() & 0x0F;
  if (flags & 2) childPosition = ReadInt32();
  return flags;
}

std::int32_t TReader::ReadInteger() {
  switch (ReadByte()) {
    case 0x02: return static_cast<std::int8_t>(ReadByte());
    case 0x03: return static_cast<std::int16_t>(ReadWord());
    case 0x04: return ReadInt32();
    default: throw EClassesError(std::string("Invalid ordinal value"));
  }
}

bool TReader::ReadBoolean() {
  switch (ReadByte()) {
    case 0x08: return false;
    case 0x09: return true;
    default: throw EClassesError(std::string("Invalid boolean value"));
  }
}

std::string TReader::ReadString() {
  switch (ReadByte()) {
    case 0x06:
    case 0x07: return ReadShortString();
    case 0x14: {
      std::int32_t length = ReadInt32();
      Require(length);
      std::string text = Utf8ToAnsi(reinterpret_cast<const char*>(Current), length);
      Current += length;
      Offset += length;
      return text;
    }
    default: throw EClassesError(std::string("Invalid string value"));
  }
}

std::int32_t TReader::ReadColor() {
  switch (ReadByte()) {
    case 0x04: return ReadInt32();
    case 0x07: return ColorFromIdent(ReadShortString());
    default: throw EClassesError(std::string("Invalid color value"));
  }
}

std::unique_ptr<std::uint8_t[]> TReader::ReadBinary(std::int32_t& length) {
  if (ReadByte() != 0x0A) throw EClassesError(std::string("Invalid binary value"));
  std::int32_t n = ReadInt32();
  Require(n);
  std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[static_cast<std::size_t>(n)]);
  if (n > 0) std::memcpy(block.get(), Current, static_cast<std::size_t>(n));
  Current += n;
  Offset += n;
  length = n;
  return block;
}

int TReader::ReadEnum(const char* const* names, int highIndex) {
  if (ReadByte() != 0x07) throw EClassesError(std::string("Invalid ident value"));
  std::string ident = ReadShortString();
  return IndexOfName(ident.c_str(), names, highIndex);
}

std::uint32_t TReader::ReadSet(const char* const* names, int highIndex) {
  if (ReadByte() != 0x0B) throw EClassesError(std::string("not a set"));
  std::uint32_t mask = 0;
  for (;;) {
    std::string element = ReadShortString();
    if (element.empty()) break;
    int index = IndexOfName(element.c_str(), names, highIndex);
    if (index >= 0 && index < 32) mask |= 1u << index;
  }
  return mask;
}

void TReader::SkipValue() {
  switch (ReadByte() & 0x7F) {
    case 0x02: Skip(1); break;
    case 0x03: Skip(2); break;
    case 0x06: Skip(ReadByte()); break;
    case 0x08:
    case 0x09: break;
    case 0x0A: Skip(ReadInt32()); break;
    default: throw EClassesError(std::string("Unknown value type"));
  }
}

// ---------------------------------------------------------------- component tree

void ReadComponentBody(TComponent* obj, TReader& reader) {
  while (!reader.EndOfList()) {
    std::string name = reader.ReadShortString();
    obj->ReadNamedProperty(name, reader);
  }
  if (reader.Depth >= kMaxNestingDepth) {
    if (!reader.EndOfList()) StreamDamaged();
    return;
  }
  ++reader.Depth;
  while (!reader.EndOfList()) {
    std::int32_t position = 0;
    reader.ReadPrefix(position);
    std::string className = reader.ReadShortString();
    TComponent* child = CreateRegisteredComponent(className, obj);
    child->AttachToParent(obj);
    reader.Created->Add(child);
    child->Name = reader.ReadShortString();
    ReadComponentBody(child, reader);
    if (const TPublishedField* field = obj->ClassType()->FindField(child->Name)) field->Store(obj, child);
  }
  --reader.Depth;
}

TNotifyEvent LookupEventHandler(TComponent* component, const std::string& methodName) {
  std::string name = CutName(methodName);
  for (TComponent* c = component; c != nullptr; c = c->Owner) {
    if (const TPublishedMethod* m = c->ClassType()->FindMethod(name)) return TNotifyEvent{m->Code, c};
  }
  ErrorBox(component->Name, 9999);
  return TNotifyEvent{};
}

}  // namespace formkit
