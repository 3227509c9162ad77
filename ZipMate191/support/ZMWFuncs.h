// File-system operations that honour the UTF-8 mode, the search over a folder, the
// program's raw-data resources and MS-DOS time conversions.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "PlatFile.h"
#include "PlatFileSys.h"
#include "PlatTime.h"

class TStream;

// All attributes for searches ("any file").
inline constexpr uint32_t faAnyFile = 0x3F;

// The state of a search: the last entry found and the platform's search handle.
// The handle is closed by FindEndEntry, by a new FindFirstEntry, or on destruction.
struct TZMSearchRec {
  uint32_t Time = 0;  // local DOS date (high word) and time (low word)
  int64_t Size = 0;
  uint32_t Attr = 0;
  std::string Name;  // as a component 8-bit string
  uint32_t ExcludeAttr = 0;
  plat::TFindHandle FindHandle = plat::kInvalidFindHandle;
  plat::TFindData FindData;

  TZMSearchRec() = default;
  TZMSearchRec(const TZMSearchRec&) = delete;
  TZMSearchRec& operator=(const TZMSearchRec&) = delete;
  TZMSearchRec(TZMSearchRec&& other) noexcept;
  TZMSearchRec& operator=(TZMSearchRec&& other) noexcept;
  ~TZMSearchRec();
};

// Creates one folder; its answer is the result of the make.
using TZMFolderCreator = std::function<bool(const std::string&)>;
using TZMFolderCreatorWide = std::function<bool(const std::u16string&)>;

bool RemoveFile(const std::string& name);
// True for an empty name; a trailing delimiter is ignored.
bool FolderExists(const std::string& name);
bool FolderExistsWide(const std::u16string& name);
// True for an existing file that is not a folder.
bool FileIsPresent(const std::string& name);
// Deletes a file, to the recycle bin unless permanent: -1 when it is not present,
// 0 when done, else the platform's error number.
int DiscardFile(const std::string& name, bool permanent);
// Opens an existing file with access (bits 0-1) and sharing (bits 4-7) of the mode;
// the invalid handle for a mode outside the runtime's values.
plat::THandle OpenFileForMode(const std::string& name, uint32_t mode);
// 0, or the platform's error number (the search is then closed).
int FindFirstEntry(const std::string& pattern, uint32_t attributes, TZMSearchRec& rec);
int FindNextEntry(TZMSearchRec& rec);
void FindEndEntry(TZMSearchRec& rec);
// Local DOS stamp of the file's last write, or -1.
int32_t FileStamp(const std::string& name);
// Creates every missing folder of the path (with the creator when given).
bool MakeFolderPath(const std::string& name, const TZMFolderCreator& creator = nullptr);
bool MakeFolderPathWide(const std::u16string& name, const TZMFolderCreatorWide& creator = nullptr);
bool RemoveFolder(const std::string& name);
bool RenameFile(const std::string& oldName, const std::string& newName);
// Puts source in the place of target in one step, an existing target to the recycle
// bin with toTrash (see plat::FileReplace): 0 or the platform's error number.
uint32_t ReplaceFile(const std::string& source, const std::string& target, bool toTrash);
// Which file a name leads to, links followed; false when it cannot be reached.
bool FileIdentityOf(const std::string& name, plat::TFileId& id);
// A read-only stream over a resource ("#n" for a numbered one), or null.
std::unique_ptr<TStream> OpenResourceStream(const std::string& name, int type = 10);

// Local DOS stamp to a date-time value in UTC; 0 when a conversion fails.
double DosToDateTime(uint32_t dosDateTime);
// UTC file time to a local DOS stamp; 0 when a conversion fails.
uint32_t FileTimeToDos(plat::TFileTime fileTime);
