// A file that nobody sees before it is complete, for every file the component writes
// over one that may exist. The new file grows beside its destination: without a name
// where the system allows it, otherwise under a temporary name that a signal ending the
// program removes. Commit flushes it to the disk and only then puts it in the
// destination's place in one step, so that a failure, a cancel or a signal leaves the
// old file exactly as it was and no temporary. A scratch file (such as the joined copy
// of a split set that the engine reads) is never committed and vanishes with its
// object.
#pragma once
#include <cstdint>
#include <string>

#include "PlatCleanup.h"
#include "PlatFile.h"

class TZMCore;

class TZMNewFile {
 public:
  explicit TZMNewFile(TZMCore& worker);
  ~TZMNewFile();
  TZMNewFile(const TZMNewFile&) = delete;
  TZMNewFile& operator=(const TZMNewFile&) = delete;

  // Starts the file that becomes target at Commit. With replace an existing target is
  // replaced then (moved to the recycle bin unless the worker's HowToDelete is
  // htdFinal); without, Commit fails when the name has been taken meanwhile. Raises
  // EZipMate (message 171, with the folder and the system's reason) when no file can
  // be made there.
  void Begin(const std::string& target, bool replace);
  // Starts a scratch file in folder, opened again through OpenName while this object
  // holds it. Raises as Begin, with message 173.
  void BeginScratch(const std::string& folder);
  // Flushes the file, lets its handle go and puts it in the target's place. Raises
  // EZipMate naming the cause and the path (the flush failed: message 180; the old
  // file could not go to the recycle bin: 261; the name could not be taken: 171); the
  // target is then as it was and the new file gone.
  void Commit();
  // Closes and removes the new file; the target stays as it was.
  void Abandon();

  plat::THandle Handle() const { return FHandle; }
  const std::string& Target() const { return FTarget; }
  // A name through which the file can be opened again while it is held.
  std::string OpenName() const;

 private:
  // Makes the file in folder: unnamed where possible (and, with reopen, where it can
  // be opened again through its handle), else under a new temporary name.
  void Create(const std::string& folder, int msg, bool reopen);
  // Gives the unnamed file a temporary name in the target's folder.
  void NameUnnamed();
  void CloseHandle();
  [[noreturn]] void Fail(int msg, const std::string& what, uint32_t error);

  TZMCore& FWorker;
  std::string FTarget;  // the name taken at Commit; empty for a scratch file
  std::string FTemp;    // the temporary name; empty while the file has none
  plat::THandle FHandle = plat::kInvalidHandle;
  plat::TCleanupPath FCleanup;  // FTemp, for the signal handler
  bool FReplace = false;
  bool FScratch = false;
};

// A name in folder that no file has: prefix, hexadecimal digits and ext.
std::string FreshFileName(const std::string& folder, const std::string& prefix, const std::string& ext);
