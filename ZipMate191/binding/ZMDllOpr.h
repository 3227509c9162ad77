// The engine worker: checks the archive and the base folder, loads the engine, fills
// the command block, runs the engine and turns its result into the component's
// outcome. TDZCallback wraps the callback record the engine hands over, and the two
// callback functions answer the engine's requests while DZ_Exec runs.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "DZEngineIntf.h"
#include "ZMModOpr.h"

struct TZMEngineInfo;

class TZMDLLOpr;

// The current callback record and the buffer through which every text written back
// to the engine passes; the buffer stays valid until the next write-back.
class TDZCallback : public TObject {
 public:
  TDZCallback() = default;
  TDZCallback(const TDZCallback&) = delete;
  TDZCallback& operator=(const TDZCallback&) = delete;

  void SetRecord(TDZCallbackRec* rec) { FRec = rec; }
  TDZCallbackRec* Record() const { return FRec; }
  // Text1 or Text2 as a component string (UTF-8 or ANSI as the mode says).
  std::string Text1() const;
  std::string Text2() const;
  // Writes a text back: Text1 points at the buffer, TextForm tells its encoding.
  void SetText(const std::string& text);
  // Writes bytes back as they are; TextForm is left alone.
  void SetRaw(const std::string& bytes);
  size_t TextBufSize() const { return FTextBufSize; }
  const char* TextBuf() const { return FTextBuf.get(); }

 private:
  std::string ReadText(const void* p) const;
  void Store(const std::string& bytes);
  TDZCallbackRec* FRec = nullptr;
  std::unique_ptr<char[]> FTextBuf;
  size_t FTextBufSize = 0;
};

// The main and the stream callback handed to the engine in the command block.
extern "C" int32_t DZ_CALL DZMainCallback(void* record);
extern "C" int32_t DZ_CALL DZStreamCallback(void* record);

class TZMDLLOpr : public TZMModOpr {
 public:
  explicit TZMDLLOpr(TCustomZipMate& master);
  ~TZMDLLOpr() override;

  // A cancel request of the component reaches a running engine through DZ_Abort.
  void RequestCancel(int32_t code) override;
  void Finished(bool good) override;
  void Prepare() override {}

  // The whole Extract operation; failures of the component's kind are reported here.
  // Extracts from ZipFileName, through its listing; or, with unlisted, from that
  // archive, which is not listed: only its trailer is read here.
  void RunExtract(const std::string* unlisted = nullptr);
  int32_t StreamConvert(TStream* source, TStream* dest, uint32_t& crc, int32_t& method,
                        int64_t size) override;
  // Loads (true) or releases (false) the engine for the component when that differs
  // from its current hold.
  void SetEngineHeld(bool load);

  int32_t LoadEngineDll();
  int32_t ReleaseEngineDll();
  // Runs the command: the engine's result, after CheckEngineResult.
  int32_t ExecEngine(TDZCommand* cmd);
  // Runs the command: the engine's result as it is (-6 when the call itself failed).
  int32_t RunEngine(TDZCommand* cmd);
  // Shows the error that ended an operation, with the failure of a callback (if one
  // failed) appended, and counts nothing done.
  void ShowRunFailure(EZMException& e);
  // Raises the component's error for a negative engine result.
  void CheckEngineResult(int32_t result);

  // The command block: common fields, then those of extracting or adding.
  TDZCommand* BuildCommand(const std::string& arg0);
  TDZCommand* BuildExtractCommand(const std::string& arg0);
  TDZCommand* BuildAddCommand(const std::string& arg0);
  void FreeCommand();
  TDZCommand* Command() const { return FCommand.get(); }

  // Inserts each pipe into the working specifications as "i:name".
  void InsertPipeSpecs();
  // Answers text argument kind for index; the text is written back into the record.
  int32_t TextArgument(int32_t kind, TDZCallbackRec& rec);

  // Callback entry points (called through DZMainCallback / DZStreamCallback).
  int32_t HandleCallback(TDZCallbackRec& rec);
  virtual int32_t HandleStream(TDZStreamRec& rec);

  uint32_t OpKey() const { return FOpKey; }
  const std::string& Arg0() const { return FArg0; }
  void SetArg0(const std::string& v) { FArg0 = v; }
  TZMPipeListImp& Pipes() { return *FPipes; }
  TDZCallback& Callback() { return *FCallback; }
  // The text of every member of the store-suffix set, as the engine reads it.
  std::string StoreSuffixText() const;

 private:
  // Entries of the component's listing, listing the archive again when it holds none.
  int32_t ListedEntryCount();
  // Without a listing: the entries the archive's directory holds (none is kept).
  int32_t ArchiveEntryCount();
  // Whether the archive to extract is split over several parts.
  bool ListedIsMultiPart();
  // The entries the trailer of the archive named announces, and whether it is split;
  // -1 when it cannot be opened (reported as a listing reports it). No message of the
  // directory's reading is given.
  int32_t TrailerEntryCount(const std::string& name, bool& multiPart);
  int32_t DoMessage(TDZCallbackRec& rec);
  int32_t DoPassword(TDZCallbackRec& rec);
  int32_t DoStreamOp(TDZStreamRec& rec);

  std::unique_ptr<TDZCallback> FCallback;
  uint32_t FOpKey = 0;
  std::string FArg0;
  std::unique_ptr<TZMPipeListImp> FPipes;
  std::unique_ptr<TDZCommand> FCommand;
  std::unique_ptr<TDZStreamConvert> FConvert;
};

// Releases the engine a worker loaded for one run as it leaves scope (a failure to
// release is dropped), then runs the worker's own clean-up.
template <class TCleanup>
class TZMEngineRun {
 public:
  TZMEngineRun(TZMDLLOpr& worker, TCleanup cleanup) : FWorker(worker), FCleanup(std::move(cleanup)) {}
  ~TZMEngineRun() {
    try {
      FWorker.ReleaseEngineDll();
    } catch (...) {
    }
    FCleanup();
  }
  TZMEngineRun(const TZMEngineRun&) = delete;
  TZMEngineRun& operator=(const TZMEngineRun&) = delete;

 private:
  TZMDLLOpr& FWorker;
  TCleanup FCleanup;
};

// The component-side entries: Extract, and DLL_Load's load or release.
void ZMRunExtract(TCustomZipMate& comp, const std::string* unlisted = nullptr);
void ZMSetEngineHeld(TCustomZipMate& comp, bool load);
bool ZMEngineHeld(const TCustomZipMate& comp);
// Version, name and banner of the engine the component holds; empty when none.
void ZMEngineInfo(const TCustomZipMate& comp, TZMEngineInfo& info);
// Releases the component's holds when it is destroyed.
void ZMDropEngine(TCustomZipMate& comp);
