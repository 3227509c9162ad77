#include "Metadata.h"

#include <algorithm>
#include <filesystem>
#include <random>
#include <system_error>

#include "Console.h"
#include "PlatError.h"
#include "PlatFileMode.h"
#include "PlatPath.h"
#include "TermText.h"
#include "ZipMate191/ZipMate.h"

namespace fs = std::filesystem;

namespace zmtool {

namespace {

constexpr uint32_t kTypeMask = 0170000, kLinkType = 0120000, kFolderType = 0040000;
constexpr size_t kMaxTarget = 4096;

std::vector<std::string> Parts(const std::string& s) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= s.size()) {
    size_t end = s.find_first_of("/\\", start);
    if (end == std::string::npos) end = s.size();
    parts.push_back(s.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// Whether p, resolved through the links that exist, lies in dest (absolute, resolved).
bool Inside(const fs::path& p, const fs::path& dest) {
  std::error_code ec;
  const fs::path r = fs::weakly_canonical(p, ec);
  if (ec) return false;
  const auto [d, q] = std::mismatch(dest.begin(), dest.end(), r.begin(), r.end());
  return d == dest.end() || (d->empty() && std::next(d) == dest.end());
}

}  // namespace

fs::path PathOf(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

std::string Utf8Of(const fs::path& p) {
  const std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

std::string Slashed(std::string name) {
  for (char& c : name)
    if (c == '\\') c = '/';
  return name;
}

uint32_t UnixMode(const TZMDirEntry& e) {
  const unsigned host = e.VersionMadeBy() >> 8;
  return host == 3 || host == 19 ? e.ExtFileAttrib() >> 16 : 0;
}

bool IsSymLink(const TZMDirEntry& e) { return (UnixMode(e) & kTypeMask) == kLinkType; }

bool IsFolder(const TZMDirEntry& e) { return IsFolder(e, e.FileName()); }

bool IsFolder(const TZMDirEntry& e, const std::string& name) {
  return (!name.empty() && (name.back() == '/' || name.back() == '\\')) || (e.ExtFileAttrib() & 0x10) ||
         (UnixMode(e) & kTypeMask) == kFolderType;
}

std::string LinkTargetProblem(const std::string& linkPath, const std::string& target) {
  if (target.empty()) return "its target is empty";
  if (target[0] == '/' || target[0] == '\\' || (target.size() > 1 && target[1] == ':'))
    return "its target " + target + " is absolute";
  if (target.find('\0') != std::string::npos) return "its target holds a zero byte";
  // Folders between DEST and the link.
  long depth = -1;
  for (const std::string& p : Parts(linkPath)) depth += !p.empty() && p != ".";
  bool named = false;
  for (const std::string& p : Parts(target)) {
    if (p.empty() || p == ".") continue;
    if (p != "..") {
      named = true;
    } else if (named || --depth < 0) {
      // ".." after a name would climb back through whatever that name turns out to be.
      return "its target " + target + " leaves DEST";
    }
  }
  return std::string();
}

TMetadata::TMetadata(std::string dest, bool symlinks) : FDest(std::move(dest)), FSymlinks(symlinks) {}

void TMetadata::FileWritten(const std::string& path, const std::string& relative, uint32_t mode, bool link) {
  if (mode != 0) FFiles.push_back({path, relative, mode, link});
}

void TMetadata::FolderMade(const std::string& path, uint32_t mode) {
  if (mode != 0) FFolders.push_back({path, std::string(), mode, false});
}

void TMetadata::MakeLink(const TItem& item) {
  std::string target;
  if (!plat::ReadSmallFileNoFollow(item.Path, kMaxTarget, target)) {
    Complain("warning: " + TerminalSafe(item.Relative) + ": the link's target could not be read back; " +
             "it stays a file");
    return;
  }
  std::string problem = LinkTargetProblem(item.Relative, target);
  const fs::path link = PathOf(item.Path);
  if (problem.empty() && !Inside(link.parent_path() / PathOf(target), PathOf(FDest)))
    problem = "its target " + target + " leads out of DEST";
  if (!problem.empty()) {
    Complain("warning: " + TerminalSafe(item.Relative) +
             ": symbolic link written as a file holding its target (" + TerminalSafe(problem) + ")");
    return;
  }
  // Made beside the file under a new name, then renamed over it in one step.
  std::random_device rd;
  std::error_code ec;
  for (int attempt = 0; attempt < 20; ++attempt) {
    const std::string tmp = item.Path.substr(0, item.Path.rfind(plat::PathDelim) + 1) + ".zmtool-" +
                            std::to_string(rd()) + ".lnk";
    if (!plat::CreateSymLink(target, tmp)) {
      if (plat::GetLastError() == plat::kErrFileExists) continue;
      break;
    }
    fs::rename(PathOf(tmp), link, ec);
    if (!ec) return;
    fs::remove(PathOf(tmp), ec);
    break;
  }
  Complain("warning: " + TerminalSafe(item.Relative) + ": the symbolic link could not be made (" +
           plat::SysErrorMessage(plat::GetLastError()) + "); it stays a file holding its target");
}

void TMetadata::Finish() {
  const uint32_t umask = plat::FileCreationMask();
  for (const TItem& f : FFiles) {
    if (f.Link) {
      if (FSymlinks) MakeLink(f);
      continue;  // a link left as a file keeps the mode a new file gets
    }
    // A new file has 0666 less the umask already; most entries ask for no more.
    const uint32_t mode = f.Mode & 0777 & ~umask;
    if (mode != (0666 & ~umask) && !plat::SetModeNoFollow(f.Path, mode))
      Complain("warning: " + TerminalSafe(f.Relative) + ": its permissions could not be set");
  }
  // The deepest folders first, and after their contents: a folder without write
  // permission can still be filled until then.
  std::sort(FFolders.begin(), FFolders.end(), [](const TItem& a, const TItem& b) { return a.Path > b.Path; });
  for (const TItem& f : FFolders)
    if (!plat::SetModeNoFollow(f.Path, f.Mode & 0777 & ~umask))
      Complain("warning: " + TerminalSafe(f.Path) + ": its permissions could not be set");
}

}  // namespace zmtool
