#include "ZMZipFile.h"

#include <algorithm>
#include <cassert>

#include "ZMClasses.h"
#include "ZMEndian.h"
#include "ZMMsg.h"
#include "ZMMatch.h"
#include "ZMMsgStr.h"
#include "ZMXcpt.h"
#include "ZMRecords.h"

TZMZipFile::TZMZipFile(TCustomZipMate& master, TZMWorkBin* owner)
    : TZMCentral(master, owner), FHashList(std::make_unique<TZMDirHashList>(this)) {}

TZMZipFile::~TZMZipFile() {
  FHashList->Clear();
  ClearEntries();
}

void TZMZipFile::AssignFrom(const TZMWorkFile& other) {
  TZMCentral::AssignFrom(other);
  const auto* src = dynamic_cast<const TZMZipFile*>(&other);
  if (!src || src == this) return;
  FLastWriteTime = src->FLastWriteTime;
  FOpenResult = src->FOpenResult;
  FUseHash = src->FUseHash;
  FStub.reset();
  FStubValid = false;
  if (src->FStub) {
    auto copy = std::make_unique<TMemoryStream>();
    const int64_t size = src->FStub->Size();
    const int64_t copied = copy->CopyFrom(*src->FStub, 0);
    FStubValid = src->FStubValid && copied == size;
    FStub = std::move(copy);
  }
  if (FUseHash) RebuildHash(0, true);
}

int32_t TZMZipFile::File_Reopen(uint32_t mode) {
  const int32_t r = TZMCentral::File_Reopen(mode);
  if (r == 0 && (FInfo & kInfoLoaded) && FileChanged((mode & 3) != 0)) {
    TraceLine("File has changed! " + FRealFileName);
    return ZM_ERROR(zmmZMZipFile, zmsZipFileWasChanged);
  }
  return r;
}

void TZMZipFile::ClearEntries() {
  FHashList->Clear();
  FHashPending = false;
  TZMCentral::ClearEntries();
}

void TZMZipFile::SetCapacity(int n) {
  TZMCentral::SetCapacity(n);
  if (!FUseHash) return;
  // A table that already holds entries keeps them at its new size; otherwise the
  // records to come are entered when a lookup first needs them.
  if (FCount > 0 && FHashList->SlotCount() > 0) {
    FHashList->ResizeFor(n);
  } else {
    FHashList->Clear();
    FHashPending = true;
  }
}

int TZMZipFile::Add(TZMZRec* rec) {
  const int index = TZMCentral::Add(rec);
  if (!FHashPending && FHashList->SlotCount() > 0) FHashList->Add(index, false);
  return index;
}

void TZMZipFile::EnsureHash() {
  if (FHashPending) RebuildHash(-1, false);
}

void TZMZipFile::ClearCachedNames() {
  FHashList->Clear();
  FHashPending = false;
  TZMCentral::ClearCachedNames();
}

TZMZRec* TZMZipFile::FindName(const std::string& pattern, int& index, bool hasWildcards) {
  if (pattern.empty()) {
    index = kNotFoundIndex;
    return nullptr;
  }
  if (hasWildcards || index >= 0) return TZMCentral::FindName(pattern, index, hasWildcards);
  EnsureHash();
  if (FHashList->SlotCount() == 0) return TZMCentral::FindName(pattern, index, hasWildcards);
  const int i = FHashList->Find(pattern, true);
  if (i < 0) {
    index = kNotFoundIndex;
    return nullptr;
  }
  index = i;
  return FEntries[size_t(i)].get();
}

int TZMZipFile::CheckDuplicate(TZMZRec* rec) {
  if (!rec) return -1;
  EnsureHash();
  if (FHashList->SlotCount() == 0) return TZMCentral::CheckDuplicate(rec);
  const std::string name = rec->FileName();
  const int i = FHashList->Find(name, false);
  if (i < 0 || FEntries[size_t(i)].get() == rec) {
    // The table holds the first of equal names; look past rec itself.
    if (i >= 0) {
      const uint32_t prev = rec->SetStatusBit(zsbIgnore);
      int index = -1;
      TZMZRec* hit = TZMCentral::FindName(name, index, false);
      while (hit && (hit->StatusBits() & zsbError)) hit = TZMCentral::FindName(name, index, false);
      if (!prev) rec->ClearStatusBit(zsbIgnore);
      if (!hit) return -1;
      if (Verbosity() > 1) EmitMessage(0, "Duplicate FileName: " + name);
      return index;
    }
    return -1;
  }
  if (Verbosity() > 1) EmitMessage(0, "Duplicate FileName: " + name);
  return i;
}

int TZMZipFile::Truncate(int n) {
  const int removed = TZMCentral::Truncate(n);
  if (FUseHash) RebuildHash(0, false);
  return removed;
}

void TZMZipFile::EntryRenamed(TZMZRec*) {
  FHashList->Clear();
  FHashPending = false;
}

int32_t TZMZipFile::RebuildHash(int32_t mask, bool addAll) {
  FHashPending = false;
  if (!FUseHash) return 0;
  FHashList->Clear();
  FHashList->SetSizeFor(FCount);
  int32_t dups = 0;
  for (int i = 0; i < FCount; ++i) {
    const TZMZRec* rec = FEntries[size_t(i)].get();
    if (!rec) continue;
    if (mask != -1) {
      if (rec->StatusBits() & (zsbSkipped | zsbIgnore | zsbInvalid)) continue;
      if (mask != 0 && !(rec->StatusBits() & uint32_t(mask))) continue;
    }
    if (FHashList->Add(i, addAll)) ++dups;
  }
  return dups;
}

void TZMZipFile::SetUseHash(bool on) {
  FUseHash = on;
  FHashPending = false;
  if (on)
    RebuildHash(-1, false);
  else
    FHashList->Clear();
}

int32_t TZMZipFile::OpenZip(bool eocOnly, bool noLoad) {
  ClearFileInfo();
  FInfo = (FInfo & 7u) | kInfoOpened;
  int32_t r;
  bool floppyEmpty = false;
  if (!Drive().DriveIsFixed()) {
    try {
      floppyEmpty = !Drive().HasMedia(false);
    } catch (const EZMException&) {
      floppyEmpty = true;
    }
  }
  if (floppyEmpty) {
    r = -123;
  } else {
    r = OpenTrailer(eocOnly);
    if (r >= 0) {
      LastWriteTime(FLastWriteTime);
      DetectNumbering();
      if (!eocOnly && !noLoad) {
        FInfo |= kInfoTrailerFound;
        if (r & 1) ShowMessageIdSuffix(ZM_CODE(zmmZMZipFile, zmsErrorWhileReadingFileComment), "");
        if (r & 2) ShowMessageIdSuffix(ZM_CODE(zmmZMZipFile, zmsWarningErrorInZipStructure), "");
        const int32_t lr = LoadCentral();
        if (lr != 0) {
          r = lr;
        } else {
          FInfo |= kInfoLoaded | kInfoNewSettings;
          CaptureFileInfo();
        }
      }
    }
  }
  FOpenResult = r;
  if (Verbosity() > 1) {
    if (r < 0)
      TraceLine("Open = " + LoadMessageText(ZMMsgOf(r)));
    else
      TraceLine("Open = " + std::to_string(r));
  }
  return r;
}

int32_t TZMZipFile::CheckUnchanged() {
  if (!IsOpen() && !File_Open(kReadShareDenyWrite)) return ZM_CODE(zmmZMZipFile, zmsZipFileCouldNotBeOpened);
  plat::TFileTime now = 0;
  if (!LastWriteTime(now)) return ZM_CODE(zmmZMZipFile, zmsZipFileCouldNotBeOpened);
  const int32_t r = now != FLastWriteTime ? ZM_ERROR(zmmZMZipFile, zmsFileChanged) : 0;
  FLastWriteTime = now;
  return r;
}

// ---------------------------------------------------------------- writing

int64_t TZMZipFile::ProcessEntry(TZMZRec* rec) {
  const int64_t size = rec->ProcessSize();
  if (size <= 0) return size;
  return rec->Process();
}

int64_t TZMZipFile::FinishWriting() {
  const bool trace = Verbosity() > 1;
  if (trace) ReportFormatted(zmsCopying, {LoadMessageText(3)});
  const int64_t central = WriteCentralDirectory();
  if (central < 0) return central;
  const int32_t finished = FinishVolumes();
  if (finished < 0) return finished;
  if (trace) TraceLine("  finished ok");
  return central + finished;
}

int32_t TZMZipFile::Commit(bool zipTime) {
  const bool trace = Verbosity() > 1;
  if (trace) TraceLine("Commit file");
  int32_t result = 0;
  try {
    result = BeforeCommit();
    if (result >= 0) {
      int32_t count = 0;
      int64_t total = 0;
      uint32_t newest = 0;
      for (int i = 0; i < FCount; ++i) {
        TZMZRec* rec = FEntries[size_t(i)].get();
        if (!rec || (rec->StatusBits() & (zsbDiscard | zsbError))) continue;
        ++count;
        total += rec->ProcessSize();
        if (zipTime && rec->DateTime() > newest) newest = rec->DateTime();
        ThrowIfCancelled();
      }
      const bool withStub = !FIsMultiDisk && FStub && FStubValid && FStub->Size() > 0;
      if (withStub) total += FStub->Size();
      ProgReport(4, zmsStageWritingZipFile, count + 1);
      ProgReport(5, 0, total);
      if (trace) {
        TraceLine(" to process " + std::to_string(count) + " entries");
        TraceLine(" size = " + std::to_string(total));
      }
      if (zipTime && newest != 0) FStampDate = newest;
      int64_t written = 0;
      if (FIsMultiDisk) {
        uint8_t marker[4];
        zm::PutLE32(marker, zm::kDataDescriptorSig);
        if (Write(marker, -4) != 4)
          throw EZipMate::CreateCode(ZM_CODE(zmmZMZipFile, zmsWriteErrorInOutputFile), true);
        written = 4;
        FFileKind = kFileKindSpanned;
      } else if (withStub) {
        const int64_t size = FStub->Size();
        ProgReport(1, zmsStageSfx, size);
        FStub->SetPosition(0);
        if (WriteFrom(*FStub, size) != size)
          throw EZipMate::CreateCode(ZM_CODE(zmmZMZipFile, zmsWriteErrorInOutputFile), true);
        ProgReport(2, zmsStageSfx, size);
        ProgReport(1, 0, -1);
        written = size;
        FFileKind = kFileKindExe;
      } else {
        FFileKind = kFileKindLocal;
      }
      for (int i = 0; i < FCount && result >= 0; ++i) {
        TZMZRec* rec = FEntries[size_t(i)].get();
        if (!rec || (rec->StatusBits() & (zsbDiscard | zsbError))) continue;
        const int64_t r = ProcessEntry(rec);
        if (r < 0) {
          result = int32_t(r);
          break;
        }
        written += r;
        if (FReportMode == 1) SetWrittenBytes(written);
      }
      if (result >= 0) {
        const int64_t f = FinishWriting();
        if (f < 0) {
          result = int32_t(f);
        } else {
          result = count;
          FArchiveSize = f + written;
        }
      }
    }
  } catch (const EZMException& e) {
    result = -(e.FullCode ? e.FullCode : e.MsgId);
    if (result == 0) result = ZM_ERROR(zmmZMZipFile, zmsUnknownError);
  }
  ProgReport(3, zmsTemporaryZipFile, 0);
  return result;
}

// ---------------------------------------------------------------- TZMCopyRec

void TZMCopyRec::AssignFrom(const TZMIRec& source) {
  TZMZRec::AssignFrom(source);
  if (const auto* c = dynamic_cast<const TZMCopyRec*>(&source)) FLink = c->FLink;
}

int64_t TZMCopyRec::ProcessSize() {
  if (!(StatusBits() & zsbLocalDone)) BuildLocalExtra();
  int64_t size = LocalHeaderSize() + CompressedSize();
  if (Flag() & 8) size += (VersionNeeded() & 0xFF) >= 45 ? 24 : 16;
  return size;
}

int64_t TZMCopyRec::Process() {
  TZMCentral* target = Owner();
  assert(target && "no WorkFile");
  if (!target) return ZM_ERROR(zmmZMZipFile, zmsUnknownError);
  if (!FLink || !FLink->Owner()) return ZM_ERROR(zmmZMZipFile, zmsErrorCopyingCompressedData);
  const std::string name = FileName();
  if (target->Verbosity() != 0) target->ReportFormatted(zmsCopying, {name});
  if (target->Verbosity() > 1) target->TraceLine("Copying local");
  int32_t r = FLink->CheckLocal();
  if (r < 0) return r;
  r = WriteLocal(DateTime(), CRC32());
  if (r < 0) return r;
  const int64_t header = LocalHeaderSize();
  // The header was written unbroken: it ends where the target now stands, on the part
  // now current (also after a move to a new volume).
  SetRelOffLocal(target->Position() - header);
  SetStartOnDisk(uint16_t(std::min(target->DiskNr(), 0xFFFF)));
  target->ProgReport(2, zmsStageCopying, header);
  target->ProgReport(1, zmsStageCopying, CompressedSize());
  const int64_t copied = target->CopyFrom(*FLink->Owner(), CompressedSize());
  if (copied < 0) return copied;
  if (copied != CompressedSize()) return ZM_ERROR(zmmZMZipFile, zmsErrorCopyingCompressedData);
  int64_t desc = 0;
  if (Flag() & 8) {
    desc = WriteDataDesc();
    if (desc < 0) return desc;
    target->ProgReport(2, zmsStageCopying, desc);
  }
  target->ProgReport(1, 0, -1, name);
  return header + copied + desc;
}

// ---------------------------------------------------------------- TZMZipCopy

TZMZipCopy::TZMZipCopy(TCustomZipMate& master, TZMWorkBin* owner) : TZMZipFile(master, owner) {
  SetUseHash(false);
}

TZMZRec* TZMZipCopy::NewRecFrom(const TZMZRec& rec) {
  auto r = std::make_unique<TZMCopyRec>(this);
  r->AssignFrom(rec);
  return r.release();
}

void TZMZipCopy::ClearEntries() {
  FByHash.clear();
  TZMZipFile::ClearEntries();
}

int TZMZipCopy::Add(TZMZRec* rec) {
  const uint32_t hash = rec ? rec->Hash() : 0;
  const int index = TZMZipFile::Add(rec);
  FByHash.emplace(hash, index);
  return index;
}

int TZMZipCopy::Truncate(int n) {
  const int removed = TZMZipFile::Truncate(n);
  for (auto it = FByHash.begin(); it != FByHash.end();)
    it = it->second >= FCount ? FByHash.erase(it) : std::next(it);
  return removed;
}

int TZMZipCopy::CheckDuplicate(TZMZRec* rec) {
  if (!rec) return -1;
  const std::string name = rec->FileName();
  int found = -1;
  const auto range = FByHash.equal_range(rec->Hash());
  for (auto it = range.first; it != range.second; ++it) {
    const TZMZRec* other = FEntries[size_t(it->second)].get();
    if (!other || other == rec || (other->StatusBits() & (zsbError | zsbIgnore))) continue;
    if (FileNameMatch(name, other->FileName()) && (found < 0 || it->second < found)) found = it->second;
  }
  if (found >= 0) TraceLine("Duplicate FileName: " + name);
  return found;
}

int32_t TZMZipCopy::AddCopy(TZMZRec* source) {
  if (!source) return ZM_ERROR(zmmZMZipFile, zmsUnknownError);
  std::unique_ptr<TZMCopyRec> rec(static_cast<TZMCopyRec*>(NewRecFrom(*source)));
  rec->SetLink(source);
  if (CheckDuplicate(rec.get()) >= 0) return ZM_ERROR(zmmZMZipFile, zmsDuplicateFilename);
  return Add(rec.release());
}

int32_t TZMZipCopy::CopyEntries(TZMZipFile& source, bool all) {
  SetCapacity(FCount + (all ? source.Count() : source.SelCount()));
  const bool trace = Verbosity() > 1;
  int32_t added = 0;
  int32_t failure = 0;
  for (int i = 0; i < source.Count(); ++i) {
    TZMZRec* rec = source.Items(i);
    if (!rec) continue;
    if (all || (rec->StatusBits() & zsbSelected)) {
      if (trace) TraceLine("including: " + rec->FileName());
      const int32_t r = AddCopy(rec);
      if (r < 0) {
        if (failure == 0) failure = r;
      } else {
        ++added;
      }
    } else if (trace) {
      TraceLine("ignoring: " + rec->FileName());
    }
  }
  // Any failure makes the whole copy fail; the first one is reported.
  return failure != 0 ? failure : added;
}

int64_t TZMZipCopy::WriteFile(TZMZipFile* source, bool all) {
  assert(source && "no input");
  if (!source) return ZM_ERROR(zmmZMZipFile, zmsUnknownError);
  TraceLine("Write file");
  int32_t r = source->CheckUnchanged();
  // A source that cannot even be examined cannot be copied either.
  if (r != 0) return r < 0 ? r : -r;
  SetZipComment(source->ZipComment());
  r = CopyEntries(*source, all);
  if (r < 0) return r;
  return Commit(WriteOptions().Contains(zwoZipTime));
}
