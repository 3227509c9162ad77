#include "ZMCenDir.h"

#include <algorithm>

#include "ZMLister.h"
#include "ZMZipFile.h"
#include "ZipMate.h"

// ---- TZMCentralEntry ----

TZMZRec* TZMCentralEntry::Record() const {
  return FDir && FDir->Dir ? FDir->Dir->Record(FSerial, FIndex) : nullptr;
}

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

TZMCenDir::TZMCenDir(TZMLister& lister)
    : FLink(std::make_shared<TZMCenDirLink>(TZMCenDirLink{this})), FLister(&lister) {}

TZMCenDir::~TZMCenDir() {
  // Entries still held elsewhere read as stale from here on.
  FLink->Dir = nullptr;
  if (FReader) FReader->SetOnChange(nullptr);
}

int32_t TZMCenDir::ReaderSerial() const { return FReader ? FReader->Generation() : 0; }

TZMZipFile& TZMCenDir::Reader() {
  if (!FReader || (FReader->Info() & kInfoReplaceReader))
    SetReader(std::make_unique<TZMZipFile>(FLister->Master()));
  return *FReader;
}

void TZMCenDir::Invalidate() {
  FSerial = FLister->Master().NextSerial();
  FIndices.clear();
  FCount = 0;
}

void TZMCenDir::DropEntries() {
  FIndices.clear();
  FIndices.shrink_to_fit();
  FCount = 0;
  FSkipped = 0;
}

bool TZMCenDir::AddRecord(int32_t i) {
  if (!FReader || i < 0 || i >= FReader->Count()) return false;
  const TZMZRec* rec = FReader->EntryAt(FReader->Generation(), i);
  if (!rec) return false;
  if (!FUseDirOnly && (rec->StatusBits() & zsbDirOnly)) {
    ++FSkipped;
    return false;
  }
  if (!FIndices.empty() || i != FCount) {
    if (FIndices.empty()) {
      // The first record that breaks the reader's order: the positions are kept from
      // now on.
      FIndices.reserve(size_t(std::max(FReader->Count(), FCount + 1)));
      for (int32_t k = 0; k < FCount; ++k) FIndices.push_back(k);
    }
    FIndices.push_back(i);
  }
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
    for (int32_t i = 0; i < n; ++i)
      if (AddRecord(i)) FLister->RaiseNewName(FCount - 1);
  }
  FLister->RaiseDirUpdate();
}

void TZMCenDir::ReaderChanged(int value, int kind) {
  switch (kind) {
    case 1: DropEntries(); break;
    case 2:
      // Records are about to come: the view needs no room for them in advance.
      Invalidate();
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
  Invalidate();
  const int32_t n = FReader ? FReader->Count() : 0;
  if (FUseDirOnly) {
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
  if (i < 0 || i >= FCount) return nullptr;
  return std::make_shared<TZMCentralEntry>(FLink, ReaderSerial(), RecordIndex(i));
}
