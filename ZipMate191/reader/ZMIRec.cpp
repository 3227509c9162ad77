#include "ZMIRec.h"

#include <cassert>
#include <cstring>

#include "PlatCodePage.h"
#include "PlatPath.h"
#include "ZMCentral.h"
#include "ZMCentralStore.h"
#include "ZMEndian.h"
#include "ZMMatch.h"
#include "ZMUTF8.h"
#include "ZMUtils.h"
#include "ZMXcpt.h"
#include "ZMRecords.h"
#include "ZMMsg.h"

namespace {

constexpr int kCentralFixed = 46;
constexpr int kLocalFixed = 30;
// Field sizes of the fixed central header and of the local header after its signature.
const int kCentralSizes[18] = {4, 1, 1, 2, 2, 2, 2, 2, 4, 4, 4, 2, 2, 2, 2, 2, 4, 4};
const int kLocalSizes[10] = {2, 2, 2, 2, 2, 4, 4, 4, 2, 2};
const std::vector<uint32_t> kUnicodeTags = {kUPathTag, kUCommentTag};
const std::vector<uint32_t> kLocalDropTags = {kZip64Tag, kNtfsTag, kUCommentTag};

bool Fits32(int64_t v) { return (uint64_t(v) >> 32) == 0 && uint32_t(v) != 0xFFFFFFFFu; }

bool IsSep(char c) { return c == '/' || c == '\\'; }

bool ValidDosDateTime(uint32_t v) {
  const unsigned sec2 = v & 0x1F, min = (v >> 5) & 0x3F, hour = (v >> 11) & 0x1F;
  const unsigned day = (v >> 16) & 0x1F, month = (v >> 21) & 0x0F, year = 1980 + ((v >> 25) & 0x7F);
  if (sec2 > 29 || min > 59 || hour > 23 || month < 1 || month > 12 || day < 1) return false;
  static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  unsigned dim = kDays[month - 1];
  if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) dim = 29;
  return day <= dim;
}

// The fields from "version needed" to the extra field's length, which the local
// header holds from its offset 4 and the central header from its offset 6.
struct TSharedFields {
  uint16_t Needed, Flags, Method;
  uint32_t DateTime, Crc, CompSize, UncompSize;
  uint16_t NameLen, ExtraLen;
};
using TLocal = zm::layout::TLocalHeader;
using TCentral = zm::layout::TCentralHeader;
static_assert(TLocal::ExtraLen - TLocal::Needed == TCentral::ExtraLen - TCentral::Needed);

// Writes the shared fields at p, where "version needed" goes.
void PutSharedFields(char* p, const TSharedFields& f) {
  const auto at = [p](size_t field) { return p + (field - TLocal::Needed); };
  zm::PutLE16(at(TLocal::Needed), f.Needed);
  zm::PutLE16(at(TLocal::Flags), f.Flags);
  zm::PutLE16(at(TLocal::Method), f.Method);
  zm::PutLE32(at(TLocal::Time), f.DateTime);
  zm::PutLE32(at(TLocal::Crc), f.Crc);
  zm::PutLE32(at(TLocal::CompSize), f.CompSize);
  zm::PutLE32(at(TLocal::UncompSize), f.UncompSize);
  zm::PutLE16(at(TLocal::NameLen), f.NameLen);
  zm::PutLE16(at(TLocal::ExtraLen), f.ExtraLen);
}

std::string UnicodeBlock(uint16_t tag, const std::string& stored, const std::string& utf8) {
  std::string b(9, '\0');
  zm::PutLE16(&b[0], tag);
  zm::PutLE16(&b[2], uint16_t(utf8.size() + 5));
  b[4] = 1;
  zm::PutLE32(&b[5], Crc32(stored.data(), stored.size()));
  return b + utf8;
}

}  // namespace

// ---------------------------------------------------------------- TZMRareTexts

const std::string& TZMRareTexts::EmptyText() {
  static const std::string kEmpty;
  return kEmpty;
}

const std::string& TZMRareTexts::Get(TKind k) const {
  for (const TNode* n = FFirst.get(); n; n = n->Next.get())
    if (n->Kind == k) return n->Text;
  return EmptyText();
}

void TZMRareTexts::Assign(TKind k, std::string v) {
  // Most records hold none of these texts, and most assignments clear one.
  if (!FFirst && v.empty()) return;
  std::unique_ptr<TNode>* at = &FFirst;
  while (*at && (*at)->Kind != k) at = &(*at)->Next;
  if (v.empty()) {
    if (*at) *at = std::move((*at)->Next);
  } else if (*at) {
    (*at)->Text = std::move(v);
  } else {
    *at = std::make_unique<TNode>(TNode{k, std::move(v), nullptr});
  }
}

// ---------------------------------------------------------------- TZMPackedBytes

std::string_view TZMPackedBytes::View() const {
  if (!FData) return {};
  uint32_t n;
  std::memcpy(&n, FData, kLengthBytes);
  return std::string_view(FData + kLengthBytes, n & ~kInBlock);
}

void TZMPackedBytes::Assign(std::string_view v, TZMRecordBlock* block) {
  // The new copy is made before the old one goes: v may lie in it.
  char* data = nullptr;
  uint32_t n = uint32_t(v.size());
  if (!v.empty()) {
    data = block ? block->TakeBytes(kLengthBytes + v.size()) : nullptr;
    if (data)
      n |= kInBlock;
    else
      data = new char[kLengthBytes + v.size()];
    std::memcpy(data, &n, kLengthBytes);
    std::memcpy(data + kLengthBytes, v.data(), v.size());
  }
  Free();
  FData = data;
}

void TZMPackedBytes::Free() {
  if (!FData) return;
  uint32_t n;
  std::memcpy(&n, FData, kLengthBytes);
  if (!(n & kInBlock)) delete[] FData;
  FData = nullptr;
}

// ---------------------------------------------------------------- TZMDirEntry

bool FindExtraBlock(const std::string& extra, uint16_t tag, size_t& pos, size_t& len) {
  return zm::FindExtraBlock(extra, tag, pos, len);
}

std::string TZMDirEntry::ExtraData(uint16_t tag) const {
  const std::string x = ExtraField();
  if (ExtraFieldLength() < 4) return {};
  size_t pos = 0, len = 0;
  if (!FindExtraBlock(x, tag, pos, len)) return {};
  return x.substr(pos, len);
}

// ---------------------------------------------------------------- TZMIRec

uint32_t TZMIRec::SetStatusBit(uint32_t bits) {
  const uint32_t prev = FStatusBits & bits;
  FStatusBits |= bits;
  return prev;
}

uint32_t TZMIRec::ClearStatusBit(uint32_t bits) {
  const uint32_t prev = FStatusBits & bits;
  FStatusBits &= ~bits;
  return prev;
}

uint32_t TZMIRec::TestStatusBit(uint32_t bits) const {
  uint32_t r = FStatusBits & bits;
  if (r & 0xFF) r = (r & ~0xFFu) | 1;
  return r;
}

void TZMIRec::AssignFrom(const TZMIRec& source) {
  // This class holds plain values only: its own copy takes them all.
  if (&source != this) TZMIRec::operator=(source);
}

// ---------------------------------------------------------------- TZMZRec

TZMZRec::TZMZRec(TZMCentral* owner) : FOwner(owner) {}

TZMZRec::~TZMZRec() {
  if (FNameOwned) delete[] FNameData;
}

static_assert(alignof(TZMZRec) <= TZMZRec::SlotSizeFor(0), "the header keeps records aligned");

void* TZMZRec::operator new(size_t size) {
  auto* raw = static_cast<uint8_t*>(::operator new(size + kHeader));
  *reinterpret_cast<TZMRecordBlock**>(raw) = nullptr;
  return raw + kHeader;
}

void* TZMZRec::operator new(size_t size, TZMRecordBlock* block) {
  auto* raw = static_cast<uint8_t*>(block ? block->Take(size + kHeader) : nullptr);
  if (!raw) return operator new(size);
  *reinterpret_cast<TZMRecordBlock**>(raw) = block;
  return raw + kHeader;
}

void TZMZRec::operator delete(void* p) {
  if (!p) return;
  uint8_t* raw = static_cast<uint8_t*>(p) - kHeader;
  TZMRecordBlock* block = *reinterpret_cast<TZMRecordBlock**>(raw);
  if (block)
    block->Give();
  else
    ::operator delete(raw);
}

void TZMZRec::operator delete(void* p, TZMRecordBlock*) { operator delete(p); }

TZMRecordBlock* TZMZRec::HomeBlock() const {
  // Records are cut from their directory's current block only while it loads.
  TZMRecordBlock* block = FOwner ? FOwner->FRecordBlock.get() : nullptr;
  return block && block->Holds(this) ? block : nullptr;
}

void TZMZRec::StoreName(std::string_view v, bool fromBlock) {
  v = v.substr(0, 0xFFFF);
  TZMRecordBlock* block = fromBlock && !v.empty() ? HomeBlock() : nullptr;
  char* data = block ? block->TakeBytes(v.size()) : nullptr;
  const bool owned = !data && !v.empty();
  if (owned) data = new char[v.size()];
  if (!v.empty()) std::memcpy(data, v.data(), v.size());
  if (FNameOwned) delete[] FNameData;
  FNameData = data;
  FNameOwned = owned;
  FNameLen = uint16_t(v.size());
  if (!v.empty() && v.back() == '/')
    FStatusBits |= zsbDirOnly;
  else
    FStatusBits &= ~zsbDirOnly;
}

void TZMZRec::Report(const std::string& line) const {
  if (FOwner && FOwner->Verbosity() != 0) FOwner->ShowMessageText("Trace: " + line, 0, false);
}

void TZMZRec::KeepReadName() {
  if (!FReadIsHeader) return;
  FRare.Assign(TZMRareTexts::rtReadName, std::string(StoredName()));
  FReadIsHeader = false;
}

void TZMZRec::SetReadNameToStored() {
  FRare.Clear(TZMRareTexts::rtReadName);
  FReadIsHeader = true;
}

void TZMZRec::SetHeaderName(const std::string& v) {
  KeepReadName();
  StoreName(v);
  ClearCache();
}

void TZMZRec::SetHeaderComment(const std::string& v) {
  FRare.Assign(TZMRareTexts::rtComment, v.substr(0, 0xFFFF));
  FCommentLen = uint16_t(FRare.Size(TZMRareTexts::rtComment));
  ClearCache();
}

// Takes the fixed part of the header; the variable lengths stay to be read.
int32_t TZMZRec::TakeFixed(const uint8_t* p, uint16_t& extraLen) {
  zm::TLECursor c(p, zm::layout::TCentralHeader::FixedSize);
  if (c.U32() != zm::layout::TCentralHeader::Signature)
    return ZM_ERROR(zmmZMIRec, zmsCentralHeaderSignatureWrong);
  FVersionMadeBy = c.U16();
  FVersionNeeded = c.U16();
  FFlag = c.U16();
  FCompressionMethod = c.U16();
  FModifDateTime = c.U32();
  FCRC32 = c.U32();
  FCompressedSize = c.U32();
  FUncompressedSize = c.U32();
  FNameLen = c.U16();
  extraLen = c.U16();
  FCommentLen = c.U16();
  FStartOnDisk = c.U16();
  FIntFileAttrib = c.U16();
  FExtFileAttrib = c.U32();
  FRelOffLocal = c.U32();
  return 0;
}

void TZMZRec::TakeVariable(const uint8_t* p, uint16_t extraLen) {
  const char* c = reinterpret_cast<const char*>(p);
  if (FCommentLen)
    FRare.Assign(TZMRareTexts::rtComment, std::string(c + FNameLen + extraLen, FCommentLen));
  else
    FRare.Clear(TZMRareTexts::rtComment);
  FExtraField.Assign(std::string_view(c + FNameLen, extraLen), HomeBlock());
  StoreName(std::string_view(c, FNameLen), true);
  SetReadNameToStored();
  FRare.Clear(TZMRareTexts::rtLocalExtra);
  FRare.Clear(TZMRareTexts::rtDecodedName);
  FNameCached = false;
  FNameIsHeader = false;
  FStatusBits &= ~zsbInvalid;
}

int32_t TZMZRec::ReadCentral() {
  assert(FOwner && "no WorkFile");
  if (!FOwner) return ZM_ERROR(zmmZMCentral, zmsUnknownError);
  if (!FOwner->IsOpen()) return -1;
  FStatusBits = zsbInvalid;
  uint8_t fixed[kCentralFixed];
  if (FOwner->ReadFields(fixed, kCentralSizes, 17) != kCentralFixed)
    return ZM_ERROR(zmmZMIRec, zmsErrorWhileReadingCentralHeader);
  uint16_t extraLen = 0;
  int32_t r = TakeFixed(fixed, extraLen);
  if (r < 0) return r;
  const int total = FNameLen + extraLen + FCommentLen;
  std::string var(size_t(total), '\0');
  if (total > 0) {
    const int sizes[3] = {FNameLen, extraLen, FCommentLen};
    const int got = FOwner->ReadFields(var.data(), sizes, 2);
    if (got != total) {
      if (got < FNameLen) return ZM_ERROR(zmmZMIRec, zmsErrorReadingCentralFileName);
      if (got < FNameLen + extraLen) return ZM_ERROR(zmmZMIRec, zmsSeekErrorReadingZipArchive);
      return ZM_ERROR(zmmZMIRec, zmsErrorWhileReadingFileComment);
    }
  }
  TakeVariable(reinterpret_cast<const uint8_t*>(var.data()), extraLen);
  return ReadZip64Extra();
}

int32_t TZMZRec::ParseCentral(const uint8_t* data, size_t size, size_t& consumed) {
  consumed = 0;
  FStatusBits = zsbInvalid;
  if (size < size_t(kCentralFixed)) return ZM_ERROR(zmmZMIRec, zmsErrorWhileReadingCentralHeader);
  uint16_t extraLen = 0;
  int32_t r = TakeFixed(data, extraLen);
  if (r < 0) return r;
  const size_t avail = size - kCentralFixed;
  if (avail < size_t(FNameLen) + extraLen + FCommentLen) {
    if (avail < FNameLen) return ZM_ERROR(zmmZMIRec, zmsErrorReadingCentralFileName);
    if (avail < size_t(FNameLen) + extraLen) return ZM_ERROR(zmmZMIRec, zmsSeekErrorReadingZipArchive);
    return ZM_ERROR(zmmZMIRec, zmsErrorWhileReadingFileComment);
  }
  TakeVariable(data + kCentralFixed, extraLen);
  consumed = kCentralFixed + size_t(FNameLen) + extraLen + FCommentLen;
  return ReadZip64Extra();
}

int32_t TZMZRec::ReadZip64Extra() {
  // Writers also mark sizes of entries whose version needed is below 4.5 (common
  // for folders); such blocks are taken when they hold every marked value.
  const bool strict = (FVersionNeeded & 0xFF) >= 45;
  if (!strict && FUncompressedSize != 0xFFFFFFFFLL && FCompressedSize != 0xFFFFFFFFLL &&
      FRelOffLocal != 0xFFFFFFFFLL && FStartOnDisk != 0xFFFF)
    return 0;
  size_t pos = 0, len = 0;
  if (!zm::FindExtraBlock(FExtraField.View(), kZip64Tag, pos, len)) return 0;
  if (!strict) {
    const size_t need = (FUncompressedSize == 0xFFFFFFFFLL ? 8 : 0) +
                        (FCompressedSize == 0xFFFFFFFFLL ? 8 : 0) + (FRelOffLocal == 0xFFFFFFFFLL ? 8 : 0) +
                        (FStartOnDisk == 0xFFFF ? 4 : 0);
    if (len < need) return 0;
  }
  const uint8_t* p = reinterpret_cast<const uint8_t*>(FExtraField.View().data()) + pos;
  size_t left = len;
  auto take8 = [&](int64_t& field) -> bool {
    if (field != 0xFFFFFFFFLL) return true;
    if (left < 8) return false;
    field = int64_t(zm::GetLE64(p));
    p += 8;
    left -= 8;
    return true;
  };
  if (!take8(FUncompressedSize) || !take8(FCompressedSize) || !take8(FRelOffLocal))
    return ZM_ERROR(zmmZMIRec, zmsErrorReadingZip64Field);
  if (FStartOnDisk == 0xFFFF) {
    if (left < 4) return ZM_ERROR(zmmZMIRec, zmsErrorReadingZip64Field);
    // The disk number is kept in 16 bits; larger numbers are not addressable here.
    const uint32_t disk = zm::GetLE32(p);
    FStartOnDisk = disk > 0xFFFF ? 0xFFFF : uint16_t(disk);
  }
  return 1;
}

zm::TStoredText TZMZRec::StoredText() const {
  zm::TStoredText t;
  t.Name = StoredName();
  t.Comment = FRare.Get(TZMRareTexts::rtComment);
  t.Extra = FExtraField.View();
  t.Flag = FFlag;
  t.VersionMadeBy = FVersionMadeBy;
  return t;
}

TZMEncodingOpts TZMZRec::Encoded() const {
  const uint32_t cached = (FStatusBits & zsbEncMask) >> zsbEncShift;
  if (cached >= 1 && cached <= 4) return TZMEncodingOpts(cached);
  const int kind = zm::StoredKind(StoredText());
  FStatusBits = (FStatusBits & ~zsbEncMask) | (uint32_t(kind) << zsbEncShift);
  return TZMEncodingOpts(kind);
}

std::string TZMZRec::UnicodeExtra(bool comment) const { return zm::UnicodeFieldText(StoredText(), comment); }

int TZMZRec::TextKind() const {
  const int kind = FOwner ? int(FOwner->Encoding()) : int(zeoAuto);
  return kind == zeoAuto ? int(Encoded()) : kind;
}

std::string TZMZRec::DecodeText(bool comment) const {
  // The engine decodes the names it writes with the same rules.
  const unsigned nameCp = FOwner ? FOwner->NameCodePage() : plat::kCpAcp;
  const zm::TStoredText stored = StoredText();
  zm::TDecodedText d = zm::DecodeStoredText(stored, comment, TextKind(), nameCp);
  std::string r = std::move(d.Text);
  if (d.Converted && !UTF8Mode()) {
    r = AnsiFromUtf8(r.data(), int(r.size()));
    if (r.empty()) r.assign(comment ? stored.Comment : stored.Name);
  }
  if (!comment) r = WithPlatformSeparators(std::move(r));
  return r;
}

bool TZMZRec::StoredNameIsDecoded() const {
  if (TextKind() == zeoUPath || HasNonPlainChars(StoredName())) return false;
  // Plain text with only this platform's separator.
  return StoredName().find(plat::PathDelim == '/' ? '\\' : '/') == std::string_view::npos;
}

std::string_view TZMZRec::NameRef() const {
  if (!FNameCached) {
    FNameIsHeader = StoredNameIsDecoded();
    if (FNameIsHeader) {
      FRare.Clear(TZMRareTexts::rtDecodedName);
    } else {
      std::string decoded = DecodeText(false);
      FNameIsHeader = decoded == StoredName();
      FRare.Assign(TZMRareTexts::rtDecodedName, FNameIsHeader ? std::string() : std::move(decoded));
    }
    FNameCached = true;
  }
  return FNameIsHeader ? StoredName() : std::string_view(FRare.Get(TZMRareTexts::rtDecodedName));
}

std::string TZMZRec::FileName() const { return std::string(NameRef()); }

std::string TZMZRec::FileComment() const { return DecodeText(true); }

uint32_t TZMZRec::Hash() const {
  if (!(FStatusBits & zsbHashed)) {
    FHash = NameHashUpper(NameRef());
    FStatusBits |= zsbHashed;
  }
  return FHash;
}

void TZMZRec::ClearCache() {
  FRare.Clear(TZMRareTexts::rtDecodedName);
  FNameCached = false;
  FNameIsHeader = false;
  FStatusBits &= ~(zsbHashed | zsbEncMask);
}

void TZMZRec::SetVersions(bool needsZip64) {
  if (FVersionMadeBy == 0x0B32) FVersionMadeBy = 30;
  if ((FVersionMadeBy & 0xFF) > 45 || (FVersionNeeded & 0xFF) > 45) return;
  uint16_t made = FVersionMadeBy & 0xFF;
  if (needsZip64)
    made = 45;
  else if (made == 45)
    made = 30;
  FVersionMadeBy = uint16_t((FVersionMadeBy & 0xFF00) | made);
  uint16_t need;
  switch (FCompressionMethod) {
    case 0: need = 10; break;
    case 9: need = 21; break;
    case 10: need = 25; break;
    case 12: need = 46; break;
    // 1 to 8: the methods of the first format versions.
    default: need = FCompressionMethod <= 8 ? 20 : 45; break;
  }
  if ((FFlag & 0x20) && need < 27) need = 27;
  if (needsZip64 && need < 45) need = 45;
  FVersionNeeded = uint16_t((FVersionNeeded & 0xFF00) | need);
}

void TZMZRec::BuildLocalExtra() {
  FStatusBits &= ~zsbLocal64;
  const bool z64 = !Fits32(FUncompressedSize) || !Fits32(FCompressedSize);
  SetVersions(z64);
  std::string local;
  if (z64) {
    FStatusBits |= zsbLocal64;
    local.assign(20, '\0');
    zm::PutLE16(&local[0], kZip64Tag);
    zm::PutLE16(&local[2], 16);
    zm::PutLE64(&local[4], uint64_t(FUncompressedSize));
    zm::PutLE64(&local[12], uint64_t(FCompressedSize));
  }
  const std::string rest = DropExtraBlocks(FExtraField.Str(), kLocalDropTags, 2);
  // The local field holds at most 65535 bytes; the Zip64 block always has room.
  if (local.size() + rest.size() <= 0xFFFF) local += rest;
  FRare.Assign(TZMRareTexts::rtLocalExtra, std::move(local));
  FStatusBits |= zsbLocalDone;
}

bool TZMZRec::ReplaceExtra(uint16_t tag, const std::string& data) {
  std::string rest = DropExtraBlocks(FExtraField.Str(), {tag}, 0);
  std::string x;
  if (!data.empty() || tag != kZip64Tag) {
    if (data.size() > 0xFFFF) return false;
    x.resize(4);
    zm::PutLE16(&x[0], tag);
    zm::PutLE16(&x[2], uint16_t(data.size()));
    x += data;
  }
  x += rest;
  if (x.size() > 0xFFFF) return false;
  FExtraField.Assign(x);
  return true;
}

std::string TZMZRec::CentralBytes() {
  SetReadNameToStored();
  std::string z64;
  auto put8 = [&z64](uint64_t v) {
    char b[8];
    zm::PutLE64(b, v);
    z64.append(b, 8);
  };
  const bool bigU = uint64_t(FUncompressedSize) >= 0xFFFFFFFFu;
  const bool bigC = uint64_t(FCompressedSize) >= 0xFFFFFFFFu;
  const bool bigO = uint64_t(FRelOffLocal) >= 0xFFFFFFFFu;
  const bool bigD = FStartOnDisk >= 0xFFFF;
  if (bigU) put8(uint64_t(FUncompressedSize));
  if (bigC) put8(uint64_t(FCompressedSize));
  if (bigO) put8(uint64_t(FRelOffLocal));
  if (bigD) {
    char b[4];
    zm::PutLE32(b, FStartOnDisk);
    z64.append(b, 4);
  }
  if (!z64.empty()) {
    if (!ReplaceExtra(kZip64Tag, z64)) return {};
    SetVersions(true);
  } else {
    size_t pos = 0, len = 0;
    if (zm::FindExtraBlock(FExtraField.View(), kZip64Tag, pos, len)) ReplaceExtra(kZip64Tag, {});
  }
  std::string h(kCentralFixed, '\0');
  char* p = h.data();
  zm::PutLE32(p, zm::layout::TCentralHeader::Signature);
  zm::PutLE16(p + TCentral::MadeBy, FVersionMadeBy);
  PutSharedFields(p + TCentral::Needed,
                  {FVersionNeeded, FFlag, FCompressionMethod, FModifDateTime, FCRC32,
                   bigC ? 0xFFFFFFFFu : uint32_t(FCompressedSize),
                   bigU ? 0xFFFFFFFFu : uint32_t(FUncompressedSize), FNameLen, uint16_t(FExtraField.Size())});
  zm::PutLE16(p + TCentral::CommentLen, uint16_t(FRare.Size(TZMRareTexts::rtComment)));
  zm::PutLE16(p + TCentral::DiskStart, bigD ? 0xFFFF : FStartOnDisk);
  zm::PutLE16(p + TCentral::IntAttr, FIntFileAttrib);
  zm::PutLE32(p + TCentral::ExtAttr, FExtFileAttrib);
  zm::PutLE32(p + TCentral::LocalOffset, bigO ? 0xFFFFFFFFu : uint32_t(FRelOffLocal));
  h.append(StoredName());
  h.append(FExtraField.View());
  return h + HeaderComment();
}

int32_t TZMZRec::WriteCentral() {
  assert(FOwner && "no WorkFile");
  if (!FOwner) return ZM_ERROR(zmmZMCentral, zmsUnknownError);
  if (!FOwner->IsOpen()) return -1;
  const std::string h = CentralBytes();
  // Zip64 values that find no room in the extra field cannot be written truthfully.
  if (h.empty()) return ZM_ERROR(zmmZMIRec, zmsCombinedHeaderLengthTooLarge);
  if (!FOwner->Writes(h.data(), -int32_t(h.size())))
    return ZM_ERROR(zmmZMIRec, zmsErrorWhileWritingCentralHeader);
  FStatusBits &= ~zsbChanged;
  return 0;
}

std::string TZMZRec::LocalBytes(uint32_t dateTime, uint32_t crc) {
  if (!(FStatusBits & zsbLocalDone)) BuildLocalExtra();
  if ((FFlag & 8) && !(FFlag & 1)) FFlag &= ~8;
  uint32_t cs, us;
  if (!FRare.Empty(TZMRareTexts::rtLocalExtra) && (FStatusBits & zsbLocal64)) {
    cs = us = 0xFFFFFFFFu;
  } else if (FFlag & 8) {
    cs = us = 0;
    if ((FVersionNeeded & 0xFF) < 45) FVersionNeeded = uint16_t((FVersionNeeded & 0xFF00) | 45);
  } else {
    cs = uint32_t(FCompressedSize);
    us = uint32_t(FUncompressedSize);
  }
  std::string h(kLocalFixed, '\0');
  char* p = h.data();
  zm::PutLE32(p, zm::layout::TLocalHeader::Signature);
  PutSharedFields(p + TLocal::Needed, {FVersionNeeded, FFlag, FCompressionMethod, dateTime, crc, cs, us,
                                       FNameLen, uint16_t(FRare.Size(TZMRareTexts::rtLocalExtra))});
  h.append(StoredName());
  return h + FRare.Get(TZMRareTexts::rtLocalExtra);
}

int32_t TZMZRec::WriteLocal(uint32_t dateTime, uint32_t crc) {
  assert(FOwner && "no WorkFile");
  if (!FOwner) return ZM_ERROR(zmmZMCentral, zmsUnknownError);
  if (!FOwner->IsOpen()) return -1;
  const std::string h = LocalBytes(dateTime, crc);
  if (!FOwner->Writes(h.data(), -int32_t(h.size())))
    return ZM_ERROR(zmmZMIRec, zmsErrorWhileWritingLocalHeader);
  FStatusBits &= ~zsbChanged;
  return 0;
}

int32_t TZMZRec::WriteDataDesc() {
  assert(FOwner && "no WorkFile");
  if (!FOwner) return ZM_ERROR(zmmZMCentral, zmsUnknownError);
  if (!FOwner->IsOpen()) return -1;
  if (!(FFlag & 8)) return 0;
  char b[24];
  zm::PutLE32(b, zm::kDataDescriptorSig);
  zm::PutLE32(b + 4, FCRC32);
  int n;
  if ((FVersionNeeded & 0xFF) >= 45) {
    zm::PutLE64(b + 8, uint64_t(FCompressedSize));
    zm::PutLE64(b + 16, uint64_t(FUncompressedSize));
    n = 24;
  } else {
    zm::PutLE32(b + 8, uint32_t(FCompressedSize));
    zm::PutLE32(b + 12, uint32_t(FUncompressedSize));
    n = 16;
  }
  if (!FOwner->Writes(b, -n)) return ZM_ERROR(zmmZMIRec, zmsErrorReadingWritingDataDescriptor);
  return n;
}

void TZMZRec::AssignFrom(const TZMIRec& source) {
  if (&source == this) return;
  TZMIRec::AssignFrom(source);
  const auto* z = dynamic_cast<const TZMZRec*>(&source);
  if (!z) return;
  FVersionMadeBy = z->FVersionMadeBy;
  FFlag = z->FFlag;
  FCommentLen = z->FCommentLen;
  StoreName(z->StoredName());
  if (z->ReadName() == StoredName()) {
    SetReadNameToStored();
  } else {
    FRare.Assign(TZMRareTexts::rtReadName, std::string(z->ReadName()));
    FReadIsHeader = false;
  }
  FRare.Assign(TZMRareTexts::rtComment, z->HeaderComment());
  FExtraField.Assign(z->FExtraField.View());
  FRare.Assign(TZMRareTexts::rtLocalExtra, z->LocalExtra());
  FRare.Clear(TZMRareTexts::rtDecodedName);
  FNameCached = false;
  FNameIsHeader = false;
}

int32_t TZMZRec::CheckLocal() {
  assert(FOwner && "no MyFile");
  if (!FOwner) return ZM_ERROR(zmmZMCentral, zmsUnknownError);
  if (!FOwner->IsOpen()) return ZM_ERROR(zmmZMIRec, zmsZipFileCouldNotBeOpened);
  int32_t result = ZM_ERROR(zmmZMIRec, zmsErrorWhileReadingLocalHeader);
  try {
    FOwner->SelectEntryDisk(FStartOnDisk);
    if (FOwner->Seek(0, FRelOffLocal) == FRelOffLocal) {
      using L = zm::layout::TLocalHeader;
      uint8_t sig[4];
      uint8_t fixed[L::FixedSize - 4];  // behind the signature
      if (FOwner->Reads(sig, 4) && zm::GetLE32(sig) == L::Signature &&
          FOwner->ReadFields(fixed, kLocalSizes, 9) == int(sizeof fixed)) {
        const size_t nameLen = zm::GetLE16(fixed + (L::NameLen - 4));
        const size_t extraLen = zm::GetLE16(fixed + (L::ExtraLen - 4));
        const std::string_view readName = ReadName();
        if (nameLen == readName.size()) {
          std::string var(nameLen + extraLen, '\0');
          const int sizes[2] = {int(nameLen), int(extraLen)};
          if (var.empty() || FOwner->ReadFields(var.data(), sizes, 1) == int(var.size())) {
            if (std::memcmp(var.data(), readName.data(), nameLen) == 0)
              result = 0;
            else
              result = ZM_ERROR(zmmZMIRec, zmsLocalAndCentralNamesDifferent);
          }
        }
      }
    }
    if (ZMMsgOf(result) == 165) Report("could not read local header: " + FileName());
  } catch (const EZMException& e) {
    result = -e.MsgId;
  } catch (const std::exception&) {
    result = -1;
  }
  return result;
}

// ---------------------------------------------------------------- editing

int32_t TZMZRec::SetExtFileAttrib(uint32_t value) {
  if (value != FExtFileAttrib) {
    FExtFileAttrib = value;
    FStatusBits |= zsbChanged;
  }
  return 0;
}

int32_t TZMZRec::SetDateStamp(uint32_t dosDateTime) {
  if (Encrypted()) return ZM_ERROR(zmmZMIRec, zmsCannotChangeEncryptedDetails);
  if (!ValidDosDateTime(dosDateTime)) {
    Report("Invalid date " + FileName());
    return ZM_ERROR(zmmZMIRec, zmsInvalidDateTimeArgumentFor);
  }
  if (dosDateTime != FModifDateTime) {
    FModifDateTime = dosDateTime;
    FStatusBits |= zsbChanged;
  }
  return 0;
}

int32_t TZMZRec::SetExtraField(const std::string& bytes) {
  if (bytes == FExtraField.View()) return 0;
  const std::string keep = KeepExtraBlocks(FExtraField.Str(), kUnicodeTags, 1);
  const std::string add = DropExtraBlocks(bytes, kUnicodeTags, 1);
  if (keep.size() + add.size() + FileComment().size() + FileName().size() > 65534)
    return ZM_ERROR(zmmZMIRec, zmsCombinedHeaderLengthTooLarge);
  FExtraField.Assign(keep + add);
  FStatusBits &= ~zsbLocalDone;
  FStatusBits |= zsbChanged;
  return 0;
}

int32_t TZMZRec::SetFileComment(const std::string& text) {
  if (text == FileComment()) return 0;
  return ReEncodeTo(FileName(), text);
}

int32_t TZMZRec::SetFileName(const std::string& text) {
  std::string name;
  int32_t r = CheckedName(text, name);
  if (r < 0) return r;
  if (EndsWithDelimiter(StoredName()) != EndsWithDelimiter(name) || name == NameRef())
    return ZM_ERROR(zmmZMIRec, zmsCannotChangePath);
  return ReEncodeTo(name, FileComment());
}

int32_t TZMZRec::ReEncode() { return ReEncodeTo(FileName(), FileComment()); }

int32_t TZMZRec::ReEncodeTo(const std::string& name, const std::string& comment) {
  if (FOwner) {
    const uint32_t prev = SetStatusBit(zsbIgnore);
    int idx = -1;
    TZMZRec* hit = FOwner->FindName(name, idx, false);
    while (hit && (hit == this || (hit->StatusBits() & zsbError))) hit = FOwner->FindName(name, idx, false);
    if (!prev) ClearStatusBit(zsbIgnore);
    if (hit) return ZM_ERROR(zmmZMIRec, zmsDuplicateFilename);
  }
  const bool utf8Mode = UTF8Mode();
  const std::string hName = HeaderForm(name);
  auto toOem = [utf8Mode](const std::string& s) {
    return utf8Mode ? Utf8ToNarrowWithEscapes(s, true) : ToOemString(s);
  };
  auto toUtf8 = [utf8Mode](const std::string& s) { return utf8Mode ? s : Utf8FromAnsi(s); };
  std::string sName = toOem(hName), sComment = toOem(comment);
  uint16_t madeBy = 30;
  bool utf8Flag = false;
  std::string uName, uComment;  // Unicode blocks to add
  const bool nameNP = HasNonPlainChars(name), commentNP = HasNonPlainChars(comment);
  TZMEncodingOpts enc = FOwner ? FOwner->WriteEncoding() : zeoAuto;
  if ((nameNP || commentNP) && enc == zeoAuto) enc = (nameNP && commentNP) ? zeoUTF8 : zeoUPath;
  if (nameNP || commentNP) {
    switch (enc) {
      case zeoUTF8:
        sName = toUtf8(hName);
        sComment = toUtf8(comment);
        utf8Flag = true;
        break;
      case zeoUPath:
        if (nameNP) uName = UnicodeBlock(kUPathTag, sName, toUtf8(hName));
        if (commentNP) uComment = UnicodeBlock(kUCommentTag, sComment, toUtf8(comment));
        break;
      case zeoNone:
        sName = utf8Mode ? Utf8ToNarrowWithEscapes(hName, false) : hName;
        sComment = utf8Mode ? Utf8ToNarrowWithEscapes(comment, false) : comment;
        if (HasNonPlainChars(sName) || HasNonPlainChars(sComment)) madeBy = 0x0B1E;
        break;
      default: break;
    }
  }
  const std::string extra = DropExtraBlocks(FExtraField.Str(), kUnicodeTags, 1) + uName + uComment;
  if (sComment.size() + sName.size() + extra.size() >= 65535)
    return ZM_ERROR(zmmZMIRec, zmsCombinedHeaderLengthTooLarge);
  KeepReadName();
  StoreName(sName);
  FRare.Assign(TZMRareTexts::rtComment, sComment);
  FCommentLen = uint16_t(sComment.size());
  if (extra != FExtraField.View()) {
    FExtraField.Assign(extra);
    FStatusBits &= ~zsbLocalDone;
  }
  if (utf8Flag)
    FFlag |= 0x0800;
  else
    FFlag &= ~0x0800;
  ClearCache();
  FVersionMadeBy = madeBy;
  SetVersions(!Fits32(FUncompressedSize) || !Fits32(FCompressedSize));
  FStatusBits |= zsbChanged;
  if (FOwner) FOwner->EntryRenamed(this);
  return 0;
}

// ---------------------------------------------------------------- names

std::string TZMZRec::HeaderForm(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  const unsigned cp = ModeCodePage();
  std::string r;
  r.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    const size_t len = zm::CharSizeAt(name, i, cp);
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (len > 1) {
      r.append(name, i, len);  // trail bytes are no separators or special characters
    } else if (c == '\\' || c == '/') {
      r += '/';
    } else if (c < 32 || c == '\'' || c == '*' || c == ':' || c == '<' || c == '>' || c == '?' || c == '|') {
      r += "#$";
      r += kHex[c >> 4];
      r += kHex[c & 15];
    } else {
      r += char(c);
    }
    i += len;
  }
  return r;
}

std::string TZMZRec::CleanName(const std::string& text, bool dropPath) const {
  std::string s = CleanNameUncut(text, dropPath);
  if (s.size() > 260) s.resize(260);
  return s;
}

std::string TZMZRec::CleanNameUncut(const std::string& text, bool dropPath) const {
  std::string s = WithPlatformSeparators(text);
  const char d = plat::PathDelim;
  if (s.size() >= 2 && s[1] == ':' && ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z'))) {
    s.erase(0, (s.size() >= 3 && s[2] == d) ? 3 : 2);
  } else if (s.size() >= 2 && s[0] == d && s[1] == d) {
    // \\server\share\rest: server and share are dropped.
    const size_t serverEnd = s.find(d, 2);
    const size_t shareEnd = serverEnd == std::string::npos ? std::string::npos : s.find(d, serverEnd + 1);
    if (serverEnd == std::string::npos || shareEnd == std::string::npos) {
      Report("Invalid filespec: " + text);
      return {};
    }
    s.erase(0, shareEnd + 1);
  }
  if (s.size() >= 2 && s[0] == '.' && s[1] == d) s.erase(0, 2);
  if (dropPath) {
    const size_t p = s.rfind(d);
    if (p != std::string::npos) s.erase(0, p + 1);
  }
  return s;
}

int32_t TZMZRec::CheckedName(const std::string& text, std::string& name) const {
  name = CleanNameUncut(text, false);
  if (name.size() > 260) {
    const std::string old = name;
    name.resize(260);
    Report("Truncated " + old + " to " + name);
  }
  if (IsInvalidName(name)) return ZM_ERROR(zmmZMIRec, zmsInvalidFilename);
  return 0;
}

bool TZMZRec::IsInvalidName(const std::string& name) {
  const size_t n = name.size();
  if (n == 0 || n >= 260) return true;
  const char f = name[0];
  if (IsSep(f) || f == '.' || f == ' ') return true;
  if (name[n - 1] == ' ') return true;
  size_t run = 0;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 32 || c == '*' || c == ':' || c == '<' || c == '>' || c == '?' || c == '|') return true;
    if (IsSep(char(c))) {
      run = 0;
      if (i > 0 && name[i - 1] == ' ') return true;
      if (i + 1 < n && (IsSep(name[i + 1]) || name[i + 1] == '.' || name[i + 1] == ' ')) return true;
    } else if (++run > 255) {
      return true;
    }
    if (c == '.' && (i + 1 == n || IsSep(name[i + 1]))) return true;
  }
  return false;
}
