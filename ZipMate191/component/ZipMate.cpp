#include "ZipMate.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "PlatError.h"
#include "PlatUi.h"
#include "ZMAddOpr.h"
#include "ZMCore.h"
#include "ZMDlg.h"
#include "ZMDllOpr.h"
#include "ZMLister.h"
#include "ZMModOpr.h"
#include "ZMMsg.h"
#include "ZMMsgStr.h"
#include "ZMSniffer.h"
#include "ZMUTF8.h"
#include "ZMUtils.h"
#include "ZMWFuncs.h"
#include "ZMXcpt.h"
#include "ZMZipFile.h"

namespace {

// The thread that initialised the program counts as its main thread.
const std::thread::id gMainThread = std::this_thread::get_id();

constexpr uint32_t kErrorDialog = 0x122710;
constexpr uint32_t kPasswordDialog = ZMDlgPassword;
// Full codes of the messages reported by the frame and the prompts.
constexpr int32_t kCodeUnknownError = 10101761;     // message 1
constexpr int32_t kCodeErrorException = 11943106;   // message 194
constexpr int32_t kCodeNoAddPassword = 12221461;    // message 21
constexpr int32_t kCodePasswordsDiffer = 12233862;  // message 134

// Runs f; an exception it raises is kept in pending (the first one only).
template <typename F>
void Guard(std::exception_ptr& pending, F f) {
  try {
    f();
  } catch (...) {
    if (!pending) pending = std::current_exception();
  }
}

}  // namespace

TCustomZipMate::TCustomZipMate(TComponent* owner)
    : TComponent(owner),
      FFSpecArgs(std::make_unique<TStringList>()),
      FFSpecArgsExcl(std::make_unique<TStringList>()),
      FWorkingSpecs(std::make_unique<TStringList>()),
      FWorkingExclSpecs(std::make_unique<TStringList>()),
      FSniffer(std::make_unique<TZMSniffer>()),
      FPipes(std::make_unique<TZMPipeListImp>()) {
  FAddStoreSuffixes = TZMAddStoreExts::FromBits((1u << (assAVI + 1)) - 1);
  FAddStoreSuffixes.Exclude(assEXE).Exclude(assEXT);
  FOwnerWindow = plat::Ui().MainWindow();
  FRunsInOtherThread = std::this_thread::get_id() != gMainThread;
}

TCustomZipMate::~TCustomZipMate() {
  try {
    SetCancel(true);
  } catch (...) {
  }
  FActive = 0;
  OnMessage = nullptr;
  OnStateChange = nullptr;
  OnStream = nullptr;
  OnTick = nullptr;
  OnZipDialog = nullptr;
  FRunningWorker.reset();
  FFSpecArgs.reset();
  FFSpecArgsExcl.reset();
  FPipes.reset();
  FLister.reset();
  FWorkingSpecs.reset();
  FWorkingExclSpecs.reset();
  FWorkStream.reset();
  // Holds of the engine go with the component.
  try {
    ZMDropEngine(*this);
  } catch (...) {
  }
  if (FCursorDepth > 0) {
    FCursorDepth = 0;
    plat::Ui().SetScreenCursor(FSavedCursor);
  }
}

// ---- Operation frame ----

bool TCustomZipMate::BeginOperation() {
  if (FActive == 0 || Designing() || Loading()) return false;
  if (FBusyDepth > 0) {
    NoteReEntry();
    return false;
  }
  FBusyDepth = 1;
  SetState(3);
  return true;
}

void TCustomZipMate::StartOperation() {
  FReEntryCount = 0;
  if (std::this_thread::get_id() != gMainThread) FRunsInOtherThread = true;
  FErrMsg.clear();
  FErrCode = 0;
  FFullErrCode = 0;
  FSuccessCnt = 0;
  if (FSniffer->Open(FOwnerWindow, FVerbosity)) FSniffer->SendLine(0, TZMSniffer::StartingLine(*this));
  FWorkingSpecs->Assign(*FFSpecArgs);
  FWorkingExclSpecs->Assign(*FFSpecArgsExcl);
  if (FLister) FLister->Prepare();
  if (FRunningWorker) FRunningWorker->Prepare();
}

void TCustomZipMate::EndOperation(bool good) {
  // Handlers and workers called here may raise; the frame is completed first and
  // the first such error is reported afterwards.
  std::exception_ptr pending;
  if (FRunningWorker) {
    std::unique_ptr<TZMWorkBase> w = std::move(FRunningWorker);
    Guard(pending, [&] { w->Finished(good); });
  }
  if (FLister) Guard(pending, [&] { FLister->Finished(good); });
  if (good) {
    FFSpecArgs->Assign(*FWorkingSpecs);
    FFSpecArgsExcl->Assign(*FWorkingExclSpecs);
  }
  if (FBusyDepth > 0) --FBusyDepth;
  // Trace lines carry code 0 and leave the recorded outcome alone.
  if (FVerbosity & 2)
    Guard(pending, [&] { EmitMessage(0, "Trace: done = " + std::to_string(FBusyDepth), true); });
  FSniffer->Close();
  if (FBusyDepth <= 0) {
    Guard(pending, [&] { SetState(FState == 4 ? 2 : 1); });
    if (FActive < 0) {
      FActive = 0;
      Guard(pending, [&] { SetState(0); });
    }
  }
  if (pending) {
    try {
      std::rethrow_exception(pending);
    } catch (const std::exception& e) {
      try {
        ShowExceptionError(e);
      } catch (...) {
      }
    } catch (...) {
    }
  }
}

void TCustomZipMate::FailOperation(const std::exception& e) {
  EndOperation(false);
  FPipes->Clear();
  try {
    if (dynamic_cast<const EZMException*>(&e))
      ShowExceptionError(e);
    else
      ShowMessageIdSuffix(kCodeUnknownError, e.what());
  } catch (...) {
    // A handler that raises while the failure is reported cannot be reported itself.
  }
}

bool TCustomZipMate::RunOperation(const std::function<void()>& work) {
  const int32_t depthBefore = FBusyDepth;
  bool began = false;
  try {
    began = BeginOperation();
    if (!began) return false;
    StartOperation();
    work();
  } catch (const std::exception& e) {
    if (began || FBusyDepth > depthBefore) FailOperation(e);
    return began || FBusyDepth > depthBefore;
  } catch (...) {
    // Not an error of the platform's exception classes; still never let it escape.
    if (began || FBusyDepth > depthBefore) FailOperation(std::runtime_error("unrecognised exception"));
    return began || FBusyDepth > depthBefore;
  }
  EndOperation(true);
  return true;
}

void TCustomZipMate::RunQuickOperation(const std::function<void()>& routine) {
  const int32_t depthBefore = FBusyDepth;
  bool began = false;
  try {
    began = BeginOperation();
    if (!began) return;
    routine();
  } catch (...) {
    if (began || FBusyDepth > depthBefore) EndOperation(false);
    return;
  }
  EndOperation(true);
}

void TCustomZipMate::SetState(int n) {
  bool noCursor = FRunsInOtherThread;
  std::exception_ptr pending;
  if (OnStateChange) Guard(pending, [&] { OnStateChange(this, n, noCursor); });
  if (!noCursor) {
    bool wasBusy = FState >= 3, toBusy = n >= 3;
    if (toBusy && !wasBusy) {
      if (FCursorDepth == 0) {
        FSavedCursor = plat::Ui().ScreenCursor();
        plat::Ui().SetScreenCursor(plat::crHourGlass);
      }
      ++FCursorDepth;
    } else if (!toBusy && wasBusy && FCursorDepth > 0) {
      if (--FCursorDepth == 0) plat::Ui().SetScreenCursor(FSavedCursor);
    }
  }
  FState = n;
  if (pending) std::rethrow_exception(pending);
}

void TCustomZipMate::NoteReEntry() {
  ++FReEntryCount;
  SetState(4);
  // A handler of the report may itself be refused again: that refusal is counted but
  // not reported, or the reports would nest until the stack runs out.
  if (!(FVerbosity & 1) || FReportingReEntry) return;
  FReportingReEntry = true;
  struct TReset {
    bool& Flag;
    ~TReset() { Flag = false; }
  } reset{FReportingReEntry};
  EmitMessage(0, "Trace: Re-entry", true);
}

bool TCustomZipMate::MayStore() {
  if (FState <= 2) return true;
  try {
    NoteReEntry();
  } catch (...) {
    // A setter never raises; the refusal has been counted.
  }
  return false;
}

void TCustomZipMate::ApplyLanguage(uint32_t which) {
  if (which & dwLanguage)
    SelectLanguageByName(FLanguage);
  else if (which & dwLanguageID)
    SelectLanguageById(int(FLanguageID));
}

void TCustomZipMate::ApplyDeferredWork() {
  RunOperation([this] {
    uint32_t work = FDeferredWork;
    FDeferredWork = 0;
    ApplyLanguage(work);
    if (work & dwZipFileName) ListArchive(FZipFileName);
    if (FErrCode == 0 && (work & dwZipComment)) ChangeComment(FZipComment);
    if (FErrCode == 0 && (work & dwDLLLoad)) LoadEngine(FDLLLoad);
  });
}

void TCustomZipMate::Loaded() {
  TComponent::Loaded();
  if (Active()) ApplyDeferredWork();
}

void TCustomZipMate::SetActive(bool v) {
  if (Designing() || Loading()) {
    FActive = v ? 1 : 0;
    return;
  }
  if (v == (FActive > 0)) return;
  try {
    if (v) {
      bool pendingOff = FActive < 0;
      FActive = 1;
      if (pendingOff) return;
      SetState(1);
      if (FDeferredWork != 0 && FBusyDepth == 0) ApplyDeferredWork();
    } else if (FBusyDepth > 0) {
      FActive = -3;
    } else {
      FActive = 0;
      SetState(0);
    }
  } catch (...) {
    // Only a state-change handler can raise here; the state has been set.
  }
}

void TCustomZipMate::SetRunningWorker(std::unique_ptr<TZMWorkBase> w) {
  if (w.get() == FRunningWorker.get()) {
    (void)w.release();
    return;
  }
  FRunningWorker = std::move(w);
}

// ---- Listing, and work of units that are not part of this build ----

void TCustomZipMate::ListArchive(const std::string& name) {
  // Each listing gets a lister of its own.
  FLister.reset();
  auto lister = std::make_unique<TZMLister>(*this);
  TZMLister* l = lister.get();
  FLister = std::move(lister);
  l->SetArchiveName(name, 1);
}

void TCustomZipMate::ListingChanged(TZMListingChange change) {
  TZMLister* l = ZipLister();
  if (!l) return;
  if (change == lcNames)
    l->ClearCachedNames();
  else
    l->CenDir().SetUseDirOnly(FUseDirOnlyEntries);
}

int TCustomZipMate::Count() const {
  const TZMLister* l = ZipLister();
  return l ? l->CenDir().Count() : 0;
}

std::shared_ptr<const TZMDirEntry> TCustomZipMate::DirEntry(int i) const {
  const TZMLister* l = ZipLister();
  return l ? l->CenDir().Entry(i) : nullptr;
}

bool TCustomZipMate::ScanArchive(const std::string& name,
                                 const std::function<bool(const TZMDirEntry&)>& each) {
  bool read = false;
  // A lister of its own: the current listing is not touched.
  const bool ran = RunOperation([&] {
    if (name.empty()) throw EZipMate::CreateCode(ZM_CODE(zmmZipMate, zmsErrorNoZipFileSpecified), true);
    read = TZMLister(*this).ScanArchive(name, each);
  });
  return ran && read;
}

TZMLister* TCustomZipMate::ZipLister() const { return dynamic_cast<TZMLister*>(FLister.get()); }

bool TCustomZipMate::ListingValid() const {
  const TZMLister* l = ZipLister();
  return l && l->CanProcess();
}

void TCustomZipMate::ChangeComment(const std::string& text) {
  TZMLister* l = ZipLister();
  // Without a listed archive (or without its file) the comment is only stored.
  if (!l || FZipFileName.empty()) {
    FZipComment = text;
    return;
  }
  const TZMZipFile* reader = l->CenDir().CurrentReader();
  if (!reader) {
    FZipComment = text;
    return;
  }
  if (!l->CenDir().IsMultiPart() && !FileIsPresent(FZipFileName)) {
    FZipComment = text;
    return;
  }
  if (!l->CanProcess()) throw EZipMate::CreateCode(ZM_CODE(zmmZipMate, zmsCannotProcessInvalidZip), false);
  if (l->CenDir().ArchiveComment() != text) {
    ZMWriteComment(*this, text);
    // The archive is read again so that the listing holds what was written.
    if (FErrCode == 0) l->LoadArchive(FZipFileName, false);
  }
  FZipComment = FErrCode == 0 ? l->CenDir().ArchiveComment() : std::string();
}

void TCustomZipMate::LoadEngine(bool load) {
  ZMSetEngineHeld(*this, load);
  FDLLLoad = EngineHeld();
}

void TCustomZipMate::ExtractEntries() { ZMRunExtract(*this); }

bool TCustomZipMate::EngineHeld() const { return ZMEngineHeld(*this); }

TZMEngineInfo TCustomZipMate::EngineInfo() const {
  TZMEngineInfo info;
  ZMEngineInfo(*this, info);
  return info;
}

// ---- Properties that start operations ----

void TCustomZipMate::SetZipFileName(const std::string& v) {
  // A new name always gets a new listing; the old one goes first.
  if (FActive != 0 && !Designing() && !Loading() && FBusyDepth == 0) FLister.reset();
  bool ran = RunOperation([&] {
    FZipFileName = v;
    ListArchive(v);
  });
  if (!ran && FBusyDepth == 0 && v != FZipFileName) {
    FZipFileName = v;
    FDeferredWork |= dwZipFileName;
  }
}

void TCustomZipMate::SetZipComment(const std::string& v) {
  if (v == FZipComment) return;
  bool ran = RunOperation([&] { ChangeComment(v); });
  if (!ran && FBusyDepth == 0) {
    FZipComment = v;
    FDeferredWork |= dwZipComment;
  }
}

bool TCustomZipMate::DLL_Load() const {
  if (Designing() || Loading()) return FDLLLoad;
  return EngineHeld();
}

void TCustomZipMate::SetDLL_Load(bool v) {
  if (v == DLL_Load()) return;
  bool ran = RunOperation([&] { LoadEngine(v); });
  if (!ran && FBusyDepth == 0) {
    FDLLLoad = v;
    FDeferredWork |= dwDLLLoad;
  }
}

std::string TCustomZipMate::Language() const {
  if (Designing() || Loading()) return FLanguage;
  return LanguageInfo(0, -1);
}

void TCustomZipMate::SetLanguage(const std::string& v) {
  bool ran = RunOperation([&] {
    FLanguage = v;
    ApplyLanguage(dwLanguage);
  });
  if (!ran && FBusyDepth == 0) {
    FLanguage = v;
    FDeferredWork |= dwLanguage;
  }
}

uint32_t TCustomZipMate::LanguageID() const {
  if (Designing() || Loading()) return FLanguageID;
  return uint32_t(CurrentLanguageId());
}

void TCustomZipMate::SetLanguageID(uint32_t v) {
  bool ran = RunOperation([&] {
    FLanguageID = v;
    ApplyLanguage(dwLanguageID);
  });
  if (!ran && FBusyDepth == 0) {
    FLanguageID = v;
    FDeferredWork |= dwLanguageID;
  }
}

int32_t TCustomZipMate::Extract() {
  if (FActive == 0) return 197;
  RunOperation([this] { ExtractEntries(); });
  return ErrCode();
}

int32_t TCustomZipMate::ExtractArchive(const std::string& name) {
  if (FActive == 0) return 197;
  RunOperation([&] { ZMRunExtract(*this, &name); });
  return ErrCode();
}

int32_t TCustomZipMate::JoinToSingleFile(std::string& dest) {
  if (FActive == 0) return 197;
  const bool ran = RunOperation([&] {
    if (FZipFileName.empty())
      throw EZipMate::CreateCode(ZM_CODE(zmmZipMate, zmsErrorNoZipFileSpecified), true);
    TZMFileOpr::Start<TZMFileOpr>(*this)->JoinToSingleFile(FZipFileName, dest, false);
  });
  if (!ran) dest.clear();
  return ErrCode();
}

int32_t TCustomZipMate::Add() {
  if (FActive == 0) return 197;
  RunOperation([this] {
    ZMRunAdd(*this);
    // The listing shows the archive as written.
    if (FErrCode == 0 && FileIsPresent(FZipFileName)) ListArchive(FZipFileName);
  });
  return ErrCode();
}

int32_t TCustomZipMate::Delete() {
  if (FActive == 0) return 197;
  RunOperation([this] {
    ZMRunDelete(*this);
    if (FErrCode == 0 && FileIsPresent(FZipFileName)) ListArchive(FZipFileName);
  });
  return ErrCode();
}

// ---- Properties with quick operations ----

void TCustomZipMate::SetUseDirOnlyEntries(bool v) {
  if (v == FUseDirOnlyEntries) return;
  FUseDirOnlyEntries = v;
  RunQuickOperation([this] { ListingChanged(lcDirOnly); });
}

void TCustomZipMate::SetEncoding(TZMEncodingOpts v) {
  if (v == FEncoding) return;
  FEncoding = v;
  RunQuickOperation([this] { ListingChanged(lcNames); });
}

void TCustomZipMate::SetNameCodePage(uint32_t v) {
  if (v == FNameCodePage) return;
  FNameCodePage = v;
  RunQuickOperation([this] { ListingChanged(lcNames); });
}

bool TCustomZipMate::UseUTF8() const { return UTF8Mode(); }

void TCustomZipMate::SetUseUTF8(bool v) {
  if (v == UTF8Mode()) return;
  RunQuickOperation([this, v] {
    SetUTF8Mode(v);
    ListingChanged(lcNames);
  });
}

// ---- Stored settings ----

void TCustomZipMate::SetFSpecArgs(const TStrings& v) {
  if (&v != FFSpecArgs.get() && MayStore()) FFSpecArgs->Assign(v);
}

void TCustomZipMate::SetFSpecArgsExcl(const TStrings& v) {
  if (&v != FFSpecArgsExcl.get() && MayStore()) FFSpecArgsExcl->Assign(v);
}

void TCustomZipMate::SetRootDir(const std::string& v) {
  if (MayStore()) FRootDir = v;
}

void TCustomZipMate::SetPassword(const std::string& v) {
  if (v != FPassword && MayStore()) FPassword = v;
}

void TCustomZipMate::SetPasswordReqCount(uint32_t v) {
  v = std::min<uint32_t>(v, 15);
  if (v != FPasswordReqCount && MayStore()) FPasswordReqCount = v;
}

void TCustomZipMate::SetExtrBaseDir(const std::string& v) {
  if (MayStore()) FExtrBaseDir = v;
}

void TCustomZipMate::SetExtrOptions(TZMExtrOpts v) {
  if (MayStore()) FExtrOptions = v;
}

void TCustomZipMate::SetAddOptions(TZMAddOpts v) {
  if (MayStore()) FAddOptions = v;
}

void TCustomZipMate::SetAddCompLevel(int v) {
  if (MayStore()) FAddCompLevel = v;
}

void TCustomZipMate::SetAddFrom(TDateTime v) {
  if (MayStore()) FAddFrom = v;
}

void TCustomZipMate::SetAddStoreSuffixes(TZMAddStoreExts v) {
  if (MayStore()) FAddStoreSuffixes = v;
}

void TCustomZipMate::SetExtAddStoreSuffixes(const std::string& v) {
  if (!MayStore()) return;
  // Items are separated by ';', ',' or ':'; each gets a leading '.' and a closing
  // ':'. Empty items are dropped.
  std::string result, item;
  auto flush = [&] {
    if (item.empty()) return;
    if (item[0] != '.') result += '.';
    result += item;
    result += ':';
    item.clear();
  };
  for (char c : v) {
    if (c == ';' || c == ',' || c == ':')
      flush();
    else
      item += char(std::tolower(static_cast<unsigned char>(c)));
  }
  flush();
  FExtAddStoreSuffixes = result;
  if (result.empty())
    FAddStoreSuffixes.Exclude(assEXT);
  else
    FAddStoreSuffixes.Include(assEXT);
}

void TCustomZipMate::SetHowToDelete(TZMDeleteOpts v) {
  if (MayStore()) FHowToDelete = v;
}

void TCustomZipMate::SetConfirmErase(bool v) {
  if (MayStore()) FConfirmErase = v;
}

void TCustomZipMate::SetWriteOptions(TZMWriteOpts v) {
  if (v == FWriteOptions) return;
  bool spanChanged = v.Contains(zwoDiskSpan) != FWriteOptions.Contains(zwoDiskSpan);
  FWriteOptions = v;
  if (spanChanged) MarkAuxChanged();
}

void TCustomZipMate::SetSpanOptions(TZMSpanOpts v) {
  if (v == FSpanOptions || !MayStore()) return;
  bool auxChanged = v.Contains(spNoVolumeName) != FSpanOptions.Contains(spNoVolumeName) ||
                    v.Contains(spCompatName) != FSpanOptions.Contains(spCompatName);
  FSpanOptions = v;
  if (auxChanged) MarkAuxChanged();
}

void TCustomZipMate::SetMaxVolumeSize(int64_t v) {
  if (MayStore()) FMaxVolumeSize = v > 0 ? v : 0;
}

void TCustomZipMate::SetMaxVolumeSizeKb(int32_t v) {
  if (MayStore()) FMaxVolumeSize = v > 0 ? int64_t(v) * 1024 : 0;
}

void TCustomZipMate::SetMinFreeVolumeSize(uint32_t v) {
  if (MayStore()) FMinFreeVolumeSize = v;
}

void TCustomZipMate::SetKeepFreeOnDisk1(uint32_t v) {
  if (MayStore()) FKeepFreeOnDisk1 = v;
}

void TCustomZipMate::SetKeepFreeOnAllDisks(uint32_t v) {
  if (MayStore()) FKeepFreeOnAllDisks = v;
}

void TCustomZipMate::SetTempDir(const std::string& v) {
  // An empty folder stays empty (the system's temporary folder), not the root.
  if (MayStore()) FTempDir = v.empty() ? v : SetTrailingDelimiter(v, true);
}

void TCustomZipMate::SetNoSkipping(TZMSkipAborts v) {
  if (MayStore()) FNoSkipping = v;
}

void TCustomZipMate::SetDLLDirectory(const std::string& v) {
  if (MayStore()) FDLLDirectory = v;
}

void TCustomZipMate::SetUnattended(bool v) {
  if (MayStore()) FUnattended = v;
}

void TCustomZipMate::SetVerbose(bool v) {
  if (MayStore()) FVerbosity = uint8_t(v ? FVerbosity | 1 : FVerbosity & ~1);
}

void TCustomZipMate::SetTrace(bool v) {
  if (MayStore()) FVerbosity = uint8_t(v ? FVerbosity | 2 : FVerbosity & ~2);
}

TZMLoadStrEvent TCustomZipMate::OnLoadStr() const { return GetTextHook(); }
void TCustomZipMate::SetOnLoadStr(TZMLoadStrEvent handler) { SetTextHook(std::move(handler)); }

// ---- Self-extractor settings ----

void TCustomZipMate::MarkAuxChanged() {
  if (!NoReadAux()) FAuxChanged = true;
}

bool TCustomZipMate::NoReadAux() const {
  if (Designing() || Loading()) return FNoReadAux;
  return FNoReadAux || FAuxChanged;
}

void TCustomZipMate::SetNoReadAux(bool v) {
  if (v == FNoReadAux) return;
  FNoReadAux = v;
  FAuxChanged = false;
}

namespace {
template <typename T>
bool StoreChanged(T& field, const T& v) {
  if (field == v) return false;
  field = v;
  return true;
}
}  // namespace

void TCustomZipMate::SetSFXCaption(const std::string& v) {
  if (MayStore() && StoreChanged(FSFXCaption, v)) MarkAuxChanged();
}
void TCustomZipMate::SetSFXCommandLine(const std::string& v) {
  if (MayStore() && StoreChanged(FSFXCommandLine, v)) MarkAuxChanged();
}
void TCustomZipMate::SetSFXDefaultDir(const std::string& v) {
  if (MayStore() && StoreChanged(FSFXDefaultDir, v)) MarkAuxChanged();
}
void TCustomZipMate::SetSFXMessage(const std::string& v) {
  if (MayStore() && StoreChanged(FSFXMessage, v)) MarkAuxChanged();
}
void TCustomZipMate::SetSFXOptions(TZMSFXOpts v) {
  if (MayStore() && StoreChanged(FSFXOptions, v)) MarkAuxChanged();
}
void TCustomZipMate::SetSFXOverwriteMode(TZMOvrOpts v) {
  if (MayStore() && StoreChanged(FSFXOverwriteMode, v)) MarkAuxChanged();
}
void TCustomZipMate::SetSFXPath(const std::string& v) {
  if (MayStore() && StoreChanged(FSFXPath, v)) MarkAuxChanged();
}
void TCustomZipMate::SetSFXRegFailPath(const std::string& v) {
  if (MayStore() && StoreChanged(FSFXRegFailPath, v)) MarkAuxChanged();
}

void TCustomZipMate::SetSFXIcon(const TIcon* v) {
  if (!MayStore()) return;
  if (!v || v->Empty()) {
    if (!FSFXIcon) return;
    FSFXIcon.reset();
  } else {
    if (FSFXIcon && FSFXIcon->Bits() == v->Bits()) return;
    if (!FSFXIcon) FSFXIcon = std::make_unique<TIcon>();
    if (FSFXIcon.get() != v) *FSFXIcon = *v;
  }
  MarkAuxChanged();
}

// ---- Run-time state ----

int32_t TCustomZipMate::ErrCode() const { return FActive == 0 ? 197 : FErrCode; }

void TCustomZipMate::SetCancel(bool v) {
  if (v == (FCancel != 0)) return;
  if (!v) {
    FCancel = 0;
    return;
  }
  if (FRunningWorker) FRunningWorker->RequestCancel(2);
  if (FLister) FLister->RequestCancel(2);
  FCancel = 2;
}

// ---- Reporting ----

bool TCustomZipMate::Poll() {
  bool result = FCancel != 0;
  if (OnTick) OnTick(this);
  if (OnCheckTerminate) {
    bool abort = FCancel != 0;
    OnCheckTerminate(this, abort);
    if (abort) FCancel = 2;
  } else if (!FRunsInOtherThread) {
    plat::Ui().ProcessMessages();
  }
  return result;
}

bool TCustomZipMate::EmitMessage(int32_t code, const std::string& text, bool record) {
  int32_t full = ZMAbsCode(code);
  int shortCode = full & 0x1F;
  SniffLine(full, text);
  if (record && shortCode != 0 && ErrCode() == 0) {
    FErrCode = shortCode;
    FFullErrCode = full;
    FErrMsg = text;
  }
  if (OnMessage) OnMessage(this, shortCode, text);
  return Poll();
}

void TCustomZipMate::ShowMessageText(const std::string& text, int32_t code, bool show) {
  FErrMsg = text;
  int32_t full = ZMAbsCode(code);
  FFullErrCode = full;
  FErrCode = full & 0x1FF;
  if (show && !FUnattended && FErrCode != 2 && FErrCode != 4) {
    std::string msg = text;
    MessageDialog("", msg, TMsgDlgButtons{mbOK}, kErrorDialog);
  }
  EmitMessage(full, text, FState < 3);
}

void TCustomZipMate::ShowMessageIdSuffix(int32_t code, const std::string& suffix) {
  int32_t full = ZMAbsCode(code);
  std::string text = LoadMessageText(full);
  if (text.empty())
    text =
        Format("ZMRes_???.res is probably not linked to the executable\nMissing String ID is: %d ", {full});
  ShowMessageText(text + suffix, full, true);
}

void TCustomZipMate::ReportFormatted(int number, std::initializer_list<TFmtArg> args) {
  std::string text = FormatMessageText(number, args);
  if (!text.empty() && text[0] == '!')
    text = LoadMessageText(220) + text.substr(1);
  else if (!text.empty() && text[0] == '#')
    text = LoadMessageText(219) + text.substr(1);
  EmitMessage(0, text, true);
}

bool TCustomZipMate::ReportSkipped(const std::string& name, int32_t code, TZMSkipTypes type) {
  bool stops = FNoSkipping.Contains(type);
  if (stops && code == 0) code = 17;
  int extError = ZMAbsCode(code);
  if (extError != 0 && stops) extError = -extError;
  if (OnSkipped) {
    OnSkipped(this, name, type, extError);
  } else if (FVerbosity != 0 && OnMessage) {
    OnMessage(this, 200, FormatMessageText(6, {name, int(type)}));
  }
  bool result = extError < 0;
  SniffLine(0, Format("[Skipped] IN=%d,%d OUT=%d", {code, int(type), result ? 1 : 0}));
  return result;
}

std::string TCustomZipMate::LoadMessageText(int number) const {
  int n = number < 0 ? int(ZMAbsCode(number)) : number;
  std::string t = LoadMessage(n);
  if (!t.empty() && UTF8Mode()) t = Utf8FromAnsi(t);
  return t;
}

std::string TCustomZipMate::FormatMessageText(int number, std::initializer_list<TFmtArg> args) const {
  std::string t = LoadMessageText(number);
  return t.empty() ? t : Format(t, args);
}

int TCustomZipMate::MessageDialog(const std::string& title, std::string& msg, TMsgDlgButtons btns,
                                  uint32_t context) {
  std::string t = title.empty() ? plat::Ui().ApplicationTitle() : title;
  if (FVerbosity != 0) t = Format("%s   (%d)", {t, int(context & 0xFFFF)});
  if (OnZipDialog) {
    std::string copy = msg;
    int result = int(context);
    OnZipDialog(this, t, copy, result, btns);
    if (result >= 1 && result <= 10) {
      msg = copy;
      return result;
    }
  }
  TZipDialogBox dlg(context);
  dlg.BuildLayout(t, msg, btns);
  int result = dlg.ShowModal();
  if ((context & ZMDlgKindMask) == ZMDlgPassword) msg = result == mrOk ? dlg.EnteredText() : std::string();
  return result;
}

std::string TCustomZipMate::OSErrorText(int number) const {
  uint32_t n = number == -1 ? plat::GetLastError() : uint32_t(number);
  return Format(" [0x%x] %s", {n, plat::SysErrorMessage(n)});
}

void TCustomZipMate::SniffLine(int32_t code, const std::string& text) { FSniffer->SendLine(code, text); }

void TCustomZipMate::CheckIndex(int index, int count) const {
  if (index < 0 || index >= count)
    throw EZipMate::CreateMsg(ZM_CODE(zmmZipMate, zmsIndexOutsideRange), {index, count - 1});
}

void TCustomZipMate::ShowExceptionError(const std::exception& e) {
  if (auto* z = dynamic_cast<const EZMException*>(&e))
    ShowMessageText(z->DisplayText(), z->FullCode, z->Show);
  else
    ShowMessageText(e.what(), kCodeErrorException, true);
}

// ---- Password prompts ----

namespace {
TMsgDlgBtn PasswordResponse(int result) {
  switch (result) {
    case mrOk: return mbOK;
    case mrCancel: return mbCancel;
    case mrAll: return mbNoToAll;
    default: return mbAbort;
  }
}
}  // namespace

std::string TCustomZipMate::AskAddPassword(TMsgDlgBtn& response) {
  std::string password;
  if (FUnattended) {
    ShowMessageIdSuffix(kCodeNoAddPassword, "");
  } else {
    const TMsgDlgButtons btns{mbOK, mbCancel};
    std::string first = LoadMessageText(72);
    response = PasswordResponse(MessageDialog(LoadMessageText(70), first, btns, kPasswordDialog + 10004));
    if (response == mbOK && !first.empty()) {
      std::string second = LoadMessageText(71);
      response = PasswordResponse(MessageDialog(LoadMessageText(70), second, btns, kPasswordDialog + 10005));
      if (response == mbOK && !second.empty()) {
        if (first != second) {
          ShowMessageIdSuffix(kCodePasswordsDiffer, "");
          second.clear();
        }
        password = second;
      }
    }
  }
  if (FState < 3) FPassword = password;
  return password;
}

std::string TCustomZipMate::AskExtractPassword(TMsgDlgBtn& response) {
  std::string password;
  if (FUnattended) {
    // With a password given, the engine asks only because that one is wrong, and it
    // reports so itself; "no password given" would name the wrong cause.
    if (FPassword.empty()) ShowMessageIdSuffix(22, "");
  } else {
    password = LoadMessageText(72);
    response = PasswordResponse(MessageDialog(
        LoadMessageText(70), password, TMsgDlgButtons{mbOK, mbCancel, mbAll}, kPasswordDialog + 10003));
    if (response != mbOK) password.clear();
  }
  if (FState < 3) FPassword = password;
  return password;
}
