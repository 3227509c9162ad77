// Finding, checking and writing the archive trailer.
#include "ZMEOC.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <vector>

#include "PlatPath.h"
#include "ZMEndian.h"
#include "ZMMsg.h"
#include "ZMNameParts.h"
#include "ZMUtils.h"
#include "ZMWFuncs.h"
#include "ZMXcpt.h"
#include "ZMRecords.h"

using zm::GetLE16;
using zm::GetLE32;
using zm::GetLE64;
using zm::PutLE16;
using zm::PutLE32;
using zm::PutLE64;

using namespace zmname;

TZMEOC::TZMEOC(TCustomZipMate& master, TZMWorkBin* owner) : TZMWorkZip(master, owner) {}

TZMEOC::~TZMEOC() = default;

std::unique_ptr<TMemoryStream> TZMEOC::ReleaseStub() {
  FStubValid = false;
  return std::move(FStub);
}

void TZMEOC::SetStub(std::unique_ptr<TMemoryStream> stub) {
  FStub = std::move(stub);
  FStubValid = FStub != nullptr;
}

void TZMEOC::ClearTrailer() {
  FZipComment.clear();
  FEnd = zm::TEndRecord();
  FMultiPart = false;
  FDiskNr = 0;
  FTotalDisks = 0;
  FTotalEntries = 0;
  FCentralEntries = 0;
  FCentralDisk = 0;
  FCentralOffset = 0;
  FCentralSize = 0;
  FEOCOffset = 0;
  FArchiveStart = 0;
}

int32_t TZMEOC::LocateEOC() {
  ClearTrailer();
  FFileKind = kFileKindUnknown;
  int32_t result = 0;
  if (FIsOpen) {
    if (Seek(plat::soBeginning, 0) != 0) {
      File_Close();
      return ZM_ERROR(zmmZMEOC, zmsSeekErrorInInputFile);
    }
  } else {
    File_Open(kReadShareDenyWrite);
  }
  if (!FIsOpen)
    return FileIsPresent(FFileName) ? ZM_ERROR(zmmZMEOC, zmsZipFileCouldNotBeOpened)
                                    : ZM_ERROR(zmmZMEOC, zmsInputFileDoesNotExist);

  uint8_t head[8];
  uint8_t rec[kEndOfCentralSize];
  const uint8_t* found = nullptr;
  std::vector<uint8_t> window;
  int64_t size = 0;
  do {
    if (!Reads(head, 4)) {
      result = ZM_ERROR(zmmZMEOC, zmsNotValidZipArchive);
      break;
    }
    const uint32_t sig = GetLE32(head);
    if (head[0] == 'M' && head[1] == 'Z') {
      FFileKind = kFileKindExe;
    } else if (sig == zm::layout::TLocalHeader::Signature) {
      FFileKind = kFileKindLocal;
    } else if (sig == zm::kDataDescriptorSig) {
      if (Reads(head + 4, 4) && GetLE32(head + 4) == zm::layout::TLocalHeader::Signature) {
        FFileKind = kFileKindSpanned;
        FMultiPart = true;
      }
    }
    // Quick check: an archive without a comment ends with its end record.
    const int64_t at = Seek(plat::soEnd, -kEndOfCentralSize);
    if (at < 0) {
      result = ZM_ERROR(zmmZMEOC, zmsNotValidZipArchive);
      break;
    }
    size = at + kEndOfCentralSize;
    FArchiveSize = size;
    if (!Reads(rec, kEndOfCentralSize)) {
      result = ZM_ERROR(zmmZMEOC, zmsErrorReadingEndOfCentral);
      break;
    }
    if (GetLE32(rec) == zm::layout::TEndOfCentral::Signature &&
        zm::EndRecordPlausible(rec, uint64_t(at), uint64_t(size))) {
      found = rec;
      FEOCOffset = at;
      result = 8;
      if (GetLE16(rec + zm::layout::TEndOfCentral::CommentLen) != 0)
        result = 1;  // the comment cannot be there
      break;
    }
    // Search the last 64 KiB (the largest comment plus the record).
    const int64_t span = std::min<int64_t>(kEOCSearchWindow, size);
    if (Seek(plat::soEnd, -span) < 0) {
      result = ZM_ERROR(zmmZMEOC, zmsSeekErrorInInputFile);
      break;
    }
    window.resize(size_t(span));
    if (!Reads(window.data(), int32_t(span))) {
      result = ZM_ERROR(zmmZMEOC, zmsErrorReadingEndOfCentral);
      break;
    }
    // The record the engine takes too (the rules are in ZMTrailer.h).
    const int64_t o = zm::FindEndRecord(window.data(), window.size(), uint64_t(size));
    if (o >= 0) {
      found = window.data() + o;
      FEOCOffset = size - span + o;
      result = 8;
      const int64_t room = span - o - kEndOfCentralSize;
      const int64_t len = std::min<int64_t>(GetLE16(found + zm::layout::TEndOfCentral::CommentLen), room);
      FZipComment.assign(reinterpret_cast<const char*>(found + kEndOfCentralSize), size_t(len));
      if (o + kEndOfCentralSize + len != span) {
        FArchiveSize = FEOCOffset + kEndOfCentralSize + len;
        result = 1;
      }
    }
    if (!found) {
      File_Close();
      return -zmsNotValidZipArchive;
    }
  } while (false);

  if (found) {
    FEnd = zm::ParseEndRecord(found);
    FMultiPart = FMultiPart || FEnd.ThisDisk > 0;
    FDiskNr = FEnd.ThisDisk;
    FTotalDisks = FEnd.ThisDisk + 1;
    FTotalEntries = FEnd.Entries;
    FCentralEntries = FEnd.EntriesHere;
    FCentralDisk = FEnd.CentralDisk;
    FCentralOffset = FEnd.CentralOffset;
    FCentralSize = FEnd.CentralSize;
    if (FEnd.HasZip64Marker()) result |= kEOCNeedsZip64;
  }
  if (result >= 0) result &= 0x43;
  if (result < 0) File_Close();
  return result;
}

int32_t TZMEOC::ReadZip64EOC(int32_t flags) {
  if (FEOCOffset < kZip64LocatorSize) return flags;
  const auto fail = [this](int32_t code) {
    File_Close();
    return code;
  };
  TZMWorkFileBytes bytes(*this, ZM_ERROR(zmmZMEOC, zmsSeekErrorInInputFile),
                         ZM_ERROR(zmmZMEOC, zmsErrorReadingEndOfCentral));
  uint8_t loc[kZip64LocatorSize];
  if (!bytes.ReadAt(uint64_t(FEOCOffset - kZip64LocatorSize), loc, kZip64LocatorSize))
    return fail(bytes.FailCode());
  zm::TZip64Locator locator;
  if (zm::ParseZip64Locator(loc, locator) && !(FDiskNr == 0xFFFF && locator.Disks < 0xFFFF)) {
    FZ64 = true;
    // A disk count that cannot be a part number is as wrong as a mismatch.
    if (locator.Disks == 0 || locator.Disks > uint32_t(INT32_MAX))
      return fail(ZM_ERROR(zmmZMEOC, zmsErrorReadingEndOfCentral));
    FTotalDisks = int32_t(locator.Disks);
    FDiskNr = FTotalDisks - 1;
    if (uint32_t(FDiskNr) != locator.RecordDisk) return fail(ZM_ERROR(zmmZMEOC, zmsErrorReadingEndOfCentral));
    if (locator.RecordOffset > uint64_t(INT64_MAX)) return fail(ZM_ERROR(zmmZMEOC, zmsSeekErrorInInputFile));
    zm::TZip64EndRecord rec;
    const zm::TZip64Find got = zm::FindZip64EndRecord(bytes, uint64_t(FEOCOffset), locator.RecordOffset, rec);
    if (got == zm::TZip64Find::Unreadable) return fail(bytes.FailCode());
    if (got == zm::TZip64Find::Found) {
      if ((rec.Needed & 0xFF) > 45 || rec.RestSize < 44)
        return fail(ZM_ERROR(zmmZMEOC, zmsUnsupportedZipVersion));
      FEOCOffset = int64_t(rec.Position);
      const zm::TDirectoryFields f = zm::DirectoryFields(FEnd, &rec);
      // Counts and sizes that do not fit the reader's fields are not believed.
      if (FEnd.CentralDisk == 0xFFFF) {
        // A directory that starts after the last disk is in no part there is.
        if (f.CentralDisk >= uint32_t(FTotalDisks))
          return fail(ZM_ERROR(zmmZMEOC, zmsErrorReadingEndOfCentral));
        FCentralDisk = int32_t(f.CentralDisk);
      }
      if (FEnd.Entries == 0xFFFF) {
        if ((f.Entries & 0xFFFFFFFFu) > uint64_t(INT32_MAX))
          return fail(ZM_ERROR(zmmZMEOC, zmsErrorReadingEndOfCentral));
        FTotalEntries = int32_t(f.Entries & 0xFFFFFFFFu);
      }
      if (FEnd.EntriesHere == 0xFFFF) {
        if ((f.EntriesHere & 0xFFFFFFFFu) > uint64_t(INT32_MAX))
          return fail(ZM_ERROR(zmmZMEOC, zmsErrorReadingEndOfCentral));
        FCentralEntries = int32_t(f.EntriesHere & 0xFFFFFFFFu);
      }
      if (f.CentralSize > uint64_t(INT64_MAX) || f.CentralOffset > uint64_t(INT64_MAX))
        return fail(ZM_ERROR(zmmZMEOC, zmsErrorReadingEndOfCentral));
      FCentralSize = int64_t(f.CentralSize);
      FCentralOffset = int64_t(f.CentralOffset);
      FZ64 = FZ64 || f.FromZip64;
    }
  }
  // Wrapping arithmetic: hostile sizes must not overflow.
  FArchiveStart = int64_t(uint64_t(FEOCOffset) - uint64_t(FCentralSize) - uint64_t(FCentralOffset));
  if (FArchiveStart != 0) flags |= kEOCDataBefore;
  return flags;
}

int32_t TZMEOC::OpenEOCInner(bool eocOnly) {
  int32_t r = LocateEOC();
  if (r >= 0 && (r & kEOCNeedsZip64) && !eocOnly) r = ReadZip64EOC(r);
  return r;
}

int32_t TZMEOC::OpenEOC(bool eocOnly) {
  int32_t r;
  try {
    r = OpenEOCInner(eocOnly);
  } catch (const EZMException& e) {
    File_Close();
    return -e.MsgId;
  } catch (...) {
    File_Close();
    throw;
  }
  if (r < 0) {
    File_Close();
    return r;
  }
  return r & (kEOCCommentMismatch | kEOCDataBefore);
}

int32_t TZMEOC::OpenTrailer(bool eocOnly) {
  FArchiveName = FFileName;
  int32_t r = OpenEOC(eocOnly);
  if (ZMMsgOf(r) == zmsZipFileCouldNotBeOpened && r < 0 && FDrive->DriveIsFixed()) return r;
  int kind = 0;
  std::string nameCopy = FFileName;
  if (r >= 0 && FFileKind == kFileKindExe) {
    FStub.reset();
    FStubValid = false;
    int64_t dataOffset = 0;
    kind = ProbeStub(FHandle, nameCopy, dataOffset);
    if (kind >= 17) {
      if (Seek(plat::soBeginning, 0) != 0) return r;
      // The stub is what lies in front of the archive, never more than the file.
      if (dataOffset > 0 && dataOffset <= FArchiveSize && dataOffset <= INT32_MAX) {
        try {
          auto stub = std::make_unique<TMemoryStream>();
          const int32_t got = ReadTo(*stub, int32_t(dataOffset));
          if (got == int32_t(dataOffset)) {
            FStub = std::move(stub);
            FStubValid = true;
          }
        } catch (...) {
          FStub.reset();
          FStubValid = false;
        }
      }
    }
  }
  if (!SpanOptions().Contains(spExactName)) {
    if (r >= 0 && kind >= 2048) {
      File_Close();
      const std::string folder = FolderOf(FArchiveName);
      SetFileName(folder + NameOnly(nameCopy));
      r = ZM_ERROR(zmmZMEOC, zmsInputFileDoesNotExist);
    }
    if (r < 0) r = OpenMultiPart(eocOnly, r);
  }
  return r;
}

TZMEOC::TPartStep TZMEOC::FindRemovableFirstPart(const TPartSearch& s) {
  std::string part = FindFirstPart(s.Base, false);
  if (part.empty()) part = FindFirstPart(s.Base, true);
  if (part.empty()) return {ZM_ERROR(zmmZMEOC, zmsInputFileDoesNotExist), true};
  SetFileName(s.Folder + part);
  return {ZM_ERROR(zmmZMEOC, zmsZipFileCouldNotBeOpened), false};
}

TZMEOC::TPartStep TZMEOC::OpenNumberedParts(bool eocOnly, TPartSearch& s) {
  if (Upper(ExtOf(FFileName)) != ".ZIP") return {ZM_ERROR(zmmZMEOC, zmsInputFileDoesNotExist), true};
  int32_t reference = -1;
  for (int k = 1; k <= 1000; ++k) {
    if (Poll() || CancelCode() != 0) return {ZM_ERROR(zmmZMEOC, zmsZipFileCouldNotBeOpened), true};
    const std::string name = s.Base + ThreeDigits(k) + ".zip";
    const int32_t stamp = FileStamp(name);
    if (k == 1) reference = stamp;
    if (stamp == -1 || (!SpanOptions().Contains(spAnyTime) && stamp != reference))
      return {ZM_ERROR(zmmZMEOC, zmsInputFileDoesNotExist), true};
    s.PartIndex = k - 1;
    SetFileName(name);
    const int32_t r = OpenEOC(eocOnly);
    if (r < 0) continue;
    if (FTotalDisks != k) {
      File_Close();
      return {ZM_ERROR(zmmZMEOC, zmsZipFileCouldNotBeOpened), true};
    }
    FNumbering = kNumberingNumbered;
    if (FileIsPresent(WithoutExt(FFileName) + ".z01")) {
      // Parts of both schemes: which set is meant cannot be told.
      File_Close();
      return {r, true};
    }
    return {r, false};
  }
  return {ZM_ERROR(zmmZMEOC, zmsInputFileDoesNotExist), true};
}

int32_t TZMEOC::OpenAskingForDisks(bool eocOnly, TPartSearch& s) {
  while (!FIsOpen) {
    int32_t r = OpenEOC(eocOnly);
    if (r >= 0) return r;
    if (s.Fixed) {
      if (!s.Searching && ZMMsgOf(r) != zmsZipFileCouldNotBeOpened)
        r = ZM_ERROR(zmmZMEOC, zmsNotValidZipArchive);
      return r;
    }
    FNewDisk = true;
    FDiskNr = -1;
    AskDisk(false, false);
    if (!s.Searching) continue;
    s.Scheme = kNumberingNumbered;
    std::string part = FindFirstPart(s.Base, false);
    if (part.empty()) {
      part = FindFirstPart(s.Base, true);
      s.Scheme = kNumberingCompatible;
    }
    if (part.empty()) {
      s.Searching = false;
      return ZM_ERROR(zmmZMEOC, zmsInputFileDoesNotExist);
    }
    SetFileName(s.Folder + part);
  }
  return ZM_ERROR(zmmZMEOC, zmsZipFileCouldNotBeOpened);
}

int32_t TZMEOC::CheckFoundSet(int32_t result, const TPartSearch& s) {
  if (!s.Searching || result < 0) return result;
  if (FFileKind != kFileKindSpanned && FTotalDisks == 1 && s.PartIndex >= 0)
    return ZM_ERROR(zmmZMEOC, zmsZipFileCouldNotBeOpened);
  if (s.Fixed && FTotalDisks != s.PartIndex + 1) {
    File_Close();
    return ZM_ERROR(zmmZMEOC, zmsNotValidZipArchive);
  }
  return result;
}

int32_t TZMEOC::OpenMultiPart(bool eocOnly, int32_t previousError) {
  TPartSearch s;
  s.Searching = ZMMsgOf(previousError) == zmsInputFileDoesNotExist;
  int32_t result = ZM_ERROR(zmmZMEOC, zmsZipFileCouldNotBeOpened);
  FNumbering = kNumberingUnknown;
  try {
    FDrive->SetDriveIfChanged(FFileName);
    FDrive->HasMedia(false);
    s.Fixed = FDrive->DriveIsFixed();
    s.Base = WithoutExt(FFileName);
    s.Folder = FolderOf(FFileName);
    TPartStep step{result, false};
    if (s.Searching) step = s.Fixed ? OpenNumberedParts(eocOnly, s) : FindRemovableFirstPart(s);
    result = step.Result;
    if (!step.Final) {
      if (!FIsOpen) result = OpenAskingForDisks(eocOnly, s);
      result = CheckFoundSet(result, s);
    }
  } catch (const EZMException& e) {
    result = -ZMAbsCode(int32_t(e.FullCode));
    if (result == 0) result = ZM_ERROR(zmmZMEOC, zmsZipFileCouldNotBeOpened);
  }
  if (result < 0) {
    File_Close();
    SetFileName(std::string());
  } else if (FNumbering != kNumberingLabels && s.Scheme != 0) {
    FNumbering = uint8_t(s.Scheme);
  }
  return result;
}

void TZMEOC::DetectNumbering() {
  if (FNumbering != kNumberingUnknown || FTotalDisks <= 1) return;
  if (!FDrive->DriveIsFixed() && Upper(FDrive->VolumeLabel()) == VolumeLabel(FDiskNr)) {
    FNumbering = kNumberingLabels;
    return;
  }
  FNumbering = kNumberingCompatible;
  const std::string bare = NameOnly(WithoutExt(FFileName));
  if (bare.size() <= 3 || !FDrive->DriveIsFixed() || FDiskNr + 1 > 999) return;
  const std::string digits = bare.substr(bare.size() - 3);
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return;
  if (std::stoi(digits) != FDiskNr + 1) return;
  if (IsSpannedFirstPart(NumberedName(FFileName, 1, true))) FNumbering = kNumberingNumbered;
}

int32_t TZMEOC::WriteEOC() {
  const int clen = int(FZipComment.size());
  if (clen > 0xFFFF) {
    EZipMate e = EZipMate::CreateCode(ZM_CODE(zmmZMEOC, zmsErrorWritingEndOfCentral));
    e.SetMessage("ZMEOC ZipComment length error");
    throw e;
  }
  FTotalDisks = FDiskNr + 1;
  std::vector<uint8_t> buf(size_t(kZip64LocatorSize + kEndOfCentralSize + clen));
  uint8_t* loc = buf.data();
  uint8_t* eoc = loc + kZip64LocatorSize;
  PutLE32(loc, zm::layout::TZip64Locator::Signature);
  bool need64 = false;
  const auto f16 = [&need64](int64_t v) -> uint16_t {
    if (v < 0 || v >= 0xFFFF) {
      need64 = true;
      return 0xFFFF;
    }
    return uint16_t(v);
  };
  const auto f32 = [&need64](int64_t v) -> uint32_t {
    if (v < 0 || v >= 0xFFFFFFFFLL) {
      need64 = true;
      return 0xFFFFFFFFu;
    }
    return uint32_t(v);
  };
  PutLE32(eoc, zm::layout::TEndOfCentral::Signature);
  PutLE16(eoc + 4, f16(FTotalDisks - 1));
  PutLE16(eoc + 6, f16(FCentralDisk));
  PutLE16(eoc + 8, f16(FCentralEntries));
  PutLE16(eoc + 10, f16(FTotalEntries));
  PutLE32(eoc + 12, f32(FCentralSize));
  PutLE32(eoc + 16, f32(FCentralOffset));
  PutLE16(eoc + 20, uint16_t(clen));
  if (clen) std::copy(FZipComment.begin(), FZipComment.end(), eoc + kEndOfCentralSize);
  const int32_t eocLen = kEndOfCentralSize + clen;

  if (!need64) {
    int32_t r = Write(eoc, -(eocLen | kUnbrokenMoveFlag));
    if (r == kMovedToNextVolume) {
      FTotalDisks = FDiskNr + 1;
      if (FDiskNr < 0xFFFF) {
        PutLE16(eoc + 4, uint16_t(FDiskNr));
        r = Write(eoc, -(eocLen | kUnbrokenMoveFlag));
      } else {
        need64 = true;
      }
    }
    if (!need64) {
      if (r != eocLen) return ZM_ERROR(zmmZMEOC, zmsErrorWritingEndOfCentral);
      return r;
    }
  }

  FZ64 = true;
  uint8_t rec[kZip64EndOfCentralSize] = {};
  PutLE32(rec, zm::layout::TZip64EndOfCentral::Signature);
  PutLE64(rec + 4, 44);
  PutLE16(rec + 12, 45);
  PutLE16(rec + 14, 45);
  PutLE32(rec + 16, uint32_t(FDiskNr));
  PutLE32(rec + 20, uint32_t(FCentralDisk));
  PutLE64(rec + 24, uint64_t(int64_t(FCentralEntries)));
  PutLE64(rec + 32, uint64_t(int64_t(FTotalEntries)));
  PutLE64(rec + 40, uint64_t(FCentralSize));
  PutLE64(rec + 48, uint64_t(FCentralOffset));
  PutLE32(loc + 4, uint32_t(FDiskNr));
  PutLE64(loc + 8, uint64_t(std::max<int64_t>(Position(), 0)));
  int32_t r = Write(rec, -(kZip64EndOfCentralSize | kUnbrokenMoveFlag));
  if (r == kMovedToNextVolume) {
    // The record starts the next volume.
    PutLE32(rec + 16, uint32_t(FDiskNr));
    PutLE32(loc + 4, uint32_t(FDiskNr));
    PutLE64(loc + 8, 0);
    r = Write(rec, -(kZip64EndOfCentralSize | kUnbrokenMoveFlag));
  }
  if (r != kZip64EndOfCentralSize) return ZM_ERROR(zmmZMEOC, zmsErrorWritingEndOfCentral);
  const auto setTail = [&] {
    FTotalDisks = FDiskNr + 1;
    PutLE32(loc + 16, uint32_t(FDiskNr + 1));
    PutLE16(eoc + 4, FDiskNr >= 0xFFFF ? uint16_t(0xFFFF) : uint16_t(FDiskNr));
  };
  setTail();
  const int32_t tailLen = kZip64LocatorSize + eocLen;
  r = Write(loc, -(tailLen | kUnbrokenMoveFlag));
  if (r == kMovedToNextVolume) {
    setTail();
    r = Write(loc, -(tailLen | kUnbrokenMoveFlag));
  }
  if (r != tailLen) return ZM_ERROR(zmmZMEOC, zmsErrorWritingEndOfCentral);
  return eocLen;
}
