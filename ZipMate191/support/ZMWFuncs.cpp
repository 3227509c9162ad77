#include "ZMWFuncs.h"

#include <utility>

#include "PlatError.h"
#include "PlatPath.h"
#include "PlatResource.h"
#include "ZMClasses.h"
#include "ZMUTF8.h"

namespace {

constexpr size_t kMaxFoundName = 260;

bool IsDelim(char c) { return c == plat::PathDelim; }
bool IsDelimW(char16_t c) { return c == plat::PathDelimW; }

// Fills the record from the current find data.
void FillRec(TZMSearchRec& rec) {
  const plat::TFindData& d = rec.FindData;
  rec.Time = FileTimeToDos(d.LastWriteTime);
  rec.Size = int64_t(d.Size);
  rec.Attr = d.Attr;
  std::u16string name = d.Name.substr(0, kMaxFoundName);
  rec.Name = ModeStringFromWide(name);
}

// Moves on past excluded entries; 0 or the platform's error.
int SkipExcluded(TZMSearchRec& rec) {
  while (rec.FindData.Attr & rec.ExcludeAttr) {
    if (!plat::FindNextW(rec.FindHandle, rec.FindData)) return int(plat::GetLastError());
  }
  FillRec(rec);
  return 0;
}

}  // namespace

TZMSearchRec::TZMSearchRec(TZMSearchRec&& other) noexcept
    : Time(other.Time),
      Size(other.Size),
      Attr(other.Attr),
      Name(std::move(other.Name)),
      ExcludeAttr(other.ExcludeAttr),
      FindHandle(std::exchange(other.FindHandle, plat::kInvalidFindHandle)),
      FindData(std::move(other.FindData)) {}

TZMSearchRec& TZMSearchRec::operator=(TZMSearchRec&& other) noexcept {
  if (this != &other) {
    FindEndEntry(*this);
    Time = other.Time;
    Size = other.Size;
    Attr = other.Attr;
    Name = std::move(other.Name);
    ExcludeAttr = other.ExcludeAttr;
    FindHandle = std::exchange(other.FindHandle, plat::kInvalidFindHandle);
    FindData = std::move(other.FindData);
  }
  return *this;
}

TZMSearchRec::~TZMSearchRec() { FindEndEntry(*this); }

bool RemoveFile(const std::string& name) {
  if (UTF8Mode()) return plat::FileDeleteW(WideFromUtf8String(name));
  return plat::FileDelete(name);
}

bool FolderExists(const std::string& name) {
  if (name.empty()) return true;
  std::string n = name;
  if (IsDelim(n.back()) && n.size() > 1) n.pop_back();  // the root keeps its delimiter
  uint32_t a = UTF8Mode() ? plat::FileAttributesW(WideFromUtf8String(n)) : plat::FileAttributes(n);
  return a != plat::kInvalidAttributes && (a & plat::faDirectory) != 0;
}

bool FolderExistsWide(const std::u16string& name) {
  if (name.empty()) return true;
  std::u16string n = name;
  if (IsDelimW(n.back()) && n.size() > 1) n.pop_back();
  uint32_t a = plat::FileAttributesW(n);
  return a != plat::kInvalidAttributes && (a & plat::faDirectory) != 0;
}

bool FileIsPresent(const std::string& name) {
  if (!UTF8Mode()) return plat::FileExists(name);
  std::u16string wide = WideFromUtf8String(name);
  uint32_t a = plat::FileAttributesW(wide);
  if (a != plat::kInvalidAttributes) return (a & plat::faDirectory) == 0;
  uint32_t err = plat::GetLastError();
  if (err == plat::kErrFileNotFound || err == plat::kErrPathNotFound || err == plat::kErrInvalidName)
    return false;
  // Attributes unreadable for another reason (e.g. a locked file): search for it.
  plat::TFindData data;
  plat::TFindHandle h = plat::FindFirstW(wide, data);
  if (h == plat::kInvalidFindHandle) return false;
  plat::FindEnd(h);
  return (data.Attr & plat::faDirectory) == 0;
}

int DiscardFile(const std::string& name, bool permanent) {
  std::string full = name;
  if (name.find(plat::PathDelim) == std::string::npos) {
    std::string cur = plat::CurrentFolder();
    if (cur.empty() || !IsDelim(cur.back())) cur += plat::PathDelimStr;
    full = cur + name;
  }
  if (!FileIsPresent(full)) return -1;
  std::string native = UTF8Mode() ? plat::NativeName(WideFromUtf8String(full)) : full;
  if (permanent) return plat::FileDelete(native) ? 0 : int(plat::GetLastError());
  return int(plat::FileDeleteToTrash(native));
}

plat::THandle OpenFileForMode(const std::string& name, uint32_t mode) {
  uint32_t access = mode & 3;
  uint32_t share = (mode & 0xF0) >> 4;
  if (access == 3 || share > 4 || (mode & ~0xF3u) != 0) {
    plat::SetLastError(plat::kErrInvalidParameter);
    return plat::kInvalidHandle;
  }
  // POSIX has no mandatory sharing modes; the access is what counts here.
  if (UTF8Mode()) return plat::FileOpenW(WideFromUtf8String(name), access);
  return plat::FileOpen(name, mode);
}

int FindFirstEntry(const std::string& pattern, uint32_t attributes, TZMSearchRec& rec) {
  FindEndEntry(rec);
  rec.ExcludeAttr = ~attributes & (plat::faHidden | plat::faSysFile | plat::faDirectory);
  std::u16string wide = WideFromModeString(pattern);
  if (wide.empty()) {
    plat::SetLastError(plat::kErrPathNotFound);
    return int(plat::kErrPathNotFound);
  }
  rec.FindHandle = plat::FindFirstW(wide, rec.FindData);
  if (rec.FindHandle == plat::kInvalidFindHandle) return int(plat::GetLastError());
  int r = SkipExcluded(rec);
  if (r != 0) {
    FindEndEntry(rec);
    plat::SetLastError(uint32_t(r));
  }
  return r;
}

int FindNextEntry(TZMSearchRec& rec) {
  if (rec.FindHandle == plat::kInvalidFindHandle) return int(plat::kErrInvalidHandle);
  if (!plat::FindNextW(rec.FindHandle, rec.FindData)) return int(plat::GetLastError());
  return SkipExcluded(rec);
}

void FindEndEntry(TZMSearchRec& rec) {
  if (rec.FindHandle != plat::kInvalidFindHandle) {
    plat::FindEnd(rec.FindHandle);
    rec.FindHandle = plat::kInvalidFindHandle;
  }
}

int32_t FileStamp(const std::string& name) {
  TZMSearchRec rec;
  if (FindFirstEntry(name, faAnyFile, rec) != 0) return -1;
  uint32_t stamp = FileTimeToDos(rec.FindData.LastWriteTime);
  FindEndEntry(rec);
  return stamp == 0 ? -1 : int32_t(stamp);
}

bool MakeFolderPath(const std::string& name, const TZMFolderCreator& creator) {
  if (name.empty()) return true;
  std::string path = name;
  while (path.size() > 1 && IsDelim(path.back())) path.pop_back();
  if (FolderExists(path)) return true;
  auto cut = path.find_last_of(std::string(plat::PathDelimStr) + ":");
  std::string parent = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
  if (parent == path) return true;  // a root
  if (!MakeFolderPath(parent, creator)) return false;
  if (creator) return creator(path);
  if (UTF8Mode()) return plat::FolderCreateW(WideFromUtf8String(path));
  return plat::FolderCreate(path);
}

bool MakeFolderPathWide(const std::u16string& name, const TZMFolderCreatorWide& creator) {
  if (name.empty()) return true;
  std::u16string path = name;
  while (path.size() > 1 && IsDelimW(path.back())) path.pop_back();
  if (FolderExistsWide(path)) return true;
  std::u16string delims{plat::PathDelimW, u':'};
  auto cut = path.find_last_of(delims);
  std::u16string parent = cut == std::u16string::npos ? std::u16string() : path.substr(0, cut + 1);
  if (parent == path) return true;
  if (!MakeFolderPathWide(parent, creator)) return false;
  if (creator) return creator(path);
  return plat::FolderCreateW(path);
}

bool RemoveFolder(const std::string& name) {
  if (UTF8Mode()) return plat::FolderRemoveW(WideFromUtf8String(name));
  return plat::FolderRemove(name);
}

bool RenameFile(const std::string& oldName, const std::string& newName) {
  if (UTF8Mode()) return plat::FileMoveW(WideFromUtf8String(oldName), WideFromUtf8String(newName));
  return plat::FileMove(oldName, newName);
}

uint32_t ReplaceFile(const std::string& source, const std::string& target, bool toTrash) {
  if (UTF8Mode()) return plat::FileReplaceW(WideFromUtf8String(source), WideFromUtf8String(target), toTrash);
  return plat::FileReplace(source, target, toTrash);
}

bool FileIdentityOf(const std::string& name, plat::TFileId& id) {
  if (UTF8Mode()) return plat::FileIdentityW(WideFromUtf8String(name), id);
  return plat::FileIdentity(name, id);
}

std::unique_ptr<TStream> OpenResourceStream(const std::string& name, int type) {
  try {
    plat::TResourceData res;
    bool found = false;
    if (name.size() >= 2 && name[0] == '#') {
      std::string digits = name.substr(1, 25);
      size_t used = 0;
      long id = std::stol(digits, &used, 10);
      if (used != digits.size() || id < 0 || id > 0xFFFF) return nullptr;
      found = plat::FindResourceById(int(id), type, res);
    } else {
      found = plat::FindResourceByName(name, type, res);
    }
    if (!found) return nullptr;
    return std::make_unique<TReadOnlyMemoryStream>(res.Data, res.Size);
  } catch (...) {
    return nullptr;
  }
}

double DosToDateTime(uint32_t dosDateTime) {
  plat::TFileTime local, utc;
  plat::TSystemTime st;
  if (!plat::DosDateTimeToFileTime(uint16_t(dosDateTime >> 16), uint16_t(dosDateTime & 0xFFFF), local) ||
      !plat::LocalFileTimeToFileTime(local, utc) || !plat::FileTimeToSystemTime(utc, st))
    return 0;
  return plat::SystemTimeToDateTime(st);
}

uint32_t FileTimeToDos(plat::TFileTime fileTime) {
  plat::TFileTime local;
  uint16_t date, time;
  if (!plat::FileTimeToLocalFileTime(fileTime, local) || !plat::FileTimeToDosDateTime(local, date, time))
    return 0;
  return (uint32_t(date) << 16) | time;
}
