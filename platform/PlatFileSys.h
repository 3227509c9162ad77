// Files and folders beyond plain reading and writing: attributes, wide-name calls,
// deletion (also to the recycle bin), moving, folders, searching, file information and
// temporary names. Narrow names are the platform's 8-bit names (UTF-8 on POSIX); wide
// names are UTF-16. Failures set the last error (PlatError.h).
#pragma once
#include <cstdint>
#include <string>

#include "PlatFile.h"
#include "PlatTime.h"

namespace plat {

// Attribute bits, numbered as on Windows.
inline constexpr uint32_t faReadOnly = 0x01;
inline constexpr uint32_t faHidden = 0x02;
inline constexpr uint32_t faSysFile = 0x04;
inline constexpr uint32_t faVolumeID = 0x08;
inline constexpr uint32_t faDirectory = 0x10;
inline constexpr uint32_t faArchive = 0x20;
inline constexpr uint32_t faNormal = 0x80;
inline constexpr uint32_t faSymLink = 0x400;
inline constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;

// UTF-16 name to the platform's narrow name and back.
std::string NativeName(const std::u16string& name);
std::u16string WideName(const std::string& name);

// Attributes of a file or folder; kInvalidAttributes on failure.
uint32_t FileAttributes(const std::string& name);
uint32_t FileAttributesW(const std::u16string& name);
// True for an existing file that is not a folder.
inline bool FileExists(const std::string& name) {
  uint32_t a = FileAttributes(name);
  return a != kInvalidAttributes && (a & faDirectory) == 0;
}
inline bool DirectoryExists(const std::string& name) {
  uint32_t a = FileAttributes(name);
  return a != kInvalidAttributes && (a & faDirectory) != 0;
}

THandle FileOpenW(const std::u16string& name, uint32_t mode);
THandle FileCreateW(const std::u16string& name);
THandle FileCreateNewW(const std::u16string& name);  // see FileCreateNew
// 32-bit seek: the new position, or -1 on failure or when it does not fit.
int32_t FileSeek32(THandle h, int32_t offset, int origin);
// Sets the last-write time from a local MS-DOS stamp (date in the high word).
bool FileSetDate(THandle h, uint32_t dosDateTime);
bool FileSetTime(THandle h, TFileTime lastWrite);

bool FileDelete(const std::string& name);
bool FileDeleteW(const std::u16string& name);
// Moves a file or folder to the user's recycle bin: 0 or an error number.
uint32_t FileDeleteToTrash(const std::string& name);
// Puts the file source in the place of target in one step (target need not exist;
// both must be on one volume, best in one folder). With toTrash an existing target goes
// to the recycle bin, and it leaves its place only when the new file takes it: on
// POSIX a second name for it goes into the trash first, so that at no moment is
// neither file there; Windows' shell moves it into the recycle bin just before the
// new file is moved in (should that move fail, the old file waits in the recycle bin).
// 0 or an error number; a failure leaves both files as they were.
uint32_t FileReplace(const std::string& source, const std::string& target, bool toTrash);
uint32_t FileReplaceW(const std::u16string& source, const std::u16string& target, bool toTrash);
// Fails when the target exists.
bool FileMove(const std::string& oldName, const std::string& newName);
bool FileMoveW(const std::u16string& oldName, const std::u16string& newName);
bool FolderCreate(const std::string& name);
bool FolderCreateW(const std::u16string& name);
bool FolderRemove(const std::string& name);
bool FolderRemoveW(const std::u16string& name);

// What a search and an open file both tell of a file.
struct TFileStat {
  uint32_t Attr = 0;
  uint64_t Size = 0;
  TFileTime CreationTime = 0;
  TFileTime LastAccessTime = 0;
  TFileTime LastWriteTime = 0;
};

// One entry found by a search.
struct TFindData : TFileStat {
  std::u16string Name;
};
struct TFindState;
using TFindHandle = TFindState*;
inline constexpr TFindHandle kInvalidFindHandle = nullptr;

// Searches the folder of the pattern for names matching its last component ("*" any
// run, "?" one character, letters compared without regard to case); "." and ".." are
// reported as folders. kInvalidFindHandle and the last error when nothing matches.
TFindHandle FindFirstW(const std::u16string& pattern, TFindData& data);
// False with kErrNoMoreFiles at the end.
bool FindNextW(TFindHandle h, TFindData& data);
void FindEnd(TFindHandle h);

struct TFileInfo : TFileStat {
  uint32_t VolumeSerial = 0;
  uint32_t Links = 0;
  uint64_t FileIndex = 0;
};
bool FileInfoByHandle(THandle h, TFileInfo& info);

// Which file a name leads to: the volume it lives on and its number there. Two names
// lead to one file (through hard or symbolic links, another spelling) exactly when
// their identities are equal.
struct TFileId {
  uint64_t Volume = 0;
  uint64_t Index = 0;
  bool operator==(const TFileId&) const = default;
};
// Links are followed; false with the last error when the file cannot be reached.
bool FileIdentity(const std::string& name, TFileId& id);
bool FileIdentityW(const std::u16string& name, TFileId& id);

// The temporary folder with a trailing delimiter.
std::string TempFolder();
// Creates a new empty file named prefix + hex digits + ".tmp" in the folder and
// returns its full name; empty on failure.
std::string UniqueTempName(const std::string& folder, const std::string& prefix);
// The current folder without a trailing delimiter.
std::string CurrentFolder();

}  // namespace plat
