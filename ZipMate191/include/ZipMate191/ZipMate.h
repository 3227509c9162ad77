// The zip component: TCustomZipMate holds all state and behaviour, TZipMate
// publishes it. Every operation runs inside one frame that refuses re-entry, clears
// the last outcome, lets the workers finish and reports any failure; no exception
// leaves a public operation.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "ZMBase.h"
#include "ZMClasses.h"
#include "ZMDirEntry.h"

// Bits of the work deferred while the component is inactive or loading.
enum TZMDeferredWork : uint32_t {
  dwLanguage = 1,
  dwLanguageID = 2,
  dwZipFileName = 4,
  dwZipComment = 8,
  dwDLLLoad = 16
};

// The component's inner parts; an application sees them only through the operations below.
class TZMCore;
class TZMLister;
class TZMPipeListImp;
class TZMSniffer;
class TZMWorkBase;

// The encryption AddEncrypt applies: traditional, or AES with 256-bit keys.
enum TZMAddEncryption : uint8_t { zaeTraditional, zaeAes256 };

// Version, private version, name and banner of a loaded engine.
struct TZMEngineInfo {
  int32_t Version = 0, PrivVersion = 0;
  std::string Name, Banner;
};

class TCustomZipMate : public TComponent {
  friend class TZMWorkBase;
  friend class TZMCore;
  friend class TZMLister;
  friend class TZMModOpr;

 public:
  explicit TCustomZipMate(TComponent* owner = nullptr);
  ~TCustomZipMate() override;

  static constexpr const char* ZipMateVersion = "1.9.1.0019";
  static constexpr const char* EngineFileName = "DzEngine190.dll";

  // ---- Archive and selection ----
  const std::string& ZipFileName() const { return FZipFileName; }
  void SetZipFileName(const std::string& v);
  const std::string& ZipComment() const { return FZipComment; }
  void SetZipComment(const std::string& v);
  TStrings& FSpecArgs() { return *FFSpecArgs; }
  void SetFSpecArgs(const TStrings& v);
  TStrings& FSpecArgsExcl() { return *FFSpecArgsExcl; }
  void SetFSpecArgsExcl(const TStrings& v);
  const std::string& RootDir() const { return FRootDir; }
  void SetRootDir(const std::string& v);
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& v);
  uint32_t PasswordReqCount() const { return FPasswordReqCount; }
  void SetPasswordReqCount(uint32_t v);
  bool UseDirOnlyEntries() const { return FUseDirOnlyEntries; }
  void SetUseDirOnlyEntries(bool v);
  TZMEncodingOpts Encoding() const { return FEncoding; }
  void SetEncoding(TZMEncodingOpts v);
  bool UseUTF8() const;
  void SetUseUTF8(bool v);
  // The code page of entry names stored in an 8-bit code page (0: the system's ANSI
  // code page for names the archive does not mark as OEM); the engine decodes the
  // names it extracts with it too. Stored when different; a listed archive's names
  // are decoded again.
  uint32_t NameCodePage() const { return FNameCodePage; }
  void SetNameCodePage(uint32_t v);

  // ---- Extraction ----
  const std::string& ExtrBaseDir() const { return FExtrBaseDir; }
  void SetExtrBaseDir(const std::string& v);
  TZMExtrOpts ExtrOptions() const { return FExtrOptions; }
  void SetExtrOptions(TZMExtrOpts v);

  // ---- Adding and writing archives ----
  TZMAddOpts AddOptions() const { return FAddOptions; }
  void SetAddOptions(TZMAddOpts v);
  int AddCompLevel() const { return FAddCompLevel; }
  void SetAddCompLevel(int v);
  // Run-time setting, stored.
  TZMAddEncryption AddEncryption() const { return FAddEncryption; }
  void SetAddEncryption(TZMAddEncryption v) {
    if (MayStore()) FAddEncryption = v;
  }
  TDateTime AddFrom() const { return FAddFrom; }
  void SetAddFrom(TDateTime v);
  TZMAddStoreExts AddStoreSuffixes() const { return FAddStoreSuffixes; }
  void SetAddStoreSuffixes(TZMAddStoreExts v);
  const std::string& ExtAddStoreSuffixes() const { return FExtAddStoreSuffixes; }
  void SetExtAddStoreSuffixes(const std::string& v);
  TZMDeleteOpts HowToDelete() const { return FHowToDelete; }
  void SetHowToDelete(TZMDeleteOpts v);
  bool ConfirmErase() const { return FConfirmErase; }
  void SetConfirmErase(bool v);
  TZMWriteOpts WriteOptions() const { return FWriteOptions; }
  void SetWriteOptions(TZMWriteOpts v);
  TZMSpanOpts SpanOptions() const { return FSpanOptions; }
  void SetSpanOptions(TZMSpanOpts v);
  int64_t MaxVolumeSize() const { return FMaxVolumeSize; }
  void SetMaxVolumeSize(int64_t v);
  int32_t MaxVolumeSizeKb() const { return int32_t(FMaxVolumeSize / 1024); }
  void SetMaxVolumeSizeKb(int32_t v);
  uint32_t MinFreeVolumeSize() const { return FMinFreeVolumeSize; }
  void SetMinFreeVolumeSize(uint32_t v);
  uint32_t KeepFreeOnDisk1() const { return FKeepFreeOnDisk1; }
  void SetKeepFreeOnDisk1(uint32_t v);
  uint32_t KeepFreeOnAllDisks() const { return FKeepFreeOnAllDisks; }
  void SetKeepFreeOnAllDisks(uint32_t v);
  const std::string& TempDir() const { return FTempDir; }
  void SetTempDir(const std::string& v);
  TZMSkipAborts NoSkipping() const { return FNoSkipping; }
  void SetNoSkipping(TZMSkipAborts v);

  // ---- Self-extracting archive settings ----
  const std::string& SFXCaption() const { return FSFXCaption; }
  void SetSFXCaption(const std::string& v);
  const std::string& SFXCommandLine() const { return FSFXCommandLine; }
  void SetSFXCommandLine(const std::string& v);
  const std::string& SFXDefaultDir() const { return FSFXDefaultDir; }
  void SetSFXDefaultDir(const std::string& v);
  // Null while no icon is stored.
  const TIcon* SFXIcon() const { return FSFXIcon.get(); }
  void SetSFXIcon(const TIcon* v);
  const std::string& SFXMessage() const { return FSFXMessage; }
  void SetSFXMessage(const std::string& v);
  TZMSFXOpts SFXOptions() const { return FSFXOptions; }
  void SetSFXOptions(TZMSFXOpts v);
  TZMOvrOpts SFXOverwriteMode() const { return FSFXOverwriteMode; }
  void SetSFXOverwriteMode(TZMOvrOpts v);
  const std::string& SFXPath() const { return FSFXPath; }
  void SetSFXPath(const std::string& v);
  const std::string& SFXRegFailPath() const { return FSFXRegFailPath; }
  void SetSFXRegFailPath(const std::string& v);
  bool NoReadAux() const;
  void SetNoReadAux(bool v);
  // Whether the auxiliary settings have been marked as changed.
  bool AuxChanged() const { return FAuxChanged; }

  // ---- Engine, language and behaviour ----
  bool Active() const { return FActive != 0; }
  void SetActive(bool v);
  const std::string& DLLDirectory() const { return FDLLDirectory; }
  void SetDLLDirectory(const std::string& v);
  bool DLL_Load() const;
  void SetDLL_Load(bool v);
  std::string Language() const;
  void SetLanguage(const std::string& v);
  uint32_t LanguageID() const;
  void SetLanguageID(uint32_t v);
  bool Unattended() const { return FUnattended; }
  void SetUnattended(bool v);
  bool Verbose() const { return FVerbosity & 1; }
  void SetVerbose(bool v);
  bool Trace() const { return FVerbosity & 2; }
  void SetTrace(bool v);
  std::string Version() const { return ZipMateVersion; }
  void SetVersion(const std::string&) {}
  // Shared by every component of the process.
  TZMLoadStrEvent OnLoadStr() const;
  void SetOnLoadStr(TZMLoadStrEvent handler);

  // ---- Run-time state ----
  // 197 ("not Active") while the component is inactive.
  int32_t ErrCode() const;
  const std::string& ErrMsg() const { return FErrMsg; }
  int32_t FullErrCode() const { return FFullErrCode; }
  int32_t SuccessCnt() const { return FSuccessCnt; }
  bool Cancel() const { return FCancel != 0; }
  void SetCancel(bool v);
  int State() const { return FState; }
  int BusyDepth() const { return FBusyDepth; }
  int ReEntryCount() const { return FReEntryCount; }
  uint32_t DeferredWork() const { return FDeferredWork; }
  uint8_t Verbosity() const { return FVerbosity; }
  intptr_t OwnerWindow() const { return FOwnerWindow; }
  void SetOwnerWindow(intptr_t w) { FOwnerWindow = w; }
  bool RunsInOtherThread() const { return FRunsInOtherThread; }
  TZMPipeListImp& Pipes() { return *FPipes; }
  TStrings& WorkingSpecs() { return *FWorkingSpecs; }
  TStrings& WorkingExclSpecs() { return *FWorkingExclSpecs; }
  TZMWorkBase* RunningWorker() const { return FRunningWorker.get(); }
  // The listing worker of the current archive; null while none is listed.
  TZMCore* Lister() const { return FLister.get(); }
  int32_t NextSerial() { return ++FSerial; }

  // ---- The current listing ----
  // Number of entries the listing of ZipFileName holds (0 when nothing is listed).
  // Directory-only entries count only when UseDirOnlyEntries is set.
  int Count() const;
  // Entry i of the listing (0 <= i < Count()), or null outside that range. The entry
  // may be kept: after a later listing, or once the component is gone, it reads as
  // stale (zero values, empty texts, Encoded 2).
  std::shared_ptr<const TZMDirEntry> DirEntry(int i) const;
  // The listing worker with its view; null while none exists.
  TZMLister* ZipLister() const;
  // Whether the listing holds a valid directory of ZipFileName (also one loaded after
  // a warning such as bytes before the archive).
  bool ListingValid() const;

  // ---- The engine ----
  // The engine this component holds (DLL_Load set); zero and empty while it holds none.
  TZMEngineInfo EngineInfo() const;

  // ---- Public operations ----
  // Extracts the selected entries; returns ErrCode (197 when inactive).
  int32_t Extract();
  // Copies the archive ZipFileName (also one split over several parts) into the single
  // file dest (its extension becomes .zip); dest receives the name written, or is
  // emptied on failure. Returns ErrCode (197 when inactive).
  int32_t JoinToSingleFile(std::string& dest);
  // Adds the files FSpecArgs names (below RootDir, as AddOptions say) to ZipFileName,
  // making it when it does not exist; returns ErrCode (197 when inactive).
  int32_t Add();
  // Removes the entries FSpecArgs selects from ZipFileName; returns ErrCode.
  int32_t Delete();
  void Loaded() override;

  // ---- Reporting ----
  bool Poll();
  bool EmitMessage(int32_t code, const std::string& text, bool record);
  void ShowMessageText(const std::string& text, int32_t code, bool show);
  void ShowMessageIdSuffix(int32_t code, const std::string& suffix);
  void ReportFormatted(int number, std::initializer_list<TFmtArg> args);
  bool ReportSkipped(const std::string& name, int32_t code, TZMSkipTypes type);
  std::string LoadMessageText(int number) const;
  std::string FormatMessageText(int number, std::initializer_list<TFmtArg> args) const;
  int MessageDialog(const std::string& title, std::string& msg, TMsgDlgButtons btns, uint32_t context);
  std::string OSErrorText(int number) const;
  // Sends a line to a linked monitor window; there is none on this platform.
  void SniffLine(int32_t code, const std::string& text);
  void CheckIndex(int index, int count) const;
  void ShowExceptionError(const std::exception& e);

  // Password prompts; response receives the dialog's answer.
  std::string AskAddPassword(TMsgDlgBtn& response);
  std::string AskExtractPassword(TMsgDlgBtn& response);

  // ---- Events ----
  TZMMessageEvent OnMessage;
  TZMProgressEvent OnProgress;
  TZMTickEvent OnTick;
  TZMCheckTerminateEvent OnCheckTerminate;
  TZMSkippedEvent OnSkipped;
  TZMDialogEvent OnZipDialog;
  TNotifyEvent OnDirUpdate;
  TZMExtractOverwriteEvent OnExtractOverwrite;
  TZMCRC32ErrorEvent OnCRC32Error;
  TZMPasswordErrorEvent OnPasswordError;
  TZMSetExtNameEvent OnSetExtName;
  TZMStreamEvent OnStream;
  TZMFileCommentEvent OnFileComment;
  TZMFileExtraEvent OnFileExtra;
  TZMSetAddNameEvent OnSetAddName;
  TZMSetCompLevel OnSetCompLevel;
  TZMGetNextDiskEvent OnGetNextDisk;
  TZMStatusDiskEvent OnStatusDisk;
  TZMNewNameEvent OnNewName;
  TZMBadNameEvent OnBadName;
  TZMCopyZippedOverwriteEvent OnCopyZippedOverwrite;
  TZMStateChange OnStateChange;

 protected:
  // ---- Operation frame ----
  bool BeginOperation();
  void StartOperation();
  void EndOperation(bool good);
  void FailOperation(const std::exception& e);
  // Runs a short routine inside the frame without clearing the last outcome; a
  // failure is dropped silently.
  void RunQuickOperation(const std::function<void()>& routine);
  void SetState(int n);
  void NoteReEntry();
  void ApplyDeferredWork();
  // BeginOperation, StartOperation, the work, EndOperation; an error escaping the
  // work goes to FailOperation. False when the operation was refused.
  bool RunOperation(const std::function<void()>& work);
  // For setters that only store: true when the value may be stored now.
  bool MayStore();

  // Work done by units that are not part of this build. Each raises an error
  // saying so; the listing, engine and extraction units provide the real work.
  virtual void ListArchive(const std::string& name);
  virtual void ChangeComment(const std::string& text);
  virtual void LoadEngine(bool load);
  virtual void ExtractEntries();
  // Whether the engine loader holds the engine for this component.
  virtual bool EngineHeld() const;
  // The listed archive's names or view must follow a changed setting. Without a
  // listing there is nothing to refresh.
  enum TZMListingChange { lcNames, lcDirOnly };
  virtual void ListingChanged(TZMListingChange change);

  void SetRunningWorker(std::unique_ptr<TZMWorkBase> w);

 private:
  void MarkAuxChanged();
  void ApplyLanguage(uint32_t which);

  // Archive and selection
  std::string FZipFileName, FZipComment;
  std::unique_ptr<TStringList> FFSpecArgs, FFSpecArgsExcl, FWorkingSpecs, FWorkingExclSpecs;
  std::string FRootDir, FPassword;
  uint32_t FPasswordReqCount = 1;
  bool FUseDirOnlyEntries = false;
  TZMEncodingOpts FEncoding = zeoAuto;
  TZMEncodingOpts FWriteEncoding = zeoAuto;
  uint32_t FNameCodePage = 0;
  // Extraction
  std::string FExtrBaseDir;
  TZMExtrOpts FExtrOptions;
  // Adding and writing
  TZMAddOpts FAddOptions;
  int FAddCompLevel = 9;
  TZMAddEncryption FAddEncryption = zaeTraditional;
  TDateTime FAddFrom = 0;
  TZMAddStoreExts FAddStoreSuffixes;
  std::string FExtAddStoreSuffixes;
  TZMDeleteOpts FHowToDelete = htdAllowUndo;
  bool FConfirmErase = false;
  TZMWriteOpts FWriteOptions;
  TZMSpanOpts FSpanOptions;
  int64_t FMaxVolumeSize = 0;
  uint32_t FMinFreeVolumeSize = 65536;
  uint32_t FKeepFreeOnDisk1 = 0, FKeepFreeOnAllDisks = 0;
  std::string FTempDir;
  TZMSkipAborts FNoSkipping{stDupName, stReadError};
  // Self-extractor
  std::string FSFXCaption, FSFXCommandLine, FSFXDefaultDir, FSFXMessage, FSFXPath, FSFXRegFailPath;
  std::unique_ptr<TIcon> FSFXIcon;
  TZMSFXOpts FSFXOptions;
  TZMOvrOpts FSFXOverwriteMode = ovrAlways;
  bool FNoReadAux = false, FAuxChanged = false;
  // Engine, language, behaviour
  int32_t FActive = 2;
  std::string FDLLDirectory;
  bool FDLLLoad = false;
  std::string FLanguage;
  uint32_t FLanguageID = 0;
  bool FUnattended = false;
  uint8_t FVerbosity = 0;
  // Reporting state
  int32_t FErrCode = 0, FFullErrCode = 0;
  std::string FErrMsg;
  int32_t FCancel = 0;
  int32_t FSuccessCnt = 0;
  intptr_t FOwnerWindow = 0;
  std::unique_ptr<TZMSniffer> FSniffer;  // the monitor link of the running operation
  bool FRunsInOtherThread = false;
  // Frame state
  int FState = 0;
  int32_t FBusyDepth = 0;
  int32_t FReEntryCount = 0;
  bool FReportingReEntry = false;  // a re-entry report is being made
  uint32_t FDeferredWork = 0;
  int FCursorDepth = 0;
  int FSavedCursor = 0;
  int32_t FSerial = 0;
  std::unique_ptr<TZMWorkBase> FRunningWorker;
  std::unique_ptr<TZMCore> FLister;
  std::unique_ptr<TZMPipeListImp> FPipes;
  std::unique_ptr<TMemoryStream> FWorkStream;
};

// The component with its published surface; adds nothing.
class TZipMate : public TCustomZipMate {
 public:
  using TCustomZipMate::TCustomZipMate;
};
