/// \file ZipMate.h
/// The zip component: TCustomZipMate holds all state and behaviour, TZipMate
/// publishes it. Every operation runs inside one frame that refuses re-entry, clears
/// the last outcome, lets the workers finish and reports any failure; no exception
/// leaves a public operation.
///
/// Outcomes: after an operation ErrCode() is the message number of the first error it
/// recorded (0 for success), ErrMsg() its text and FullErrCode() the whole code with
/// the place it arose. Unless Unattended is set, an error is also shown in a dialog.
/// "Stored" below means: setting the property while the component is idle or
/// inactive stores the value; setting it while an operation runs is refused and only
/// counted as a re-entry (ReEntryCount).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "ZMBase.h"
#include "ZMClasses.h"
#include "ZMDirEntry.h"

/// Bits of the work deferred while the component is inactive or loading
/// (TCustomZipMate::DeferredWork); it runs, in one operation, once the component is
/// active and loaded.
enum TZMDeferredWork : uint32_t {
  dwLanguage = 1,     ///< select the stored Language
  dwLanguageID = 2,   ///< select the stored LanguageID (when Language is not deferred too)
  dwZipFileName = 4,  ///< list the stored ZipFileName
  dwZipComment = 8,   ///< write the stored ZipComment into the listed archive
  dwDLLLoad = 16      ///< load or release the engine as the stored DLL_Load says
};

// The component's inner parts; an application sees them only through the operations below.
class TZMCore;
class TZMLister;
class TZMPipeListImp;
class TZMSniffer;
class TZMWorkBase;

/// The encryption AddEncrypt applies: traditional, or AES with 256-bit keys.
enum TZMAddEncryption : uint8_t {
  zaeTraditional,  ///< the traditional ZIP encryption, readable everywhere but weak; the default
  zaeAes256        ///< AES with 256-bit keys (AE-2)
};

/// Version, private version, name and banner of a loaded engine (all 0 or empty while
/// none is loaded).
struct TZMEngineInfo {
  int32_t Version = 0,  ///< the engine's version: 190 for the engine this component accepts
      PrivVersion = 0;  ///< its private version: 1900111 or more
  std::string Name,     ///< the name the engine gives itself
      Banner;           ///< its banner text
};

/// The zip component: all its settings, run-time state, operations and events.
/// Construct one (optionally owned by another component), set properties, assign
/// handlers and call the operations; everything runs synchronously on the calling
/// thread. Setting ZipFileName lists an archive; Extract, Add, Delete and
/// JoinToSingleFile work on it.
class TCustomZipMate : public TComponent {
  friend class TZMWorkBase;
  friend class TZMCore;
  friend class TZMLister;
  friend class TZMModOpr;

 public:
  /// An active component with every setting at its default (State 0 until its first
  /// operation), owned by \p owner when one is given. It notes the application's main
  /// window for its dialogs.
  explicit TCustomZipMate(TComponent* owner = nullptr);
  /// Cancels a running operation, detaches OnMessage, OnStateChange, OnStream, OnTick
  /// and OnZipDialog, and drops this component's holds of the engine.
  ~TCustomZipMate() override;

  /// The component's version, as Version() gives it.
  static constexpr const char* ZipMateVersion = "1.9.1.0019";
  /// The engine's file name, looked for as DLLDirectory says.
  static constexpr const char* EngineFileName = "DzEngine190.dll";

  // ---- Archive and selection ----
  ///@{
  /// The archive the component works on; empty by default. Setting it lists the archive
  /// (also when the name is unchanged): a missing file gives ErrCode 123 ("Input file does
  /// not exist") without a dialog and an empty listing, a damaged one its error (shown
  /// unless Unattended); an empty name clears the listing. OnDirUpdate follows. While
  /// inactive or loading the name is stored and listed later; while busy, refused.
  const std::string& ZipFileName() const { return FZipFileName; }
  void SetZipFileName(const std::string& v);
  ///@}
  ///@{
  /// The archive's comment; empty by default, the listed archive's comment after a listing.
  /// Setting a different text writes it into the listed archive (ErrCode 202 "Cannot process
  /// invalid zip" without a dialog when the listing is not valid); with no archive listed,
  /// or no file of that name, the text is only stored. Equal text does nothing.
  const std::string& ZipComment() const { return FZipComment; }
  void SetZipComment(const std::string& v);
  ///@}
  ///@{
  /// Patterns (wildcards * and ?) choosing the entries Extract and Delete work on, or the
  /// files Add takes (relative to RootDir). Empty by default; for Extract an empty list means
  /// every entry. Setting it copies the given list (stored). An Extract that ran the engine
  /// leaves the list empty, so set it again before the next one.
  TStrings& FSpecArgs() { return *FFSpecArgs; }
  void SetFSpecArgs(const TStrings& v);
  ///@}
  ///@{
  /// Patterns of names to leave out of what FSpecArgs chooses; empty by default. Setting it
  /// copies the given list (stored).
  TStrings& FSpecArgsExcl() { return *FFSpecArgsExcl; }
  void SetFSpecArgsExcl(const TStrings& v);
  ///@}
  ///@{
  /// The folder Add resolves relative patterns against and stores names below; empty (the
  /// current folder) by default. Stored.
  const std::string& RootDir() const { return FRootDir; }
  void SetRootDir(const std::string& v);
  ///@}
  ///@{
  /// The password for encrypted entries and for AddEncrypt; empty by default. Stored. A
  /// password prompt answered while the component is idle replaces it.
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& v);
  ///@}
  ///@{
  /// How often the engine asks for a password for an entry when the one given is wrong: 1
  /// by default, at most 15 (larger values store 15). Stored.
  uint32_t PasswordReqCount() const { return FPasswordReqCount; }
  void SetPasswordReqCount(uint32_t v);
  ///@}
  ///@{
  /// Whether folder entries (names ending in "/") count in the listing's Count() and
  /// DirEntry(); false by default. A change rebuilds the listing's view, even while busy.
  bool UseDirOnlyEntries() const { return FUseDirOnlyEntries; }
  void SetUseDirOnlyEntries(bool v);
  ///@}
  ///@{
  /// How entry names and comments are decoded; zeoAuto by default. A change decodes the
  /// listed names again, even while busy.
  TZMEncodingOpts Encoding() const { return FEncoding; }
  void SetEncoding(TZMEncodingOpts v);
  ///@}
  ///@{
  /// Whether every text the component exchanges with the application is UTF-8 (otherwise
  /// the system's 8-bit code page); false by default. One setting for the whole process; a
  /// change runs as a short operation (refused while busy) and decodes listed names again.
  /// It can become true only on systems with wide file calls (always on POSIX systems).
  bool UseUTF8() const;
  void SetUseUTF8(bool v);
  ///@}
  ///@{
  /// The code page of entry names stored in an 8-bit code page (0: the system's ANSI
  /// code page for names the archive does not mark as OEM); the engine decodes the
  /// names it extracts with it too. Stored when different; a listed archive's names
  /// are decoded again.
  uint32_t NameCodePage() const { return FNameCodePage; }
  void SetNameCodePage(uint32_t v);
  ///@}

  // ---- Extraction ----
  ///@{
  /// The folder Extract writes under; empty by default: RootDir, or the current folder when
  /// that is empty too. It must exist (ErrCode 129 "Extract directory '...' must exist")
  /// unless ExtrForceDirs is set. Stored.
  const std::string& ExtrBaseDir() const { return FExtrBaseDir; }
  void SetExtrBaseDir(const std::string& v);
  ///@}
  ///@{
  /// The extraction options; empty by default. Stored.
  TZMExtrOpts ExtrOptions() const { return FExtrOptions; }
  void SetExtrOptions(TZMExtrOpts v);
  ///@}

  // ---- Adding and writing archives ----
  ///@{
  /// The options of Add and Delete; empty by default. Stored.
  TZMAddOpts AddOptions() const { return FAddOptions; }
  void SetAddOptions(TZMAddOpts v);
  ///@}
  ///@{
  /// The deflate level Add compresses with: 0 (store) to 9 (smallest), 9 by default; values
  /// outside are taken as the nearest end. Stored.
  int AddCompLevel() const { return FAddCompLevel; }
  void SetAddCompLevel(int v);
  ///@}
  ///@{
  /// The encryption AddEncrypt applies; zaeTraditional by default. Stored.
  TZMAddEncryption AddEncryption() const { return FAddEncryption; }
  void SetAddEncryption(TZMAddEncryption v) {
    if (MayStore()) FAddEncryption = v;
  }
  ///@}
  ///@{
  /// With AddFromDate, Add takes only files modified at or after this time; 0 by default.
  /// Stored.
  TDateTime AddFrom() const { return FAddFrom; }
  void SetAddFrom(TDateTime v);
  ///@}
  ///@{
  /// Suffixes whose files Add stores without compressing: every member except assEXE and
  /// assEXT by default. Stored.
  TZMAddStoreExts AddStoreSuffixes() const { return FAddStoreSuffixes; }
  void SetAddStoreSuffixes(TZMAddStoreExts v);
  ///@}
  ///@{
  /// Further suffixes stored without compressing, separated by ";", "," or ":"; empty by
  /// default. Kept normalised: lower case, each with a leading "." and a closing ":" ("gif;PNG"
  /// becomes ".gif:.png:"). A non-empty list adds assEXT to AddStoreSuffixes, an empty one
  /// removes it. Stored.
  const std::string& ExtAddStoreSuffixes() const { return FExtAddStoreSuffixes; }
  void SetExtAddStoreSuffixes(const std::string& v);
  ///@}
  ///@{
  /// How replaced archives and files moved by AddMove are removed; htdAllowUndo (to the
  /// trash) by default. Stored.
  TZMDeleteOpts HowToDelete() const { return FHowToDelete; }
  void SetHowToDelete(TZMDeleteOpts v);
  ///@}
  ///@{
  /// Whether to ask before erasing the files of a removable disk for a split archive; false
  /// by default. Stored.
  bool ConfirmErase() const { return FConfirmErase; }
  void SetConfirmErase(bool v);
  ///@}
  ///@{
  /// The writing options; empty by default. Stored when different, even while busy.
  TZMWriteOpts WriteOptions() const { return FWriteOptions; }
  void SetWriteOptions(TZMWriteOpts v);
  ///@}
  ///@{
  /// How split archives are named, found and their disks prepared; empty by default.
  /// Stored when different.
  TZMSpanOpts SpanOptions() const { return FSpanOptions; }
  void SetSpanOptions(TZMSpanOpts v);
  ///@}
  ///@{
  /// The largest part of a split archive Add writes, in bytes; 0 (no splitting unless
  /// zwoDiskSpan) by default. Values of 0 or below store 0. Stored.
  int64_t MaxVolumeSize() const { return FMaxVolumeSize; }
  void SetMaxVolumeSize(int64_t v);
  ///@}
  ///@{
  /// MaxVolumeSize in units of 1024 bytes (reading truncates); 0 or below stores 0.
  int32_t MaxVolumeSizeKb() const { return int32_t(FMaxVolumeSize / 1024); }
  void SetMaxVolumeSizeKb(int32_t v);
  ///@}
  ///@{
  /// The least free space, in bytes, a disk must have to take a part: 65536 by default.
  /// Stored.
  uint32_t MinFreeVolumeSize() const { return FMinFreeVolumeSize; }
  void SetMinFreeVolumeSize(uint32_t v);
  ///@}
  ///@{
  /// Bytes to leave free on the first disk of a split archive (rounded up to whole
  /// sectors); 0 by default. Stored.
  uint32_t KeepFreeOnDisk1() const { return FKeepFreeOnDisk1; }
  void SetKeepFreeOnDisk1(uint32_t v);
  ///@}
  ///@{
  /// Bytes to leave free on every disk of a split archive (rounded up to whole sectors); 0
  /// by default. Stored.
  uint32_t KeepFreeOnAllDisks() const { return FKeepFreeOnAllDisks; }
  void SetKeepFreeOnAllDisks(uint32_t v);
  ///@}
  ///@{
  /// The folder for temporary files; empty (the system's temporary folder) by default. A
  /// non-empty value is stored with a trailing separator.
  const std::string& TempDir() const { return FTempDir; }
  void SetTempDir(const std::string& v);
  ///@}
  ///@{
  /// The skip kinds that stop an operation (ErrCode 17 "Skipping not allowed" when the skip
  /// has no error of its own) instead of skipping the item: { stDupName, stReadError } by
  /// default. Stored.
  TZMSkipAborts NoSkipping() const { return FNoSkipping; }
  void SetNoSkipping(TZMSkipAborts v);
  ///@}

  // ---- Self-extracting archive settings ----
  ///@{
  /// The self-extractor's window caption; empty by default. Stored when different, which
  /// marks the self-extractor settings as changed; a listing may overwrite it.
  const std::string& SFXCaption() const { return FSFXCaption; }
  void SetSFXCaption(const std::string& v);
  ///@}
  ///@{
  /// The command the self-extractor runs after extracting; empty by default. Stored as
  /// SFXCaption.
  const std::string& SFXCommandLine() const { return FSFXCommandLine; }
  void SetSFXCommandLine(const std::string& v);
  ///@}
  ///@{
  /// The folder the self-extractor proposes; empty by default. Stored as SFXCaption.
  const std::string& SFXDefaultDir() const { return FSFXDefaultDir; }
  void SetSFXDefaultDir(const std::string& v);
  ///@}
  ///@{
  /// The self-extractor's icon; null while none is stored (the default). Setting an empty
  /// icon or null removes it, another icon is copied. Stored as SFXCaption.
  const TIcon* SFXIcon() const { return FSFXIcon.get(); }
  void SetSFXIcon(const TIcon* v);
  ///@}
  ///@{
  /// The message the self-extractor shows first; empty by default. Stored as SFXCaption.
  const std::string& SFXMessage() const { return FSFXMessage; }
  void SetSFXMessage(const std::string& v);
  ///@}
  ///@{
  /// The self-extractor's options; empty by default. Stored as SFXCaption.
  TZMSFXOpts SFXOptions() const { return FSFXOptions; }
  void SetSFXOptions(TZMSFXOpts v);
  ///@}
  ///@{
  /// What the self-extractor does with existing files; ovrAlways by default. Stored as
  /// SFXCaption.
  TZMOvrOpts SFXOverwriteMode() const { return FSFXOverwriteMode; }
  void SetSFXOverwriteMode(TZMOvrOpts v);
  ///@}
  ///@{
  /// The self-extractor program a self-extracting archive is made with; empty by default.
  /// Stored as SFXCaption.
  const std::string& SFXPath() const { return FSFXPath; }
  void SetSFXPath(const std::string& v);
  ///@}
  ///@{
  /// The folder the self-extractor uses when the registry path it was given fails; empty by
  /// default. Stored as SFXCaption.
  const std::string& SFXRegFailPath() const { return FSFXRegFailPath; }
  void SetSFXRegFailPath(const std::string& v);
  ///@}
  ///@{
  /// Whether a listing keeps the SFX settings instead of reading them from the archive;
  /// false by default. At run time it also reads true once the settings were marked as
  /// changed. Setting a different value stores it and clears that mark.
  bool NoReadAux() const;
  void SetNoReadAux(bool v);
  ///@}
  /// Whether the auxiliary settings have been marked as changed.
  bool AuxChanged() const { return FAuxChanged; }

  // ---- Engine, language and behaviour ----
  ///@{
  /// Whether the component works; true by default. While inactive, operations do nothing
  /// (Extract, Add, Delete and JoinToSingleFile return 197 "not Active", and ErrCode() reads
  /// 197); settings that start operations are stored and applied, in one operation, when
  /// the component becomes active again. Deactivating during an operation takes effect
  /// when it ends.
  bool Active() const { return FActive != 0; }
  void SetActive(bool v);
  ///@}
  ///@{
  /// Where the engine is looked for; empty by default: next to the program (or the
  /// installed engine next to the library), then the copy packed into the program. A
  /// folder (a leading "." is relative to the program's folder) or the full name of a
  /// ".dll" file; "><" takes the packed copy only. The engine is always loaded by its
  /// full path. Stored.
  const std::string& DLLDirectory() const { return FDLLDirectory; }
  void SetDLLDirectory(const std::string& v);
  ///@}
  ///@{
  /// Whether this component holds the engine loaded between operations; false by default.
  /// Setting true loads it (ErrCode 19 "Failed to load ..." or 18 "... old or corrupt" when
  /// it cannot), false releases it. Reading tells whether the engine is held.
  bool DLL_Load() const;
  void SetDLL_Load(bool v);
  ///@}
  ///@{
  /// The language of the component's messages: reading gives the code of the selected
  /// language, "US: default" while English is in effect. Setting selects a language by its
  /// code ("DE", "pl"; "*" picks the user's locale); a code with no table, or a program
  /// without the language resource, leaves English in effect. Process-wide.
  std::string Language() const;
  void SetLanguage(const std::string& v);
  ///@}
  ///@{
  /// The selected language as a language identifier (1033 for English, the default).
  /// Setting selects by identifier (0x0415 Polish ...; an unknown one leaves English).
  /// Process-wide.
  uint32_t LanguageID() const;
  void SetLanguageID(uint32_t v);
  ///@}
  ///@{
  /// Whether the component runs without a user: no error dialog, no password prompt (an
  /// encrypted entry without Password is skipped), no parent window for the engine. False
  /// by default. Stored.
  bool Unattended() const { return FUnattended; }
  void SetUnattended(bool v);
  ///@}
  ///@{
  /// Whether information and trace lines ("Loaded ...", skipped items, "Trace: ...") of
  /// the component and the engine reach OnMessage; false by default. Stored.
  bool Verbose() const { return FVerbosity & 1; }
  void SetVerbose(bool v);
  ///@}
  ///@{
  /// Like Verbose, and besides the operation frame's own lines ("Trace: done = 0") and
  /// the engine's most detailed level of reports; false by default. Stored.
  bool Trace() const { return FVerbosity & 2; }
  void SetTrace(bool v);
  ///@}
  ///@{
  /// The component's version, "1.9.1.0019"; setting it does nothing.
  std::string Version() const { return ZipMateVersion; }
  void SetVersion(const std::string&) {}
  ///@}
  ///@{
  /// The application's text hook for every message text, shared by every component of the
  /// process; none by default.
  TZMLoadStrEvent OnLoadStr() const;
  void SetOnLoadStr(TZMLoadStrEvent handler);
  ///@}

  // ---- Run-time state ----
  /// The message number of the first error the last operation recorded, 0 when it
  /// succeeded; 197 ("not Active") while the component is inactive.
  int32_t ErrCode() const;
  /// The text of that error; empty after success.
  const std::string& ErrMsg() const { return FErrMsg; }
  /// The whole code of that error: the message number in bits 0 to 8, the place it arose
  /// in the bits above.
  int32_t FullErrCode() const { return FFullErrCode; }
  /// Number of entries or files the last Extract, Add or Delete processed.
  int32_t SuccessCnt() const { return FSuccessCnt; }
  ///@{
  /// Whether a stop was requested. Setting it true asks the running operation to stop
  /// (ErrCode 2 "User canceled operation" or the engine's cancel); false clears the request.
  bool Cancel() const { return FCancel != 0; }
  /// True asks the running operation (and the lister) to stop; false clears the request.
  void SetCancel(bool v);
  ///@}
  /// The operation state: 0 inactive, 1 idle, 2 idle after a refused re-entry, 3 busy,
  /// 4 busy with a refused re-entry.
  int State() const { return FState; }
  /// 1 while an operation runs, else 0.
  int BusyDepth() const { return FBusyDepth; }
  /// Number of operations or settings refused as re-entries since the last operation
  /// started.
  int ReEntryCount() const { return FReEntryCount; }
  /// The work stored while inactive or loading (TZMDeferredWork bits).
  uint32_t DeferredWork() const { return FDeferredWork; }
  /// Verbose in bit 0 and Trace in bit 1.
  uint8_t Verbosity() const { return FVerbosity; }
  ///@{
  /// The window dialogs and the engine are parented to: the application's main window by
  /// default (0 where there is none).
  intptr_t OwnerWindow() const { return FOwnerWindow; }
  /// Sets the window handle later dialogs and engine runs are parented to (0: none).
  void SetOwnerWindow(intptr_t w) { FOwnerWindow = w; }
  ///@}
  /// Whether the component was created or used on a thread other than the program's first;
  /// polls then do not process window messages.
  bool RunsInOtherThread() const { return FRunsInOtherThread; }
  /// The streams (up to ten) the application lends to the next engine run in place of files;
  /// its type is the component's own.
  TZMPipeListImp& Pipes() { return *FPipes; }
  /// The running operation's copy of FSpecArgs.
  TStrings& WorkingSpecs() { return *FWorkingSpecs; }
  /// The running operation's copy of FSpecArgsExcl.
  TStrings& WorkingExclSpecs() { return *FWorkingExclSpecs; }
  /// The worker of the running operation; null between operations.
  TZMWorkBase* RunningWorker() const { return FRunningWorker.get(); }
  /// The listing worker of the current archive; null while none is listed.
  TZMCore* Lister() const { return FLister.get(); }
  /// A new number, one more than the last, unique within this component.
  int32_t NextSerial() { return ++FSerial; }

  // ---- The current listing ----
  /// Number of entries the listing of ZipFileName holds (0 when nothing is listed).
  /// Directory-only entries count only when UseDirOnlyEntries is set.
  int Count() const;
  /// Entry i of the listing (0 <= i < Count()), or null outside that range. The entry
  /// may be kept: after a later listing, or once the component is gone, it reads as
  /// stale (zero values, empty texts, Encoded 2).
  std::shared_ptr<const TZMDirEntry> DirEntry(int i) const;
  /// The listing worker with its view; null while none exists.
  TZMLister* ZipLister() const;
  /// Whether the listing holds a valid directory of ZipFileName (also one loaded after
  /// a warning such as bytes before the archive).
  bool ListingValid() const;
  /// Reads the directory of the archive `name` and hands each of its entries to `each`
  /// in the order stored, keeping none of them: memory stays the same however many
  /// entries the archive holds. The entry passed is valid only during the call. The
  /// checks, messages and errors are those of listing the archive, and UseDirOnlyEntries
  /// and the name settings apply as they do there; ZipFileName and its listing are left
  /// as they are. `each` returns false to read no further. True when the directory was
  /// read (ErrCode may then hold a warning, as after a listing), false when it could not
  /// be (ErrCode and ErrMsg say why) or the component is inactive or busy.
  bool ScanArchive(const std::string& name, const std::function<bool(const TZMDirEntry&)>& each);

  // ---- The engine ----
  /// The engine this component holds (DLL_Load set); zero and empty while it holds none.
  TZMEngineInfo EngineInfo() const;

  // ---- Public operations ----
  /// Extracts the entries FSpecArgs selects (less FSpecArgsExcl) from ZipFileName below
  /// ExtrBaseDir, as ExtrOptions say, through the engine; returns ErrCode (197 when
  /// inactive). Errors include 133 (no ZipFileName), 123 (no such archive), 129 (missing
  /// ExtrBaseDir), 19 and 18 (engine not loadable), 2 (cancelled) and 232 to 267 (the
  /// engine's errors); SuccessCnt is the number of entries extracted.
  int32_t Extract();
  /// Extracts (or, with ExtrTest in ExtrOptions, tests) the entries FSpecArgs selects
  /// from the archive `name` as Extract does from ZipFileName, without listing it: only
  /// the engine reads its directory, so that memory holds one copy of it. ZipFileName and
  /// its listing are left as they are. Returns ErrCode, with the errors of Extract.
  int32_t ExtractArchive(const std::string& name);
  /// Copies the archive ZipFileName (also one split over several parts) into the single
  /// file dest (its extension becomes .zip); dest receives the name written, or is
  /// emptied on failure. Returns ErrCode (197 when inactive).
  int32_t JoinToSingleFile(std::string& dest);
  /// Adds the files FSpecArgs names (below RootDir, as AddOptions say) to ZipFileName,
  /// making it when it does not exist, and lists it again; returns ErrCode (197 when
  /// inactive; 133 without ZipFileName, 11 when no file matches, 14 when a split archive
  /// would replace an existing file). SuccessCnt is the number of files and folders
  /// written. The old archive is replaced only once the new one is complete.
  int32_t Add();
  /// Removes the entries FSpecArgs selects (less FSpecArgsExcl) from ZipFileName and lists
  /// it again; returns ErrCode (197 when inactive; 123 when the archive does not exist, 13
  /// when nothing matches). SuccessCnt is the number removed.
  int32_t Delete();
  /// Ends loading from a stored definition and, when the component is active, applies
  /// the deferred work in one operation.
  void Loaded() override;

  // ---- Reporting ----
  /// Calls OnTick, then OnCheckTerminate (which may request a cancel) or, without it,
  /// lets the application process pending window messages. True when Cancel was set as
  /// the poll began. Operations call it at every report.
  bool Poll();
  /// Reports \p text with \p code to OnMessage (with the code's low five bits); when
  /// \p record is set, those bits are not 0 and no error is recorded yet, records them as
  /// ErrCode with the text. Then polls: the poll's result.
  bool EmitMessage(int32_t code, const std::string& text, bool record);
  /// Records \p text and \p code as the error (ErrCode: the code's message number),
  /// shows it in a dialog when \p show is set, Unattended is not and the message is not 2
  /// or 4, then emits it as EmitMessage does.
  void ShowMessageText(const std::string& text, int32_t code, bool show);
  /// ShowMessageText with the code's message text followed by \p suffix, shown.
  void ShowMessageIdSuffix(int32_t code, const std::string& suffix);
  /// Emits message \p number formatted with \p args, with code 0; a leading "!" becomes
  /// "info: " and a leading "#" "Trace: " (in the current language).
  void ReportFormatted(int number, std::initializer_list<TFmtArg> args);
  /// Reports a skipped item to OnSkipped (or, when verbose, to OnMessage as message 6):
  /// true when the skip stops the operation (its kind is in NoSkipping and the handler
  /// left ExtError negative).
  bool ReportSkipped(const std::string& name, int32_t code, TZMSkipTypes type);
  /// The text of message \p number (a full code's low nine bits) in the current language,
  /// else English, as the text hook may replace it; UTF-8 when UseUTF8 is on. A number
  /// without text gives "Resource missing for " and the number.
  std::string LoadMessageText(int number) const;
  /// LoadMessageText filled with \p args by Format.
  std::string FormatMessageText(int number, std::initializer_list<TFmtArg> args) const;
  /// Asks the user: OnZipDialog first, else the built-in dialog with \p title (empty: the
  /// application's title), \p msg and \p btns; \p context selects the dialog's kind (an
  /// input dialog returns the entered text in \p msg). The modal result (mrOk ...).
  int MessageDialog(const std::string& title, std::string& msg, TMsgDlgButtons btns, uint32_t context);
  /// " [0x<number>] <the system's text>" for system error \p number (-1: the thread's
  /// last error).
  std::string OSErrorText(int number) const;
  /// Sends a line to a linked monitor window; there is none on this platform.
  void SniffLine(int32_t code, const std::string& text);
  /// Raises the component's error 199 ("Index (%d) outside range 0..%d") unless
  /// 0 <= index < count; used inside operations, whose frame reports it.
  void CheckIndex(int index, int count) const;
  /// Reports an exception as ShowMessageText does: the component's own with its code and
  /// show flag, any other with its text as message 194.
  void ShowExceptionError(const std::exception& e);

  /// Asks for a new password twice (message 134 and an empty result when the entries
  /// differ); response receives the answer (mbOK, mbCancel, mbNoToAll, mbAbort). With
  /// Unattended: error 21 and an empty password. When idle, Password becomes the result.
  std::string AskAddPassword(TMsgDlgBtn& response);
  /// Asks once for the password of an encrypted entry (buttons OK, Cancel, All); response
  /// receives the answer. With Unattended: an empty password (and error 22 when
  /// Password is empty). When idle, Password becomes the result.
  std::string AskExtractPassword(TMsgDlgBtn& response);

  // ---- Events ----
  /// Every message and trace line, with its code (see TZMMessageEvent) and text.
  TZMMessageEvent OnMessage;
  /// Progress of the engine's work: items, bytes and stages (see TZMProgressKind).
  TZMProgressEvent OnProgress;
  /// Every poll, that is at every report; keeps a user interface alive.
  TZMTickEvent OnTick;
  /// Every poll; leaving abort true cancels the operation. While assigned, polls do not
  /// process window messages.
  TZMCheckTerminateEvent OnCheckTerminate;
  /// Every item skipped, with the kind and error; see TZMSkippedEvent.
  TZMSkippedEvent OnSkipped;
  /// Every question and error box, before the built-in dialog; may answer in its place.
  TZMDialogEvent OnZipDialog;
  /// The listing changed (after ZipFileName is set or an archive is written).
  TNotifyEvent OnDirUpdate;
  /// An extracted file would replace an existing one; without a handler ExtrOverWrite
  /// decides.
  TZMExtractOverwriteEvent OnExtractOverwrite;
  /// An entry's data do not match its CRC-32.
  TZMCRC32ErrorEvent OnCRC32Error;
  /// The engine needs a password; without a handler the component's prompt asks
  /// (nothing with Unattended).
  TZMPasswordErrorEvent OnPasswordError;
  /// The name each entry is extracted under; may rename it.
  TZMSetExtNameEvent OnSetExtName;
  /// The engine asks for an application stream in place of a file.
  TZMStreamEvent OnStream;
  /// The comment of each entry Add writes; may set one.
  TZMFileCommentEvent OnFileComment;
  /// The extra field of each entry Add writes; may set one.
  TZMFileExtraEvent OnFileExtra;
  /// The name each file is stored under by Add; may change it.
  TZMSetAddNameEvent OnSetAddName;
  /// The compression level of each file Add compresses; may change it.
  TZMSetCompLevel OnSetCompLevel;
  /// The next disk of a split archive on removable media is needed; without a handler a
  /// dialog asks.
  TZMGetNextDiskEvent OnGetNextDisk;
  /// A removable disk for a part is not empty or too full; without a handler a dialog
  /// asks about a previous part or a file of the same name.
  TZMStatusDiskEvent OnStatusDisk;
  /// Each entry that enters the listing, with its index.
  TZMNewNameEvent OnNewName;
  /// A name that cannot be stored; not raised by this build.
  TZMBadNameEvent OnBadName;
  /// An entry copied between archives would replace one; not raised by this build.
  TZMCopyZippedOverwriteEvent OnCopyZippedOverwrite;
  /// Every change of State; may suppress the busy cursor.
  TZMStateChange OnStateChange;

 protected:
  // ---- Operation frame ----
  /// Permission to start an operation: false (silently) while inactive, designing or
  /// loading; false with a re-entry counted while one runs; else the component is busy.
  bool BeginOperation();
  /// Clears the last outcome (ErrCode, ErrMsg, FullErrCode, SuccessCnt) and copies
  /// FSpecArgs and FSpecArgsExcl into the working lists.
  void StartOperation();
  /// Finishes the workers, keeps what they left in the working lists when \p good, and
  /// returns the component to idle (or inactive, when a deactivation is pending).
  void EndOperation(bool good);
  /// Ends the operation as failed and reports \p e (the component's own errors with their
  /// code, others as message 1 "Unknown Error" with their text).
  void FailOperation(const std::exception& e);
  /// Runs a short routine inside the frame without clearing the last outcome; a
  /// failure is dropped silently.
  void RunQuickOperation(const std::function<void()>& routine);
  /// Changes State to \p n, raising OnStateChange and switching the busy cursor.
  void SetState(int n);
  /// Counts a refused re-entry (State 4); "Trace: Re-entry" goes to OnMessage when
  /// verbose.
  void NoteReEntry();
  /// Runs the deferred work (DeferredWork) in one operation and clears it.
  void ApplyDeferredWork();
  /// BeginOperation, StartOperation, the work, EndOperation; an error escaping the
  /// work goes to FailOperation. False when the operation was refused.
  bool RunOperation(const std::function<void()>& work);
  /// For setters that only store: true when the value may be stored now.
  bool MayStore();

  /// Lists \p name with a new lister, inside the running operation.
  virtual void ListArchive(const std::string& name);
  /// Writes \p text as the listed archive's comment (or only stores it without one).
  virtual void ChangeComment(const std::string& text);
  /// Loads (\p load) or releases this component's hold of the engine.
  virtual void LoadEngine(bool load);
  /// The work of Extract, inside the running operation.
  virtual void ExtractEntries();
  /// Whether the engine loader holds the engine for this component.
  virtual bool EngineHeld() const;
  /// What a changed setting asks of the listing (ListingChanged).
  enum TZMListingChange {
    lcNames,   ///< names must be decoded again (Encoding, NameCodePage, UseUTF8)
    lcDirOnly  ///< the view must follow UseDirOnlyEntries
  };
  /// The listed archive's names or view must follow a changed setting. Without a
  /// listing there is nothing to refresh.
  virtual void ListingChanged(TZMListingChange change);

  /// Makes \p w the running operation's worker (the component owns it).
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

/// The component with its published surface; adds nothing.
class TZipMate : public TCustomZipMate {
 public:
  /// The constructors of TCustomZipMate.
  using TCustomZipMate::TCustomZipMate;
};
