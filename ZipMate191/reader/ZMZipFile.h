// The archive reader used by the rest of the component: the directory with its name
// hash table, the complete open sequence (file, trailer, directory) and the detection
// of an archive that changed on disk since it was loaded.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

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
  // Fills the hash table when records came in since it was emptied for them: a
  // directory that is only listed never builds it.
  void EnsureHash();
  void SetUseHash(bool on);

  // ---- writing ----
  // Called first by Commit; a negative result stops it.
  virtual int32_t BeforeCommit() { return 0; }
  // ProcessSize of the record; when positive, Process: bytes written or a code.
  virtual int64_t ProcessEntry(TZMZRec* rec);
  // Writes the whole archive to the open target (spanning marker or stub, every entry,
  // directory and trailer, then the last part's final name). With zipTime the file
  // gets the date of its newest entry. The number of entries written or a code.
  int32_t Commit(bool zipTime);
  // The directory and trailer, then the volumes are finished: bytes or a code.
  int64_t FinishWriting();

  bool UseHash() const { return FUseHash; }
  int32_t OpenResult() const { return FOpenResult; }
  plat::TFileTime LoadedWriteTime() const { return FLastWriteTime; }
  // The hash table, filled first when records wait for it.
  const TZMDirHashList& HashList() {
    EnsureHash();
    return *FHashList;
  }

 private:
  plat::TFileTime FLastWriteTime = 0;
  std::unique_ptr<TZMDirHashList> FHashList;
  int32_t FOpenResult = 0;
  bool FUseHash = true;
  // Records were added to an emptied table without being entered (EnsureHash).
  bool FHashPending = false;
};

// An entry of a written archive that copies the local header and data of an entry of
// another (loaded) archive.
class TZMCopyRec : public TZMZRec {
 public:
  explicit TZMCopyRec(TZMCentral* owner) : TZMZRec(owner) {}

  // Also takes the link of another copy record.
  void AssignFrom(const TZMIRec& source) override;
  // Copies the entry: bytes written (header, data, descriptor) or a negative code.
  int64_t Process() override;
  int64_t ProcessSize() override;

  // The source record (not owned).
  TZMZRec* Link() const { return FLink; }
  void SetLink(TZMZRec* link) { FLink = link; }

 private:
  TZMZRec* FLink = nullptr;
};

// An archive being written from the entries of other archives; names are checked for
// duplicates linearly.
class TZMZipCopy : public TZMZipFile {
 public:
  TZMZipCopy(TCustomZipMate& master, TZMWorkBin* owner = nullptr);

  TZMZRec* NewRecFrom(const TZMZRec& rec) override;
  void ClearEntries() override;
  int Add(TZMZRec* rec) override;
  int Truncate(int n) override;
  using TZMZipFile::Truncate;
  // Looks among the records of the same name hash only (kept apart from the name hash
  // table, which a copy does not use), so that large copies stay fast.
  int CheckDuplicate(TZMZRec* rec) override;
  // Index of the new copy of source, or the code of message 104 for a name already
  // present.
  int32_t AddCopy(TZMZRec* source);
  // Adds copies of all (or the selected) entries of source: the number added, or a
  // negative code when any could not be added.
  int32_t CopyEntries(TZMZipFile& source, bool all);
  // Writes the entries of the loaded source into this (created) file: the entries
  // written or a negative code.
  int64_t WriteFile(TZMZipFile* source, bool all);

 private:
  // Name hash to record index.
  std::unordered_multimap<uint32_t, int> FByHash;
};
