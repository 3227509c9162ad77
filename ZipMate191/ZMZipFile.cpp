#include "ZMZipFile.h"

#include "ZMClasses.h"
#include "ZMMsgStr.h"
#include "ZMXcpt.h"

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
    return ZM_ERROR(zmmZMZipFile, 196);
  }
  return r;
}

void TZMZipFile::ClearEntries() {
  FHashList->Clear();
  TZMCentral::ClearEntries();
}

void TZMZipFile::SetCapacity(int n) {
  TZMCentral::SetCapacity(n);
  if (!FUseHash) return;
  // A table that already holds entries is refilled at its new size.
  if (FCount > 0 && FHashList->BucketCount() > 0) {
    if (TZMDirHashList::SizeFor(n) != FHashList->BucketCount()) {
      FHashList->SetSizeFor(n);
      for (int i = 0; i < FCount; ++i) FHashList->Add(i, false);
    }
  } else {
    FHashList->SetSizeFor(n);
  }
}

int TZMZipFile::Add(TZMZRec* rec) {
  const int index = TZMCentral::Add(rec);
  if (FHashList->BucketCount() > 0) FHashList->Add(index, false);
  return index;
}

void TZMZipFile::ClearCachedNames() {
  FHashList->Clear();
  TZMCentral::ClearCachedNames();
}

TZMZRec* TZMZipFile::FindName(const std::string& pattern, int& index, bool hasWildcards) {
  if (pattern.empty()) {
    index = kNotFoundIndex;
    return nullptr;
  }
  if (hasWildcards || index >= 0 || FHashList->BucketCount() == 0)
    return TZMCentral::FindName(pattern, index, hasWildcards);
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
  if (FHashList->BucketCount() == 0) return TZMCentral::CheckDuplicate(rec);
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

void TZMZipFile::EntryRenamed(TZMZRec*) { FHashList->Clear(); }

int32_t TZMZipFile::RebuildHash(int32_t mask, bool addAll) {
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
        if (r & 1) ShowMessageIdSuffix(ZM_CODE(zmmZMZipFile, 151), "");
        if (r & 2) ShowMessageIdSuffix(ZM_CODE(zmmZMZipFile, 20), "");
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
  if (!IsOpen() && !File_Open(kReadShareDenyWrite)) return ZM_CODE(zmmZMZipFile, 164);
  plat::TFileTime now = 0;
  if (!LastWriteTime(now)) return ZM_CODE(zmmZMZipFile, 164);
  const int32_t r = now != FLastWriteTime ? ZM_ERROR(zmmZMZipFile, 162) : 0;
  FLastWriteTime = now;
  return r;
}
