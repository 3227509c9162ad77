// The component's option enumerations and sets, dialog buttons, progress record
// interface and event types.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "ZMClasses.h"
#include "ZMSet.h"

using TDateTime = double;  // days since 1899-12-30

// The application's text hook (the component's OnLoadStr): receives the masked message
// number and the text found so far; a non-empty DefStr afterwards replaces the text.
using TZMLoadStrEvent = std::function<void(int Ident, std::string& DefStr)>;

enum TZMExtrOptsEnum : int {
  ExtrDirNames,
  ExtrOverWrite,
  ExtrFreshen,
  ExtrUpdate,
  ExtrTest,
  ExtrForceDirs,
  ExtrNTFS
};
using TZMExtrOpts = Set<TZMExtrOptsEnum, 8>;

enum TZMAddOptsEnum : int {
  AddDirNames,
  AddRecurseDirs,
  AddMove,
  AddFreshen,
  AddUpdate,
  AddHiddenFiles,
  AddArchiveOnly,
  AddResetArchive,
  AddEncrypt,
  AddEmptyDirs,
  AddVolume,
  AddFromDate,
  AddVersion,
  AddNTFS
};
using TZMAddOpts = Set<TZMAddOptsEnum, 16>;

enum TZMAddStoreSuffixEnum : int {
  assGIF,
  assPNG,
  assZ,
  assZIP,
  assZOO,
  assARC,
  assLZH,
  assARJ,
  assTAZ,
  assTGZ,
  assLHA,
  assRAR,
  assACE,
  assCAB,
  assGZ,
  assGZIP,
  assJAR,
  assEXE,
  assEXT,
  assJPG,
  assJPEG,
  ass7Zp,
  assMP3,
  assWMV,
  assWMA,
  assDVR,
  assAVI
};
using TZMAddStoreExts = Set<TZMAddStoreSuffixEnum, 32>;

enum TZMEncodingOpts : uint8_t { zeoAuto, zeoNone, zeoOEM, zeoUTF8, zeoUPath };

enum TZMSpanOptsEnum : int { spNoVolumeName, spCompatName, spWipeFiles, spTryFormat, spAnyTime, spExactName };
using TZMSpanOpts = Set<TZMSpanOptsEnum, 8>;

enum TZMWriteOptsEnum : int { zwoDiskSpan, zwoZipTime, zwoForceDest, zwoSafe };
using TZMWriteOpts = Set<TZMWriteOptsEnum, 8>;

enum TZMSFXOpt : int {
  soAskCmdLine,
  soAskFiles,
  soHideOverWriteBox,
  soAutoRun,
  soNoSuccessMsg,
  soExpandVariables,
  soInitiallyHideFiles,
  soForceHideFiles,
  soCheckAutoRunFileName,
  soCanBeCancelled,
  soCreateEmptyDirs,
  soSuccessAlways
};
using TZMSFXOpts = Set<TZMSFXOpt, 16>;

enum TZMOvrOpts : uint8_t { ovrAlways, ovrNever, ovrConfirm };
enum TZMDeleteOpts : uint8_t { htdFinal, htdAllowUndo };

enum TZMSkipTypes : int {
  stOnFreshen,
  stNoOverwrite,
  stFileExists,
  stBadPassword,
  stBadName,
  stCompressionUnknown,
  stUnknownZipHost,
  stZipFileFormatWrong,
  stGeneralExtractError,
  stUser,
  stCannotDo,
  stNotFound,
  stNoShare,
  stNoAccess,
  stNoOpen,
  stDupName,
  stReadError,
  stSizeChange,
  stNothingToDo
};
using TZMSkipAborts = Set<TZMSkipTypes, 32>;

enum TZMZipDiskStatusEnum : int {
  zdsEmpty,
  zdsHasFiles,
  zdsPreviousDisk,
  zdsSameFileName,
  zdsNotEnoughSpace
};
using TZMZipDiskStatus = Set<TZMZipDiskStatusEnum, 8>;

enum TZMDiskAction : uint8_t { zdaYesToAll, zdaOk, zdaErase, zdaReject, zdaCancel };
enum TZMNameFixes : uint8_t { znfFatal, znfSkip, znfAuto, znfFixed };
enum TZMStreamOp : uint8_t { zsoIdentify, zsoOpen, zsoClose };

// Dialog buttons in their fixed order.
enum TMsgDlgBtn : int {
  mbYes,
  mbNo,
  mbOK,
  mbCancel,
  mbAbort,
  mbRetry,
  mbIgnore,
  mbAll,
  mbNoToAll,
  mbYesToAll,
  mbHelp
};
using TMsgDlgButtons = Set<TMsgDlgBtn, 16>;

// Modal results of dialogs.
enum : int {
  mrNone = 0,
  mrOk = 1,
  mrCancel = 2,
  mrAbort = 3,
  mrRetry = 4,
  mrIgnore = 5,
  mrYes = 6,
  mrNo = 7,
  mrAll = 8,
  mrNoToAll = 9,
  mrYesToAll = 10
};

enum TZMProgressKind : uint8_t {
  pkNewItem,
  pkItemStep,
  pkItemEnd,
  pkBatchEnd,
  pkTotalItems,
  pkTotalBytes,
  pkNewExtra,
  pkExtraStep
};

// The progress record handed to OnProgress. The application only reads it, except
// for StopRequested.
class TZMProgressDetails : public TObject {
 public:
  virtual int64_t WrittenBytes() const = 0;
  virtual int64_t StepSize() const = 0;
  virtual std::string CurrentName() const = 0;
  virtual int32_t CurrentIndex() const = 0;
  virtual int64_t CurrentDone() const = 0;
  virtual int64_t CurrentSize() const = 0;
  virtual TZMProgressKind Kind() const = 0;
  virtual bool StopRequested() const = 0;
  virtual int64_t TotalItems() const = 0;
  virtual int64_t TotalDone() const = 0;
  virtual int64_t TotalBytes() const = 0;
  virtual void SetStopRequested(bool value) = 0;
};

// Size, DOS date and attributes of a stream the application lends to the engine.
struct TZMSStats {
  int64_t Size = 0;
  uint32_t Date = 0;
  uint32_t Attrs = 0;
};

class TZMDirEntry;  // one entry of an archive's directory

using TNotifyEvent = std::function<void(TObject* Sender)>;
using TZMMessageEvent = std::function<void(TObject* Sender, int ErrCode, const std::string& ErrMsg)>;
using TZMProgressEvent = std::function<void(TObject* Sender, TZMProgressDetails* details)>;
using TZMTickEvent = std::function<void(TObject* Sender)>;
using TZMCheckTerminateEvent = std::function<void(TObject* Sender, bool& abort)>;
using TZMSkippedEvent =
    std::function<void(TObject* Sender, const std::string& ForFile, TZMSkipTypes SkipType, int& ExtError)>;
using TZMDialogEvent = std::function<void(TObject* Sender, const std::string& title, std::string& msg,
                                          int& Result, TMsgDlgButtons btns)>;
using TZMExtractOverwriteEvent = std::function<void(TObject* Sender, const std::string& ForFile, bool IsOlder,
                                                    bool& DoOverwrite, int DirIndex)>;
using TZMCRC32ErrorEvent = std::function<void(TObject* Sender, const std::string& ForFile, uint32_t FoundCRC,
                                              uint32_t ExpectedCRC, bool& DoExtract)>;
using TZMPasswordErrorEvent =
    std::function<void(TObject* Sender, bool IsZipAction, std::string& NewPassword,
                       const std::string& ForFile, uint32_t& RepeatCount, TMsgDlgBtn& Action)>;
using TZMSetExtNameEvent =
    std::function<void(TObject* Sender, std::string& FileName, const std::string& BaseDir, bool& IsChanged)>;
using TZMStreamEvent = std::function<void(TObject* Sender, TZMStreamOp opr, int snumber, TStream*& strm,
                                          TZMSStats& stat, bool& done)>;
using TZMFileCommentEvent = std::function<void(TObject* Sender, const std::string& ForFile,
                                               std::string& FileComment, bool& IsChanged)>;
using TZMFileExtraEvent =
    std::function<void(TObject* Sender, const std::string& ForFile, std::string& Data, bool& IsChanged)>;
using TZMSetAddNameEvent =
    std::function<void(TObject* Sender, std::string& FileName, const std::string& ExtName, bool& IsChanged)>;
using TZMSetCompLevel =
    std::function<void(TObject* Sender, const std::string& ForFile, int& level, bool& IsChanged)>;
using TZMGetNextDiskEvent =
    std::function<void(TObject* Sender, int DiskSeqNo, int DiskTotal, std::string Drive, bool& AbortAction)>;
using TZMStatusDiskEvent = std::function<void(TObject* Sender, int PreviousDisk, std::string PreviousFile,
                                              TZMZipDiskStatus Status, TZMDiskAction& Action)>;
using TZMNewNameEvent = std::function<void(TObject* Sender, int SeqNo)>;
using TZMBadNameEvent = std::function<void(TObject* Sender, std::string& FileName, const std::string& ExtName,
                                           TZMNameFixes& Action)>;
using TZMCopyZippedOverwriteEvent =
    std::function<void(TObject* Sender, TZMDirEntry* src, TZMDirEntry* dst, bool& DoOverwrite)>;
// Raised with the new operation state; NoCursor suppresses the busy cursor.
using TZMStateChange = std::function<void(TObject* Sender, int State, bool& NoCursor)>;
