/// \file ZMBase.h
/// The component's option enumerations and sets, dialog buttons, progress record
/// interface and event types. The ordinal of an enumeration member is its position,
/// from 0, and bit n of a set stands for the member of ordinal n, so a set's raw bits
/// (Set::ToBits) are the same in every build.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "ZMClasses.h"
#include "ZMSet.h"

/// A point in time in days since 1899-12-30 00:00 (local time); the fraction is the
/// time of day.
using TDateTime = double;

/// The application's text hook (the component's OnLoadStr): receives the masked message
/// number and the text found so far; a non-empty DefStr afterwards replaces the text.
using TZMLoadStrEvent = std::function<void(int Ident, std::string& DefStr)>;

/// Extraction options, members of TZMExtrOpts (TCustomZipMate::ExtrOptions).
enum TZMExtrOptsEnum : int {
  ExtrDirNames,   ///< recreate the entries' folder parts below ExtrBaseDir; without it every
                  ///< file lands in ExtrBaseDir itself
  ExtrOverWrite,  ///< replace an existing file of the same name without a question (also
                  ///< the default answer OnExtractOverwrite starts from)
  ExtrFreshen,    ///< extract only entries newer than a file that already exists
  ExtrUpdate,     ///< extract entries that do not exist yet and those newer than the file
                  ///< (wins over ExtrFreshen)
  ExtrTest,       ///< test the entries (decompress and check their CRC) and write nothing
  ExtrForceDirs,  ///< create ExtrBaseDir, with its missing parents, when it does not exist;
                  ///< without it a missing folder is error 129
  ExtrNTFS        ///< take the file times from the entries' extended time fields where
                  ///< they have them
};
/// The extraction options: empty by default (folder parts dropped, existing files
/// kept unless an OnExtractOverwrite handler says otherwise).
using TZMExtrOpts = Set<TZMExtrOptsEnum, 8>;

/// Options of Add and Delete, members of TZMAddOpts (TCustomZipMate::AddOptions).
enum TZMAddOptsEnum : int {
  AddDirNames,      ///< store names with their folder part below RootDir; without it only
                    ///< the bare file name
  AddRecurseDirs,   ///< a pattern also matches files in the subfolders
  AddMove,          ///< remove each file from the disk once it is written into the archive
                    ///< (as HowToDelete says)
  AddFreshen,       ///< replace entries whose file is newer; add nothing new
  AddUpdate,        ///< add new files and replace entries whose file is newer (wins over
                    ///< AddFreshen)
  AddHiddenFiles,   ///< include hidden files (names starting with "." on POSIX systems)
  AddArchiveOnly,   ///< only files whose archive attribute is set (not acted on by this build's engine)
  AddResetArchive,  ///< clear the archive attribute of the files added (not acted on by this build's engine)
  AddEncrypt,       ///< encrypt new entries with Password, as AddEncryption says
  AddEmptyDirs,     ///< store folders as entries of their own too (with AddDirNames)
  AddVolume,        ///< store the volume label (not acted on by this build's engine)
  AddFromDate,      ///< only files modified on or after AddFrom
  AddVersion,       ///< keep version numbers in names (not acted on by this build's engine)
  AddNTFS           ///< store the extended time fields (not acted on by this build's engine)
};
/// The options of Add and Delete: empty by default.
using TZMAddOpts = Set<TZMAddOptsEnum, 16>;

/// File-name suffixes that Add stores without compressing, members of TZMAddStoreExts
/// (TCustomZipMate::AddStoreSuffixes). Each member stands for the suffix its name
/// says, compared without regard to letter case.
enum TZMAddStoreSuffixEnum : int {
  assGIF,   ///< .gif
  assPNG,   ///< .png
  assZ,     ///< .z
  assZIP,   ///< .zip
  assZOO,   ///< .zoo
  assARC,   ///< .arc
  assLZH,   ///< .lzh
  assARJ,   ///< .arj
  assTAZ,   ///< .taz
  assTGZ,   ///< .tgz
  assLHA,   ///< .lha
  assRAR,   ///< .rar
  assACE,   ///< .ace
  assCAB,   ///< .cab
  assGZ,    ///< .gz
  assGZIP,  ///< .gzip
  assJAR,   ///< .jar
  assEXE,   ///< .exe
  assEXT,   ///< the suffixes listed in ExtAddStoreSuffixes (set and cleared with it)
  assJPG,   ///< .jpg
  assJPEG,  ///< .jpeg
  ass7Zp,   ///< .7zp
  assMP3,   ///< .mp3
  assWMV,   ///< .wmv
  assWMA,   ///< .wma
  assDVR,   ///< .dvr-ms
  assAVI    ///< .avi
};
/// The suffixes stored without compression.
using TZMAddStoreExts = Set<TZMAddStoreSuffixEnum, 32>;

/// How entry names are decoded (TCustomZipMate::Encoding) and, for TZMDirEntry::Encoded,
/// how a name is stored.
enum TZMEncodingOpts : uint8_t {
  zeoAuto,  ///< each name as its entry marks it (UTF-8 flag, Unicode extra field, OEM for
            ///< names made on DOS-like systems, else NameCodePage); the default
  zeoNone,  ///< the 8-bit code page NameCodePage (1 in Encoded: native code page)
  zeoOEM,   ///< the OEM code page
  zeoUTF8,  ///< UTF-8
  zeoUPath  ///< the Unicode path extra field where the entry has one
};

/// How a split archive is named and its removable disks prepared, members of
/// TZMSpanOpts (TCustomZipMate::SpanOptions).
enum TZMSpanOptsEnum : int {
  spNoVolumeName,  ///< name the parts by number (name001.zip, name002.zip ...) instead of
                   ///< giving each removable disk a volume label
  spCompatName,    ///< name the parts name.z01, name.z02 ... with name.zip last
  spWipeFiles,     ///< erase the files of a removable disk before a part is written on it
  spTryFormat,     ///< try to format a removable disk first (where the system offers it)
  spAnyTime,       ///< when looking for numbered parts, accept parts whose time stamps
                   ///< differ from the first one's
  spExactName      ///< open only the file named; never look for the other parts of a set
};
/// The split-archive options: empty by default.
using TZMSpanOpts = Set<TZMSpanOptsEnum, 8>;

/// Options for writing archives, members of TZMWriteOpts (TCustomZipMate::WriteOptions).
enum TZMWriteOptsEnum : int {
  zwoDiskSpan,   ///< write a split archive (also with MaxVolumeSize 0: one part per disk)
  zwoZipTime,    ///< give the archive file the time of its newest entry
  zwoForceDest,  ///< create the destination folder when it is missing (not read by this build)
  zwoSafe        ///< safe writing; archives are always written beside the old one and
                 ///< put in its place when complete, so it changes nothing
};
/// The writing options: empty by default.
using TZMWriteOpts = Set<TZMWriteOptsEnum, 8>;

/// Behaviour of a self-extracting archive, members of TZMSFXOpts
/// (TCustomZipMate::SFXOptions). The component stores and reads them with the archive's
/// self-extractor settings; the self-extractor program acts on them.
enum TZMSFXOpt : int {
  soAskCmdLine,            ///< let the user confirm or change SFXCommandLine
  soAskFiles,              ///< let the user choose the files to extract
  soHideOverWriteBox,      ///< do not show the overwrite choice
  soAutoRun,               ///< run the extractor's work without waiting for the user
  soNoSuccessMsg,          ///< show no message after a successful extraction
  soExpandVariables,       ///< expand environment variables in the folder and command line
  soInitiallyHideFiles,    ///< start with the file list hidden
  soForceHideFiles,        ///< never show the file list
  soCheckAutoRunFileName,  ///< decide on auto-run by the extractor's own file name
  soCanBeCancelled,        ///< the extraction may be cancelled by the user
  soCreateEmptyDirs,       ///< create the archive's empty folders
  soSuccessAlways          ///< report success even when files were skipped
};
/// The self-extractor options: empty by default.
using TZMSFXOpts = Set<TZMSFXOpt, 16>;

/// What a self-extractor does with existing files (TCustomZipMate::SFXOverwriteMode).
enum TZMOvrOpts : uint8_t {
  ovrAlways,  ///< replace them; the default
  ovrNever,   ///< keep them
  ovrConfirm  ///< ask the user
};
/// How the component deletes files (TCustomZipMate::HowToDelete): a replaced archive and
/// the files AddMove removes.
enum TZMDeleteOpts : uint8_t {
  htdFinal,     ///< delete them for good
  htdAllowUndo  ///< move them to the user's trash (recycle bin); the default
};

/// Why an item was skipped (OnSkipped), members of TZMSkipAborts
/// (TCustomZipMate::NoSkipping).
enum TZMSkipTypes : int {
  stOnFreshen,            ///< not newer than the existing file (freshen or update)
  stNoOverwrite,          ///< an existing file was not to be replaced
  stFileExists,           ///< something else of that name is in the way (a folder, a FIFO)
  stBadPassword,          ///< no password, or a wrong one, for an encrypted entry
  stBadName,              ///< the name is unsafe or invalid for the system
  stCompressionUnknown,   ///< a compression method the engine cannot decode
  stUnknownZipHost,       ///< made on a system the engine does not know
  stZipFileFormatWrong,   ///< the entry's records are damaged or disagree
  stGeneralExtractError,  ///< any other extraction error
  stUser,                 ///< skipped at the application's request
  stCannotDo,             ///< the operation cannot be done for this item
  stNotFound,             ///< the file to add was not found
  stNoShare,              ///< the file is locked by another program
  stNoAccess,             ///< access to the file was denied
  stNoOpen,               ///< the file could not be opened or created
  stDupName,              ///< a second entry with the same name
  stReadError,            ///< the file could not be read
  stSizeChange,           ///< the file changed size while it was being added
  stNothingToDo           ///< nothing had to be done for the item
};
/// Skip kinds that stop the operation instead of skipping: { stDupName, stReadError } by
/// default.
using TZMSkipAborts = Set<TZMSkipTypes, 32>;

/// State of a removable disk about to receive a part of a split archive (OnStatusDisk),
/// members of TZMZipDiskStatus.
enum TZMZipDiskStatusEnum : int {
  zdsEmpty,          ///< the disk holds no files
  zdsHasFiles,       ///< the disk holds files
  zdsPreviousDisk,   ///< the disk holds the previous part of this archive
  zdsSameFileName,   ///< a file with the part's name is already there
  zdsNotEnoughSpace  ///< less free space than MinFreeVolumeSize
};
/// The state bits of a disk.
using TZMZipDiskStatus = Set<TZMZipDiskStatusEnum, 8>;

/// The answer of an OnStatusDisk handler.
enum TZMDiskAction : uint8_t {
  zdaYesToAll,  ///< write on this disk and ask no more for the rest of the operation
  zdaOk,        ///< write on this disk; the value the handler starts with
  zdaErase,     ///< erase the disk (or format it, with spTryFormat) and write on it
  zdaReject,    ///< ask for another disk
  zdaCancel     ///< cancel the operation
};
/// The answer of an OnBadName handler.
enum TZMNameFixes : uint8_t {
  znfFatal,  ///< stop the operation
  znfSkip,   ///< skip the item
  znfAuto,   ///< let the component fix the name
  znfFixed   ///< the handler fixed FileName
};
/// What the engine asks of an OnStream handler.
enum TZMStreamOp : uint8_t {
  zsoIdentify,  ///< fill stat (size, DOS date, attributes) for the stream number
  zsoOpen,      ///< hand over the stream in strm
  zsoClose      ///< the engine is done with strm
};

/// Dialog buttons in their fixed order.
enum TMsgDlgBtn : int {
  mbYes,       ///< Yes (modal result mrYes)
  mbNo,        ///< No (mrNo)
  mbOK,        ///< OK (mrOk)
  mbCancel,    ///< Cancel (mrCancel)
  mbAbort,     ///< Abort (mrAbort)
  mbRetry,     ///< Retry (mrRetry)
  mbIgnore,    ///< Ignore (mrIgnore)
  mbAll,       ///< All (mrAll)
  mbNoToAll,   ///< No to all (mrNoToAll)
  mbYesToAll,  ///< Yes to all (mrYesToAll)
  mbHelp       ///< Help; never shown by the component's dialog
};
/// A set of dialog buttons.
using TMsgDlgButtons = Set<TMsgDlgBtn, 16>;

/// Modal results of dialogs: what MessageDialog and an OnZipDialog handler return.
enum : int {
  mrNone = 0,      ///< no answer (a handler leaving this lets the built-in dialog ask)
  mrOk = 1,        ///< OK
  mrCancel = 2,    ///< Cancel
  mrAbort = 3,     ///< Abort
  mrRetry = 4,     ///< Retry
  mrIgnore = 5,    ///< Ignore
  mrYes = 6,       ///< Yes
  mrNo = 7,        ///< No
  mrAll = 8,       ///< All
  mrNoToAll = 9,   ///< No to all
  mrYesToAll = 10  ///< Yes to all
};

/// What the last progress notice was (TZMProgressDetails::Kind).
enum TZMProgressKind : uint8_t {
  pkNewItem,     ///< an item starts: CurrentName, CurrentSize and CurrentIndex are new
  pkItemStep,    ///< StepSize more bytes of the current item are done
  pkItemEnd,     ///< the current item is finished
  pkBatchEnd,    ///< the whole batch is finished
  pkTotalItems,  ///< the batch's number of items is announced in TotalItems
  pkTotalBytes,  ///< the batch's bytes are announced in TotalBytes; a batch opens
  pkNewExtra,    ///< a stage outside the items starts; CurrentName names it (such as
                 ///< "*Finalising")
  pkExtraStep    ///< StepSize more bytes of that stage are done (TotalDone unchanged)
};

/// The progress record handed to OnProgress. The application only reads it, except
/// for StopRequested. Sizes are in bytes; the record lives as long as the operation.
class TZMProgressDetails : public TObject {
 public:
  /// Bytes written so far, as the producing worker sets it.
  virtual int64_t WrittenBytes() const = 0;
  /// Size of the last step reported, in bytes.
  virtual int64_t StepSize() const = 0;
  /// Name of the current item (or stage); empty between items.
  virtual std::string CurrentName() const = 0;
  /// Number of items started in the batch: 1 for the first.
  virtual int32_t CurrentIndex() const = 0;
  /// Bytes done of the current item.
  virtual int64_t CurrentDone() const = 0;
  /// Size of the current item, in bytes.
  virtual int64_t CurrentSize() const = 0;
  /// What the notice reports.
  virtual TZMProgressKind Kind() const = 0;
  /// Whether the application asked to stop (SetStopRequested).
  virtual bool StopRequested() const = 0;
  /// Number of items announced for the batch.
  virtual int64_t TotalItems() const = 0;
  /// Bytes done in the batch.
  virtual int64_t TotalDone() const = 0;
  /// Bytes announced for the batch; 0 until announced.
  virtual int64_t TotalBytes() const = 0;
  /// Asks the engine to stop: the run ends as cancelled once the current item is
  /// finished. Cleared again when a batch opens or ends.
  virtual void SetStopRequested(bool value) = 0;
};

/// Size, DOS date and attributes of a stream the application lends to the engine
/// (OnStream with zsoIdentify).
struct TZMSStats {
  int64_t Size = 0;    ///< bytes the engine takes from the stream
  uint32_t Date = 0;   ///< MS-DOS date (high 16 bits) and time (low 16 bits)
  uint32_t Attrs = 0;  ///< file attributes to store
};

class TZMDirEntry;  // one entry of an archive's directory

/// A plain notice (OnDirUpdate).
using TNotifyEvent = std::function<void(TObject* Sender)>;
/// A message or trace line (OnMessage). ErrCode is 0 for trace and information lines;
/// for the component's own errors it is the low five bits of the code, for the engine's
/// a full code whose low nine bits are the message number. Read the component's
/// ErrCode() for the message number of the recorded error.
using TZMMessageEvent = std::function<void(TObject* Sender, int ErrCode, const std::string& ErrMsg)>;
/// A progress notice (OnProgress).
using TZMProgressEvent = std::function<void(TObject* Sender, TZMProgressDetails* details)>;
/// A poll (OnTick).
using TZMTickEvent = std::function<void(TObject* Sender)>;
/// A poll that may stop the operation (OnCheckTerminate): leaving abort true cancels.
using TZMCheckTerminateEvent = std::function<void(TObject* Sender, bool& abort)>;
/// A skipped item (OnSkipped). ExtError is the error's code, negative when the skip
/// stops the operation; the handler may change its sign.
using TZMSkippedEvent =
    std::function<void(TObject* Sender, const std::string& ForFile, TZMSkipTypes SkipType, int& ExtError)>;
/// A dialog request (OnZipDialog). Result starts as the dialog's context; a handler
/// that sets it to 1..10 (mrOk..mrYesToAll) answers in the dialog's place, and msg then
/// carries its text (the password of an input dialog).
using TZMDialogEvent = std::function<void(TObject* Sender, const std::string& title, std::string& msg,
                                          int& Result, TMsgDlgButtons btns)>;
/// Whether to replace an existing file (OnExtractOverwrite). DoOverwrite starts as
/// ExtrOverWrite says; IsOlder tells whether the file is older than the entry; DirIndex
/// is the entry's index.
using TZMExtractOverwriteEvent = std::function<void(TObject* Sender, const std::string& ForFile, bool IsOlder,
                                                    bool& DoOverwrite, int DirIndex)>;
/// An entry whose data do not match its CRC-32 (OnCRC32Error). DoExtract starts true:
/// leaving it keeps the file, clearing it skips the entry. Without a handler, and
/// always when testing, the entry is skipped.
using TZMCRC32ErrorEvent = std::function<void(TObject* Sender, const std::string& ForFile, uint32_t FoundCRC,
                                              uint32_t ExpectedCRC, bool& DoExtract)>;
/// A password is needed (OnPasswordError), in place of the component's prompt.
/// IsZipAction is true when adding; the handler puts the password in NewPassword and
/// leaves Action mbOK, or answers mbCancel (skip the entry), mbNoToAll (skip all that
/// need one) or mbAbort (stop). RepeatCount (at most 15) is how often the engine may ask
/// again.
using TZMPasswordErrorEvent =
    std::function<void(TObject* Sender, bool IsZipAction, std::string& NewPassword,
                       const std::string& ForFile, uint32_t& RepeatCount, TMsgDlgBtn& Action)>;
/// The name a file is extracted under (OnSetExtName), relative to BaseDir; setting
/// IsChanged with a new FileName renames it (a folder must stay a folder).
using TZMSetExtNameEvent =
    std::function<void(TObject* Sender, std::string& FileName, const std::string& BaseDir, bool& IsChanged)>;
/// The engine asks for a stream in place of a file (OnStream); the handler sets done
/// when it handled the request (see TZMStreamOp).
using TZMStreamEvent = std::function<void(TObject* Sender, TZMStreamOp opr, int snumber, TStream*& strm,
                                          TZMSStats& stat, bool& done)>;
/// The comment of an entry being added (OnFileComment); setting IsChanged stores
/// FileComment (cut to 255 bytes).
using TZMFileCommentEvent = std::function<void(TObject* Sender, const std::string& ForFile,
                                               std::string& FileComment, bool& IsChanged)>;
/// The extra field of an entry being added (OnFileExtra); setting IsChanged stores Data
/// (cut to 2047 bytes).
using TZMFileExtraEvent =
    std::function<void(TObject* Sender, const std::string& ForFile, std::string& Data, bool& IsChanged)>;
/// The name a file is stored under (OnSetAddName); ExtName is its path on the disk.
/// Setting IsChanged stores FileName instead.
using TZMSetAddNameEvent =
    std::function<void(TObject* Sender, std::string& FileName, const std::string& ExtName, bool& IsChanged)>;
/// The compression level of a file being added (OnSetCompLevel); setting IsChanged with
/// a level 0..9 replaces AddCompLevel for that file.
using TZMSetCompLevel =
    std::function<void(TObject* Sender, const std::string& ForFile, int& level, bool& IsChanged)>;
/// The next disk of a split archive is needed (OnGetNextDisk): DiskSeqNo (from 1) of
/// DiskTotal in Drive; setting AbortAction cancels the operation.
using TZMGetNextDiskEvent =
    std::function<void(TObject* Sender, int DiskSeqNo, int DiskTotal, std::string Drive, bool& AbortAction)>;
/// A removable disk about to receive a part is not empty or too full (OnStatusDisk):
/// PreviousDisk is the part's number, PreviousFile its file name; Action (zdaOk at the
/// start) is the answer.
using TZMStatusDiskEvent = std::function<void(TObject* Sender, int PreviousDisk, std::string PreviousFile,
                                              TZMZipDiskStatus Status, TZMDiskAction& Action)>;
/// An entry entered the listing (OnNewName), with its index in the listing.
using TZMNewNameEvent = std::function<void(TObject* Sender, int SeqNo)>;
/// A name that cannot be stored as it is (OnBadName); no operation of this build raises
/// it.
using TZMBadNameEvent = std::function<void(TObject* Sender, std::string& FileName, const std::string& ExtName,
                                           TZMNameFixes& Action)>;
/// Whether an entry copied between archives replaces one of the same name
/// (OnCopyZippedOverwrite); no operation of this build raises it.
using TZMCopyZippedOverwriteEvent =
    std::function<void(TObject* Sender, TZMDirEntry* src, TZMDirEntry* dst, bool& DoOverwrite)>;
/// Raised with the new operation state (0 inactive, 1 idle, 2 idle after a refused
/// re-entry, 3 busy, 4 busy with a refused re-entry); setting NoCursor suppresses the
/// busy cursor.
using TZMStateChange = std::function<void(TObject* Sender, int State, bool& NoCursor)>;
