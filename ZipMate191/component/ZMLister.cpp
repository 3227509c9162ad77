#include "ZMLister.h"

#include <algorithm>
#include <cstring>

#include "PlatPath.h"
#include "ZMEndian.h"
#include "ZMInflt.h"
#include "ZMNameParts.h"
#include "ZMUTF8.h"
#include "ZMUtils.h"
#include "ZMZipFile.h"
#include "ZipMate.h"
#include "ZMRecords.h"

namespace {

// Images this short carry no self-extractor.
constexpr size_t kMinStubImage = 12000;
// Where a detached header's central directory may begin.
constexpr int64_t kDetachedMin = 12000;
constexpr int64_t kDetachedMax = 80000;
// Reader state bit set after a failed operation.
constexpr uint32_t kInfoAfterFailure = 0x08;

bool HasPE(const uint8_t* image, size_t size, uint32_t& pe) {
  if (size < 64) return false;
  pe = zm::GetLE32(image + 60);
  return size >= 8 && pe <= size - 8 && std::memcmp(image + pe, "PE\0\0", 4) == 0;
}

// An ANSI text of the stub in the component's 8-bit form.
std::string FromAnsi(const std::string& s) { return UTF8Mode() ? Utf8FromAnsi(s) : s; }

// A UTF-8 text of the stub in the component's 8-bit form.
std::string FromUtf8(const std::string& s) {
  if (UTF8Mode() || s.empty()) return s;
  return AnsiFromUtf8(s.data(), int(s.size()));
}

// The first text with this identifier in a table of (identifier, zero-terminated
// UTF-8 text) items ended by identifier 0.
std::string TableText(const std::string& table, uint8_t id) {
  size_t at = 0;
  while (at < table.size()) {
    const uint8_t item = uint8_t(table[at++]);
    if (item == 0) break;
    size_t end = table.find('\0', at);
    if (end == std::string::npos) end = table.size();
    if (item == id) return FromUtf8(table.substr(at, end - at));
    at = end + 1;
  }
  return {};
}

bool EqualsNoCase(const std::string& a, const char* b) {
  const size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

TZMLister::TZMLister(TCustomZipMate& master) : TZMCore(master), FCenDir(std::make_unique<TZMCenDir>(*this)) {
  FCenDir->SetUseDirOnly(UseDirOnlyEntries());
}

TZMLister::~TZMLister() = default;

void TZMLister::SetArchiveName(const std::string& name, int mode) {
  Master().FZipFileName = name;
  if (mode == 0) return;
  LoadArchive(name, mode != 1);
}

void TZMLister::LoadArchive(const std::string& name, bool quiet) {
  FCenDir->SetReader(nullptr);
  if (!name.empty()) {
    TZMZipFile& reader = FCenDir->Reader();
    reader.SetFileName(name);
    const int32_t r = reader.OpenZip(false, false);
    reader.File_Close();
    if (r >= 0) {
      Master().FZipComment = FCenDir->ArchiveComment();
      FState = kListerListed;
    } else {
      ReportOpenFailure(r);
    }
  }
  if (!quiet) RaiseDirUpdate();
}

bool TZMLister::ScanArchive(const std::string& name, const std::function<bool(const TZMDirEntry&)>& each) {
  TZMZipFile reader(Master());
  reader.SetFileName(name);
  const bool folders = UseDirOnlyEntries();
  reader.SetVisitor(
      [&](const TZMZRec& rec) { return (!folders && (rec.StatusBits() & zsbDirOnly)) || each(rec); });
  const int32_t r = reader.OpenZip(false, false);
  reader.File_Close();
  if (r < 0) ReportOpenFailure(r);
  return r >= 0;
}

bool TZMLister::CanProcess() const {
  const TZMZipFile* r = FCenDir->CurrentReader();
  return !Master().ZipFileName().empty() && r && (r->Info() & kInfoLoaded);
}

void TZMLister::ClearCachedNames() {
  if (TZMZipFile* r = FCenDir->CurrentReader()) r->ClearCachedNames();
}

void TZMLister::Prepare() {
  TZMCore::Prepare();
  FState = kListerIdle;
}

void TZMLister::Finished(bool good) {
  TZMCore::Finished(good);
  if (good) {
    if (FState == kListerRewritten && !IsDetachedSFXHeader(Master().ZipFileName()))
      LoadArchive(Master().ZipFileName(), false);
    if (FState == kListerListed || FState == kListerRewritten) TakeOverSettings();
  } else {
    TZMZipFile& r = FCenDir->Reader();
    if (r.Info() != 0) r.SetInfo((r.Info() & TZMWorkZip::kInfoDiskCancelled) | kInfoAfterFailure);
  }
}

// ---- Detached self-extractor header ----

bool TZMLister::IsDetachedSFXHeader(const std::string& name) {
  if (!EqualsNoCase(zmname::ExtOf(name), ".exe")) return false;
  auto probe = std::make_unique<TZMZipFile>(Master());
  probe->SetFileName(name);
  if (probe->OpenEOC(true) < 0) return false;
  if (!probe->IsOpen() || probe->DiskNr() != 0 || probe->FileKind() != kFileKindExe) return false;
  const int64_t central = probe->CentralSize(), eoc = probe->EOCOffset();
  if (central <= 45 || central >= eoc) return false;
  const int64_t d = eoc - central;
  if (d < kDetachedMin || d > kDetachedMax) return false;
  std::vector<uint8_t> image(size_t(d + 4));
  if (probe->Seek(plat::soBeginning, 0) != 0 || !probe->Reads(image.data(), int32_t(image.size())))
    return false;
  probe->File_Close();
  if (image.size() <= kMinStubImage || image[0] != 'M' || image[1] != 'Z') return false;
  const int64_t end = ImageEnd(image.data(), image.size());
  if (end < 0 || end + 6 > int64_t(image.size())) return false;
  if (zm::GetLE32(image.data() + end) != kStubBSig) return false;
  const int64_t after = end + zm::GetLE16(image.data() + end + 4);
  return after + 4 <= int64_t(image.size()) &&
         zm::GetLE32(image.data() + after) == zm::layout::TCentralHeader::Signature;
}

// ---- Settings stored with the archive ----

void TZMLister::TakeOverSettings() {
  TZMZipFile* r = FCenDir->CurrentReader();
  if (Master().FNoReadAux || !r || !(r->Info() & kInfoNewSettings)) return;
  if (TMemoryStream* stub = r->Stub()) {
    if (ReadSFXSettings(*stub) < 0) return;
  }
  TZMWriteOpts w = WriteOptions();
  if (FCenDir->IsMultiPart()) {
    SetSpanOptions(r->NumberingToSpanOptions(SpanOptions()));
    w.Include(zwoDiskSpan);
  } else {
    w.Exclude(zwoDiskSpan);
  }
  SetWriteOptions(w);
  r->SetInfo(r->Info() & ~kInfoNewSettings);
  Master().FAuxChanged = false;
}

int64_t TZMLister::ImageEnd(const uint8_t* image, size_t size) {
  uint32_t pe = 0;
  if (!HasPE(image, size, pe)) return -1;
  const uint16_t sections = zm::GetLE16(image + pe + 6);
  const uint64_t table = uint64_t(pe) + 248;
  if (table + uint64_t(sections) * 40 > size) return -1;
  int64_t end = 0;
  for (uint16_t i = 0; i < sections; ++i) {
    const uint8_t* s = image + table + size_t(i) * 40;
    end = std::max<int64_t>(end, int64_t(zm::GetLE32(s + 20)) + int64_t(zm::GetLE32(s + 16)));
  }
  return end;
}

int32_t TZMLister::ParseSFXHeader(const uint8_t* image, size_t size, TZMSFXSettings& s) {
  if (size <= kMinStubImage || image[0] != 'M' || image[1] != 'Z') return 0;
  const int64_t start = ImageEnd(image, size);
  if (start < 0 || start + 12 > int64_t(size)) return kSFXBadHeader;
  const uint8_t* h = image + start;
  const size_t avail = size - size_t(start);
  const uint32_t sig = zm::GetLE32(h);
  if (sig == kStubASig) {
    if (avail < 18) return kSFXBadHeader;
    s.Version = 1;
    s.Options = zm::GetLE16(h + 6);
    s.OverwriteMode = h[8] == 0 ? ovrAlways : h[8] == 1 ? ovrNever : ovrConfirm;
    s.MessageFlags = h[14];
    size_t at = 18;
    std::string* texts[5] = {&s.Caption, &s.DefaultDir, &s.CommandLine, &s.RegFailPath, &s.Message};
    for (int i = 0; i < 5; ++i) {
      const size_t len = h[9 + i];
      if (at + len > avail) return kSFXBadHeader;
      *texts[i] = FromAnsi(std::string(reinterpret_cast<const char*>(h + at), len));
      at += len;
    }
    return 1;
  }
  if (sig != kStubBSig) return kSFXBadHeader;
  const size_t headerLen = zm::GetLE16(h + 4);
  if (headerLen < 12 || headerLen > avail) return kSFXBadHeader;
  s.Version = 2;
  s.Options = zm::GetLE16(h + 6);
  const uint16_t ovr = zm::GetLE16(h + 8);
  s.OverwriteMode = ovr == 0 ? ovrAlways : ovr == 1 ? ovrNever : ovrConfirm;
  s.MessageFlags = h[10];
  std::string table;
  if (s.Options & 0x8000) {
    if (headerLen < 20) return kSFXBadTextTable;
    const int64_t packed = zm::GetLE16(h + 12);
    const int64_t unpacked = zm::GetLE16(h + 14);
    uint32_t crc = zm::GetLE32(h + 16);
    if (20 + size_t(packed) > headerLen) return kSFXBadTextTable;
    TReadOnlyMemoryStream in(h + 20, size_t(packed));
    TMemoryStream out;
    int32_t r;
    try {
      r = InflateStream(&out, &in, 8, crc, packed);
    } catch (const std::exception&) {
      r = -1;
    }
    if (r != 0 || out.Size() != unpacked) return kSFXBadTextTable;
    table.assign(reinterpret_cast<const char*>(out.Memory()), size_t(out.Size()));
  } else {
    table.assign(reinterpret_cast<const char*>(h + 12), headerLen - 12);
  }
  s.Caption = TableText(table, 1);
  s.DefaultDir = TableText(table, 2);
  s.CommandLine = TableText(table, 3);
  s.RegFailPath = TableText(table, 4);
  s.Message = TableText(table, 5);
  return 1;
}

int32_t TZMLister::ReadSFXSettings(TMemoryStream& stub) {
  TZMSFXSettings s;
  const int32_t r = ParseSFXHeader(stub.Memory(), stub.Bytes().size(), s);
  if (r <= 0) return r;
  TIcon icon;
  try {
    icon = IconFromExe(stub);
  } catch (const EZMException& e) {
    return -e.MsgId;
  } catch (const std::exception&) {
    return kSFXBadHeader;
  }
  SetSFXIcon(&icon);
  uint32_t opts = s.Options & 0x3FF;
  if (s.Options & 0x800) opts |= 1u << soCreateEmptyDirs;
  if (s.Version == 2 && (s.Options & 0x1000)) opts |= 1u << soSuccessAlways;
  SetSFXOptions(TZMSFXOpts::FromBits(opts));
  SetSFXOverwriteMode(s.OverwriteMode);
  std::string message = s.Message;
  if (s.MessageFlags & 1)
    message = "1|" + message;
  else if (s.MessageFlags & 4)
    message = "2|" + message;
  SetSFXMessage(message);
  SetSFXCaption(s.Caption);
  SetSFXDefaultDir(s.DefaultDir);
  SetSFXCommandLine(s.CommandLine);
  SetSFXRegFailPath(s.RegFailPath);
  return 0;
}
