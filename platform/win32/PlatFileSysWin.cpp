// Files and folders through the wide system calls; the recycle bin through the shell.
#include <windows.h>
#include <shellapi.h>

#include <climits>
#include <memory>

#include "PlatCodePage.h"
#include "PlatError.h"
#include "PlatFileSys.h"
#include "WinNames.h"

namespace plat {

namespace {

HANDLE H(THandle h) { return reinterpret_cast<HANDLE>(h); }

TFileTime FromFt(const FILETIME& ft) { return (TFileTime(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }

FILETIME ToFt(TFileTime t) {
  FILETIME ft;
  ft.dwLowDateTime = DWORD(t & 0xFFFFFFFFu);
  ft.dwHighDateTime = DWORD(t >> 32);
  return ft;
}

// Empty names are refused as the system refuses them; embedded zero bytes would
// silently cut the name short.
bool CheckName(const std::wstring& name) {
  if (name.empty() || name.find(L'\0') != std::wstring::npos) {
    ::SetLastError(name.empty() ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_NAME);
    return false;
  }
  return true;
}

bool CheckNarrow(const std::string& name, std::wstring& wide) {
  if (name.find('\0') != std::string::npos) {
    ::SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  wide = win::Wide(name);
  if (!name.empty() && wide.empty()) {
    ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return false;
  }
  return CheckName(wide);
}

// A narrow or wide name as the system takes it, once it has passed the checks.
bool CheckedWide(const std::string& name, std::wstring& wide) { return CheckNarrow(name, wide); }
bool CheckedWide(const std::u16string& name, std::wstring& wide) {
  wide = win::Wide(name);
  return CheckName(wide);
}

// A system call that takes one name and returns nonzero on success, made once the
// name has passed the checks.
template <class TName, class TCall>
bool CallOnName(const TName& name, TCall call) {
  std::wstring w;
  return CheckedWide(name, w) && call(w.c_str()) != 0;
}

uint32_t AttributesOf(const std::wstring& name) {
  if (!CheckName(name)) return kInvalidAttributes;
  return uint32_t(::GetFileAttributesW(name.c_str()));
}

}  // namespace

std::string NativeName(const std::u16string& name) { return win::Narrow(win::Wide(name)); }

std::u16string WideName(const std::string& name) { return win::U16(win::Wide(name)); }

uint32_t FileAttributes(const std::string& name) {
  std::wstring w;
  if (!CheckNarrow(name, w)) return kInvalidAttributes;
  return AttributesOf(w);
}

uint32_t FileAttributesW(const std::u16string& name) { return AttributesOf(win::Wide(name)); }

THandle FileOpenW(const std::u16string& name, uint32_t mode) {
  std::wstring w = win::Wide(name);
  if (!CheckName(w)) return kInvalidHandle;
  return win::OpenWide(w, mode);
}

THandle FileCreateW(const std::u16string& name) {
  std::wstring w = win::Wide(name);
  if (!CheckName(w)) return kInvalidHandle;
  return win::CreateWide(w);
}

THandle FileCreateNewW(const std::u16string& name) {
  std::wstring w = win::Wide(name);
  if (!CheckName(w)) return kInvalidHandle;
  return win::CreateWide(w, true);
}

int32_t FileSeek32(THandle h, int32_t offset, int origin) {
  int64_t r = FileSeek(h, offset, origin);
  if (r < 0 || r > INT32_MAX) {
    if (r > INT32_MAX) ::SetLastError(ERROR_NOT_SUPPORTED);
    return -1;
  }
  return int32_t(r);
}

bool FileSetTime(THandle h, TFileTime lastWrite) {
  if (h == kInvalidHandle) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  FILETIME ft = ToFt(lastWrite);
  return ::SetFileTime(H(h), nullptr, nullptr, &ft) != 0;
}

bool FileSetDate(THandle h, uint32_t dosDateTime) {
  FILETIME local, utc;
  if (!::DosDateTimeToFileTime(WORD(dosDateTime >> 16), WORD(dosDateTime & 0xFFFF), &local) ||
      !::LocalFileTimeToFileTime(&local, &utc)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return FileSetTime(h, FromFt(utc));
}

bool FileDelete(const std::string& name) { return CallOnName(name, ::DeleteFileW); }
bool FileDeleteW(const std::u16string& name) { return CallOnName(name, ::DeleteFileW); }

namespace {

// Moves a file into the recycle bin through the shell: 0 or an error number.
uint32_t TrashWide(const std::wstring& w) {
  // The shell wants a full name; a relative one would not go to the recycle bin.
  DWORD n = ::GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
  if (n == 0) return GetLastError();
  std::wstring full(size_t(n) + 1, L'\0');  // room for the list's second terminator
  n = ::GetFullPathNameW(w.c_str(), n, full.data(), nullptr);
  if (n == 0) return GetLastError();
  full.resize(size_t(n) + 2, L'\0');
  if (::GetFileAttributesW(full.c_str()) == INVALID_FILE_ATTRIBUTES) return GetLastError();
  SHFILEOPSTRUCTW op{};
  op.wFunc = FO_DELETE;
  op.pFrom = full.c_str();
  op.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
  int r = ::SHFileOperationW(&op);
  if (r == 0 && op.fAnyOperationsAborted) r = ERROR_CANCELLED;
  return uint32_t(r);
}

uint32_t ReplaceWide(const std::wstring& source, const std::wstring& target, bool toTrash) {
  if (!CheckName(source) || !CheckName(target)) return GetLastError();
  // The shell can only move the old file into the recycle bin, not name it twice: it
  // goes just before the new file takes its place.
  if (toTrash && ::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
    const uint32_t r = TrashWide(target);
    if (r != 0) return r;
  }
  if (::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return kErrSuccess;
  return GetLastError();
}

bool IdentityWide(const std::wstring& name, TFileId& id) {
  if (!CheckName(name)) return false;
  // No access asked: the identity of a file that others hold open is found too.
  HANDLE h = ::CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION bh;
  const bool ok = ::GetFileInformationByHandle(h, &bh) != 0;
  const DWORD e = ::GetLastError();
  ::CloseHandle(h);
  if (!ok) {
    ::SetLastError(e);
    return false;
  }
  id.Volume = bh.dwVolumeSerialNumber;
  id.Index = (uint64_t(bh.nFileIndexHigh) << 32) | bh.nFileIndexLow;
  return true;
}

}  // namespace

uint32_t FileDeleteToTrash(const std::string& name) {
  std::wstring w;
  if (!CheckNarrow(name, w)) return GetLastError();
  return TrashWide(w);
}

uint32_t FileReplace(const std::string& source, const std::string& target, bool toTrash) {
  std::wstring a, b;
  if (!CheckNarrow(source, a) || !CheckNarrow(target, b)) return GetLastError();
  return ReplaceWide(a, b, toTrash);
}

uint32_t FileReplaceW(const std::u16string& source, const std::u16string& target, bool toTrash) {
  return ReplaceWide(win::Wide(source), win::Wide(target), toTrash);
}

bool FileIdentity(const std::string& name, TFileId& id) {
  std::wstring w;
  return CheckNarrow(name, w) && IdentityWide(w, id);
}

bool FileIdentityW(const std::u16string& name, TFileId& id) { return IdentityWide(win::Wide(name), id); }

bool FileMove(const std::string& oldName, const std::string& newName) {
  std::wstring a, b;
  return CheckNarrow(oldName, a) && CheckNarrow(newName, b) && ::MoveFileW(a.c_str(), b.c_str()) != 0;
}

bool FileMoveW(const std::u16string& oldName, const std::u16string& newName) {
  std::wstring a = win::Wide(oldName), b = win::Wide(newName);
  return CheckName(a) && CheckName(b) && ::MoveFileW(a.c_str(), b.c_str()) != 0;
}

namespace {
BOOL CreateFolder(const wchar_t* name) { return ::CreateDirectoryW(name, nullptr); }
}  // namespace

bool FolderCreate(const std::string& name) { return CallOnName(name, CreateFolder); }
bool FolderCreateW(const std::u16string& name) { return CallOnName(name, CreateFolder); }

bool FolderRemove(const std::string& name) { return CallOnName(name, ::RemoveDirectoryW); }
bool FolderRemoveW(const std::u16string& name) { return CallOnName(name, ::RemoveDirectoryW); }

// ---- searching ----

struct TFindState {
  HANDLE Handle = INVALID_HANDLE_VALUE;
};

namespace {

void Fill(const WIN32_FIND_DATAW& fd, TFindData& data) {
  data.Attr = fd.dwFileAttributes;
  data.Size = (uint64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
  data.CreationTime = FromFt(fd.ftCreationTime);
  data.LastAccessTime = FromFt(fd.ftLastAccessTime);
  data.LastWriteTime = FromFt(fd.ftLastWriteTime);
  data.Name = win::U16(fd.cFileName, wcsnlen(fd.cFileName, MAX_PATH));
}

}  // namespace

TFindHandle FindFirstW(const std::u16string& pattern, TFindData& data) {
  std::wstring w = win::Wide(pattern);
  if (!CheckName(w)) return kInvalidFindHandle;
  WIN32_FIND_DATAW fd;
  HANDLE h = ::FindFirstFileW(w.c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return kInvalidFindHandle;
  Fill(fd, data);
  auto state = std::make_unique<TFindState>();
  state->Handle = h;
  return state.release();
}

bool FindNextW(TFindHandle h, TFindData& data) {
  if (!h) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  WIN32_FIND_DATAW fd;
  if (!::FindNextFileW(h->Handle, &fd)) return false;
  Fill(fd, data);
  return true;
}

void FindEnd(TFindHandle h) {
  if (!h) return;
  ::FindClose(h->Handle);
  delete h;
}

bool FileInfoByHandle(THandle h, TFileInfo& info) {
  BY_HANDLE_FILE_INFORMATION bh;
  if (h == kInvalidHandle || !::GetFileInformationByHandle(H(h), &bh)) {
    if (h == kInvalidHandle) ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  info.Attr = bh.dwFileAttributes;
  info.CreationTime = FromFt(bh.ftCreationTime);
  info.LastAccessTime = FromFt(bh.ftLastAccessTime);
  info.LastWriteTime = FromFt(bh.ftLastWriteTime);
  info.VolumeSerial = bh.dwVolumeSerialNumber;
  info.Size = (uint64_t(bh.nFileSizeHigh) << 32) | bh.nFileSizeLow;
  info.Links = bh.nNumberOfLinks;
  info.FileIndex = (uint64_t(bh.nFileIndexHigh) << 32) | bh.nFileIndexLow;
  return true;
}

std::string TempFolder() {
  wchar_t buf[MAX_PATH + 2];
  DWORD n = ::GetTempPathW(MAX_PATH + 1, buf);
  if (n == 0 || n > MAX_PATH + 1) return {};
  std::wstring dir(buf, n);
  if (dir.back() != L'\\') dir.push_back(L'\\');
  return win::Narrow(dir);
}

std::string UniqueTempName(const std::string& folder, const std::string& prefix) {
  std::wstring dir = folder.empty() ? win::Wide(TempFolder()) : win::Wide(folder);
  std::wstring pre = win::Wide(prefix.substr(0, 3));
  if (dir.empty()) {
    ::SetLastError(ERROR_PATH_NOT_FOUND);
    return {};
  }
  wchar_t buf[MAX_PATH + 1];
  if (::GetTempFileNameW(dir.c_str(), pre.c_str(), 0, buf) == 0) return {};
  return win::Narrow(buf);
}

std::string CurrentFolder() {
  DWORD n = ::GetCurrentDirectoryW(0, nullptr);
  if (n == 0) return {};
  std::wstring buf(n, L'\0');
  n = ::GetCurrentDirectoryW(n, buf.data());
  if (n == 0) return {};
  buf.resize(n);
  // A drive's root keeps its delimiter ("C:\").
  if (buf.size() > 3 && buf.back() == L'\\') buf.pop_back();
  return win::Narrow(buf);
}

}  // namespace plat
