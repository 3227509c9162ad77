// Workers: the ownership tree (TZMWorkBin), the link to the component (TZMWorkBase)
// and the common reporting base of every worker (TZMCore); the progress record and
// the pipes through which the application lends streams to the engine.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ZMBase.h"
#include "ZMClasses.h"
#include "ZMXcpt.h"

class TCustomZipMate;

// Full code recorded for a missing archive (message 123).
inline constexpr int32_t kMissingArchiveCode = 168213627;

// ---- Progress record ----

class TProgDetails : public TZMProgressDetails {
 public:
  int64_t WrittenBytes() const override { return FWrittenBytes; }
  int64_t StepSize() const override { return FStepSize; }
  std::string CurrentName() const override { return FCurrentName; }
  int32_t CurrentIndex() const override { return FCurrentIndex; }
  int64_t CurrentDone() const override { return FCurrentDone; }
  int64_t CurrentSize() const override { return FCurrentSize; }
  TZMProgressKind Kind() const override { return FKind; }
  bool StopRequested() const override { return FStopRequested; }
  int64_t TotalItems() const override { return FTotalItems; }
  int64_t TotalDone() const override { return FTotalDone; }
  int64_t TotalBytes() const override { return FTotalBytes; }
  void SetStopRequested(bool value) override { FStopRequested = value; }
  bool BatchOpen() const { return FBatchOpen; }

  void Reset();
  void NewItem(const std::string& name, int64_t size);
  void Step(int64_t n);
  void EndBatch();
  void AnnounceItems(int64_t n);
  void AnnounceBytes(int64_t n);
  void NewExtra(const std::string& name, int64_t size);
  void ExtraStep(int64_t n);
  void SetWrittenBytes(int64_t n) { FWrittenBytes = n; }

 private:
  int64_t FStepSize = 0;
  bool FBatchOpen = false;
  int64_t FTotalItems = 0;
  std::string FCurrentName;
  int32_t FCurrentIndex = 0;
  int64_t FCurrentDone = 0;
  int64_t FCurrentSize = 0;
  TZMProgressKind FKind = pkNewItem;
  bool FStopRequested = false;
  int64_t FTotalDone = 0;
  int64_t FTotalBytes = 0;
  int64_t FWrittenBytes = 0;
};

// ---- Pipes ----

class TZMPipe : public TObject {
 public:
  virtual int32_t Attributes() const = 0;
  virtual int32_t DosDate() const = 0;
  virtual std::string FileName() const = 0;
  virtual bool OwnsStream() const = 0;
  virtual int32_t Size() const = 0;
  virtual TStream* Stream() const = 0;
  virtual void SetAttributes(int32_t v) = 0;
  virtual void SetDosDate(int32_t v) = 0;
  virtual void SetFileName(const std::string& v) = 0;
  virtual void SetOwnsStream(bool v) = 0;
  virtual void SetSize(int32_t v) = 0;
  virtual void SetStream(TStream* v) = 0;
};

class TZMPipeImp : public TZMPipe {
 public:
  TZMPipeImp();
  ~TZMPipeImp() override;
  TZMPipeImp(const TZMPipeImp&) = delete;
  TZMPipeImp& operator=(const TZMPipeImp&) = delete;

  int32_t Attributes() const override { return FAttributes; }
  int32_t DosDate() const override { return FDosDate; }
  std::string FileName() const override { return FFileName; }
  bool OwnsStream() const override { return FOwnsStream; }
  int32_t Size() const override { return FSize; }
  TStream* Stream() const override { return FStream; }
  void SetAttributes(int32_t v) override { FAttributes = v; }
  void SetDosDate(int32_t v) override { FDosDate = v; }
  void SetFileName(const std::string& v) override;
  void SetOwnsStream(bool v) override { FOwnsStream = v; }
  // Never more than the stream holds; 0 without a stream.
  void SetSize(int32_t v) override;
  // Releases the previous stream (freeing it when owned); rewinds the new one.
  void SetStream(TStream* v) override;

 private:
  int32_t FAttributes = 0;
  int32_t FDosDate = 0;
  std::string FFileName;
  bool FOwnsStream = false;
  int32_t FSize = 0;
  TStream* FStream = nullptr;
};

class TZMPipeList : public TObject {
 public:
  virtual int Count() const = 0;
  virtual TZMPipe* Items(int index) = 0;
  virtual void SetCount(int value) = 0;
  virtual void SetItems(int index, TZMPipe* pipe) = 0;
  virtual int Add(TStream* stream, const std::string& fileName, bool ownsStream) = 0;
  virtual void Clear() = 0;
};

// At most 10 pipes (indexes 0 to 9); entries may be empty. Owns its pipes.
class TZMPipeListImp : public TZMPipeList {
 public:
  static constexpr int MaxPipes = 10;
  TZMPipeListImp() = default;
  ~TZMPipeListImp() override { Clear(); }
  TZMPipeListImp(const TZMPipeListImp&) = delete;
  TZMPipeListImp& operator=(const TZMPipeListImp&) = delete;

  int Count() const override { return int(FList.size()); }
  // Grows the list to reach index and fills an empty entry with a new pipe.
  TZMPipe* Items(int index) override;
  // Grows only; never shrinks.
  void SetCount(int value) override;
  // Takes ownership of pipe; a different pipe held at index is freed.
  void SetItems(int index, TZMPipe* pipe) override;
  int Add(TStream* stream, const std::string& fileName, bool ownsStream) override;
  void Clear() override;
  // Hands every entry over to other (after clearing it) without freeing anything.
  void MoveTo(TZMPipeListImp* other);
  bool HasStream(int index) const;
  void DropOwnedStream(int index);
  // The entry at index without creating one (null when empty or outside).
  TZMPipe* Peek(int index) const;

 private:
  void CheckRange(int index) const;
  std::vector<TZMPipe*> FList;
};

// ---- Workers ----

// Ties workers into an ownership tree: an owner destroys its children.
class TZMWorkBin : public TObject {
 public:
  explicit TZMWorkBin(TZMWorkBin* owner = nullptr);
  ~TZMWorkBin() override;
  TZMWorkBin(const TZMWorkBin&) = delete;
  TZMWorkBin& operator=(const TZMWorkBin&) = delete;

  TZMWorkBin* OwnerBin() const { return FOwnerBin; }
  // Null until the first child registers and again once the last one has left.
  const std::vector<TZMWorkBin*>* Children() const { return FChildren.get(); }

 private:
  std::unique_ptr<std::vector<TZMWorkBin*>> FChildren;
  TZMWorkBin* FOwnerBin = nullptr;
};

// A worker linked to the component whose settings it reads and writes.
class TZMWorkBase : public TZMWorkBin {
 public:
  TZMWorkBase(TCustomZipMate& master, TZMWorkBin* owner = nullptr);

  virtual void RequestCancel(int32_t code);
  virtual void Finished(bool good) = 0;
  virtual void Prepare() = 0;

  TCustomZipMate& Master() const { return *FMaster; }
  TCustomZipMate& Settings() const { return *FMaster; }

  TStrings& WorkingSpecs() const;
  TStrings& WorkingExclSpecs() const;
  int32_t NextSerial() const;
  class TZMCore* Lister() const;
  uint8_t Verbosity() const;
  // Makes w (owned from now on) the component's running worker.
  void SetRunningWorker(std::unique_ptr<TZMWorkBase> w) const;
  void ShowExceptionError(const std::exception& e) const;
  bool Poll() const;
  // Always records the message.
  bool EmitMessage(int32_t code, const std::string& text) const;
  void ShowMessageText(const std::string& text, int32_t code, bool show) const;
  void ShowMessageIdSuffix(int32_t code, const std::string& suffix) const;
  void ReportFormatted(int number, std::initializer_list<TFmtArg> args) const;
  bool ReportSkipped(const std::string& name, int32_t code, TZMSkipTypes type) const;
  std::string FormatMessageText(int number, std::initializer_list<TFmtArg> args) const;
  int MessageDialog(const std::string& title, std::string& msg, TMsgDlgButtons btns, uint32_t context) const;
  std::string OSErrorText(int number) const;
  void SniffLine(int32_t code, const std::string& text) const;
  void CheckIndex(int index, int count) const;

 private:
  TCustomZipMate* FMaster;
};

// The common base of every worker: reporting, progress, cancelling and temporary files.
class TZMCore : public TZMWorkBase {
 public:
  TZMCore(TCustomZipMate& master, TZMWorkBin* owner = nullptr);
  ~TZMCore() override;

  void RequestCancel(int32_t code) override { FCancelCode = code; }
  // Removes the temporary files: all when good is false, else those marked always.
  void Finished(bool good) override;
  void Prepare() override { FCancelCode = 0; }
  virtual void CancelByUser() { FCancelCode = 2; }

  int32_t CancelCode() const { return FCancelCode; }
  const TStrings& TempFiles() const { return *FTempFiles; }
  bool ProgressMuted() const { return FProgressMuted; }
  void SetProgressMuted(bool v) { FProgressMuted = v; }
  TProgDetails& Details() { return *FDetails; }

  void TraceLine(const std::string& text);
  // Polls, then raises EZipMate for a pending cancel code.
  void ThrowIfCancelled();
  void NotifyProgress(uint8_t action, int number, int64_t size, const std::string& name);
  void ShowMessageById(int32_t code, bool show);
  // The failure to open the archive: a missing archive is recorded without a dialog,
  // any other failure is shown.
  void ReportOpenFailure(int32_t code);
  std::string LoadMessageText(int number) const;
  int AskUser(const std::string& title, const std::string& msg, TMsgDlgButtons btns, uint32_t context);
  void SetWrittenBytes(int64_t v) { FDetails->SetWrittenBytes(v); }
  void RegisterTempFile(const std::string& path, bool removeAlways);
  void RemoveTempFiles(bool removeAll);
  void SetCancelCode(int32_t code);
  void RaiseDirUpdate();
  void RaiseNewName(int seqNo);

  // Settings of the component, read and written without the property setters' checks.
  TZMAddOpts AddOptions() const;
  void SetAddOptions(TZMAddOpts v);
  bool ConfirmErase() const;
  TZMEncodingOpts Encoding() const;
  TZMEncodingOpts WriteEncoding() const;
  void SetWriteEncoding(TZMEncodingOpts v);
  uint32_t NameCodePage() const;
  int32_t ErrCode() const;
  void SetErrCode(int32_t v);
  void SetErrMsg(const std::string& v);
  void SetFullErrCode(int32_t v);
  intptr_t OwnerWindow() const;
  TZMDeleteOpts HowToDelete() const;
  TZMSpanOpts SpanOptions() const;
  void SetSpanOptions(TZMSpanOpts v);
  std::string TempDir() const;
  bool Unattended() const;
  bool UseDirOnlyEntries() const;
  TZMWriteOpts WriteOptions() const;
  void SetWriteOptions(TZMWriteOpts v);
  void SetSuccessCnt(int32_t v);
  void SetSFXCaption(const std::string& v);
  void SetSFXCommandLine(const std::string& v);
  void SetSFXDefaultDir(const std::string& v);
  void SetSFXMessage(const std::string& v);
  void SetSFXRegFailPath(const std::string& v);
  void SetSFXOptions(TZMSFXOpts v);
  void SetSFXOverwriteMode(TZMOvrOpts v);
  void SetSFXIcon(const TIcon* v);
  TMemoryStream& WorkStream();
  void SetWorkStream(std::unique_ptr<TMemoryStream> v);

  // The volume settings and the disk events of the component, for the workers that
  // read and write the parts of a split archive.
  int64_t MaxVolumeSize() const;
  uint32_t MinFreeVolumeSize() const;
  uint32_t KeepFreeOnDisk1() const;
  uint32_t KeepFreeOnAllDisks() const;
  // Whether the application answers for each next disk itself (OnGetNextDisk).
  bool AsksForNextDisk() const;
  // Each raises its event; false, changing nothing, when the application handles none.
  bool RaiseStatusDisk(int disk, const std::string& name, uint8_t statusBits, TZMDiskAction& action);
  bool RaiseGetNextDisk(int disk, int total, const std::string& drive, bool& abort);

 private:
  int32_t FCancelCode = 0;
  std::unique_ptr<TStringList> FTempFiles;
  bool FProgressMuted = false;
  std::unique_ptr<TProgDetails> FDetails;
};
