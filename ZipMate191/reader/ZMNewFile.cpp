#include "ZMNewFile.h"

#include <atomic>
#include <chrono>
#include <random>

#include "PlatError.h"
#include "PlatFileSys.h"
#include "PlatPath.h"
#include "ZMCore.h"
#include "ZMMsg.h"
#include "ZMUTF8.h"
#include "ZMWFuncs.h"
#include "ZMXcpt.h"

namespace {

bool IsDelim(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/' || c == ':';
#else
  return c == '/';
#endif
}

// The folder part of a name with its delimiter; empty for a bare name.
std::string FolderOf(const std::string& name) {
  for (size_t i = name.size(); i > 0; --i)
    if (IsDelim(name[i - 1])) return name.substr(0, i);
  return std::string();
}

std::string WithDelimiter(const std::string& folder) {
  return folder.empty() || IsDelim(folder.back()) ? folder : folder + plat::PathDelimStr;
}

// The platform's narrow name of a component name (for the calls without a wide form).
std::string Native(const std::string& name) {
  return UTF8Mode() ? plat::NativeName(WideFromUtf8String(name)) : name;
}

plat::THandle CreateNew(const std::string& name) {
  return UTF8Mode() ? plat::FileCreateNewW(WideFromUtf8String(name)) : plat::FileCreateNew(name);
}

bool NameTaken(uint32_t error) { return error == plat::kErrFileExists || error == plat::kErrAlreadyExists; }

// Eight hexadecimal digits, different at every call.
std::string NextHex() {
  static std::atomic<uint32_t> next{[] {
    std::random_device device;
    return uint32_t(device()) ^ uint32_t(std::chrono::steady_clock::now().time_since_epoch().count());
  }()};
  uint32_t v = next.fetch_add(0x9E3779B9u);
  static const char kHex[] = "0123456789ABCDEF";
  std::string s(8, '0');
  for (int i = 7; i >= 0; --i, v >>= 4) s[size_t(i)] = kHex[v & 15];
  return s;
}

std::string TempName(const std::string& folder) { return WithDelimiter(folder) + ".zm" + NextHex() + ".tmp"; }

constexpr int kNameTries = 100;

}  // namespace

std::string FreshFileName(const std::string& folder, const std::string& prefix, const std::string& ext) {
  for (int i = 0; i < kNameTries; ++i) {
    const std::string name = WithDelimiter(folder) + prefix + NextHex() + ext;
    if (!FileIsPresent(name) && !FolderExists(name)) return name;
  }
  return std::string();
}

TZMNewFile::TZMNewFile(TZMCore& worker) : FWorker(worker) {}

TZMNewFile::~TZMNewFile() { Abandon(); }

void TZMNewFile::Begin(const std::string& target, bool replace) {
  Abandon();
  FTarget = target;
  FReplace = replace;
  FScratch = false;
  // A folder of that name would only refuse the new file once it is written.
  if (FolderExists(FTarget)) Fail(zmsCreationOfOutputFileFailed, FTarget, plat::kErrAccessDenied);
  Create(FolderOf(FTarget), zmsCreationOfOutputFileFailed, false);
}

void TZMNewFile::BeginScratch(const std::string& folder) {
  Abandon();
  FTarget.clear();
  FReplace = false;
  FScratch = true;
  Create(folder, zmsTemporaryFileCouldNotBeCreated, true);
}

void TZMNewFile::Create(const std::string& folder, int msg, bool reopen) {
  FHandle = plat::FileCreateUnnamed(Native(folder.empty() ? std::string(".") : folder));
  if (FHandle != plat::kInvalidHandle) {
    if (!reopen || !plat::FileHandleName(FHandle).empty()) return;
    CloseHandle();
  }
  // Where unnamed files fail for any reason, a named one may still be made.
  uint32_t error = plat::kErrFileExists;
  for (int i = 0; i < kNameTries && NameTaken(error); ++i) {
    const std::string name = TempName(folder);
    FHandle = CreateNew(name);
    if (FHandle != plat::kInvalidHandle) {
      FTemp = name;
      FCleanup.Reset(Native(name));
      return;
    }
    error = plat::GetLastError();
  }
  Fail(msg, folder.empty() ? std::string(".") : folder, error);
}

void TZMNewFile::NameUnnamed() {
  uint32_t error = plat::kErrFileExists;
  for (int i = 0; i < kNameTries && NameTaken(error); ++i) {
    const std::string name = TempName(FolderOf(FTarget));
    if (plat::FileLinkUnnamed(FHandle, Native(name))) {
      FTemp = name;
      FCleanup.Reset(Native(name));
      return;
    }
    error = plat::GetLastError();
  }
  Fail(zmsCreationOfOutputFileFailed, FolderOf(FTarget), error);
}

std::string TZMNewFile::OpenName() const {
  if (!FTemp.empty()) return FTemp;
  return FHandle == plat::kInvalidHandle ? std::string() : plat::FileHandleName(FHandle);
}

void TZMNewFile::Commit() {
  if (FScratch || FHandle == plat::kInvalidHandle || FTarget.empty())
    Fail(zmsInternalError, "no new file to commit", plat::kErrInvalidHandle);
  if (!plat::FileFlush(FHandle)) Fail(zmsErrorWritingFile, FTarget, plat::GetLastError());
  if (FTemp.empty()) {
    if (!FReplace) {
      // A new name is taken by the file itself, never over another one.
      if (!plat::FileLinkUnnamed(FHandle, Native(FTarget)))
        Fail(zmsCreationOfOutputFileFailed, FTarget, plat::GetLastError());
      CloseHandle();
      return;
    }
    NameUnnamed();
  }
  const plat::THandle h = FHandle;
  FHandle = plat::kInvalidHandle;
  if (!plat::FileClose(h)) Fail(zmsErrorWritingFile, FTarget, plat::GetLastError());
  const bool toTrash = FReplace && FWorker.HowToDelete() != htdFinal;
  if (FReplace) {
    const uint32_t r = ReplaceFile(FTemp, FTarget, toTrash);
    if (r != 0)
      Fail(toTrash ? zmsDeleteFailed : zmsCreationOfOutputFileFailed,
           toTrash ? FTarget + " could not go to the recycle bin and is kept as it was" : FTarget, r);
  } else if (!RenameFile(FTemp, FTarget)) {
    Fail(zmsCreationOfOutputFileFailed, FTarget, plat::GetLastError());
  }
  FTemp.clear();
  FCleanup.Release();
}

void TZMNewFile::CloseHandle() {
  if (FHandle == plat::kInvalidHandle) return;
  plat::FileClose(FHandle);
  FHandle = plat::kInvalidHandle;
}

void TZMNewFile::Abandon() {
  CloseHandle();
  if (!FTemp.empty()) RemoveFile(FTemp);
  FTemp.clear();
  FCleanup.Release();
}

void TZMNewFile::Fail(int msg, const std::string& what, uint32_t error) {
  Abandon();
  EZipMate e = EZipMate::CreateCode(ZM_CODE(zmmZMNewFile, msg), true);
  e.SetMessage(FWorker.LoadMessageText(msg) + ": " + what + FWorker.OSErrorText(int(error)));
  throw e;
}
