// Streams between zmtool and the engine: the archive read from standard input, the
// contents of entries written to standard output (extract -p), and the targets of
// symbolic links read into memory for the listing. Entries reach a stream through the
// engine's stream specifications "n:PATTERN", which send every entry PATTERN matches
// to stream n; the streams are lent through the component's OnStream event.
#pragma once
#include <map>
#include <string>

#include "PlatCleanup.h"
#include "PlatFile.h"
#include "ZipMate191/ZipMate.h"

namespace zmtool {

// The archive on standard input, under a name the component and the engine can open.
class TStdinArchive {
 public:
  TStdinArchive() = default;
  ~TStdinArchive();
  TStdinArchive(const TStdinArchive&) = delete;
  TStdinArchive& operator=(const TStdinArchive&) = delete;
  // Standard input itself when it is a file that can seek; otherwise a copy in a
  // temporary file without a name (where the system has none: one removed at once when
  // it can still be opened then, else at the end and on an interrupt). Empty, with why
  // set, on failure.
  std::string Open(std::string& why);

 private:
  plat::THandle FCopy = plat::kInvalidHandle;
  std::string FNamed;
  plat::TCleanupPath FCleanup;
};

// Standard output as a stream the engine writes entries into.
class TStdoutStream : public TStream {
 public:
  int Read(void*, int) override { return 0; }
  int Write(const void* buffer, int count) override;
  int64_t Seek(int64_t offset, int origin) override;

 private:
  int64_t FWritten = 0;
};

// Sends the contents of the entries the specifications select (all with none), in
// their order, to standard output: the engine runs as for an extraction that writes
// no file.
int32_t ExtractToStdout(TZipMate& zm, const std::vector<std::string>& specs);

// The targets of the symbolic links of the listing, by entry index (links whose data
// could not be read are missing). The listing stays as it is.
std::map<int, std::string> ReadLinkTargets(TZipMate& zm);

}  // namespace zmtool
