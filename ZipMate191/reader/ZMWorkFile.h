// The buffered archive file: one operating-system handle and its name; open, create,
// reopen, close, read, write and seek with 64-bit offsets; a DOS stamp given on close;
// deletion of a temporary file on destruction; trace lines about all of it.
//
// Transfer counts: a negative count -n asks for n bytes that must come from, or go to,
// one volume without a break (an unbroken request). When writing the value may be
// -(n OR kUnbrokenMoveFlag): the flag asks to be told of a move to the next volume and
// is masked off here. On a single file the sign only asks for n bytes.
#pragma once
#include <cstdint>
#include <string>

#include "PlatFile.h"
#include "PlatFileSys.h"
#include "ZMCore.h"
#include "ZMTrailer.h"

class TMemoryStream;

class TZMWorkFile : public TZMCore {
 public:
  // Flag carried by an unbroken write count (n never exceeds 0x1FFFF).
  static constexpr int32_t kUnbrokenMoveFlag = 0x20000;
  // Result of an unbroken write that moved to the next volume first.
  static constexpr int32_t kMovedToNextVolume = -10999;
  static constexpr int kCopyBlock = 10240;
  static constexpr int kStreamBlock = 20480;
  // Readers of archives: read access, others may read but not write.
  static constexpr uint32_t kReadShareDenyWrite = 0x20;

  TZMWorkFile(TCustomZipMate& master, TZMWorkBin* owner = nullptr);
  ~TZMWorkFile() override;

  // The current offset, or -1 when no file is open.
  virtual int64_t Position();
  // A different name closes an open file first.
  virtual void SetFileName(const std::string& name);
  // Absolute seek when open.
  virtual void SetPosition(int64_t offset);
  // Copies name, alias, temporary flag, modes and stamp; the copy is not open.
  virtual void AssignFrom(const TZMWorkFile& other);
  virtual void File_Close();
  virtual bool File_Create(const std::string& name = std::string());
  virtual bool File_Open(uint32_t mode);
  // Writes through a handle opened for reading and writing elsewhere (such as a
  // TZMNewFile), under name for messages: closing gives it the stamp date and lets it
  // go without closing it.
  virtual void File_Attach(plat::THandle h, const std::string& name);
  // 0, or the error code of message 164.
  virtual int32_t File_Reopen(uint32_t mode);
  virtual std::string DisplayName(bool withFileName) const;
  // Count read (0 at the end) or the error code of message 176.
  virtual int32_t Read(void* buffer, int32_t count);
  // Reads the sum of sizes[0..high] into buffer.
  virtual int32_t ReadFields(void* buffer, const int32_t* sizes, int high);
  // Count written or the error code of message 180.
  virtual int32_t Write(const void* buffer, int32_t count);
  virtual int32_t WriteFields(const void* buffer, const int32_t* sizes, int high);

  bool Reads(void* buffer, int32_t n);
  // Reads, else raises EZipMate with code (message 176 when code is 0).
  void ReadCheck(void* buffer, int32_t n, int32_t code);
  bool Writes(const void* buffer, int32_t n);
  // Writes, else raises EZipMate with code (message 180 when code is 0).
  void WriteCheck(const void* buffer, int32_t n, int32_t code);
  // 64-bit seek; -1 when no file is open.
  int64_t Seek(int origin, int64_t offset);
  // Seek; a negative result raises with code (0: message 177, -1: message 161).
  int64_t SeekCheck(int origin, int32_t code, int64_t offset);
  // True when not open or at the end; otherwise the position is kept.
  bool AtEnd();
  bool LastWriteTime(plat::TFileTime& lastWrite);
  bool FileInformation(plat::TFileInfo& info);
  // Sets the end of the file at the current position.
  bool Truncate();
  // Copies count bytes from source at its position; total copied or an error code.
  int64_t CopyFrom(TZMWorkFile& source, int64_t count);
  // Reads count bytes into the stream at its position; total or an error code.
  int32_t ReadTo(TMemoryStream& stream, int32_t count);
  // Writes up to count bytes from the stream's position; total or an error code.
  int64_t WriteFrom(TMemoryStream& stream, int64_t count);
  // Passes a progress event on, filtered by the report mode.
  void ProgReport(uint8_t kind, int id, int64_t size, const std::string& text = std::string());

  const std::string& Alias() const { return FAlias; }
  void SetAlias(const std::string& v) { FAlias = v; }
  const std::string& FileName() const { return FFileName; }
  plat::THandle Handle() const { return FHandle; }
  bool IsOpen() const { return FIsOpen; }
  bool IsTemp() const { return FIsTemp; }
  void SetIsTemp(bool v) { FIsTemp = v; }
  uint32_t OpenMode() const { return FOpenMode; }
  uint8_t ReportMode() const { return FReportMode; }
  void SetReportMode(uint8_t v) { FReportMode = v; }
  uint32_t StampDate() const { return FStampDate; }
  void SetStampDate(uint32_t v) { FStampDate = v; }

 protected:
  // Single-file transfers (the volume layer builds on them).
  int32_t FileRead(void* buffer, int32_t count);
  int32_t FileWrite(const void* buffer, int32_t count);
  // Closes and, for a temporary file, deletes it; safe to call more than once.
  void DestroyFile();

  std::string FAlias;
  std::string FFileName;
  plat::THandle FHandle = plat::kInvalidHandle;
  bool FIsOpen = false;
  bool FOwnsHandle = true;  // false for an attached handle
  bool FIsTemp = false;
  uint32_t FOpenMode = 0;
  uint8_t FReportMode = 0;
  uint32_t FStampDate = 0;
};

// A work file read at offsets by the code that finds an archive's directory. The first
// failure is kept as seekCode (a failed seek) or readCode (a short read).
class TZMWorkFileBytes final : public zm::TArchiveBytes {
 public:
  TZMWorkFileBytes(TZMWorkFile& file, int32_t seekCode, int32_t readCode)
      : FFile(file), FSeekCode(seekCode), FReadCode(readCode) {}
  bool ReadAt(uint64_t offset, void* buffer, size_t count) override;
  // 0, or the code of the first failure.
  int32_t FailCode() const { return FFailCode; }

 private:
  TZMWorkFile& FFile;
  int32_t FSeekCode, FReadCode, FFailCode = 0;
};

// The magnitude of a transfer count (sign and move flag removed).
constexpr int32_t ZMTransferSize(int32_t count) {
  return count >= 0 ? count : ((-count) & ~TZMWorkFile::kUnbrokenMoveFlag);
}
