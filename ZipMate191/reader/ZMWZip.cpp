// The archive file: names, state, change capture and the volume layer that moves
// reads and writes between the parts of a multi-part archive.
#include "ZMWZip.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

#include "PlatDrive.h"
#include "PlatError.h"
#include "PlatPath.h"
#include "ZMEndian.h"
#include "ZMMsg.h"
#include "ZMNameParts.h"
#include "ZMUtils.h"
#include "ZMWFuncs.h"
#include "ZMXcpt.h"
#include "ZMRecords.h"

using namespace zmname;

namespace {

// A decimal number made of digits only; 0 otherwise.
int ParseNumber(const std::string& s) {
  if (s.empty() || s.size() > 9) return 0;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + (c - '0');
  }
  return v;
}

// The name of an existing part: a last part written as ".zip" answers for ".ZIP" on
// file systems that tell case apart.
std::string PresentCase(const std::string& name) {
  if (FileIsPresent(name)) return name;
  const std::string ext = ExtOf(name);
  if (ext == ".ZIP") {
    const std::string lower = WithoutExt(name) + ".zip";
    if (FileIsPresent(lower)) return lower;
  }
  return name;
}

int32_t ReadSize(int32_t count) {
  if (count >= 0) return count;
  return count == INT32_MIN ? INT32_MAX : -count;
}

}  // namespace

TZMWorkZip::TZMWorkZip(TCustomZipMate& master, TZMWorkBin* owner)
    : TZMWorkFile(master, owner), FDrive(std::make_unique<TZMWorkDrive>()) {}

TZMWorkZip::~TZMWorkZip() {
  try {
    File_Close();
    const std::string target = FRealFileName.empty() ? FFileName : FRealFileName;
    if (FIsTemp && !target.empty() && FileIsPresent(target)) {
      TraceLine("Deleting " + target);
      RemoveFile(target);
    }
  } catch (...) {
    // Destruction never raises.
  }
  FIsTemp = false;
}

void TZMWorkZip::SetFileName(const std::string& name) {
  TZMWorkFile::SetFileName(name);
  FDrive->SetDriveIfChanged(name);
}

void TZMWorkZip::AssignFrom(const TZMWorkFile& other) {
  if (&other == this) return;
  TZMWorkFile::AssignFrom(other);
  const auto* z = dynamic_cast<const TZMWorkZip*>(&other);
  if (!z) return;
  FVolumeRemaining = z->FVolumeRemaining;
  FDiskNr = z->FDiskNr;
  FArchiveSize = z->FArchiveSize;
  FInfo = z->FInfo;
  FRealFileName = z->FRealFileName;
  FArchiveName = z->FArchiveName;
  FFileKind = z->FFileKind;
  FTotalDisks = z->FTotalDisks;
  FDrive->AssignFrom(*z->FDrive);
  FDiskAction = z->FDiskAction;
  FDiskStatus = z->FDiskStatus;
  FIsMultiDisk = z->FIsMultiDisk;
  FNewDisk = z->FNewDisk;
  FNumbering = z->FNumbering;
  FFileInfo = z->FFileInfo;
}

bool TZMWorkZip::File_Create(const std::string& name) {
  if (!FIsMultiDisk) {
    FRealFileName = name.empty() ? FFileName : name;
    return TZMWorkFile::File_Create(name);
  }
  // A new multi-part target: its parts are created as writes reach them.
  File_Close();
  if (!name.empty()) SetFileName(name);
  if (FFileName.empty()) return false;
  FArchiveName = FFileName;
  FDiskNr = 0;
  FTotalDisks = 0;
  FYesToAll = false;
  FDiskAction = 0;
  FCreatedParts.clear();
  FStampDate = 0;
  PrepareVolumeForWriting();
  return FIsOpen;
}

bool TZMWorkZip::File_Open(uint32_t mode) {
  const bool ok = TZMWorkFile::File_Open(mode);
  FRealFileName = FFileName;
  return ok;
}

void TZMWorkZip::File_Attach(plat::THandle h, const std::string& name) {
  TZMWorkFile::File_Attach(h, name);
  FRealFileName = name;
}

std::string TZMWorkZip::DisplayName(bool withFileName) const {
  if (FArchiveName.empty()) return TZMWorkFile::DisplayName(withFileName);
  if (FAlias.empty()) return FArchiveName;
  return withFileName ? FAlias + "<" + FArchiveName + ">" : FAlias;
}

int32_t TZMWorkZip::FileDateTime() {
  plat::TFileTime ft = 0;
  if (!FIsOpen || !LastWriteTime(ft)) return 0;
  return int32_t(FileTimeToDos(ft));
}

bool TZMWorkZip::FileChanged(bool ignoreWriteTime) {
  plat::TFileInfo now;
  if (!FileInformation(now)) return true;
  if (now.Size != FFileInfo.Size || now.Attr != FFileInfo.Attr ||
      now.VolumeSerial != FFileInfo.VolumeSerial || now.FileIndex != FFileInfo.FileIndex)
    return true;
#ifdef _WIN32
  if (now.CreationTime != FFileInfo.CreationTime) return true;
#else
  // The POSIX status-change time moves with every write or date change.
  if (!ignoreWriteTime && now.CreationTime != FFileInfo.CreationTime) return true;
#endif
  return !ignoreWriteTime && now.LastWriteTime != FFileInfo.LastWriteTime;
}

void TZMWorkZip::CaptureFileInfo() { FileInformation(FFileInfo); }

void TZMWorkZip::ClearFileInfo() { FFileInfo = plat::TFileInfo(); }

uint8_t* TZMWorkZip::WorkBuffer(int n) {
  if (n <= 0) {
    std::vector<uint8_t>().swap(FWorkBuffer);
    return nullptr;
  }
  if (FWorkBuffer.size() < size_t(n) + 1) FWorkBuffer.resize(size_t(n | 1023) + 1);
  return FWorkBuffer.data();
}

// ---- transfers ----

int32_t TZMWorkZip::Read(void* buffer, int32_t count) {
  return FIsMultiDisk ? MultiRead(buffer, count) : FileRead(buffer, count);
}

int32_t TZMWorkZip::ReadFields(void* buffer, const int32_t* sizes, int high) {
  if (!FIsMultiDisk) return TZMWorkFile::ReadFields(buffer, sizes, high);
  auto* p = static_cast<uint8_t*>(buffer);
  int32_t total = 0;
  for (int i = 0; sizes && i <= high; ++i) {
    const int32_t size = std::max<int32_t>(sizes[i], 0);
    const int32_t r = MultiRead(p + total, -size);
    if (r < 0) return r;
    total += r;
    if (r != size) break;
  }
  return total;
}

int32_t TZMWorkZip::Write(const void* buffer, int32_t count) {
  return FIsMultiDisk ? MultiWrite(buffer, count) : FileWrite(buffer, count);
}

int32_t TZMWorkZip::WriteFields(const void* buffer, const int32_t* sizes, int high) {
  if (!FIsMultiDisk) return TZMWorkFile::WriteFields(buffer, sizes, high);
  int64_t sum = 0;
  for (int i = 0; sizes && i <= high; ++i) sum += std::max<int32_t>(sizes[i], 0);
  // One unbroken write keeps the fields on one volume.
  if (sum > 0x1FFFF) return MultiWrite(buffer, int32_t(sum));
  return MultiWrite(buffer, -int32_t(sum));
}

int32_t TZMWorkZip::MultiRead(void* buffer, int32_t count) {
  try {
    const int32_t want = ReadSize(count);
    auto* p = static_cast<uint8_t*>(buffer);
    int32_t total = 0;
    while (total < want) {
      const int32_t r = FileRead(p + total, want - total);
      if (r < 0) return r;
      total += r;
      if (total >= want) break;
      if ((count < 0 && total > 0) || !AtEnd()) return ZM_ERROR(zmmZMWZip, zmsErrorReadingFile);
      // The last part ends the archive.
      if (FTotalDisks > 0 && FDiskNr + 1 >= FTotalDisks) break;
      GetVolume(FDiskNr + 1, false);
    }
    return total;
  } catch (const EZMException& e) {
    return -e.MsgId;
  } catch (...) {
    return ZM_ERROR(zmmZMWZip, zmsErrorReadingFile);
  }
}

int32_t TZMWorkZip::MultiWrite(const void* buffer, int32_t count) {
  try {
    const int32_t want = ZMTransferSize(count);
    const bool unbroken = count < 0;
    const bool tellMove = unbroken && ((-count) & kUnbrokenMoveFlag) != 0;
    const auto* p = static_cast<const uint8_t*>(buffer);
    int32_t total = 0;
    Poll();
    ThrowIfCancelled();
    while (true) {
      if (!FIsOpen) {
        PrepareVolumeForWriting();
        FNewDisk = true;
      }
      if (unbroken && want - total > FVolumeRemaining) {
        // A record larger than a whole volume would move on for ever.
        if (FVolumeWritten == 0) throw EZipMate::CreateMsg(ZM_CODE(zmmZMWZip, zmsNotEnoughFreeSpace));
        if (FStampDate == 0) FStampDate = uint32_t(FileDateTime());
        File_Close();
        FNewDisk = true;
        ++FDiskNr;
        if (tellMove) return kMovedToNextVolume;
        continue;
      }
      const int64_t room = std::min<int64_t>(FVolumeRemaining, INT32_MAX);
      const int32_t chunk = int32_t(std::min<int64_t>(want - total, room));
      if (chunk > 0) {
        const int r = plat::FileWrite(FHandle, p + total, chunk);
        if (r < 0 || r != chunk) throw EZipMate::CreateMsg(ZM_CODE(zmmZMWZip, zmsWriteErrorInOutputFile));
        FVolumeRemaining -= r;
        FVolumeWritten += r;
        total += r;
      }
      if (total >= want) return total;
      if (FStampDate == 0) FStampDate = uint32_t(FileDateTime());
      File_Close();
      FVolumeRemaining = 0;
      ++FDiskNr;
      FNewDisk = true;
    }
  } catch (const EZMException& e) {
    AbandonVolumes();
    return -e.MsgId;
  } catch (...) {
    AbandonVolumes();
    return ZM_ERROR(zmmZMWZip, zmsUnknownError);
  }
}

void TZMWorkZip::RaiseCancelled() {
  SetCancelCode(ZM_CODE(zmmZMWZip, zmsUserAbort));
  FInfo |= kInfoDiskCancelled;
  EZipMate e = EZipMate::CreateMsg(ZM_CODE(zmmZMWZip, zmsUserCanceledOperation));
  e.Show = false;
  throw e;
}

std::string TZMWorkZip::WritingPartName() const {
  switch (FNumbering) {
    case kNumberingNumbered: return NumberedName(FFileName, FDiskNr + 1, false);
    case kNumberingCompatible: {
      const int k = FDiskNr + 1;
      if (k > 999) throw EZipMate::CreateMsg(ZM_CODE(zmmZMWZip, zmsMoreThan999Parts));
      return WithoutExt(FFileName) + (k <= 9 ? ".z0" : ".z") + std::to_string(k);
    }
    default: return FFileName;
  }
}

std::string TZMWorkZip::DiskFolder(const std::string& name) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(name), ec);
  if (ec) p = std::filesystem::path(name);
  p = p.lexically_normal().parent_path();
  const std::string drive = plat::Drives().DrivePart(p.string());
  while (p.has_relative_path() && p.has_parent_path() && p.parent_path() != p &&
         plat::Drives().DrivePart(p.parent_path().string()) == drive)
    p = p.parent_path();
  std::string s = p.string();
  if (s.empty() || !IsDelim(s.back())) s += plat::PathDelim;
  return s;
}

namespace {

// Entries of a folder other than "." and "..": (name, is a folder).
std::vector<std::pair<std::string, bool>> FolderEntries(const std::string& folder) {
  std::vector<std::pair<std::string, bool>> out;
  TZMSearchRec rec;
  for (int r = FindFirstEntry(folder + "*", faAnyFile, rec); r == 0; r = FindNextEntry(rec)) {
    if (rec.Name == "." || rec.Name == "..") continue;
    out.emplace_back(rec.Name, (rec.Attr & plat::faDirectory) != 0);
  }
  FindEndEntry(rec);
  return out;
}

}  // namespace

uint8_t TZMWorkZip::DiskStatusFor(const std::string& partName, int64_t space) const {
  uint8_t status = 0;
  status |= uint8_t(FolderEntries(DiskFolder(FFileName)).empty() ? 1u << zdsEmpty : 1u << zdsHasFiles);
  if (FileIsPresent(partName)) status |= uint8_t(1u << zdsSameFileName);
  if (FDiskNr > 0) {
    bool previous;
    if (FNumbering == kNumberingLabels) {
      const std::string u = Upper(FDrive->VolumeLabel());
      previous = u == VolumeLabel(FDiskNr - 1) || u == VolumeLabelSpaced(FDiskNr - 1);
    } else {
      const std::string before =
          FNumbering == kNumberingNumbered
              ? NumberedName(FFileName, FDiskNr, false)
              : WithoutExt(FFileName) + (FDiskNr <= 9 ? ".z0" : ".z") + std::to_string(FDiskNr);
      previous = FileIsPresent(before);
    }
    if (previous) status |= uint8_t(1u << zdsPreviousDisk);
  }
  if (space <= 0 || space < int64_t(MinFreeVolumeSize())) status |= uint8_t(1u << zdsNotEnoughSpace);
  return status;
}

int64_t TZMWorkZip::VolumeSpace(const std::string& partName) {
  FDrive->RefreshAll();
  const int64_t sector = std::max<int64_t>(FDrive->BytesPerSector(), 1);
  const auto whole = [sector](uint32_t v) { return (int64_t(v) + sector - 1) / sector * sector; };
  const int64_t keepAll = whole(KeepFreeOnAllDisks());
  const int64_t keepFirst = whole(KeepFreeOnDisk1());
  const int64_t maxSize = MaxVolumeSize();
  int64_t space;
  if (FDrive->DriveIsFixed()) {
    if (maxSize <= 0) return INT64_MAX;
    space = FDrive->VolumeSize() > 0 ? FDrive->VolumeSize() - keepAll : maxSize;
  } else {
    // What the disk can take: its free space plus the file that will be replaced.
    int64_t avail = FDrive->VolumeFree() >= 0 ? FDrive->VolumeFree() : FDrive->VolumeSize();
    if (FileIsPresent(partName)) {
      const plat::THandle h = OpenFileForMode(partName, 0x20);
      if (h != plat::kInvalidHandle) {
        const int64_t size = plat::FileSeek(h, 0, plat::soEnd);
        if (size > 0) avail += size;
        plat::FileClose(h);
      }
    }
    space = avail - keepAll;
  }
  if (maxSize > 0 && maxSize < space) space = maxSize;
  if (FDiskNr == 0) space -= keepFirst;
  return space;
}

void TZMWorkZip::EraseDisk(bool tryFormat) {
  const std::string root = DiskFolder(FFileName);
  bool formatted = false;
  if (tryFormat) {
    formatted = FDrive->Format();
    if (!formatted && plat::GetLastError() == plat::kErrNotSupported)
      EmitMessage(0, "Formatting " + FDrive->DriveRoot() +
                         " is not offered on this system; its files are erased instead");
  }
  if (!formatted) {
    if (ConfirmErase()) {
      const int answer =
          AskUser(LoadMessageText(zmsConfirm), FormatMessageText(zmsErase, {FDrive->DriveRoot()}),
                  TMsgDlgButtons{mbYes, mbNo, mbCancel}, 0);
      if (answer == mrCancel) RaiseCancelled();
      if (answer != mrYes) return;
    }
    // Depth first: a folder goes once its contents are gone.
    std::vector<std::string> folders{root};
    std::vector<std::string> toRemove;
    while (!folders.empty()) {
      const std::string folder = folders.back();
      folders.pop_back();
      for (const auto& [name, isFolder] : FolderEntries(folder)) {
        const std::string path = folder + name;
        if (isFolder) {
          folders.push_back(path + plat::PathDelim);
          toRemove.push_back(path);
        } else {
          if (Verbosity() != 0) ReportFormatted(zmsEraseFloppyDeleting, {path});
          RemoveFile(path);
        }
      }
    }
    for (auto it = toRemove.rbegin(); it != toRemove.rend(); ++it) {
      if (Verbosity() != 0) ReportFormatted(zmsEraseFloppyRemoving, {*it});
      RemoveFolder(*it);
    }
  }
  if (FNumbering == kNumberingLabels && !FDrive->WriteVolumeLabel(VolumeLabel(FDiskNr).substr(0, 11)))
    throw EZipMate::CreateMsg(ZM_CODE(zmmZMWZip, zmsVolumeLabelCouldNotBeSet));
}

void TZMWorkZip::PrepareVolumeForWriting() {
  const TZMSpanOpts opts = SpanOptions();
  const bool wipe = opts.Contains(spWipeFiles);
  const bool tryFormat = opts.Contains(spTryFormat);
  FDrive->SetDriveIfChanged(FFileName);
  if (FNumbering == kNumberingUnknown) {
    if (opts.Contains(spCompatName))
      FNumbering = kNumberingCompatible;
    else if (FDrive->DriveIsFixed() || opts.Contains(spNoVolumeName))
      FNumbering = kNumberingNumbered;
    else
      FNumbering = kNumberingLabels;
  }
  if (FArchiveName.empty()) FArchiveName = FFileName;
  constexpr uint8_t kAsk = uint8_t((1u << zdsHasFiles) | (1u << zdsPreviousDisk) | (1u << zdsSameFileName) |
                                   (1u << zdsNotEnoughSpace));
  constexpr uint8_t kOverwrite = uint8_t((1u << zdsPreviousDisk) | (1u << zdsSameFileName));
  FNewDisk = true;
  while (true) {
    AskDisk(true, wipe);
    const std::string partName = WritingPartName();
    int64_t space;
    if (!FDrive->DriveIsFixed()) {
      if (wipe && (FDiskAction == zdaErase || !AsksForNextDisk())) EraseDisk(tryFormat);
      space = VolumeSpace(partName);
      FDiskStatus = DiskStatusFor(partName, space);
      if ((FDiskStatus & kAsk) != 0 && !FYesToAll) {
        TZMDiskAction action = zdaOk;
        if (!RaiseStatusDisk(FDiskNr, partName, FDiskStatus, action) && (FDiskStatus & kOverwrite) != 0) {
          const std::string msg = (FDiskStatus & (1u << zdsPreviousDisk))
                                      ? FormatMessageText(zmsAttentionThisIsPreviousDisk, {FDiskNr})
                                      : FormatMessageText(zmsThereIsAlreadyFile, {partName});
          const int answer =
              AskUser(LoadMessageText(zmsConfirm), msg, TMsgDlgButtons{mbYes, mbNo, mbCancel}, 0);
          action = answer == mrYes ? zdaOk : (answer == mrNo ? zdaReject : zdaCancel);
        }
        FDiskAction = uint8_t(action);
        switch (action) {
          case zdaCancel: RaiseCancelled();
          case zdaReject: FNewDisk = true; continue;
          case zdaYesToAll: FYesToAll = true; break;
          case zdaErase:
            EraseDisk(tryFormat);
            space = VolumeSpace(partName);
            break;
          default: break;
        }
      }
    } else {
      space = VolumeSpace(partName);
    }
    if (space <= 0 || space < int64_t(MinFreeVolumeSize())) {
      if (FDrive->DriveIsFixed()) throw EZipMate::CreateMsg(ZM_CODE(zmmZMWZip, zmsNotEnoughFreeSpace));
      ShowMessageIdSuffix(ZM_CODE(zmmZMWZip, zmsNotEnoughFreeSpace), "");
      FNewDisk = true;
      continue;
    }
    if (FNumbering == kNumberingLabels && !FDrive->WriteVolumeLabel(VolumeLabel(FDiskNr).substr(0, 11)))
      throw EZipMate::CreateMsg(ZM_CODE(zmmZMWZip, zmsVolumeLabelCouldNotBeSet));
    if (Verbosity() != 0) TraceLine("Writing part " + std::to_string(FDiskNr + 1) + ": " + partName);
    FRealFileName = partName;
    if (!TZMWorkFile::File_Create(partName))
      throw EZipMate::CreateStr(ZM_CODE(zmmZMWZip, zmsWriteErrorInOutputFile), partName);
    FCreatedParts.emplace_back(partName, FDrive->DriveIsFixed() ? 0u : FDrive->VolumeSerial());
    FVolumeRemaining = space;
    FVolumeWritten = 0;
    break;
  }
}

int32_t TZMWorkZip::FinishVolumes() {
  File_Close();
  if (!FIsMultiDisk) return 0;
  FTotalDisks = FDiskNr + 1;
  const bool rename = (FNumbering == kNumberingCompatible && Upper(ExtOf(FRealFileName)) != ".ZIP") ||
                      (FNumbering == kNumberingNumbered && FDiskNr == 0);
  if (!rename || FRealFileName.empty() || FRealFileName == FFileName) return 0;
  if (FileIsPresent(FFileName)) {
    FDiskStatus |= uint8_t(1u << zdsSameFileName);
    bool yes = FYesToAll;
    if (!yes) {
      TZMDiskAction action = zdaOk;
      if (RaiseStatusDisk(FDiskNr, FFileName, FDiskStatus, action)) {
        FDiskAction = uint8_t(action);
        if (action == zdaYesToAll) FYesToAll = true;
        yes = action == zdaYesToAll || action == zdaOk;
      } else {
        yes = AskUser(LoadMessageText(zmsConfirm), FormatMessageText(zmsThereIsAlreadyFile, {FFileName}),
                      TMsgDlgButtons{mbYes, mbNo}, 0) == mrYes;
      }
    }
    if (!yes) {
      ReportFormatted(zmsLastPartLeftAs, {FRealFileName});
      return -1;
    }
    RemoveFile(FFileName);
  }
  if (!FileIsPresent(FRealFileName) || !RenameFile(FRealFileName, FFileName)) return -1;
  if (Verbosity() != 0) EmitMessage(0, "renamed " + FRealFileName + " to " + FFileName);
  for (auto& part : FCreatedParts)
    if (part.first == FRealFileName) part.first = FFileName;
  FRealFileName = FFileName;
  return 0;
}

int TZMWorkZip::AbandonVolumes() {
  File_Close();
  int deleted = 0;
  bool known = FDrive->DriveIsFixed();
  if (!known) {
    try {
      known = FDrive->HasMedia(false);
    } catch (...) {
      known = false;
    }
  }
  for (const auto& [part, serial] : FCreatedParts) {
    // A part on another disk is out of reach.
    if (!known || (!FDrive->DriveIsFixed() && serial != FDrive->VolumeSerial())) continue;
    if (FileIsPresent(part) && RemoveFile(part)) {
      TraceLine("Deleting " + part);
      ++deleted;
    }
  }
  FCreatedParts.clear();
  return deleted;
}

// ---- volume layer ----

void TZMWorkZip::SelectDisk(int n) {
  if (n != FDiskNr) GetVolume(n, false);
}

void TZMWorkZip::GetVolume(int n, bool wantEmpty) {
  File_Close();
  if (!(FTotalDisks == 1 && n == 0)) FIsMultiDisk = true;
  FDiskNr = n;
  const bool tryFormat = SpanOptions().Contains(spTryFormat);
  while (true) {
    FNewDisk = true;
    File_Close();
    AskDisk(false, tryFormat);
    if (wantEmpty && FDrive->HasMedia(tryFormat) &&
        (FDrive->VolumeFree() == -1 || FDrive->VolumeFree() == FDrive->VolumeSize()))
      return;
    if (!FindVolume()) continue;
    if (Verbosity() != 0) EmitMessage(0, FormatMessageText(zmsTraceGetNewDisk, {FFileName}));
    if (File_Open(kReadShareDenyWrite)) return;
    if (FDrive->DriveIsFixed()) {
      // Callers pass the error on as a number, so which part is missing is told here.
      ShowMessageText(LoadMessageText(zmsInputFileDoesNotExist) + ": " + FFileName + " (part " +
                          std::to_string(n + 1) +
                          (FTotalDisks > 0 ? " of " + std::to_string(FTotalDisks) + ")" : " of the set)"),
                      ZM_CODE(zmmZMWZip, zmsInputFileDoesNotExist), false);
      throw EZipMate::CreateStr(ZM_CODE(zmmZMWZip, zmsInputFileDoesNotExist), FFileName);
    }
    ShowMessageIdSuffix(ZM_CODE(zmmZMWZip, zmsInputFileDoesNotExist), "");
  }
}

void TZMWorkZip::AskDisk(bool writing, bool tryFormat) {
  if (FTotalDisks != 1) FIsMultiDisk = true;
  if (FDrive->DriveIsFixed()) {
    FNewDisk = false;
    ThrowIfCancelled();
    return;
  }
  while (FNewDisk || !FDrive->HasMedia(tryFormat)) {
    if (Unattended()) throw EZipMate::CreateMsg(ZM_CODE(zmmZMWZip, zmsUnattendedDiskSpanningNotImplemented));
    std::string msg;
    if (FDiskNr < 0) {
      msg = LoadMessageText(zmsPleaseInsertLastDisk);
    } else if (writing) {
      if (FDiskNr + 1 >= 1000) throw EZipMate::CreateMsg(ZM_CODE(zmmZMWZip, zmsMoreThan999Parts));
      FTotalDisks = FDiskNr + 1;
      int64_t space = FDrive->VolumeSize() - int64_t(KeepFreeOnAllDisks());
      const int64_t maxSize = MaxVolumeSize();
      if (maxSize > 0 && maxSize < space) space = maxSize;
      if (space > 0) {
        const int64_t estimate = (FArchiveSize + int64_t(KeepFreeOnDisk1()) + 4) / space;
        if (estimate > FTotalDisks && estimate < 1000) FTotalDisks = int32_t(estimate);
        msg = FormatMessageText(zmsPleaseInsertDiskVolumeOf, {FDiskNr + 1, FTotalDisks});
      } else {
        msg = FormatMessageText(zmsPleaseInsertDiskVolume, {FDiskNr + 1});
      }
    } else if (FTotalDisks > 0) {
      msg = FormatMessageText(zmsPleaseInsertDiskVolumeOf, {FDiskNr + 1, FTotalDisks});
    } else {
      msg = FormatMessageText(zmsPleaseInsertDiskVolume, {FDiskNr + 1});
    }
    msg += FormatMessageText(zmsInDrive, {FDrive->DriveRoot()});
    bool ok;
    bool abort = false;
    if (RaiseGetNextDisk(FDiskNr + 1, FTotalDisks, std::string(1, FDrive->DriveLetter()), abort)) {
      ok = !abort;
    } else {
      ok = AskUser(std::string(), msg, TMsgDlgButtons{mbOK, mbCancel}, 0) == mrOk;
    }
    if (!ok) {
      SetCancelCode(ZM_CODE(zmmZMWZip, zmsUserAbort));
      FInfo |= kInfoDiskCancelled;
      EZipMate e = EZipMate::CreateMsg(ZM_CODE(zmmZMWZip, zmsUserCanceledOperation));
      e.Show = false;
      throw e;
    }
    FNewDisk = false;
    Poll();
  }
}

bool TZMWorkZip::FindVolume() {
  const bool floppy = !FDrive->DriveIsFixed();
  if (floppy && (FNumbering == kNumberingUnknown || FNumbering == kNumberingLabels)) {
    const std::string label = FDrive->VolumeLabel();
    TraceLine("Checking disk " + label + " need " + VolumeLabel(FDiskNr));
    const std::string u = Upper(label);
    if ((u == VolumeLabel(FDiskNr) || u == VolumeLabelSpaced(FDiskNr)) && FileIsPresent(FFileName)) {
      FNumbering = kNumberingLabels;
      TraceLine("found volume " + label);
      return true;
    }
  }
  if (FNumbering == kNumberingLabels) return false;
  const std::string previous = FFileName;
  if (FNumbering == kNumberingNumbered || FNumbering == kNumberingCompatible) {
    FFileName = PresentCase(PartName(previous, true, FNumbering == kNumberingCompatible));
    if (floppy && !FileIsPresent(FFileName)) {
      FFileName = previous;
      return false;
    }
    return true;
  }
  FFileName = PresentCase(PartName(previous, true, true));
  if (FileIsPresent(FFileName)) {
    FNumbering = kNumberingCompatible;
    return true;
  }
  FFileName = PartName(previous, true, false);
  if (FileIsPresent(FFileName)) {
    FNumbering = kNumberingNumbered;
    return true;
  }
  if (floppy) {
    FFileName = previous;
    return false;
  }
  return true;
}

std::string TZMWorkZip::NumberedName(const std::string& name, int n, bool stripOld) const {
  if (n > 999) throw EZipMate::CreateMsg(ZM_CODE(zmmZMWZip, zmsMoreThan999Parts));
  std::string base = WithoutExt(name);
  if (stripOld) {
    const size_t folder = FolderOf(base).size();
    base.resize(std::max(folder, base.size() >= 3 ? base.size() - 3 : size_t(0)));
  }
  return base + ThreeDigits(n) + ExtOf(name);
}

std::vector<std::string> TZMWorkZip::PartNames() const {
  std::vector<std::string> names{FFileName};
  if (FTotalDisks <= 1 || (FNumbering != kNumberingNumbered && FNumbering != kNumberingCompatible))
    return names;
  const std::string base = WithoutExt(FFileName);
  for (int n = 1; n <= FTotalDisks && n <= 999; ++n) {
    if (FNumbering == kNumberingNumbered)
      names.push_back(NumberedName(FFileName, n, true));
    else if (n < FTotalDisks)
      names.push_back(base + (n <= 9 ? ".z0" : ".z") + std::to_string(n));
  }
  // The last part of a .z01 set is the .zip, however many parts its end record claims.
  if (FNumbering != kNumberingNumbered) names.push_back(PresentCase(base + ".ZIP"));
  return names;
}

std::string TZMWorkZip::PartName(const std::string& name, bool stripOld, bool compat) const {
  if (!compat) return NumberedName(name, FDiskNr + 1, stripOld);
  const std::string base = WithoutExt(name);
  if (FDiskNr == FTotalDisks - 1) return base + ".ZIP";
  const int k = FDiskNr + 1;
  if (k > 999) throw EZipMate::CreateMsg(ZM_CODE(zmmZMWZip, zmsMoreThan999Parts));
  return base + (k <= 9 ? ".z0" : ".z") + std::to_string(k);
}

std::string TZMWorkZip::VolumeLabel(int n) { return "PKBACK#" + ThreeDigits(n + 1001); }

std::string TZMWorkZip::VolumeLabelSpaced(int n) { return "PKBACK# " + ThreeDigits(n + 1001); }

bool TZMWorkZip::IsSpannedFirstPart(const std::string& name) {
  const plat::THandle h = OpenFileForMode(name, kReadShareDenyWrite);
  if (h == plat::kInvalidHandle) return false;
  bool result = false;
  const int64_t size = plat::FileSeek(h, 0, plat::soEnd);
  uint8_t head[8];
  if (size > 34 && plat::FileSeek(h, 0, plat::soBeginning) == 0 && plat::FileRead(h, head, 8) == 8)
    result = zm::GetLE32(head) == zm::kDataDescriptorSig &&
             zm::GetLE32(head + 4) == zm::layout::TLocalHeader::Signature;
  plat::FileClose(h);
  return result;
}

TZMSpanOpts TZMWorkZip::NumberingToSpanOptions(TZMSpanOpts options) const {
  switch (FNumbering) {
    case kNumberingLabels: options.Exclude(spNoVolumeName).Exclude(spCompatName); break;
    case kNumberingCompatible: options.Include(spNoVolumeName).Include(spCompatName); break;
    case kNumberingNumbered: options.Include(spNoVolumeName).Exclude(spCompatName); break;
    default: break;
  }
  return options;
}

std::string FindFirstPart(const std::string& base, bool compat) {
  const std::string pattern = base + (compat ? ".z??*" : "???.zip");
  TZMSearchRec rec;
  std::string found;
  for (int r = FindFirstEntry(pattern, faAnyFile, rec); r == 0; r = FindNextEntry(rec)) {
    if (rec.Attr & plat::faDirectory) continue;
    const std::string& n = rec.Name;
    int number = 0;
    if (compat) {
      const std::string ext = Upper(ExtOf(n));
      if (ext.size() >= 3) {
        const std::string tail = ext.substr(2);
        number = tail == "IP" ? 99999 : ParseNumber(tail);
      }
    } else if (n.size() >= 7) {
      number = ParseNumber(n.substr(n.size() - 7, 3));
    }
    if (number > 0) {
      found = n;
      break;
    }
  }
  FindEndEntry(rec);
  return found;
}
