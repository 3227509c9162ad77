#include "DZHost.h"

#include <cstring>
#include <mutex>

#include "ZMUTF8.h"

namespace dz {

namespace {
// The running operations. They may nest (a callback can start another component's
// extraction); DZ_Abort may come from any thread.
std::mutex gLock;
TDZHost* gActive = nullptr;
std::atomic<uint32_t> gNextKey{0x5A17u};
}  // namespace

TDZHost::TDZHost(const TDZCommand& cmd) : FCmd(cmd) {
  uint32_t k;
  do {
    k = gNextKey.fetch_add(0x9E37u) ^ 0xD2000000u;
  } while (k == 0);
  FKey = k;
  std::lock_guard<std::mutex> guard(gLock);
  FPrevActive = gActive;
  gActive = this;
}

TDZHost::~TDZHost() {
  std::lock_guard<std::mutex> guard(gLock);
  for (TDZHost** p = &gActive; *p; p = &(*p)->FPrevActive)
    if (*p == this) {
      *p = FPrevActive;
      break;
    }
}

bool TDZHost::AbortByKey(uint32_t key) {
  std::lock_guard<std::mutex> guard(gLock);
  for (TDZHost* h = gActive; h; h = h->FPrevActive)
    if (h->FKey == key) {
      int expected = 0;
      h->FStop.compare_exchange_strong(expected, -deAborted);
      return true;
    }
  return false;
}

void TDZHost::CheckStop() const {
  const int stop = FStop.load();
  if (stop) throw EDZStop{-stop};
}

void TDZHost::Prepare(int action, const std::string* text1, const std::string* text2) {
  FRec = TDZCallbackRec{};
  FRec.Worker = FCmd.Worker;
  FRec.ZipOp = (FCmd.Options & DZ_OPT_ADD) ? 1 : 0;
  FRec.Request = action;
  FRec.Magic = DZ_CALLBACK_MAGIC;
#ifdef _WIN32
  // Names travel as UTF-16 so that no character is lost to the ANSI code page.
  FRec.TextForm = 1;
  FWide1 = text1 ? WideFromUtf8String(*text1) : std::u16string();
  FWide2 = text2 ? WideFromUtf8String(*text2) : std::u16string();
  FRec.Text1 = text1 ? FWide1.c_str() : nullptr;
  FRec.Text2 = text2 ? FWide2.c_str() : nullptr;
#else
  FRec.TextForm = 0;
  FRec.Text1 = text1 ? text1->c_str() : nullptr;
  FRec.Text2 = text2 ? text2->c_str() : nullptr;
#endif
}

std::string TDZHost::TakeText() const {
  if (!FRec.Text1) return std::string();
  const char* p = static_cast<const char*>(FRec.Text1);
  std::string s(p, strnlen(p, 1 << 20));
  if (FRec.TextForm == 2) return s;
  return Utf8FromAnsi(s);
}

namespace {
int Invoke(const TDZCommand& cmd, TDZCallbackRec& rec, std::atomic<int>& stop) {
  int32_t r = cmd.Callback(&rec);
  int expected = 0;
  if (r < 0) stop.compare_exchange_strong(expected, r == -4 ? -deCallback : -deCancelled);
  return r;
}
}  // namespace

int TDZHost::Message(int32_t code, const std::string& text) {
  if (!FCmd.Callback) return 0;
  Prepare(DZ_CB_MESSAGE, &text, nullptr);
  FRec.Param1 = code;
  return Invoke(FCmd, FRec, FStop);
}

int TDZHost::ErrorMsg(int err, const std::string& detail) {
  return Message(err | DZ_MSG_ERROR | DZ_MSG_PREFIX, detail);
}

int TDZHost::Info(const std::string& text) { return Verbose() ? Message(0, text) : 0; }

int TDZHost::Progress(int action, int64_t size, int64_t done, const std::string& name, int32_t param) {
  if (!FCmd.Callback) return 0;
  Prepare(action, name.empty() ? nullptr : &name, nullptr);
  FRec.ItemSize = size;
  FRec.ItemDone = done;
  FRec.Param1 = param;
  int r = Invoke(FCmd, FRec, FStop);
  // A stop request at the end of an item arrives as answer 1.
  int expected = 0;
  if (action == DZ_CB_ITEM && size == -1 && r == 1) FStop.compare_exchange_strong(expected, -deCancelled);
  return r;
}

int TDZHost::Skipped(const std::string& name, int skipType, int err) {
  if (!FCmd.Callback) return 0;
  Prepare(DZ_CB_SKIPPED, &name, nullptr);
  FRec.Param1 = err;
  FRec.Param2 = skipType + 1;
  int r = Invoke(FCmd, FRec, FStop);
  // Answer 1: the receiver wants this kind of skip to end the run.
  int expected = 0;
  if (r == 1) FStop.compare_exchange_strong(expected, -(err ? err : deCancelled));
  return r;
}

int TDZHost::GetText(int kind, int index, std::string& text, int32_t* count) {
  text.clear();
  if (!FCmd.Callback) return 0;
  Prepare(DZ_CB_ARG, nullptr, nullptr);
  FRec.Param1 = kind;
  FRec.Param3 = index;
  int r = Invoke(FCmd, FRec, FStop);
  if (count) *count = FRec.Param3;
  if (r > 0) text = TakeText();
  return r;
}

int TDZHost::PasswordForWriting(std::string& password) {
  GetText(DZ_ARG_PASSWORD, 0, password);
  CheckStop();
  if (password.empty()) {
    int32_t tries = 1;
    const int r = AskPassword(std::string(), tries, password);
    CheckStop();
    if (r != 1 || password.empty()) {
      ErrorMsg(dePasswordCancelled, "");
      return -dePasswordCancelled;
    }
  }
  return 0;
}

int TDZHost::AskPassword(const std::string& name, int32_t& triesLeft, std::string& password) {
  password.clear();
  if (!FCmd.Callback) return 0;
  Prepare(DZ_CB_PASSWORD, &name, nullptr);
  FRec.Param1 = triesLeft;
  int r = Invoke(FCmd, FRec, FStop);
  triesLeft = FRec.Param1;
  if (r == 1) password = TakeText();
  return r;
}

int TDZHost::CrcError(const std::string& name, uint32_t found, uint32_t expected) {
  if (!FCmd.Callback) return 0;
  Prepare(DZ_CB_CRC_ERROR, &name, nullptr);
  FRec.Param1 = int32_t(found);
  FRec.Param2 = int32_t(expected);
  return Invoke(FCmd, FRec, FStop);
}

int TDZHost::Overwrite(const std::string& name, bool defaultYes, int32_t index, bool existingOlder) {
  if (!FCmd.Callback) return 0;
  Prepare(DZ_CB_OVERWRITE, &name, nullptr);
  FRec.Param1 = defaultYes ? 1 : 0;
  FRec.Param2 = index;
  FRec.Param3 = existingOlder ? 1 : 2;
  return Invoke(FCmd, FRec, FStop);
}

int TDZHost::ExtractName(std::string& name, const std::string& base) {
  if (!FCmd.Callback) return 0;
  Prepare(DZ_CB_EXT_NAME, &name, &base);
  const int r = Invoke(FCmd, FRec, FStop);
  if (r == 1) name = TakeText();
  return r;
}

int TDZHost::SendKey() {
  if (!FCmd.Callback) return 0;
  Prepare(DZ_CB_OP_KEY, nullptr, nullptr);
  FRec.Param1 = int32_t(FKey);
  return Invoke(FCmd, FRec, FStop);
}

bool TDZHost::StreamCall(TDZStreamRec& rec) {
  if (!FCmd.StreamCallback) return false;
  rec.Worker = FCmd.Worker;
  rec.Magic = DZ_STREAM_MAGIC;
  return FCmd.StreamCallback(&rec) > 0;
}

}  // namespace dz
