// The small base classes the component is built on: objects, streams and icons.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "PlatFile.h"

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
  // New position, or -1 on failure. Origins are plat::soBeginning/soCurrent/soEnd.
  virtual int64_t Seek(int64_t offset, int origin) = 0;
  virtual void SetSize(int64_t newSize);

  int64_t Position() { return Seek(0, plat::soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, plat::soBeginning); }
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
  explicit THandleStream(plat::THandle h) : FHandle(h) {}
  int Read(void* buffer, int count) override;
  int Write(const void* buffer, int count) override;
  int64_t Seek(int64_t offset, int origin) override;
  void SetSize(int64_t newSize) override;
  plat::THandle Handle() const { return FHandle; }

 protected:
  plat::THandle FHandle;
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
