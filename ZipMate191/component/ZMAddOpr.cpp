#include "ZMAddOpr.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "PlatFile.h"
#include "PlatFileSys.h"
#include "PlatPath.h"
#include "PlatTime.h"
#include "ZMEndian.h"
#include "ZMIRec.h"
#include "ZMMatch.h"
#include "ZMMsg.h"
#include "ZMRecords.h"
#include "ZMNewFile.h"
#include "ZMUTF8.h"
#include "ZMUtils.h"
#include "ZMWFuncs.h"
#include "ZMXcpt.h"
#include "ZMZipFile.h"
#include "ZipMate.h"

namespace fs = std::filesystem;

namespace {

constexpr bool kUnixHost = plat::PathDelim == '/';
constexpr uint16_t kExtTimeTag = 0x5455;
constexpr uint16_t kUtf8Flag = 0x800;
constexpr uint16_t kAesTag = 0x9901, kAesMethod = 99;

fs::path PathOf(const std::string& s) { return fs::path(WideFromModeString(s)); }
std::string TextOf(const fs::path& p) { return ModeStringFromWide(p.u16string()); }

bool HasWildcards(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

std::string WithDelim(const std::string& s) {
  return s.empty() || s.back() == plat::PathDelim ? s : s + plat::PathDelim;
}

std::string Native(std::string s) {
  std::replace(s.begin(), s.end(), plat::PathDelim == '/' ? '\\' : '/', plat::PathDelim);
  return s;
}

// The stored name of a component name: '/' separators, UTF-8.
std::string StoredName(const std::string& name) {
  std::string h = TZMZRec::HeaderForm(name);
  return UTF8Mode() ? h : Utf8FromAnsi(h);
}

// Names that are one entry: separators of either kind, a folder's final one left
// out, letters without regard to case.
std::u16string NameKey(const std::string& name) {
  std::u16string key = WideFromModeString(name);
  std::replace(key.begin(), key.end(), u'/', u'\\');
  if (!key.empty() && key.back() == u'\\') key.pop_back();
  UpperWide(key);
  return key;
}

// A relative path as an entry's name: "." and ".." parts resolved, and none that
// would climb out of the folder it is extracted to.
std::string StoredRelative(const std::string& rel) {
  std::string r = TextOf(PathOf(rel).lexically_normal());
  while (r == ".." || r.compare(0, 3, std::string("..") + plat::PathDelim) == 0)
    r.erase(0, r.size() > 2 ? 3 : 2);
  if (r == ".") r.clear();
  return r;
}

bool IsAscii(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The item's Unix time, mode and DOS time from the disk.
bool Describe(const fs::path& p, TZMAddItem& item) {
  std::error_code ec;
  const fs::file_status st = fs::status(p, ec);
  if (ec) return false;
  item.Folder = fs::is_directory(st);
  if (!item.Folder) {
    item.Size = fs::file_size(p, ec);
    if (ec) return false;
  }
  const auto t = fs::last_write_time(p, ec);
  if (ec) return false;
  const auto sys = std::chrono::file_clock::to_sys(t);
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(sys.time_since_epoch()).count();
  item.UnixTime = ns / 1000000000 - (ns % 1000000000 < 0 ? 1 : 0);
  const uint32_t nano = uint32_t(ns - item.UnixTime * 1000000000);
  item.DosTime = FileTimeToDos(plat::FileTimeFromUnix(item.UnixTime, nano));
  if (kUnixHost) item.Mode = (item.Folder ? 0040000u : 0100000u) | (uint32_t(st.permissions()) & 07777u);
  item.Attrs = plat::FileAttributes(TextOf(p));
  if (item.Attrs == plat::kInvalidAttributes) item.Attrs = 0;
  return true;
}

// The extended timestamp: the modification time in Unix seconds.
std::string TimeExtra(int64_t unixTime) {
  std::string x(9, '\0');
  zm::PutLE16(&x[0], kExtTimeTag);
  zm::PutLE16(&x[2], 5);
  x[4] = 1;
  zm::PutLE32(&x[5], uint32_t(unixTime));
  return x;
}

// The parts of a split target that failed go again.
struct TPartsGuard {
  TZMZipCopy& Out;
  bool Done = false;
  ~TPartsGuard() {
    if (!Done && Out.IsMultiDisk()) Out.AbandonVolumes();
  }
};

}  // namespace

// The stream the engine writes an item's data to: the target archive at its end.
class TZMAddOpr::TSink : public TStream {
 public:
  explicit TSink(TZMZipCopy& out) : FOut(out) {}
  int Read(void*, int) override { return 0; }
  int Write(const void* buffer, int count) override {
    const int32_t n = FOut.Write(buffer, count);
    return n < 0 ? 0 : n;
  }
  int64_t Seek(int64_t, int) override { return -1; }

 private:
  TZMZipCopy& FOut;
};

// An item in the engine's hands and the record it becomes.
struct TZMAddOpr::TPending {
  TZMZRec* Rec = nullptr;
  size_t Item = 0;
  int64_t Offset = 0;
  int Disk = 0;
  std::string Part;    // the file of that part
  std::string Header;  // the local header as written
};

TZMAddOpr::TZMAddOpr(TCustomZipMate& master) : TZMDLLOpr(master) {}

TZMAddOpr::~TZMAddOpr() = default;

bool TZMAddOpr::Excluded(const std::string& name) const {
  const TStrings& excl = Master().WorkingExclSpecs();
  const std::string bare = BareFileName(name);
  for (int i = 0; i < excl.Count(); ++i) {
    const std::string pat = Native(excl.Strings(i));
    if (pat.empty()) continue;
    if (FileNameMatch(pat, name) || FileNameMatch(pat, bare)) return true;
  }
  return false;
}

bool TZMAddOpr::StoredSuffix(const std::string& name) const {
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || name.find_first_of("\\/", dot) != std::string::npos) return false;
  std::string ext = name.substr(dot) + ":";
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  const std::string list = ":" + StoreSuffixText();
  return list.find(":" + ext) != std::string::npos;
}

void TZMAddOpr::Walk(const std::string& folder, const std::string& prefix, const std::string& pattern,
                     bool recurse, std::vector<TZMAddItem>& out) {
  const TZMAddOpts opts = AddOptions();
  std::vector<fs::path> entries;
  std::error_code ec;
  for (fs::directory_iterator it(PathOf(folder), ec), end; !ec && it != end; it.increment(ec))
    entries.push_back(it->path());
  if (ec) {
    ReportSkipped(folder, 0, stNoAccess);
    return;
  }
  std::sort(entries.begin(), entries.end());
  for (const fs::path& p : entries) {
    ThrowIfCancelled();
    const std::string base = TextOf(p.filename());
    const std::string path = TextOf(p);
    const uint32_t attrs = plat::FileAttributes(path);
    const bool hidden =
        (!base.empty() && base[0] == '.') || (attrs != plat::kInvalidAttributes && (attrs & plat::faHidden));
    if (hidden && !opts.Contains(AddHiddenFiles)) continue;
    std::error_code e2;
    const fs::file_status link = fs::symlink_status(p, e2);
    TZMAddItem item;
    item.Path = path;
    if (fs::is_directory(link)) {
      if (!recurse) continue;
      const std::string sub = prefix + base + plat::PathDelim;
      if (opts.Contains(AddEmptyDirs) && opts.Contains(AddDirNames) && !Excluded(sub) && Describe(p, item)) {
        item.Name = sub;
        out.push_back(item);
      }
      Walk(path, sub, pattern, true, out);
      continue;
    }
    if (!FileNameMatch(pattern, base)) continue;
    const std::string name = opts.Contains(AddDirNames) ? prefix + base : base;
    if (Excluded(name)) continue;
    if (!Describe(p, item) || item.Folder) {
      if (!item.Folder) ReportSkipped(path, 0, stNoAccess);
      continue;
    }
    if (!fs::is_regular_file(fs::status(p, e2))) {
      ReportSkipped(path, 0, stCannotDo);
      continue;
    }
    item.Name = name;
    out.push_back(item);
  }
}

std::vector<TZMAddItem> TZMAddOpr::CollectFiles() {
  TCustomZipMate& m = Master();
  const TZMAddOpts opts = AddOptions();
  const std::string root = WithDelim(m.RootDir().empty() ? plat::CurrentFolder() : Native(m.RootDir()));
  const TStrings& specs = m.WorkingSpecs();
  std::vector<TZMAddItem> found;
  for (int i = 0; i < specs.Count(); ++i) {
    std::string given = Native(specs.Strings(i));
    if (given.empty()) continue;
    const size_t before = found.size();
    const bool absolute = PathOf(given).is_absolute();
    const std::string full = absolute ? given : root + given;
    // Names below the root keep their folders from it; others only from the name given.
    std::string rel = given;
    if (absolute && full.compare(0, root.size(), root) == 0) rel = full.substr(root.size());
    if (absolute && rel == given) rel = TextOf(PathOf(given).relative_path());
    rel = StoredRelative(rel);
    if (!HasWildcards(given) && FolderExists(full)) {
      const std::string prefix = WithDelim(rel);
      TZMAddItem item;
      if (!prefix.empty() && opts.Contains(AddDirNames) && Describe(PathOf(full), item) &&
          !Excluded(prefix)) {
        item.Path = full;
        item.Name = prefix;
        found.push_back(item);
      }
      if (opts.Contains(AddRecurseDirs))
        Walk(full, opts.Contains(AddDirNames) ? prefix : "", "*", true, found);
    } else if (!HasWildcards(given)) {
      TZMAddItem item;
      const std::string name = opts.Contains(AddDirNames) ? rel : BareFileName(rel);
      if (Describe(PathOf(full), item) && !item.Folder && !Excluded(name)) {
        item.Path = full;
        item.Name = name;
        found.push_back(item);
      }
    } else {
      const size_t cut = rel.find_last_of(plat::PathDelim);
      const std::string pattern = cut == std::string::npos ? rel : rel.substr(cut + 1);
      const std::string sub = cut == std::string::npos ? std::string() : rel.substr(0, cut + 1);
      const size_t fcut = full.find_last_of(plat::PathDelim);
      Walk(full.substr(0, fcut + 1), opts.Contains(AddDirNames) ? sub : "", pattern,
           opts.Contains(AddRecurseDirs), found);
    }
    if (found.size() == before) ReportSkipped(specs.Strings(i), 0, stNotFound);
  }
  // The archive itself, files older than AddFrom and second mentions are left out;
  // the application may rename what stays.
  plat::TFileId self{};
  const bool haveSelf = FileIdentityOf(m.ZipFileName(), self);
  const bool fromDate = opts.Contains(AddFromDate);
  std::vector<TZMAddItem> items;
  std::set<std::u16string> names;
  for (TZMAddItem& item : found) {
    plat::TFileId id;
    if (haveSelf && !item.Folder && FileIdentityOf(item.Path, id) && id == self) continue;
    if (fromDate && !item.Folder && DosToDateTime(item.DosTime) < m.AddFrom()) continue;
    if (m.OnSetAddName && !item.Folder) {
      std::string name = item.Name;
      bool changed = false;
      m.OnSetAddName(&m, name, item.Path, changed);
      if (changed && !name.empty() && !TZMZRec::IsInvalidName(name)) item.Name = Native(name);
    }
    if (!names.insert(NameKey(item.Name)).second) {
      if (!item.Folder) ReportSkipped(item.Path, ZM_CODE(zmmZMAddOpr, zmsDuplicateFilename), stDupName);
      continue;
    }
    items.push_back(std::move(item));
  }
  return items;
}

std::unique_ptr<TZMZipFile> TZMAddOpr::OpenOld() {
  const std::string& name = Master().ZipFileName();
  if (!FileIsPresent(name)) return nullptr;
  auto old = std::make_unique<TZMZipFile>(Master());
  old->SetFileName(name);
  const int32_t r = old->OpenZip(false, false);
  if (r < 0) throw EZipMate::CreateCode(-r, true);
  return old;
}

void TZMAddOpr::BeginTarget(TZMNewFile& file, TZMZipCopy& out) {
  const std::string& name = Master().ZipFileName();
  if (Master().MaxVolumeSize() > 0 || WriteOptions().Contains(zwoDiskSpan)) {
    // The parts are written under their own names, so a set is made only where no
    // archive of that name is read meanwhile.
    if (FileIsPresent(name)) {
      EZipMate e = EZipMate::CreateCode(ZM_CODE(zmmZMAddOpr, zmsDiskSpanningNotSupported), true);
      e.SetMessage(LoadMessageText(zmsDiskSpanningNotSupported) + ": " + name +
                   " exists, and a split archive is always written as a new one");
      throw e;
    }
    out.SetIsMultiDisk(true);
    out.File_Create(name);
    // The spanning marker begins the first part.
    uint8_t marker[4];
    zm::PutLE32(marker, zm::kDataDescriptorSig);
    if (!out.Writes(marker, -4)) throw EZipMate::CreateCode(ZM_CODE(zmmZMAddOpr, 175), true);
    return;
  }
  file.Begin(name, true);
  out.File_Attach(file.Handle(), name);
  out.SetReportMode(1);
}

void TZMAddOpr::CopyKept(TZMZipFile& old, TZMZipCopy& out) {
  out.SetZipComment(old.ZipComment());
  if (old.CheckUnchanged() < 0) throw EZipMate::CreateCode(ZM_CODE(zmmZMAddOpr, 162), true);
  const int32_t added = out.CopyEntries(old, false);
  if (added < 0) throw EZipMate::CreateCode(-added, true);
  for (int i = 0; i < out.Count(); ++i) {
    ThrowIfCancelled();
    const int64_t r = out.ProcessEntry(out.Items(i));
    if (r < 0) throw EZipMate::CreateCode(int32_t(-r), true);
  }
}

void TZMAddOpr::PackItems(std::vector<TZMAddItem>& items, TZMZipCopy& out) {
  const TZMAddOpts opts = AddOptions();
  const bool encrypt = opts.Contains(AddEncrypt);
  TCustomZipMate& m = Master();
  FPending.clear();
  FPackItems.clear();
  // Folders are written here and the files after them, and the directory lists them
  // in that order (readers that copy entries one after the other rely on it).
  std::stable_partition(items.begin(), items.end(), [](const TZMAddItem& i) { return i.Folder; });
  for (size_t i = 0; i < items.size(); ++i) {
    const TZMAddItem& item = items[i];
    auto rec = std::make_unique<TZMZRec>(&out);
    const std::string stored = StoredName(item.Name);
    rec->SetHeaderName(stored);
    rec->SetFlag(IsAscii(stored) ? 0 : kUtf8Flag);
    rec->SetVersionMadeBy(uint16_t((kUnixHost ? 3 << 8 : 0) | 30));
    uint32_t dos = (item.Folder ? 0x10 : 0) | (item.Attrs & 0x07);
    if (kUnixHost && !(item.Mode & 0200)) dos |= 1;
    rec->SetRawExtraField(TimeExtra(item.UnixTime));
    rec->SetModifDateTime(item.DosTime);
    TZMZRec* r = rec.get();
    if (out.Add(rec.release()) < 0) continue;
    r->SetExtFileAttrib((item.Mode << 16) | dos);
    if (item.Folder) {
      // A folder has no data: its header is written here.
      r->SetCompressionMethod(0);
      r->SetRelOffLocal(out.Position());
      r->SetStartOnDisk(uint16_t(out.DiskNr()));
      const int32_t w = r->WriteLocal(item.DosTime, 0);
      if (w < 0) throw EZipMate::CreateCode(-w, true);
      ++FWritten;
      continue;
    }
    int level = StoredSuffix(item.Name) ? 0 : m.AddCompLevel();
    if (m.OnSetCompLevel) {
      int asked = level;
      bool changed = false;
      m.OnSetCompLevel(&m, item.Name, asked, changed);
      if (changed && asked >= 0 && asked <= 9) level = asked;
    }
    TDZPackItem pi{};
    pi.Level = level;
    pi.Flags = !encrypt                         ? 0
               : m.AddEncryption() == zaeAes256 ? DZ_PACK_ENCRYPT | DZ_PACK_AES
                                                : DZ_PACK_ENCRYPT;
    pi.DosTime = item.DosTime;
    pi.Size = int64_t(item.Size);
    FPackItems.push_back(pi);
    TPending p;
    p.Rec = r;
    p.Item = i;
    FPending.push_back(std::move(p));
  }
  if (FPackItems.empty()) return;
  // The engine reads the names in UTF-8.
  std::vector<std::string> paths;
  paths.reserve(FPending.size());
  for (TPending& p : FPending)
    paths.push_back(UTF8Mode() ? items[p.Item].Path : Utf8FromAnsi(items[p.Item].Path));
  for (size_t k = 0; k < FPending.size(); ++k) FPackItems[k].Path = paths[k].c_str();
  if (encrypt && Unattended() && m.Password().empty())
    throw EZipMate::CreateCode(ZM_CODE(zmmZMAddOpr, 110), true);
  if (LoadEngineDll() <= 0) throw EZipMate::CreateCode(ZM_CODE(zmmZMAddOpr, 19), true);
  const TZMEngineRun after(*this, [this] {
    FreeCommand();
    FOut = nullptr;
  });
  TDZPackJob job{};
  job.Count = int32_t(FPackItems.size());
  job.Items = FPackItems.data();
  TDZCommand* cmd = BuildAddCommand(m.ZipFileName());
  cmd->Options |= DZ_OPT_PACK;
  cmd->OpData = &job;
  FOut = &out;
  FSink = std::make_unique<TSink>(out);
  FEventErr.clear();
  ExecEngine(cmd);
  for (size_t k = 0; k < FPending.size(); ++k) {
    if (FPackItems[k].Result == 1)
      ++FWritten;
    else
      FPending[k].Rec->SetStatusBit(zsbDiscard);
  }
}

int32_t TZMAddOpr::OpenItem(TDZStreamRec& rec, size_t index) {
  TPending& p = FPending[index];
  const TDZPackItem& it = FPackItems[index];
  TZMZRec& r = *p.Rec;
  const bool known = (it.Flags & DZ_PACK_KNOWN) != 0;
  const bool crypted = (it.Flags & DZ_PACK_ENCRYPT) != 0;
  const bool aes = crypted && (it.Flags & DZ_PACK_AES) != 0;
  r.SetCompressionMethod(it.Level == 8 ? 8 : 0);
  if (aes) {
    // The method inside goes to the AES block; the headers name AES and carry no CRC.
    std::string x(11, '\0');
    zm::PutLE16(&x[0], kAesTag);
    zm::PutLE16(&x[2], 7);
    zm::PutLE16(&x[4], 2);
    x[6] = 'A';
    x[7] = 'E';
    x[8] = 3;
    zm::PutLE16(&x[9], r.CompressionMethod());
    r.SetRawExtraField(r.ExtraField() + x);
    r.SetCompressionMethod(kAesMethod);
  }
  uint16_t flag = uint16_t(r.Flag() & kUtf8Flag);
  if (crypted) flag |= 1;
  // Sizes found only at the end go after the data with encryption that checks the
  // time instead of the CRC; otherwise the header is written again (in its part).
  const bool descriptor = !known && crypted && !aes;
  if (descriptor) flag |= 8;
  r.SetFlag(flag);
  if (known) {
    r.SetCRC32(aes ? 0 : it.Crc);
    r.SetUncompressedSize(it.Size);
    r.SetCompressedSize(it.CompSize);
  } else {
    // Room for Zip64 sizes when the file may need them.
    const int64_t guess = it.Size >= 0xF0000000LL ? std::max<int64_t>(it.Size, 0x100000000LL) : it.Size;
    r.SetCRC32(0);
    r.SetUncompressedSize(guess);
    r.SetCompressedSize(guess);
  }
  std::string h = r.LocalBytes(r.DateTime(), r.CRC32());
  r.SetFlag(flag);
  if (aes) {
    r.SetVersionNeeded(uint16_t((r.VersionNeeded() & 0xFF00) | 51));
    zm::PutLE16(&h[4], r.VersionNeeded());
  }
  if (descriptor) {
    // The descriptor has 64-bit sizes exactly when the header has a Zip64 block.
    const uint16_t need = r.TestStatusBit(zsbLocal64) ? 45 : 20;
    r.SetVersionNeeded(uint16_t((r.VersionNeeded() & 0xFF00) | need));
    zm::PutLE16(&h[4], r.VersionNeeded());
    zm::PutLE16(&h[6], flag);
    // CRC and sizes follow in the descriptor; a Zip64 block keeps its place with 0.
    for (int k = 14; k < 18; ++k) h[size_t(k)] = 0;
    if (!r.TestStatusBit(zsbLocal64)) {
      for (int k = 18; k < 26; ++k) h[size_t(k)] = 0;
    } else {
      const size_t x = 30 + r.HeaderName().size();
      if (h.size() >= x + 20 && zm::GetLE16(&h[x]) == kZip64Tag)
        for (size_t k = x + 4; k < x + 20; ++k) h[k] = 0;
    }
  }
  if (!FOut->Writes(h.data(), -int32_t(h.size()))) return 0;
  // Where the header landed: an unbroken write may have begun a new part.
  p.Disk = FOut->DiskNr();
  p.Offset = FOut->Position() - int64_t(h.size());
  p.Part = FOut->RealFileName();
  p.Header = h;
  r.SetRelOffLocal(p.Offset);
  r.SetStartOnDisk(uint16_t(p.Disk));
  rec.StreamRef = FSink.get();
  return 1;
}

int32_t TZMAddOpr::CloseItem(TDZStreamRec& rec, size_t index) {
  TPending& p = FPending[index];
  const TDZPackItem& it = FPackItems[index];
  TZMZRec& r = *p.Rec;
  rec.StreamRef = nullptr;
  if (it.Result != 1) {
    // Part of a file that could not be read to its end: taken out again (not when
    // parts holding it are finished).
    if (p.Disk != FOut->DiskNr()) return 0;
    if (FOut->Seek(plat::soBeginning, p.Offset) != p.Offset || !FOut->Truncate()) return 0;
    r.SetStatusBit(zsbDiscard);
    return 1;
  }
  const uint32_t crc = r.CompressionMethod() == kAesMethod ? 0 : it.Crc;
  r.SetCRC32(crc);
  r.SetUncompressedSize(it.Size);
  r.SetCompressedSize(it.CompSize);
  if (r.Flag() & 8) return r.WriteDataDesc() > 0 ? 1 : 0;
  if (it.Flags & DZ_PACK_KNOWN) return 1;
  // The header is written again with the CRC and sizes, in the same length.
  std::string& h = p.Header;
  zm::PutLE32(&h[14], crc);
  const size_t x = 30 + r.HeaderName().size();
  if (zm::GetLE32(&h[18]) == 0xFFFFFFFFu && h.size() >= x + 20 && zm::GetLE16(&h[x]) == kZip64Tag) {
    zm::PutLE64(&h[x + 4], uint64_t(it.Size));
    zm::PutLE64(&h[x + 12], uint64_t(it.CompSize));
  } else {
    if (it.Size >= 0xFFFFFFFFLL || it.CompSize >= 0xFFFFFFFFLL) {
      // The file grew past what its header has room for.
      ReportSkipped(it.Path, 0, stSizeChange);
      return 0;
    }
    zm::PutLE32(&h[18], uint32_t(it.CompSize));
    zm::PutLE32(&h[22], uint32_t(it.Size));
  }
  if (p.Disk != FOut->DiskNr()) {
    // The header is in a finished part of a split set.
    const plat::THandle part = plat::FileOpen(p.Part, plat::fmOpenReadWrite | plat::fmShareDenyWrite);
    if (part == plat::kInvalidHandle) return 0;
    const bool ok = plat::FileWriteAt(part, h.data(), int(h.size()), uint64_t(p.Offset)) == int(h.size());
    return plat::FileClose(part) && ok ? 1 : 0;
  }
  const int64_t end = FOut->Position();
  if (FOut->Seek(plat::soBeginning, p.Offset) != p.Offset || !FOut->Writes(h.data(), -int32_t(h.size())) ||
      FOut->Seek(plat::soBeginning, end) != end)
    return 0;
  return 1;
}

int32_t TZMAddOpr::HandleStream(TDZStreamRec& rec) {
  const int32_t n = rec.StreamNo - DZ_PACK_STREAM;
  if (!FOut || n < 0 || size_t(n) >= FPending.size() ||
      (rec.StreamOp != DZ_SO_OPEN && rec.StreamOp != DZ_SO_CLOSE))
    return TZMDLLOpr::HandleStream(rec);
  try {
    return rec.StreamOp == DZ_SO_OPEN ? OpenItem(rec, size_t(n)) : CloseItem(rec, size_t(n));
  } catch (...) {
    return -5;
  }
}

void TZMAddOpr::Finish(TZMNewFile& file, TZMZipCopy& out) {
  ThrowIfCancelled();
  if (WriteOptions().Contains(zwoZipTime)) {
    uint32_t newest = 0;
    for (int i = 0; i < out.Count(); ++i) {
      const TZMZRec* r = out.Items(i);
      if (!(r->StatusBits() & (zsbDiscard | zsbError))) newest = std::max(newest, r->DateTime());
    }
    if (newest) out.SetStampDate(newest);
  }
  const int64_t r = out.FinishWriting();
  if (r < 0) throw EZipMate::CreateCode(int32_t(-r), true);
  // A split set is complete once its last part has its name.
  if (!out.IsMultiDisk()) file.Commit();
}

void TZMAddOpr::Guarded(const std::function<void()>& work) {
  try {
    SetCancelCode(0);
    SetSuccessCnt(0);
    if (Master().ZipFileName().empty())
      throw EZipMate::CreateCode(ZM_CODE(zmmZMAddOpr, zmsErrorNoZipFileSpecified), true);
    work();
  } catch (EZMException& e) {
    ShowRunFailure(e);
  }
}

void TZMAddOpr::RunAdd() {
  Guarded([this] { Add(); });
}

void TZMAddOpr::RunDelete() {
  Guarded([this] { Delete(); });
}

void TZMAddOpr::Add() {
  TCustomZipMate& m = Master();
  const TZMAddOpts opts = AddOptions();
  std::vector<TZMAddItem> items = CollectFiles();
  const bool anyFound = !items.empty();
  std::unique_ptr<TZMZipFile> old = OpenOld();
  const bool update = opts.Contains(AddUpdate);
  const bool freshen = opts.Contains(AddFreshen) && !update;
  if (old) {
    std::map<std::u16string, TZMZRec*> byName;
    for (int i = 0; i < old->Count(); ++i) {
      TZMZRec* r = old->Items(i);
      r->SetStatusBit(zsbSelected);
      byName.emplace(NameKey(r->FileName()), r);
    }
    std::vector<TZMAddItem> kept;
    for (TZMAddItem& item : items) {
      const auto found = byName.find(NameKey(item.Name));
      TZMZRec* was = found == byName.end() ? nullptr : found->second;
      if ((freshen || update) && was && item.DosTime <= was->DateTime()) continue;
      if (freshen && !was) continue;
      if (was) {
        was->ClearStatusBit(zsbSelected);
      }
      kept.push_back(std::move(item));
    }
    items.swap(kept);
  } else if (freshen) {
    items.clear();
  }
  if (items.empty()) {
    if (!anyFound) throw EZipMate::CreateCode(ZM_CODE(zmmZMAddOpr, zmsErrorNoFilesToZip), true);
    // Everything is as new in the archive as on the disk.
    ReportFormatted(zmsNothingToDo, {});
    return;
  }
  TZMNewFile file(*this);
  auto out = std::make_unique<TZMZipCopy>(m);
  TPartsGuard parts{*out};
  BeginTarget(file, *out);
  if (old) CopyKept(*old, *out);
  PackItems(items, *out);
  if (old) old->File_Close();
  Finish(file, *out);
  parts.Done = true;
  out.reset();
  SetSuccessCnt(FWritten);
  // Sources go only now that the archive holding them is in its place.
  if (opts.Contains(AddMove)) {
    std::vector<std::string> folders;
    size_t k = 0;
    for (size_t i = 0; i < items.size(); ++i) {
      if (items[i].Folder) {
        folders.push_back(items[i].Path);
        continue;
      }
      const bool written = k < FPending.size() && FPending[k].Item == i && FPackItems[k].Result == 1;
      if (k < FPending.size() && FPending[k].Item == i) ++k;
      if (written && DiscardFile(items[i].Path, HowToDelete() == htdFinal) != 0)
        ReportSkipped(items[i].Path, 0, stNoAccess);
    }
    std::sort(folders.rbegin(), folders.rend());
    for (const std::string& f : folders) RemoveFolder(SetTrailingDelimiter(f, false));
  }
}

void TZMAddOpr::Delete() {
  TCustomZipMate& m = Master();
  std::unique_ptr<TZMZipFile> old = OpenOld();
  if (!old) throw EZipMate::CreateStr(ZM_CODE(zmmZMAddOpr, 123), m.ZipFileName());
  const TStrings& specs = m.WorkingSpecs();
  int removed = 0;
  for (int i = 0; i < old->Count(); ++i) {
    TZMZRec* r = old->Items(i);
    const std::string name = r->FileName();
    bool hit = false;
    for (int s = 0; s < specs.Count() && !hit; ++s)
      hit = !specs.Strings(s).empty() && FileNameMatch(Native(specs.Strings(s)), name);
    if (hit && !Excluded(name)) {
      r->ClearStatusBit(zsbSelected);
      ++removed;
    } else {
      r->SetStatusBit(zsbSelected);
    }
  }
  if (removed == 0)
    throw EZipMate::CreateCode(ZM_CODE(zmmZMAddOpr, zmsErrorNoFilesSelectedForDeletion), true);
  TZMNewFile file(*this);
  auto out = std::make_unique<TZMZipCopy>(m);
  TPartsGuard parts{*out};
  BeginTarget(file, *out);
  CopyKept(*old, *out);
  old->File_Close();
  Finish(file, *out);
  parts.Done = true;
  SetSuccessCnt(removed);
}

void ZMRunAdd(TCustomZipMate& comp) { TZMFileOpr::Start<TZMAddOpr>(comp)->RunAdd(); }

void ZMRunDelete(TCustomZipMate& comp) { TZMFileOpr::Start<TZMAddOpr>(comp)->RunDelete(); }
