// Test kit for the engine: loads the library, answers its callbacks, builds archives
// byte by byte, runs peer tools and compares folder trees.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "DZEngineIntf.h"

namespace dzt {

namespace fs = std::filesystem;

// The engine library, loaded once per test program.
struct TEngine {
  void* Handle = nullptr;
  TDZExecFunc Exec = nullptr;
  TDZAbortFunc Abort = nullptr;
  TDZVersionFunc Version = nullptr;
  TDZVersionFunc PrivVersion = nullptr;
  TDZNameFunc Name = nullptr;
  TDZBannerFunc Banner = nullptr;
  TDZPathFunc Path = nullptr;
  std::string Error;
  bool Load(const char* path);
  static TEngine& Main();
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
};

// Answers the callbacks of one DZ_Exec and records what the engine reported.
class THarness {
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

  int Exec(TEngine& engine = TEngine::Main());
  bool HasSkip(int type) const;
  std::string AllMessages() const;

 private:
  static int32_t DZ_CALL Callback(void* rec);
  static int32_t DZ_CALL StreamCallback(void* rec);
  int32_t Handle(TDZCallbackRec& rec);
  int32_t HandleStream(TDZStreamRec& rec);
  std::string FTextBuf;
};

// Reads a text of the callback record (8-bit, as the engine sends on this platform).
std::string TextOf(const void* p);

// Byte-by-byte archive builder for crafted and malformed archives.
struct TEntrySpec {
  std::string Name = {};
  std::string Data = {};
  uint16_t Method = 8;          // 0 stored, 8 deflate (compressed here), other: Data as is
  uint16_t Flags = 0;
  uint32_t DosTime = 0x5A2B6000;  // 2025-01-11 12:00:00
  std::string Extra = {};
  uint16_t MadeBy = 0x031E;      // Unix, 3.0
  // Overrides for lying archives.
  int64_t CrcOverride = -1, CompOverride = -1, UncompOverride = -1, OffsetOverride = -1;
  std::string Password = {};     // traditional encryption when not empty
};
// Builds a whole archive; offsets[i] receives the local header offset of entry i.
std::string BuildZip(const std::vector<TEntrySpec>& entries,
                     std::vector<uint64_t>* offsets = nullptr);
// Methods, flag bits and extra-field tags seen in the central headers of an archive
// (a plain scan for their signature, enough for archives made by tools).
struct TCentralSummary {
  std::vector<uint16_t> Methods;
  uint16_t FlagsOr = 0;
  std::vector<uint16_t> ExtraTags;
  bool Has(const std::vector<uint16_t>& v, uint16_t x) const {
    for (uint16_t y : v)
      if (y == x) return true;
    return false;
  }
};
TCentralSummary SummarizeCentral(const std::string& zip);
std::string RawDeflate(const std::string& data, int level = 6);
uint32_t Crc32(const std::string& data);

// Files and folders.
fs::path FreshDir(const std::string& name);   // empty folder under the test's temp root
void WriteFile(const fs::path& p, const std::string& data);
std::string ReadFile(const fs::path& p);
// Relative path -> contents ("/" for folders) of every file and folder below root.
std::map<std::string, std::string> Tree(const fs::path& root);
// Runs a shell command; its exit code.
int Shell(const std::string& cmd);
bool HaveTool(const std::string& tool);
// A folder of mixed text and binary files for the peer-tool tests.
void MakeSampleTree(const fs::path& root);

}  // namespace dzt
