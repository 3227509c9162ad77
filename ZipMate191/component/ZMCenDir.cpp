#include "ZMCenDir.h"

#include <algorithm>

#include "ZMLister.h"
#include "ZMZipFile.h"
#include "ZipMate.h"

// ---- TZMCentralEntry ----

TZMZRec* TZMCentralEntry::Record() const { return FDir ? FDir->Record(FSerial, FIndex) : nullptr; }

namespace {
template <typename T, typename F>
T Forward(const TZMCentralEntry& e, F f, T stale = T()) {
  const TZMZRec* r = e.Record();
  return r ? f(*r) : stale;
}
}  // namespace

int64_t TZMCentralEntry::CompressedSize() const {
  return Forward<int64_t>(*this, [](const TZMZRec& r) { return r.CompressedSize(); });
}
uint16_t TZMCentralEntry::CompressionMethod() const {
  return Forward<uint16_t>(*this, [](const TZMZRec& r) { return r.CompressionMethod(); });
}
uint32_t TZMCentralEntry::CRC32() const {
  return Forward<uint32_t>(*this, [](const TZMZRec& r) { return r.CRC32(); });
}
uint32_t TZMCentralEntry::DateTime() const {
  return Forward<uint32_t>(*this, [](const TZMZRec& r) { return r.DateTime(); });
}
TZMEncodingOpts TZMCentralEntry::Encoded() const {
  return Forward<TZMEncodingOpts>(
      *this, [](const TZMZRec& r) { return r.Encoded(); }, zeoOEM);
}
bool TZMCentralEntry::Encrypted() const {
  return Forward<bool>(*this, [](const TZMZRec& r) { return r.Encrypted(); });
}
uint32_t TZMCentralEntry::ExtFileAttrib() const {
  return Forward<uint32_t>(*this, [](const TZMZRec& r) { return r.ExtFileAttrib(); });
}
std::string TZMCentralEntry::ExtraField() const {
  return Forward<std::string>(*this, [](const TZMZRec& r) { return r.ExtraField(); });
}
uint16_t TZMCentralEntry::ExtraFieldLength() const {
  return Forward<uint16_t>(*this, [](const TZMZRec& r) { return r.ExtraFieldLength(); });
}
std::string TZMCentralEntry::FileComment() const {
  return Forward<std::string>(*this, [](const TZMZRec& r) { return r.FileComment(); });
}
uint16_t TZMCentralEntry::FileCommentLen() const {
  return Forward<uint16_t>(*this, [](const TZMZRec& r) { return r.FileCommentLen(); });
}
std::string TZMCentralEntry::FileName() const {
  return Forward<std::string>(*this, [](const TZMZRec& r) { return r.FileName(); });
}
uint16_t TZMCentralEntry::FileNameLength() const {
  return Forward<uint16_t>(*this, [](const TZMZRec& r) { return r.FileNameLength(); });
}
uint16_t TZMCentralEntry::Flag() const {
  return Forward<uint16_t>(*this, [](const TZMZRec& r) { return r.Flag(); });
}
std::string TZMCentralEntry::HeaderName() const {
  return Forward<std::string>(*this, [](const TZMZRec& r) { return r.HeaderName(); });
}
uint16_t TZMCentralEntry::IntFileAttrib() const {
  return Forward<uint16_t>(*this, [](const TZMZRec& r) { return r.IntFileAttrib(); });
}
int64_t TZMCentralEntry::RelOffLocalHdr() const {
  return Forward<int64_t>(*this, [](const TZMZRec& r) { return r.RelOffLocalHdr(); });
}
uint16_t TZMCentralEntry::StartOnDisk() const {
  return Forward<uint16_t>(*this, [](const TZMZRec& r) { return r.StartOnDisk(); });
}
uint32_t TZMCentralEntry::StatusBits() const {
  return Forward<uint32_t>(*this, [](const TZMZRec& r) { return r.StatusBits(); });
}
int64_t TZMCentralEntry::UncompressedSize() const {
  return Forward<int64_t>(*this, [](const TZMZRec& r) { return r.UncompressedSize(); });
}
uint16_t TZMCentralEntry::VersionMadeBy() const {
  return Forward<uint16_t>(*this, [](const TZMZRec& r) { return r.VersionMadeBy(); });
}
uint16_t TZMCentralEntry::VersionNeeded() const {
  return Forward<uint16_t>(*this, [](const TZMZRec& r) { return r.VersionNeeded(); });
}

// ---- TZMCenDir ----

TZMCenDir::TZMCenDir(TZMLister& lister) : FEntries(std::make_shared<TEntryStore>()), FLister(&lister) {}

TZMCenDir::~TZMCenDir() {
  // Entries still held elsewhere read as stale from here on.
  ReleaseEntries();
  if (FReader) FReader->SetOnChange(nullptr);
}

void TZMCenDir::ReleaseEntries() {
  // Only a store that someone else still holds needs its entries cut loose.
  if (FEntries.use_count() > 1)
    for (TZMCentralEntry& e : FEntries->Items) e.FDir = nullptr;
}

int32_t TZMCenDir::ReaderSerial() const { return FReader ? FReader->Generation() : 0; }

TZMZipFile& TZMCenDir::Reader() {
  if (!FReader || (FReader->Info() & kInfoReplaceReader))
    SetReader(std::make_unique<TZMZipFile>(FLister->Master()));
  return *FReader;
}

void TZMCenDir::Invalidate() {
  FSerial = FLister->Master().NextSerial();
  int32_t i = 0;
  for (TZMCentralEntry& e : FEntries->Items) {
    e.FIndex = i++;
    e.FSerial = FSerial;
  }
  FCount = 0;
}

void TZMCenDir::DropEntries() {
  if (FEntries.use_count() > 1) {
    ReleaseEntries();
    FEntries = std::make_shared<TEntryStore>();
  } else {
    FEntries->Items.clear();
    FEntries->Items.shrink_to_fit();
  }
  FCount = 0;
  FSkipped = 0;
}

void TZMCenDir::EnsureCapacity(int32_t n) {
  std::deque<TZMCentralEntry>& items = FEntries->Items;
  for (int32_t i = int32_t(items.size()); i < n; ++i) items.emplace_back(this, FSerial, i);
  Invalidate();
}

bool TZMCenDir::AddRecord(int32_t i) {
  if (!FReader || i < 0 || i >= FReader->Count()) return false;
  const TZMZRec* rec = FReader->EntryAt(FReader->Generation(), i);
  if (!rec) return false;
  if (!FUseDirOnly && (rec->StatusBits() & zsbDirOnly)) {
    ++FSkipped;
    return false;
  }
  // The reader may announce fewer records than it adds.
  std::deque<TZMCentralEntry>& items = FEntries->Items;
  if (FCount >= int32_t(items.size())) items.emplace_back(this, FSerial, FCount);
  TZMCentralEntry& e = items[size_t(FCount)];
  e.FIndex = i;
  e.FSerial = ReaderSerial();
  ++FCount;
  return true;
}

void TZMCenDir::SetReader(std::unique_ptr<TZMZipFile> r) {
  if (r.get() == FReader.get()) {
    (void)r.release();
    return;
  }
  Invalidate();
  FSkipped = 0;
  if (FReader) FReader->SetOnChange(nullptr);
  FReader = std::move(r);
  if (FReader) {
    FReader->SetOnChange([this](TObject*, int value, int kind) { ReaderChanged(value, kind); });
    FSerial = FReader->Generation();
    const int32_t n = FReader->Count();
    if (n > 0) {
      EnsureCapacity(n);
      for (int32_t i = 0; i < n; ++i)
        if (AddRecord(i)) FLister->RaiseNewName(FCount - 1);
    }
  }
  FLister->RaiseDirUpdate();
}

void TZMCenDir::ReaderChanged(int value, int kind) {
  switch (kind) {
    case 1: DropEntries(); break;
    case 2:
      // The announced count comes from the archive; never more slots than the reader
      // made room for.
      if (FReader) value = std::min(value, std::max(FReader->Capacity(), FReader->Count()));
      EnsureCapacity(value);
      break;
    case 3:
      if (AddRecord(value)) FLister->RaiseNewName(FCount - 1);
      break;
    case 6: FLister->RaiseDirUpdate(); break;
    default: break;
  }
}

std::string TZMCenDir::ArchiveComment() const { return FReader ? FReader->ZipComment() : std::string(); }

bool TZMCenDir::IsMultiPart() const { return FReader && FReader->MultiPart(); }

int32_t TZMCenDir::TotalDisks() const { return FReader ? FReader->TotalDisks() : 0; }

void TZMCenDir::SetUseDirOnly(bool value) {
  if (value == FUseDirOnly) return;
  FUseDirOnly = value;
  Rebuild();
}

void TZMCenDir::Rebuild() {
  FSkipped = 0;
  const int32_t n = FReader ? FReader->Count() : 0;
  EnsureCapacity(n);
  if (n == 0) return;
  if (FUseDirOnly) {
    const int32_t serial = ReaderSerial();
    for (int32_t i = 0; i < n; ++i) {
      FEntries->Items[size_t(i)].FIndex = i;
      FEntries->Items[size_t(i)].FSerial = serial;
    }
    FCount = n;
  } else {
    for (int32_t i = 0; i < n; ++i) AddRecord(i);
  }
}

TZMZRec* TZMCenDir::Record(int32_t serial, int32_t index) const {
  if (!FReader) return nullptr;
  return FReader->EntryAt(serial, index);
}

std::shared_ptr<TZMCentralEntry> TZMCenDir::Entry(int32_t i) const {
  if (i < 0 || i >= FCount || size_t(i) >= FEntries->Items.size()) return nullptr;
  // Shares the store's ownership, so the entry outlives the view if need be.
  return std::shared_ptr<TZMCentralEntry>(FEntries, &FEntries->Items[size_t(i)]);
}
