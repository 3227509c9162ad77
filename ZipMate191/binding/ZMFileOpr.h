// The base of the workers that operate on archive files: it becomes the component's
// running worker when started, keeps the description of a failure inside an event
// handler, and offers the stream conversion that needs the engine (not available at
// this level).
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "ZMCore.h"

class TZMNewFile;
class TZMZipFile;

class TZMFileOpr : public TZMCore {
 public:
  explicit TZMFileOpr(TCustomZipMate& master);
  ~TZMFileOpr() override;

  // Creates a worker of type T and makes it the component's running worker (a
  // previous one is freed); the component owns it from then on.
  template <typename T>
  static T* Start(TCustomZipMate& master) {
    auto w = std::make_unique<T>(master);
    T* p = w.get();
    p->SetRunningWorker(std::move(w));
    return p;
  }

  // Compresses source into dest: 0 or a negative error code. Without the engine only
  // reports that deflating is not available.
  virtual int32_t StreamConvert(TStream* source, TStream* dest, uint32_t& crc, int32_t& method, int64_t size);

  // Copies the archive source (possibly split over several parts) into one file. dest
  // names the file (its extension becomes .zip; an existing file of that name is
  // replaced once the new one is complete, and refused when it is the source or one of
  // its parts), or a folder (a new name is made there; an empty dest means the
  // temporary folder), and receives the name written. 0, or a negative code that has
  // been reported; on failure an existing file is as it was, nothing is left behind
  // and dest is emptied. withConversion marks the copy as made for the engine.
  int32_t JoinToSingleFile(const std::string& source, std::string& dest, bool withConversion);
  // Joins source for the engine into a scratch file that file holds (read through its
  // OpenName; gone with file). 0 or a reported negative code.
  int32_t JoinToScratch(const std::string& source, TZMNewFile& file);

  const std::string& EventErr() const { return FEventErr; }

 protected:
  // Description of the first exception raised inside an event handler during the
  // engine's run; appended to the error that ends the run.
  std::string FEventErr;
  // The listing worker of the component when the worker started (not owned).
  TZMCore* FLister = nullptr;

 private:
  int32_t Join(const std::string& source, std::string& dest, TZMNewFile& file, bool withConversion,
               bool scratch);
  // Raises message 116 when target is the same file as one of the source's parts or as
  // the name it was opened by.
  void RefuseSourcePart(const TZMZipFile& source, const std::string& opened, const std::string& target);
  // TempDir, else the system's temporary folder, with a trailing delimiter.
  std::string TempFolder() const;
};
