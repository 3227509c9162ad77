// The small base classes the component is built on: objects, components, string
// lists, streams, icons, and the filling of message texts: placeholders (%d %u %x %X
// %s %p) take the arguments in order, each with an optional left alignment, width and
// precision.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

class TObject {
 public:
  virtual ~TObject() = default;
};

// Raised by ReadBuffer/WriteBuffer and the file stream's constructor.
class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TStream : public TObject {
 public:
  // Bytes read (0 at the end); never raises.
  virtual int Read(void* buffer, int count) = 0;
  // Bytes written; fewer than count means failure. Never raises.
  virtual int Write(const void* buffer, int count) = 0;
  // Origins of Seek (the platform's file-seek origins).
  static constexpr int soBeginning = 0, soCurrent = 1, soEnd = 2;
  // New position, or -1 on failure.
  virtual int64_t Seek(int64_t offset, int origin) = 0;
  virtual void SetSize(int64_t newSize);

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, soBeginning); }
  int64_t Size();

  // Exactly count bytes or EStreamError.
  void ReadBuffer(void* buffer, int count);
  void WriteBuffer(const void* buffer, int count);
  // Copies count bytes from source (count 0: all of source from its start).
  int64_t CopyFrom(TStream& source, int64_t count);
};

// A growable stream in memory.
class TMemoryStream : public TStream {
 public:
  int Read(void* buffer, int count) override;
  int Write(const void* buffer, int count) override;
  int64_t Seek(int64_t offset, int origin) override;
  void SetSize(int64_t newSize) override;

  const uint8_t* Memory() const { return FData.data(); }
  uint8_t* Memory() { return FData.data(); }
  const std::vector<uint8_t>& Bytes() const { return FData; }
  void Clear();
  void LoadFromBytes(const void* data, size_t size);

 private:
  std::vector<uint8_t> FData;
  int64_t FPos = 0;
};

// A read-only stream over bytes it does not own (such as a linked-in resource).
class TReadOnlyMemoryStream : public TStream {
 public:
  TReadOnlyMemoryStream(const void* data, size_t size)
      : FData(static_cast<const uint8_t*>(data)), FSize(int64_t(size)) {}
  int Read(void* buffer, int count) override;
  int Write(const void*, int) override { return 0; }
  int64_t Seek(int64_t offset, int origin) override;
  const uint8_t* Memory() const { return FData; }

 private:
  const uint8_t* FData;
  int64_t FSize;
  int64_t FPos = 0;
};

// A stream over an operating-system file handle; the handle is not owned.
class THandleStream : public TStream {
 public:
  // h is a handle of the platform's file calls.
  explicit THandleStream(intptr_t h) : FHandle(h) {}
  int Read(void* buffer, int count) override;
  int Write(const void* buffer, int count) override;
  int64_t Seek(int64_t offset, int origin) override;
  void SetSize(int64_t newSize) override;
  intptr_t Handle() const { return FHandle; }

 protected:
  intptr_t FHandle;
};

// Mode value that creates the file instead of opening it.
inline constexpr uint32_t fmCreate = 0xFF00;

// A stream over a named file that it opens (or creates) and closes.
class TFileStream : public THandleStream {
 public:
  TFileStream(const std::string& fileName, uint32_t mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;
  const std::string& FileName() const { return FFileName; }

 private:
  std::string FFileName;
};

// An icon. Where the platform has no icon objects it holds the icon image's bytes.
class TIcon : public TObject {
 public:
  bool Empty() const { return FBits.empty(); }
  const std::vector<uint8_t>& Bits() const { return FBits; }
  void SetBits(std::vector<uint8_t> bits) { FBits = std::move(bits); }

 private:
  std::vector<uint8_t> FBits;
};

// One argument of Format: an integer, a text or a pointer.
struct TFmtArg {
  enum TKind : uint8_t { fkInt, fkStr, fkPtr };
  TFmtArg(int v) : Kind(fkInt), Int(v) {}
  TFmtArg(unsigned v) : Kind(fkInt), Int(int64_t(v)) {}
  TFmtArg(long v) : Kind(fkInt), Int(int64_t(v)) {}
  TFmtArg(unsigned long v) : Kind(fkInt), Int(int64_t(v)) {}
  TFmtArg(long long v) : Kind(fkInt), Int(int64_t(v)) {}
  TFmtArg(unsigned long long v) : Kind(fkInt), Int(int64_t(v)) {}
  TFmtArg(const std::string& v) : Kind(fkStr), Str(v) {}
  TFmtArg(const char* v) : Kind(fkStr), Str(v ? v : "") {}
  TFmtArg(const void* v) : Kind(fkPtr), Ptr(v) {}
  TKind Kind;
  int64_t Int = 0;
  std::string Str;
  const void* Ptr = nullptr;
};

// Fills a format with arguments: %d %u %x %X %s %p %%, with optional "-", width and
// ".precision" ("*" takes an integer argument). A placeholder without a fitting
// argument is copied as it stands, so a bad format never fails.
std::string Format(const std::string& fmt, std::initializer_list<TFmtArg> args);
std::string Format(const std::string& fmt, const std::vector<TFmtArg>& args);

// Component state flags.
enum TComponentStateFlag : uint32_t { csLoading = 1, csDesigning = 2 };

// A named object with an owner. An owner destroys the components it still owns when
// it is destroyed; a component destroyed first leaves its owner's list.
class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  void SetName(const std::string& v) { FName = v; }
  int ComponentCount() const { return int(FComponents.size()); }
  TComponent* Components(int i) const { return FComponents.at(size_t(i)); }

  uint32_t ComponentState() const { return FComponentState; }
  bool Loading() const { return FComponentState & csLoading; }
  bool Designing() const { return FComponentState & csDesigning; }
  void SetDesigning(bool on);
  // Marks the start of loading from a stored definition; Loaded ends it.
  void BeginLoading() { FComponentState |= csLoading; }
  virtual void Loaded();

 private:
  TComponent* FOwner;
  std::string FName;
  std::vector<TComponent*> FComponents;
  uint32_t FComponentState = 0;
};

// A list of strings, each with an optional attached object (not owned).
class TStrings : public TObject {
 public:
  virtual int Count() const = 0;
  virtual const std::string& Strings(int i) const = 0;
  virtual TObject* Objects(int i) const = 0;
  virtual void SetStrings(int i, const std::string& s) = 0;
  virtual int AddObject(const std::string& s, TObject* obj) = 0;
  virtual void Delete(int i) = 0;
  virtual void Clear() = 0;

  int Add(const std::string& s) { return AddObject(s, nullptr); }
  // Index of the first line equal to s, or -1.
  int IndexOf(const std::string& s) const;
  // Replaces the contents by a copy of source (nothing when it is this list).
  void Assign(const TStrings& source);
  // The lines, each followed by a line break.
  std::string Text() const;
  bool Equals(const TStrings& other) const;
};

class TStringList : public TStrings {
 public:
  TStringList() = default;
  TStringList(std::initializer_list<std::string> lines);
  int Count() const override { return int(FItems.size()); }
  const std::string& Strings(int i) const override;
  TObject* Objects(int i) const override;
  void SetStrings(int i, const std::string& s) override;
  int AddObject(const std::string& s, TObject* obj) override;
  void Delete(int i) override;
  void Clear() override { FItems.clear(); }

 private:
  struct TItem {
    std::string Str;
    TObject* Obj;
  };
  void Check(int i) const;
  std::vector<TItem> FItems;
};
