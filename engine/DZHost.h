// The engine's side of the callbacks: one object per DZ_Exec that fills the callback
// and stream records, keeps the operation key and notices cancellation.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "DZEngineIntf.h"
#include "DZErrors.h"

namespace dz {

class TDZHost {
 public:
  explicit TDZHost(const TDZCommand& cmd);
  ~TDZHost();
  TDZHost(const TDZHost&) = delete;
  TDZHost& operator=(const TDZHost&) = delete;

  const TDZCommand& Cmd() const { return FCmd; }
  uint32_t Key() const { return FKey; }
  bool Verbose() const { return FCmd.MsgLevel != 0; }
  bool Trace() const { return FCmd.MsgLevel < 0; }

  // Set by DZ_Abort (from inside a callback) or by a negative callback answer.
  bool Stopped() const { return FStop.load() != 0; }
  // The result DZ_Exec returns after a stop (-1 cancelled, -2 aborted, -3 callback).
  int StopResult() const { return FStop.load(); }
  // Throws EDZStop when the operation has to end.
  void CheckStop() const;

  // Asks the running operation with this key to stop (DZ_Abort); false when none runs.
  static bool AbortByKey(uint32_t key);

  // Plain callbacks; each returns the answer (negative answers also stop the run).
  int Message(int32_t code, const std::string& text);
  // An error message whose receiver puts its text for err in front of detail.
  int ErrorMsg(int err, const std::string& detail);
  int Info(const std::string& text);  // only when verbose
  int Progress(int action, int64_t size, int64_t done, const std::string& name, int32_t param = 0);
  int Skipped(const std::string& name, int skipType, int err);
  // Text argument of the given kind and index. Returns the answer; text receives the
  // text as UTF-8; count receives Param3 as written back.
  int GetText(int kind, int index, std::string& text, int32_t* count = nullptr);
  // Password question: answer 1 gives a new password; triesLeft is updated.
  int AskPassword(const std::string& name, int32_t& triesLeft, std::string& password);
  // The password new entries are encrypted with: the command's, else asked for once.
  // 0, or -dePasswordCancelled (reported) when none is given.
  int PasswordForWriting(std::string& password);
  int CrcError(const std::string& name, uint32_t found, uint32_t expected);
  int Overwrite(const std::string& name, bool defaultYes, int32_t index, bool existingOlder);
  // Offers the name an entry gets below the base folder; answer 1 replaces it.
  int ExtractName(std::string& name, const std::string& base);

  // Hands over the key for DZ_Abort.
  int SendKey();

  // Stream callback; false when there is none or it answered 0 or less.
  bool StreamCall(TDZStreamRec& rec);
  bool HasStreams() const { return FCmd.StreamCallback != nullptr; }
  void* Worker() const { return FCmd.Worker; }

 private:
  void Prepare(int action, const std::string* text1, const std::string* text2);
  std::string TakeText() const;

  TDZCommand FCmd;
  TDZCallbackRec FRec{};
  std::u16string FWide1, FWide2;  // texts sent as UTF-16
  uint32_t FKey = 0;
  std::atomic<int> FStop{0};
  TDZHost* FPrevActive = nullptr;
};

}  // namespace dz
