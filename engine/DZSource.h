// Random-access byte sources for the archive being read: a file, or an application
// stream reached through the stream callback.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "DZHost.h"
#include "PlatFile.h"

namespace dz {

class TDZSource {
 public:
  virtual ~TDZSource() = default;
  uint64_t Size() const { return FSize; }
  // Reads up to n bytes at off; the count read, or -1 on failure.
  virtual int64_t ReadSome(uint64_t off, void* buf, size_t n) = 0;
  // Reads exactly n bytes at off; false on failure or when the data ends early.
  bool ReadAt(uint64_t off, void* buf, size_t n);
  // Whether ReadSome may be called from another thread while this one reads too.
  virtual bool ThreadSafe() const { return false; }

 protected:
  uint64_t FSize = 0;
};

class TDZFileSource : public TDZSource {
 public:
  ~TDZFileSource() override;
  // Opens the file; err receives an engine error on failure.
  static std::unique_ptr<TDZFileSource> Open(const std::string& name, int& err);
  int64_t ReadSome(uint64_t off, void* buf, size_t n) override;
  bool ThreadSafe() const override { return true; }

 private:
  plat::THandle FHandle = plat::kInvalidHandle;
};

class TDZStreamSource : public TDZSource {
 public:
  TDZStreamSource(TDZHost& host, int streamNo) : FHost(host), FNo(streamNo) {}
  ~TDZStreamSource() override;
  bool Open(int& err);
  int64_t ReadSome(uint64_t off, void* buf, size_t n) override;

 private:
  TDZHost& FHost;
  int FNo;
  void* FRef = nullptr;
  uint64_t FPos = UINT64_MAX;
};

// Number of the application stream named by a text such as "3:" or "3:name", or -1
// when the text names a file.
int StreamNumberOf(const std::string& text);

// Opens the archive named by the text.
std::unique_ptr<TDZSource> OpenSource(TDZHost& host, const std::string& name, int& err);

// Opens the regular file of a UTF-8 name for reading; never waits for a FIFO's writer or
// a device.
plat::THandle OpenRegularUtf8(const std::string& name);

}  // namespace dz
