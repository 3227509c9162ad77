// Unix metadata of entries made on Unix hosts: the mode kept in the high word of the
// external attributes, symbolic links (an entry whose data is the link's target), and
// their restoring after an extraction: links are made after every other entry, only
// when their target stays inside DEST; permission bits are set masked by the umask,
// without the setuid, setgid and sticky bits, on files and folders of this run only.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

class TZMDirEntry;

namespace zmtool {

// File-system paths from and to the component's UTF-8 names.
std::filesystem::path PathOf(const std::string& utf8);
std::string Utf8Of(const std::filesystem::path& p);
// An entry's name with '/' between its parts, as names are compared and listed.
std::string Slashed(std::string name);

// The Unix mode of an entry made on Unix (or macOS), or 0 when the archive stores none.
uint32_t UnixMode(const TZMDirEntry& e);
bool IsSymLink(const TZMDirEntry& e);
bool IsFolder(const TZMDirEntry& e);
// The same for an entry whose FileName the caller already holds.
bool IsFolder(const TZMDirEntry& e, const std::string& name);

// Why a link at linkPath (below DEST, '/'-separated) must not point to target; empty
// when it may: the target is relative and, resolved from the link's folder, stays
// inside DEST ("..", only at its start, climbs no higher than DEST).
std::string LinkTargetProblem(const std::string& linkPath, const std::string& target);

class TMetadata {
 public:
  // dest: DEST as an absolute path without links; symlinks: links are made as links.
  TMetadata(std::string dest, bool symlinks);
  // A file entry was written to path (relative: its path below DEST).
  void FileWritten(const std::string& path, const std::string& relative, uint32_t mode, bool link);
  // A folder entry whose folder was made in this run.
  void FolderMade(const std::string& path, uint32_t mode);
  // Makes the links, then sets the permission bits; each problem is reported as a
  // warning on standard error.
  void Finish();

 private:
  struct TItem {
    std::string Path, Relative;
    uint32_t Mode;
    bool Link;
  };
  void MakeLink(const TItem& item);
  std::string FDest;
  bool FSymlinks;
  std::vector<TItem> FFiles, FFolders;
};

}  // namespace zmtool
