// Test kit for the engine: loads the library, answers its callbacks (through the shared
// host double), builds archives byte by byte, runs peer tools and compares folder
// trees. The same kit serves the POSIX and the Windows builds of the suites.
#pragma once
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "DZEngineIntf.h"
#include "TestEngineHost.h"
#include "TestPeers.h"
#include "TestZip.h"

namespace dzt {

namespace fs = std::filesystem;

// The engine library, loaded once per test program through the platform's loader.
struct TEngine : zmtest::TEngineLib {
  static TEngine& Main();
};

using zmtest::TextOf;
using zmtest::TMemStream;
using zmtest::TMsg;
using zmtest::TSkip;

// The host double of the suites, running the engine of this build unless told otherwise.
class THarness : public zmtest::TEngineHost {
 public:
  int Exec(TEngine& engine = TEngine::Main()) { return TEngineHost::Exec(engine.Exec); }
  // Sets the run up to extract archive into base, a folder made here.
  void SetUpExtract(const std::string& archive, const std::filesystem::path& base) {
    Archive = archive;
    Base = base.string();
    std::filesystem::create_directories(base);
  }
};

// A progress handler that aborts the harness's run through its key at the step-th
// step of the item-th item (both counted from 1).
struct TAbortAt {
  THarness& H;
  int Item, Step;
  int Items = 0, Steps = 0;
  int operator()(int action, int64_t size) {
    if (action == DZ_CB_ITEM && size >= 0) ++Items;
    if (action == DZ_CB_STEP && Items == Item && ++Steps == Step) TEngine::Main().Abort(H.Key);
    return 0;
  }
};

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
