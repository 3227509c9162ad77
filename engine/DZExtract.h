// The extract command: selects entries, decodes, decrypts and checks them, and writes
// them below the base folder (or to application streams), or only tests them.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "DZAes.h"
#include "DZAesKeysAhead.h"
#include "DZArchive.h"
#include "DZCrypt.h"
#include "DZDecode.h"
#include "DZHost.h"
#include "PlatTime.h"

namespace dz {

// Splits a stored name into path components. False for names that are absolute,
// carry a drive letter, climb with "..", hold control characters or are empty.
bool SplitSafeName(std::string_view name, std::vector<std::string>& parts);
// Where an entry split into parts (not empty) is written below base (absolute, with a
// trailing separator): in its folders when dirs, else straight in base.
std::string TargetPath(const std::string& base, const std::vector<std::string>& parts, bool dirs);

class TDZExtractor {
 public:
  explicit TDZExtractor(TDZHost& host) : FHost(host) {}
  // Runs the command: the number of entries extracted or tested, or a negative
  // engine error.
  int Run();

 private:
  // A pattern sends every entry it matches (that no earlier pipe took) to the stream,
  // one after the other; an empty one takes the first entry no other pipe took.
  struct TPipeSpec {
    int Stream;
    std::string Pattern;
    bool Taken = false;
  };
  // Where one entry's data go.
  struct TOutput;

  int Prepare();
  void ReadSpecs(int kind, std::vector<std::string>& out);
  void Select(std::vector<size_t>& chosen);
  // Extracts or tests one entry, in steps that each report their own failure and answer
  // whether to go on; false when the entry was not done (folders included).
  bool ProcessEntry(size_t index, size_t ordinal, int pipe);
  // The entry's name split into safe parts, and whether its data can be decoded at all;
  // folders are made here (and answer false).
  bool CheckEntry(const TDZEntry& en, std::vector<std::string>& parts, int pipe);
  // The target of an entry extracted to a file: its name (the caller may rename it),
  // what stands there now (replaced, skipped, or asked about), its folders, and the
  // temporary file (or the other thread's unnamed one) that takes the data.
  bool PrepareFile(const TDZEntry& en, size_t index, size_t ordinal, std::vector<std::string>& parts,
                   bool haveEntryTime, plat::TFileTime entryTime, TOutput& out);
  // The caller's stream that takes an entry sent to a pipe.
  bool OpenStream(const TDZEntry& en, int pipe, TOutput& out);
  // Whether the data's CRC lets the entry be kept (the caller may accept a mismatch when
  // extracting).
  bool AcceptCrc(const TDZEntry& en, uint32_t crc);
  // The decoded file renamed into place with the entry's time.
  bool PlaceFile(const TDZEntry& en, size_t index, bool haveEntryTime, plat::TFileTime entryTime,
                 TOutput& out);
  bool MakeFolders(const std::string& base, const std::vector<std::string>& parts, size_t n,
                   std::string& path, const std::string& display);
  // Sets up the decryption of an encrypted entry (traditional or AES) in crypt or aes
  // and points cipher at it; false after a reported failure.
  bool OpenCipher(const TDZEntry& en, size_t ordinal, TDZCrypt& crypt, std::unique_ptr<TDZAesCipher>& aes,
                  TDZCipher*& cipher);
  // Starts deriving the keys of the next AES entries after ordinal, with the password
  // that opened the entry there, on a thread of their own.
  void StartKeysAhead(size_t ordinal, const std::string& password);
  // Finds the password that opens the entry (tryPwd tells): the command's, one that
  // opened an earlier entry, or one the caller gives; false after a reported failure.
  bool ObtainPassword(const TDZEntry& en, const std::function<bool(const std::string&)>& tryPwd);
  // Decodes the entry into the output; false after a reported failure.
  bool Decode(const TDZEntry& en, size_t ordinal, TDZCipher* cipher, TOutput& out, uint32_t& crc);
  // Temporary names in folder for the entry at index: take makes the file or link and
  // answers 0 (done), 1 (the name is taken: try another) or 2 (failed).
  bool TryTempNames(const std::string& folder, size_t index,
                    const std::function<int(const std::string&)>& take);
  // A new temporary file beside the target, in out.
  bool CreateTemp(const std::string& folder, size_t index, TOutput& out);
  // Names the file the other thread wrote: the target directly when it is free,
  // otherwise through a temporary name renamed over the file replaced.
  bool PlaceUnnamed(const std::string& folder, size_t index, bool replace, TOutput& out, bool haveTime,
                    plat::TFileTime time);
  // Whether files without a name can be made in the base folder.
  bool UnnamedFilesWork();
  // UTC time of the entry (the MS-DOS stamp converted once per distinct stamp).
  bool EntryTime(const TDZEntry& en, bool useExtra, plat::TFileTime& t);
  void Fail(const TDZEntry& en, int skip, int err, const std::string& detail);

  TDZHost& FHost;
  std::unique_ptr<TDZSource> FSource;
  TDZArchive FArchive;
  std::string FArchiveName;
  std::string FPassword;
  std::vector<std::string> FGoodPasswords;
  bool FNoMorePasswords = false;
  std::string FBase;  // absolute, with a trailing separator; empty when testing
  std::vector<std::string> FSpecs, FExcludes;
  std::vector<TPipeSpec> FPipes;
  std::vector<int> FStreamOf;  // per entry: the stream it goes to, or -1 (empty: no pipes)
  int StreamOf(size_t i) const { return FStreamOf.empty() ? -1 : FStreamOf[i]; }
  bool FTest = false;
  uint64_t FTotalDone = 0;
  TDZDecoder FDecoder;
  // Decodes entries on a second thread while this one writes files and calls back.
  std::unique_ptr<TDZDecodeAhead> FAhead;
  std::vector<size_t> FChosen;  // the entries to do, in order
  std::unique_ptr<TDZAesKeysAhead> FKeysAhead;
  size_t FKeysAheadEnd = 0;  // the entries before it had their keys derived ahead, or a chance to
  uint32_t FDosStamp = 0;
  bool FDosValid = false, FDosOk = false;
  plat::TFileTime FDosTime = 0;
  std::unordered_set<std::string> FKnownFolders;
};

}  // namespace dz
