// The archive reader used by the rest of the component: the directory with its name
// hash table, the complete open sequence (file, trailer, directory) and the detection
// of an archive that changed on disk since it was loaded.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "PlatTime.h"
#include "ZMCentral.h"
#include "ZMHash.h"

class TZMZipFile : public TZMCentral {
 public:
  TZMZipFile(TCustomZipMate& master, TZMWorkBin* owner = nullptr);
  ~TZMZipFile() override;

  using TZMWorkFile::Truncate;

  // Also copies the load time, open result, hash setting and stub.
  void AssignFrom(const TZMWorkFile& other) override;
  // Refuses with message 196 when the loaded archive changed on disk meanwhile.
  int32_t File_Reopen(uint32_t mode) override;
  void ClearEntries() override;
  void SetCapacity(int n) override;
  int Add(TZMZRec* rec) override;
  void ClearCachedNames() override;
  TZMZRec* FindName(const std::string& pattern, int& index, bool hasWildcards) override;
  int CheckDuplicate(TZMZRec* rec) override;
  int Truncate(int n) override;
  // The table no longer fits the names: lookups run linearly until it is rebuilt.
  void EntryRenamed(TZMZRec* rec) override;

  // Opens the archive, finds its trailer and (unless eocOnly or noLoad) loads its
  // directory: non-negative on success or a negative error code. Unreadable records
  // raise.
  int32_t OpenZip(bool eocOnly, bool noLoad);
  // 0 when the archive's last-write time is the one of the load, message 162 when it
  // differs, the code of message 164 when it cannot be examined.
  int32_t CheckUnchanged();
  // Refills the hash table; the number of records that met a duplicate.
  int32_t RebuildHash(int32_t mask, bool addAll);
  void SetUseHash(bool on);

  bool UseHash() const { return FUseHash; }
  int32_t OpenResult() const { return FOpenResult; }
  plat::TFileTime LoadedWriteTime() const { return FLastWriteTime; }
  const TZMDirHashList& HashList() const { return *FHashList; }

 private:
  plat::TFileTime FLastWriteTime = 0;
  std::unique_ptr<TZMDirHashList> FHashList;
  int32_t FOpenResult = 0;
  bool FUseHash = true;
};
