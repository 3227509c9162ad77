// The writing worker: Add (with Freshen, Update and Move) and Delete. Each writes a
// whole new archive beside ZipFileName, copying the entries it keeps without
// recompressing them and having the engine compress the files it adds (several at a
// time, written in order), and puts it in the old one's place only once it is
// complete: a failure or cancel leaves the old archive as it was and no temporary.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DZEngineIntf.h"
#include "ZMDllOpr.h"

class TZMNewFile;
class TZMZipCopy;
class TZMZipFile;
class TZMZRec;

// One file or folder to add, as found on the disk.
struct TZMAddItem {
  std::string Path;  // on the disk (the component's text form)
  std::string Name;  // in the archive ('\' separators; a folder ends with one)
  bool Folder = false;
  uint64_t Size = 0;
  uint32_t DosTime = 0;
  int64_t UnixTime = 0;
  uint32_t Mode = 0;   // Unix type and permission bits, 0 where the system has none
  uint32_t Attrs = 0;  // the system's file attributes
};

class TZMAddOpr : public TZMDLLOpr {
 public:
  explicit TZMAddOpr(TCustomZipMate& master);
  ~TZMAddOpr() override;

  // The whole Add operation (AddOptions decide freshen, update and move); failures are
  // reported here. SuccessCnt is the number of files and folders written.
  void RunAdd();
  // Removes the entries FSpecArgs selects (less FSpecArgsExcl); SuccessCnt is the
  // number removed.
  void RunDelete();

  // The files and folders FSpecArgs names below RootDir, as AddOptions select them.
  std::vector<TZMAddItem> CollectFiles();
  // Whether name (stored form) ends with a suffix stored without compression.
  bool StoredSuffix(const std::string& name) const;

  int32_t HandleStream(TDZStreamRec& rec) override;

 private:
  class TSink;
  struct TPending;
  // Runs work with the checks every operation starts with; failures are reported.
  void Guarded(const std::function<void()>& work);
  void Add();
  void Delete();
  void Walk(const std::string& folder, const std::string& prefix, const std::string& pattern, bool recurse,
            std::vector<TZMAddItem>& out);
  bool Excluded(const std::string& name) const;
  // Opens ZipFileName when it exists; null when it does not.
  std::unique_ptr<TZMZipFile> OpenOld();
  // Starts the target beside ZipFileName (split into parts when asked for).
  void BeginTarget(TZMNewFile& file, TZMZipCopy& out);
  // Copies the selected entries of old into out.
  void CopyKept(TZMZipFile& old, TZMZipCopy& out);
  // Compresses and writes the items through the engine.
  void PackItems(std::vector<TZMAddItem>& items, TZMZipCopy& out);
  // Directory, trailer and the new archive in the old one's place.
  void Finish(TZMNewFile& file, TZMZipCopy& out);
  int32_t OpenItem(TDZStreamRec& rec, size_t index);
  int32_t CloseItem(TDZStreamRec& rec, size_t index);

  TZMZipCopy* FOut = nullptr;
  std::vector<TPending> FPending;
  std::vector<TDZPackItem> FPackItems;
  std::unique_ptr<TSink> FSink;
  int FWritten = 0;  // files and folders written
};

// The component-side entries of Add and Delete.
void ZMRunAdd(TCustomZipMate& comp);
void ZMRunDelete(TCustomZipMate& comp);
