// Test kit for the engine: loads the library, answers its callbacks, builds archives
// byte by byte, runs peer tools and compares folder trees. The same kit serves the
// POSIX and the Windows builds of the suites.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "DZEngineIntf.h"
#include "TestPeers.h"
#include "TestZip.h"

namespace dzt {

namespace fs = std::filesystem;

// The engine library, loaded once per test program through the platform's loader.
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

// A text of the callback record as UTF-8: form 0 is 8-bit (as the engine sends on
// POSIX), any other form UTF-16 (as it sends on Windows).
std::string TextOf(const void* p, int32_t form);

// Byte-by-byte archive builder for crafted and malformed archives.
using testzip::BuildZip;
using testzip::Crc32;
using testzip::RawDeflate;
using testzip::TEntrySpec;
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
// The stored (compressed) data of the archive's entry in central-directory order,
// found through its local header; empty when there is no such entry.
std::string PackedData(const std::string& zip, size_t index = 0);

// Data compressed by the libraries behind the engine's methods, as the entries of those
// methods store them: bzip2 (12), LZMA with its 4-byte head and properties (14; with
// an end marker when eos, which general-purpose bit 1 then announces), XZ (95),
// Zstandard (93).
std::string PackBzip2(const std::string& data);
std::string PackLzma(const std::string& data, bool eos);
std::string PackXz(const std::string& data);
std::string PackZstd(const std::string& data);

// Files and folders. Names in the suites are UTF-8 on every platform.
fs::path PathOf(const std::string& utf8);
std::string Utf8Of(const fs::path& p);
fs::path FreshDir(const std::string& name);
// An entry name with '/' replaced by the platform's separator, as the engine reports
// decoded names.
std::string NativeName(std::string name);  // empty folder under the test's temp root
void WriteFile(const fs::path& p, const std::string& data);
std::string ReadFile(const fs::path& p);
// Relative path -> contents ("/" for folders) of every file and folder below root.
std::map<std::string, std::string> Tree(const fs::path& root);
// Shell commands and peer tools (POSIX programs run through sh: never on Windows).
using zmtest::HaveTool;
using zmtest::Shell;
// What a filter command (such as "xz -c") makes of data; empty when it fails.
std::string Filter(const std::string& cmd, const std::string& data);
// A folder of mixed text and binary files for the peer-tool tests.
void MakeSampleTree(const fs::path& root);

}  // namespace dzt
