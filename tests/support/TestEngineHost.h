// The host side of one engine run for the suites, the fuzz targets and the benchmarks:
// it fills the command block, answers the engine's callbacks (texts, lists, questions
// and application streams held in memory) and records what the engine reported.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "DZEngineIntf.h"

namespace zmtest {

// The engine library loaded at run time through the platform's loader.
struct TEngineLib : TDZEntryPoints {
  void* Handle = nullptr;
  std::string Error;  // what could not be loaded or bound
  bool Load(const char* path);
};

struct TMsg {
  int32_t Code;
  std::string Text;
};
struct TSkip {
  std::string Name = {};
  int Type;  // skip ordinal
  int Error;
};

// An application stream lent to the engine.
struct TMemStream {
  std::string Data = {};
  int64_t Pos = 0;
  bool Closed = false;
  bool Discard = false;  // writes only move the position: an output whose bytes do not matter
};

// Answers the callbacks of DZ_Exec and records what the engine reported (the records
// add up over several runs).
class TEngineHost {
 public:
  std::string Archive, Password, Root, Base, Temp;
  std::vector<std::string> Specs, Excludes;
  uint32_t Options = DZ_OPT_ALWAYS | DZ_OPT_EXTRACT;
  int32_t PwdReqCount = 1;
  int32_t Level = 6;
  void* OpData = nullptr;
  bool WithStreams = true;

  // Handlers; a missing one answers 0 as a component without the event does.
  std::function<int(const std::string& name, int32_t& tries, std::string& pwd)> OnPassword;
  std::function<int(const std::string& name, uint32_t found, uint32_t expected)> OnCrc;
  std::function<int(const std::string& name, int32_t dflt, int32_t index, int32_t older)> OnOverwrite;
  std::function<int(int action, int64_t size)> OnProgress;
  std::function<int(const TSkip&)> OnSkipped;
  std::function<int(std::string& name, const std::string& base)> OnExtName;

  // Recorded.
  std::vector<TMsg> Messages;
  std::vector<TSkip> Skips;
  std::vector<std::string> Items;  // names of action 1
  std::vector<int> Actions;        // every action in order
  int64_t TotalItems = -1, TotalBytes = -1, StepBytes = 0;
  uint32_t Key = 0;
  int PasswordAsks = 0;
  std::map<int, TMemStream> Streams;  // by stream number

  // One run through the given entry point; its result.
  int Exec(TDZExecFunc exec);
  bool HasSkip(int type) const;
  // The skip type reported for each skipped name.
  std::map<std::string, int> SkipTypes() const;
  // "number:text" a line for each message.
  std::string AllMessages() const;

 private:
  static int32_t DZ_CALL Callback(void* rec);
  static int32_t DZ_CALL StreamCallback(void* rec);
  int32_t Handle(TDZCallbackRec& rec);
  int32_t HandleArg(TDZCallbackRec& rec);
  int32_t HandleStream(TDZStreamRec& rec);
  void GiveText(TDZCallbackRec& rec, const std::string& s);
  std::string FTextBuf;
};

// A text of the callback record as UTF-8: form 0 is 8-bit (as the engine sends on
// POSIX), any other form UTF-16 (as it sends on Windows).
std::string TextOf(const void* p, int32_t form);

}  // namespace zmtest
