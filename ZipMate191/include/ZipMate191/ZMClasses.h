/// \file ZMClasses.h
/// The small base classes the component is built on: objects, components, string
/// lists, streams, icons, and the filling of message texts: placeholders (%d %u %x %X
/// %s %p) take the arguments in order, each with an optional left alignment, width and
/// precision.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

/// The root of the component's classes: the Sender of every event is a TObject.
class TObject {
 public:
  /// Virtual, so that every object can be destroyed through a TObject pointer.
  virtual ~TObject() = default;
};

/// Raised by ReadBuffer/WriteBuffer, by a SetSize that cannot change the size and by
/// the file stream's constructor; its text names the cause ("Stream read error",
/// "Cannot open file \"name\"").
class EStreamError : public std::runtime_error {
 public:
  /// The exception with the given text.
  using std::runtime_error::runtime_error;
};

/// A sequence of bytes with a position, read and written in counts of bytes. The
/// streams an application lends to the engine (OnStream, the pipes) are TStreams.
class TStream : public TObject {
 public:
  /// Reads up to \p count bytes at the position into \p buffer and moves past them:
  /// the number read, 0 at the end. Never raises.
  virtual int Read(void* buffer, int count) = 0;
  /// Writes \p count bytes at the position: the number written; fewer than \p count
  /// means failure. Never raises.
  virtual int Write(const void* buffer, int count) = 0;
  ///@{
  /// Origins of Seek (the platform's file-seek origins): from the start, from the
  /// position, from the end.
  static constexpr int soBeginning = 0, soCurrent = 1, soEnd = 2;
  ///@}
  /// Moves the position to \p offset bytes from \p origin (soBeginning, soCurrent or
  /// soEnd): the new position, or -1 on failure.
  virtual int64_t Seek(int64_t offset, int origin) = 0;
  /// Makes the stream \p newSize bytes long. This base raises EStreamError ("Stream
  /// size cannot be changed"); memory and handle streams override it.
  virtual void SetSize(int64_t newSize);

  /// The position, in bytes from the start.
  int64_t Position() { return Seek(0, soCurrent); }
  /// Moves to \p pos bytes from the start (a failed seek is not reported).
  void SetPosition(int64_t pos) { Seek(pos, soBeginning); }
  /// The length in bytes, found by seeking to the end and back.
  int64_t Size();

  /// Reads exactly \p count bytes, or raises EStreamError ("Stream read error").
  void ReadBuffer(void* buffer, int count);
  /// Writes exactly \p count bytes, or raises EStreamError ("Stream write error").
  void WriteBuffer(const void* buffer, int count);
  /// Copies \p count bytes from the position of \p source (count 0: all of source from
  /// its start) to this stream's position: the number copied. A short read or write
  /// raises EStreamError.
  int64_t CopyFrom(TStream& source, int64_t count);
};

/// A growable stream in memory; it starts empty. A write past the end extends it (a
/// gap left by a seek past the end reads as zeros).
class TMemoryStream : public TStream {
 public:
  /// Up to \p count bytes from the position; 0 at or past the end.
  int Read(void* buffer, int count) override;
  /// Writes at the position, growing the memory as needed; always all \p count bytes.
  int Write(const void* buffer, int count) override;
  /// Any position from 0 up, also past the end; -1 (and no move) for one before the
  /// start.
  int64_t Seek(int64_t offset, int origin) override;
  /// Truncates or extends (with zeros) to \p newSize bytes; the position moves back to
  /// the new end when it was past it.
  void SetSize(int64_t newSize) override;

  /// The bytes held; valid until the next write, SetSize, Clear or load.
  const uint8_t* Memory() const { return FData.data(); }
  /// The bytes held, writable in place; valid as the const form.
  uint8_t* Memory() { return FData.data(); }
  /// The bytes held, as a vector.
  const std::vector<uint8_t>& Bytes() const { return FData; }
  /// Empties the stream and moves to position 0.
  void Clear();
  /// Replaces the contents by a copy of \p size bytes at \p data; position 0.
  void LoadFromBytes(const void* data, size_t size);

 private:
  std::vector<uint8_t> FData;
  int64_t FPos = 0;
};

/// A read-only stream over bytes it does not own (such as a linked-in resource).
class TReadOnlyMemoryStream : public TStream {
 public:
  /// A stream over \p size bytes at \p data, which must outlive it; position 0.
  TReadOnlyMemoryStream(const void* data, size_t size)
      : FData(static_cast<const uint8_t*>(data)), FSize(int64_t(size)) {}
  /// Up to \p count bytes from the position; 0 at or past the end.
  int Read(void* buffer, int count) override;
  /// Writes nothing: always 0, which callers see as a failed write.
  int Write(const void*, int) override { return 0; }
  /// Any position from 0 up; -1 (and no move) for one before the start.
  int64_t Seek(int64_t offset, int origin) override;
  /// The bytes the stream was made over.
  const uint8_t* Memory() const { return FData; }

 private:
  const uint8_t* FData;
  int64_t FSize;
  int64_t FPos = 0;
};

/// A stream over an operating-system file handle; the handle is not owned.
class THandleStream : public TStream {
 public:
  /// A stream over \p h, a handle of the platform's file calls (a file descriptor on
  /// POSIX systems); it is not closed when the stream goes.
  explicit THandleStream(intptr_t h) : FHandle(h) {}
  /// Up to \p count bytes from the file's position; 0 at the end or on a read error.
  int Read(void* buffer, int count) override;
  /// The bytes written at the file's position; 0 on a write error.
  int Write(const void* buffer, int count) override;
  /// The file's new position, or -1 when the system refuses the seek.
  int64_t Seek(int64_t offset, int origin) override;
  /// Sets the file's end at \p newSize bytes; raises EStreamError ("Stream size cannot
  /// be changed") when the system refuses. The position is kept when it is below the
  /// new size, otherwise it is the new end.
  void SetSize(int64_t newSize) override;
  /// The handle the stream works on.
  intptr_t Handle() const { return FHandle; }

 protected:
  /// The handle; the platform's invalid handle when a file stream could not open.
  intptr_t FHandle;
};

/// Mode value of TFileStream that creates the file (emptying one that exists) instead of
/// opening it.
inline constexpr uint32_t fmCreate = 0xFF00;

/// A stream over a named file that it opens (or creates) and closes.
class TFileStream : public THandleStream {
 public:
  /// Opens \p fileName, or creates it when \p mode is fmCreate. Other modes are the
  /// platform's open modes: 0 read only, 1 write only, 2 read and write, plus a share
  /// mode (0x10 exclusive, 0x20 deny write, 0x30 deny read, 0x40 deny none). Raises
  /// EStreamError ("Cannot open file" or "Cannot create file" and the name) on failure.
  TFileStream(const std::string& fileName, uint32_t mode);
  /// Closes the file.
  ~TFileStream() override;
  /// Not copyable: the stream owns its handle.
  TFileStream(const TFileStream&) = delete;
  /// Not assignable: the stream owns its handle.
  TFileStream& operator=(const TFileStream&) = delete;
  /// The name the stream was opened with.
  const std::string& FileName() const { return FFileName; }

 private:
  std::string FFileName;
};

/// An icon. Where the platform has no icon objects it holds the icon image's bytes.
class TIcon : public TObject {
 public:
  /// Whether the icon holds no image.
  bool Empty() const { return FBits.empty(); }
  /// The icon image's bytes (an .ico file image); empty for no icon.
  const std::vector<uint8_t>& Bits() const { return FBits; }
  /// Replaces the image by \p bits.
  void SetBits(std::vector<uint8_t> bits) { FBits = std::move(bits); }

 private:
  std::vector<uint8_t> FBits;
};

/// One argument of Format: an integer, a text or a pointer. Built implicitly from any
/// of those, so that `Format("%s: %d", {name, count})` reads naturally.
struct TFmtArg {
  /// What the argument holds.
  enum TKind : uint8_t {
    fkInt,  ///< an integer, in Int (for %d %u %x %X and "*")
    fkStr,  ///< a text, in Str (for %s)
    fkPtr   ///< a pointer, in Ptr (for %p)
  };
  ///@{
  /// An integer argument, widened to 64 bits.
  TFmtArg(int v) : Kind(fkInt), Int(v) {}
  TFmtArg(unsigned v) : Kind(fkInt), Int(int64_t(v)) {}
  TFmtArg(long v) : Kind(fkInt), Int(int64_t(v)) {}
  TFmtArg(unsigned long v) : Kind(fkInt), Int(int64_t(v)) {}
  TFmtArg(long long v) : Kind(fkInt), Int(int64_t(v)) {}
  TFmtArg(unsigned long long v) : Kind(fkInt), Int(int64_t(v)) {}
  ///@}
  ///@{
  /// A text argument (a null pointer is the empty text).
  TFmtArg(const std::string& v) : Kind(fkStr), Str(v) {}
  TFmtArg(const char* v) : Kind(fkStr), Str(v ? v : "") {}
  ///@}
  /// A pointer argument, shown in full width with leading zeros by %p.
  TFmtArg(const void* v) : Kind(fkPtr), Ptr(v) {}
  TKind Kind;                 ///< which of the three values is meant
  int64_t Int = 0;            ///< the integer (fkInt)
  std::string Str;            ///< the text (fkStr)
  const void* Ptr = nullptr;  ///< the pointer (fkPtr)
};

///@{
/// Fills a format with arguments: %d %u %x %X %s %p %%, with optional "-", width and
/// ".precision" ("*" takes an integer argument). A placeholder without a fitting
/// argument is copied as it stands, so a bad format never fails.
std::string Format(const std::string& fmt, std::initializer_list<TFmtArg> args);
std::string Format(const std::string& fmt, const std::vector<TFmtArg>& args);
///@}

/// Component state flags (bits of TComponent::ComponentState).
enum TComponentStateFlag : uint32_t {
  csLoading = 1,   ///< being loaded from a stored definition (BeginLoading until Loaded)
  csDesigning = 2  ///< being edited in a designer: setters store, operations do not run
};

/// A named object with an owner. An owner destroys the components it still owns when
/// it is destroyed; a component destroyed first leaves its owner's list.
class TComponent : public TObject {
 public:
  /// A component owned by \p owner (none by default), which then destroys it.
  explicit TComponent(TComponent* owner = nullptr);
  /// Destroys the owned components, last first, and leaves the owner's list.
  ~TComponent() override;
  /// Not copyable: ownership is by identity.
  TComponent(const TComponent&) = delete;
  /// Not assignable: ownership is by identity.
  TComponent& operator=(const TComponent&) = delete;

  /// The owner given at construction; null for none (or once the owner is gone).
  TComponent* Owner() const { return FOwner; }
  /// The component's name; empty by default. Only reports and the monitor link use it.
  const std::string& Name() const { return FName; }
  /// Sets the name.
  void SetName(const std::string& v) { FName = v; }
  /// Number of components this one owns.
  int ComponentCount() const { return int(FComponents.size()); }
  /// Owned component \p i, in the order they were created (0 <= i < ComponentCount;
  /// std::out_of_range otherwise).
  TComponent* Components(int i) const { return FComponents.at(size_t(i)); }

  /// The state flags (TComponentStateFlag bits); 0 by default.
  uint32_t ComponentState() const { return FComponentState; }
  /// Whether the component is being loaded (between BeginLoading and Loaded).
  bool Loading() const { return FComponentState & csLoading; }
  /// Whether the component is being designed (SetDesigning).
  bool Designing() const { return FComponentState & csDesigning; }
  /// Sets or clears the designing flag.
  void SetDesigning(bool on);
  /// Marks the start of loading from a stored definition; Loaded ends it.
  void BeginLoading() { FComponentState |= csLoading; }
  /// Ends loading (clears csLoading). Components override it to apply what they
  /// deferred while loading.
  virtual void Loaded();

 private:
  TComponent* FOwner;
  std::string FName;
  std::vector<TComponent*> FComponents;
  uint32_t FComponentState = 0;
};

/// A list of strings, each with an optional attached object (not owned).
class TStrings : public TObject {
 public:
  /// Number of lines.
  virtual int Count() const = 0;
  /// Line \p i (0 <= i < Count; a list raises std::out_of_range otherwise).
  virtual const std::string& Strings(int i) const = 0;
  /// The object attached to line \p i, or null; range as Strings.
  virtual TObject* Objects(int i) const = 0;
  /// Replaces line \p i; range as Strings.
  virtual void SetStrings(int i, const std::string& s) = 0;
  /// Appends \p s with the object \p obj attached: the new line's index.
  virtual int AddObject(const std::string& s, TObject* obj) = 0;
  /// Removes line \p i; range as Strings.
  virtual void Delete(int i) = 0;
  /// Removes every line.
  virtual void Clear() = 0;

  /// Appends \p s without an object: the new line's index.
  int Add(const std::string& s) { return AddObject(s, nullptr); }
  /// Index of the first line equal to s (letter case significant), or -1.
  int IndexOf(const std::string& s) const;
  /// Replaces the contents by a copy of source (nothing when it is this list).
  void Assign(const TStrings& source);
  /// The lines, each followed by a line break.
  std::string Text() const;
  /// Whether both lists hold the same lines in the same order (objects not compared).
  bool Equals(const TStrings& other) const;
};

/// The list of strings the component uses for FSpecArgs and FSpecArgsExcl.
class TStringList : public TStrings {
 public:
  /// An empty list.
  TStringList() = default;
  /// A list of the given lines, such as `TStringList{"*.txt", "doc\\*"}`.
  TStringList(std::initializer_list<std::string> lines);
  /// Number of lines.
  int Count() const override { return int(FItems.size()); }
  /// Line \p i; std::out_of_range ("List index out of bounds (i)") outside 0..Count-1.
  const std::string& Strings(int i) const override;
  /// The object of line \p i, or null; range as Strings.
  TObject* Objects(int i) const override;
  /// Replaces line \p i; range as Strings.
  void SetStrings(int i, const std::string& s) override;
  /// Appends a line with its object: the new index.
  int AddObject(const std::string& s, TObject* obj) override;
  /// Removes line \p i; range as Strings.
  void Delete(int i) override;
  /// Removes every line.
  void Clear() override { FItems.clear(); }

 private:
  struct TItem {
    std::string Str;
    TObject* Obj;
  };
  void Check(int i) const;
  std::vector<TItem> FItems;
};
