#include "ExportRate.h"

#include "PlatCleanup.h"
#include "PlatError.h"
#include "PlatFile.h"
#include "PlatFileSys.h"
#include "PlatPath.h"
#include "PlatResource.h"
#include "fMainShort.h"

namespace rob216 {

std::string StagingFolder() {
  std::string t = plat::TempFolder();
  size_t units = plat::WideName(t).size();
  if (t.empty() || units + 1 > kTempPathBuffer)
    throw EExportError("The temporary folder path is too long (" + std::to_string(units) +
                       " characters, at most " + std::to_string(kTempPathBuffer - 1) + " allowed): " + t);
  if (t.back() != plat::PathDelim) t.push_back(plat::PathDelim);
  return t;
}

}  // namespace rob216

namespace rob216 {

TReadOnlyMemoryStream OpenPayload(const std::string& name) {
  plat::TResourceData res;
  if (!plat::FindResourceByName(name, plat::kRtRcData, res))
    throw EExportError("Resource " + name + " not found");
  return TReadOnlyMemoryStream(res.Data, res.Size);
}

}  // namespace rob216

namespace {

// Writes the whole stream to a new file, replacing any file of that name.
void WritePayload(TStream& payload, const std::string& path) {
  // Whatever is still there after the clean-up (a folder, another user's file or link
  // in a shared temporary folder) is never written through.
  if (plat::FileAttributes(path) != plat::kInvalidAttributes)
    throw EExportError("Cannot create file \"" + path +
                       "\": something of that name is in the way and cannot be removed");
  plat::THandle h = plat::FileCreate(path);
  if (h == plat::kInvalidHandle)
    throw EExportError("Cannot create file \"" + path + "\". " + plat::SysErrorMessage(plat::GetLastError()));
  payload.SetPosition(0);
  char buf[65536];
  bool ok = true;
  uint32_t err = 0;
  for (;;) {
    int n = payload.Read(buf, int(sizeof buf));
    if (n <= 0) break;
    if (plat::FileWrite(h, buf, n) != n) {
      err = plat::GetLastError();
      ok = false;
      break;
    }
  }
  if (!plat::FileClose(h) && ok) {
    err = plat::GetLastError();
    ok = false;
  }
  if (!ok)
    throw EExportError("Cannot write file \"" + path + "\". " +
                       plat::SysErrorMessage(err ? err : plat::kErrDiskFull));
}

// Deletion failures (no such file, no access) are of no interest here.
void DeleteStaged(const std::string& archive, const std::string& engine) {
  if (plat::FileExists(archive)) plat::FileDelete(archive);
  if (plat::FileExists(engine)) plat::FileDelete(engine);
}

// The two staged files from the moment they are made: a signal that ends the program
// removes them, and every way out of the export deletes them, a failure to write one
// (a full temporary folder) included.
class TStagedFiles {
 public:
  TStagedFiles(const std::string& archive, const std::string& engine)
      : FArchive(archive), FEngine(engine), FArchiveSlot(archive), FEngineSlot(engine) {}
  ~TStagedFiles() { DeleteStaged(FArchive, FEngine); }
  TStagedFiles(const TStagedFiles&) = delete;
  TStagedFiles& operator=(const TStagedFiles&) = delete;

 private:
  std::string FArchive, FEngine;
  plat::TCleanupPath FArchiveSlot, FEngineSlot;
};

// One search step honouring an attribute mask the way the platform's listing does:
// hidden, system and folder entries are skipped unless the mask names them.
bool SkippedByMask(const plat::TFindData& d, uint32_t mask) {
  uint32_t exclude = ~mask & (plat::faHidden | plat::faSysFile | plat::faDirectory);
  return (d.Attr & exclude) != 0;
}

}  // namespace

// Only "." and ".." are allowed besides nothing at all. Counting two entries instead
// would take a drive's root folder, which lists neither, holding two files for empty
// and an empty root for full; the names are compared instead, so that every folder,
// root or not, is empty exactly when it holds nothing.
bool IsFolderEmpty(const std::string& path) {
  constexpr uint32_t kAllAttributes = 63;  // read-only, hidden, system, volume, folder, archive
  std::u16string pattern = plat::WideName(path + plat::PathDelim + "*.*");
  plat::TFindData d;
  plat::TFindHandle h = plat::FindFirstW(pattern, d);
  // An empty root folder lists nothing at all: the search fails although the folder exists.
  if (h == plat::kInvalidFindHandle) return plat::DirectoryExists(path);
  bool empty = true;
  bool more = true;
  while (more && empty) {
    if (!SkippedByMask(d, kAllAttributes) && d.Name != u"." && d.Name != u"..") empty = false;
    if (empty) more = plat::FindNextW(h, d);
  }
  plat::FindEnd(h);
  return empty;
}

bool ExportRateFile(UiOps& ui, TZipMate& zip) {
  using namespace rob216;
  TReadOnlyMemoryStream archive = OpenPayload(kArchiveResource);
  const std::string t = StagingFolder();
  const std::string stagedArchive = t + kStagedArchive;
  const std::string stagedEngine = t + kStagedEngine;
  // Leftovers of an earlier run that ended abnormally.
  DeleteStaged(stagedArchive, stagedEngine);
  const TStagedFiles staged(stagedArchive, stagedEngine);
  WritePayload(archive, stagedArchive);
  TReadOnlyMemoryStream engine = OpenPayload(kEngineResource);
  WritePayload(engine, stagedEngine);
  zip.SetDLLDirectory(t);

  TFolderRequest request;
  request.Instruction = kChooseInstruction;
  const std::string target = ui.ChooseFolder(request);
  if (target.empty()) return false;
  if (!plat::DirectoryExists(target) && !plat::FolderCreate(target)) {
    ui.ShowSimpleMessage(kBadFolderText + target);
    return false;
  }
  if (!IsFolderEmpty(target) && ui.ShowMessageBox(kNotEmptyText, kNotEmptyTitle, TUiIcon::Question,
                                                  TUiButtons::YesNo) != TUiAnswer::Yes)
    return false;

  zip.SetExtrOptions(zip.ExtrOptions() + TZMExtrOpts{ExtrOverWrite});
  zip.SetZipFileName(stagedArchive);
  zip.SetExtrBaseDir(target);
  zip.FSpecArgs().Add("*.*");
  // The component reports a failure itself; it still counts as one here, so that the
  // result box never announces a table that was not written.
  return zip.Extract() == 0 && zip.SuccessCnt() >= 1;
}

bool ExportRateFile(TFormMainShort& form) { return ExportRateFile(form.Ui(), form.ZipMate()); }
