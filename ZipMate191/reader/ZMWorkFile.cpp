// The archive file object: handle, name, transfers and trace lines.
#include "ZMWorkFile.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <vector>

#include "PlatError.h"
#include "ZMClasses.h"
#include "ZMMsg.h"
#include "ZMWFuncs.h"
#include "ZMXcpt.h"

namespace {

// The byte count of a read request (the sign only asks for an unbroken read).
int32_t ReadSize(int32_t count) {
  if (count >= 0) return count;
  return count == INT32_MIN ? INT32_MAX : -count;
}

// "yyyy-mm-dd hh:nn:ss" of a local DOS stamp (date in the high word).
std::string FormatDosStamp(uint32_t stamp) {
  const unsigned date = stamp >> 16, time = stamp & 0xFFFF;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (date >> 9), (date >> 5) & 15,
                date & 31, time >> 11, (time >> 5) & 63, (time & 31) * 2);
  return buf;
}

[[noreturn]] void RaiseCode(int32_t code) { throw EZipMate::CreateMsg(ZMAbsCode(code)); }

}  // namespace

TZMWorkFile::TZMWorkFile(TCustomZipMate& master, TZMWorkBin* owner) : TZMCore(master, owner) {}

TZMWorkFile::~TZMWorkFile() { DestroyFile(); }

void TZMWorkFile::DestroyFile() {
  try {
    File_Close();
    if (FIsTemp && !FFileName.empty() && FileIsPresent(FFileName)) {
      TraceLine("Deleting " + DisplayName(true));
      RemoveFile(FFileName);
    }
  } catch (...) {
    // Destruction never raises; the handle is gone either way.
  }
  FIsTemp = false;
}

int64_t TZMWorkFile::Position() {
  if (!FIsOpen) return -1;
  // 64-bit: a 32-bit position would be wrong past 2 GiB, where Zip64 records start.
  return plat::FileSeek(FHandle, 0, plat::soCurrent);
}

void TZMWorkFile::SetFileName(const std::string& name) {
  if (name == FFileName) return;
  if (FIsOpen) File_Close();
  FFileName = name;
}

void TZMWorkFile::SetPosition(int64_t offset) {
  if (FIsOpen) plat::FileSeek(FHandle, offset, plat::soBeginning);
}

void TZMWorkFile::AssignFrom(const TZMWorkFile& other) {
  if (&other == this) return;
  File_Close();
  FFileName = other.FFileName;
  FAlias = other.FAlias;
  FIsTemp = other.FIsTemp;
  FOpenMode = other.FOpenMode;
  FReportMode = other.FReportMode;
  FStampDate = other.FStampDate;
  FHandle = plat::kInvalidHandle;
  FIsOpen = false;
}

void TZMWorkFile::File_Close() {
  if (FHandle != plat::kInvalidHandle) {
    const plat::THandle h = FHandle;
    FHandle = plat::kInvalidHandle;  // out of the object before anything can fail
    if (FStampDate != 0 && (FOpenMode & 3) != 0) {
      const bool ok = plat::FileSetDate(h, FStampDate);
      if (!ok)
        TraceLine("Warning: Set file Date" + FFileName + " to " + FormatDosStamp(FStampDate) + " failed " +
                  OSErrorText(-1));
      if (Verbosity() > 1) TraceLine("Set file Date " + FFileName + " to " + FormatDosStamp(FStampDate));
    }
    if (FOwnsHandle) plat::FileClose(h);
    if (Verbosity() > 1) TraceLine("Closed " + DisplayName(true));
  }
  FIsOpen = false;
  FOwnsHandle = true;
}

bool TZMWorkFile::File_Create(const std::string& name) {
  File_Close();
  if (!name.empty() && FFileName.empty()) SetFileName(name);
  const std::string target = name.empty() ? FFileName : name;
  if (target.empty()) return false;
  if (Verbosity() > 1) TraceLine("Creating " + target);
  FHandle = plat::FileCreate(target);
  const bool ok = FHandle != plat::kInvalidHandle;
  if (!ok)
    TraceLine("FileCreate Failed: " + target + "  " + OSErrorText(-1));
  else
    RegisterTempFile(target, false);
  FIsOpen = ok;
  FOpenMode = plat::fmOpenReadWrite;
  return ok;
}

void TZMWorkFile::File_Attach(plat::THandle h, const std::string& name) {
  File_Close();
  SetFileName(name);
  FHandle = h;
  FOwnsHandle = false;
  FIsOpen = h != plat::kInvalidHandle;
  FOpenMode = plat::fmOpenReadWrite;
}

bool TZMWorkFile::File_Open(uint32_t mode) {
  File_Close();
  if (Verbosity() > 1) TraceLine("Opening " + DisplayName(true));
  FHandle = OpenFileForMode(FFileName, mode);
  const bool ok = FHandle != plat::kInvalidHandle;
  if (!ok) TraceLine("FileOpen Failed: " + DisplayName(true) + "  " + OSErrorText(-1));
  FIsOpen = ok;
  FOpenMode = mode;
  return ok;
}

int32_t TZMWorkFile::File_Reopen(uint32_t mode) {
  if (FIsOpen && FOpenMode == mode) return 0;
  File_Close();
  TraceLine("Reopening " + DisplayName(false));
  if (!File_Open(mode)) {
    TraceLine("Could not File_Reopen: " + DisplayName(true) + "  " + OSErrorText(-1));
    return ZM_ERROR(zmmZMWorkFile, zmsZipFileCouldNotBeOpened);
  }
  return 0;
}

std::string TZMWorkFile::DisplayName(bool withFileName) const {
  if (FAlias.empty()) return FFileName;
  return withFileName ? FAlias + "<" + FFileName + ">" : FAlias;
}

int32_t TZMWorkFile::FileRead(void* buffer, int32_t count) {
  const int32_t n = ReadSize(count);
  if (n == 0) return 0;
  const int r = FIsOpen ? plat::FileRead(FHandle, buffer, n) : -1;
  if (r < 0) return ZM_ERROR(zmmZMWorkFile, zmsErrorReadingFile);
  return r;
}

int32_t TZMWorkFile::FileWrite(const void* buffer, int32_t count) {
  const int32_t n = ZMTransferSize(count);
  if (n == 0) return 0;
  const int r = FIsOpen ? plat::FileWrite(FHandle, buffer, n) : -1;
  if (r < 0) return ZM_ERROR(zmmZMWorkFile, zmsErrorWritingFile);
  return r;
}

int32_t TZMWorkFile::Read(void* buffer, int32_t count) { return FileRead(buffer, count); }

int32_t TZMWorkFile::Write(const void* buffer, int32_t count) { return FileWrite(buffer, count); }

namespace {
int32_t SumFields(const int32_t* sizes, int high) {
  int64_t total = 0;
  for (int i = 0; sizes && i <= high; ++i) total += sizes[i] < 0 ? 0 : sizes[i];
  return total > INT32_MAX ? INT32_MAX : int32_t(total);
}
}  // namespace

int32_t TZMWorkFile::ReadFields(void* buffer, const int32_t* sizes, int high) {
  return Read(buffer, SumFields(sizes, high));
}

int32_t TZMWorkFile::WriteFields(const void* buffer, const int32_t* sizes, int high) {
  return Write(buffer, SumFields(sizes, high));
}

bool TZMWorkFile::Reads(void* buffer, int32_t n) {
  const int32_t want = ReadSize(n);
  return Read(buffer, n) == want;
}

void TZMWorkFile::ReadCheck(void* buffer, int32_t n, int32_t code) {
  if (!Reads(buffer, n)) RaiseCode(code != 0 ? code : ZM_CODE(zmmZMWorkFile, zmsErrorReadingFile));
}

bool TZMWorkFileBytes::ReadAt(uint64_t offset, void* buffer, size_t count) {
  int32_t code = 0;
  if (offset > uint64_t(INT64_MAX) || FFile.Seek(plat::soBeginning, int64_t(offset)) < 0)
    code = FSeekCode;
  else if (count > size_t(INT32_MAX) || !FFile.Reads(buffer, int32_t(count)))
    code = FReadCode;
  if (code && !FFailCode) FFailCode = code;
  return code == 0;
}

bool TZMWorkFile::Writes(const void* buffer, int32_t n) {
  const int32_t want = ZMTransferSize(n);
  return Write(buffer, n) == want;
}

void TZMWorkFile::WriteCheck(const void* buffer, int32_t n, int32_t code) {
  if (!Writes(buffer, n)) RaiseCode(code != 0 ? code : ZM_CODE(zmmZMWorkFile, zmsErrorWritingFile));
}

int64_t TZMWorkFile::Seek(int origin, int64_t offset) {
  if (!FIsOpen) return -1;
  return plat::FileSeek(FHandle, offset, origin);
}

int64_t TZMWorkFile::SeekCheck(int origin, int32_t code, int64_t offset) {
  const int64_t r = Seek(origin, offset);
  if (r < 0) {
    if (code == 0) throw EZipMate::CreateMsg(zmsFileSeekError);
    if (code == -1) RaiseCode(ZM_CODE(zmmZMWorkFile, zmsSeekErrorInInputFile));
    RaiseCode(code);
  }
  return r;
}

bool TZMWorkFile::AtEnd() {
  if (!FIsOpen) return true;
  const int64_t here = Seek(plat::soCurrent, 0);
  const int64_t end = Seek(plat::soEnd, 0);
  if (here < 0 || end < 0) return true;
  if (here == end) return true;
  Seek(plat::soBeginning, here);
  return false;
}

bool TZMWorkFile::FileInformation(plat::TFileInfo& info) {
  info = plat::TFileInfo();
  if (!FIsOpen) return false;
  if (!plat::FileInfoByHandle(FHandle, info)) {
    info = plat::TFileInfo();
    return false;
  }
  return true;
}

bool TZMWorkFile::LastWriteTime(plat::TFileTime& lastWrite) {
  plat::TFileInfo info;
  const bool ok = FileInformation(info);
  lastWrite = ok ? info.LastWriteTime : 0;
  return ok;
}

bool TZMWorkFile::Truncate() { return FIsOpen && plat::FileSetEnd(FHandle); }

int64_t TZMWorkFile::CopyFrom(TZMWorkFile& source, int64_t count) {
  std::vector<uint8_t> buffer(kCopyBlock);
  int64_t total = 0;
  while (total < count) {
    const int32_t want = int32_t(std::min<int64_t>(kCopyBlock, count - total));
    const int32_t got = source.Read(buffer.data(), want);
    if (got < 0) return got;
    if (got != want) return ZM_ERROR(zmmZMWorkFile, zmsErrorReadingFile);
    const int32_t put = Write(buffer.data(), got);
    if (put < 0) return put;
    if (put != got) return ZM_ERROR(zmmZMWorkFile, zmsErrorWritingFile);
    total += got;
    ProgReport(2, zmsStageCopying, got, source.FileName());
  }
  return total;
}

int32_t TZMWorkFile::ReadTo(TMemoryStream& stream, int32_t count) {
  std::vector<uint8_t> buffer(size_t(std::min<int32_t>(kStreamBlock, std::max<int32_t>(count, 0))));
  int32_t total = 0;
  while (total < count) {
    const int32_t want = std::min<int32_t>(kStreamBlock, count - total);
    const int32_t got = Read(buffer.data(), want);
    if (got < 0) return got;
    if (got != want) return ZM_ERROR(zmmZMWorkFile, zmsFileError);
    if (stream.Write(buffer.data(), got) != got) return ZM_ERROR(zmmZMWorkFile, zmsErrorWritingFile);
    total += got;
  }
  return total;
}

int64_t TZMWorkFile::WriteFrom(TMemoryStream& stream, int64_t count) {
  const int64_t pos = stream.Position();
  const int64_t left = std::max<int64_t>(stream.Size() - pos, 0);
  count = std::min(count, left);
  int64_t total = 0;
  while (total < count) {
    const int32_t want = int32_t(std::min<int64_t>(kStreamBlock, count - total));
    const int32_t put = Write(stream.Memory() + pos + total, want);
    if (put < 0) return put;
    if (put != want) return ZM_ERROR(zmmZMWorkFile, zmsFileError);
    total += put;
  }
  stream.Seek(pos + total, plat::soBeginning);
  return total;
}

void TZMWorkFile::ProgReport(uint8_t kind, int id, int64_t size, const std::string& text) {
  switch (FReportMode) {
    case 0:
      if (kind == 1 || kind == 4 || kind == 6) return;
      if (kind == 2 || kind == 3 || kind == 5 || kind == 7) kind = 0;
      break;
    case 1: break;
    case 2:
      if (kind == 1 || kind == 4) return;
      if (kind == 2)
        kind = 7;
      else if (kind == 5)
        kind = 6;
      break;
    default: break;
  }
  // The message text is fetched only for a report that is made.
  NotifyProgress(kind, id, size, text.empty() && id > 32 ? LoadMessageText(id) : text);
}
