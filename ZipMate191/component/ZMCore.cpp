#include "ZMCore.h"

#include <algorithm>
#include <ctime>
#include <filesystem>

#include "PlatPath.h"
#include "ZMWFuncs.h"
#include "ZipMate.h"
#include "ZMMsg.h"

// ---- TProgDetails ----

void TProgDetails::Reset() {
  FKind = pkBatchEnd;
  FStepSize = FTotalItems = FWrittenBytes = FTotalBytes = FTotalDone = FCurrentSize = FCurrentDone = 0;
  FCurrentName.clear();
  FCurrentIndex = 0;
  FStopRequested = false;
}

void TProgDetails::NewItem(const std::string& name, int64_t size) {
  if (size < 0) {
    FKind = pkItemEnd;
    return;
  }
  ++FCurrentIndex;
  NewExtra(name, size);
  FKind = pkNewItem;
}

void TProgDetails::Step(int64_t n) {
  ExtraStep(n);
  FTotalDone += n;
  FKind = pkItemStep;
}

void TProgDetails::EndBatch() {
  FCurrentName.clear();
  FCurrentSize = 0;
  FBatchOpen = false;
  FKind = pkBatchEnd;
  FStopRequested = false;
}

void TProgDetails::AnnounceItems(int64_t n) {
  Reset();
  FTotalItems = n;
  FCurrentIndex = 0;
  FKind = pkTotalItems;
}

void TProgDetails::AnnounceBytes(int64_t n) {
  FStopRequested = false;
  FTotalBytes = n;
  FTotalDone = FCurrentSize = FCurrentDone = FWrittenBytes = 0;
  FCurrentName.clear();
  FKind = pkTotalBytes;
  FBatchOpen = true;
}

void TProgDetails::NewExtra(const std::string& name, int64_t size) {
  FCurrentName = name;
  FCurrentSize = size;
  FCurrentDone = 0;
  FKind = pkNewExtra;
}

void TProgDetails::ExtraStep(int64_t n) {
  FStepSize = n;
  FCurrentDone += n;
  FKind = pkExtraStep;
}

// ---- Pipes ----

namespace {

// The current local time as a DOS date (high word) and time (low word).
int32_t DosNow() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  int year = std::clamp(tm.tm_year + 1900, 1980, 2107);
  uint32_t date = uint32_t((year - 1980) << 9 | (tm.tm_mon + 1) << 5 | tm.tm_mday);
  uint32_t time = uint32_t(tm.tm_hour << 11 | tm.tm_min << 5 | tm.tm_sec / 2);
  return int32_t(date << 16 | time);
}

}  // namespace

TZMPipeImp::TZMPipeImp() : FDosDate(DosNow()) {}

TZMPipeImp::~TZMPipeImp() {
  if (FOwnsStream) delete FStream;
}

void TZMPipeImp::SetFileName(const std::string& v) {
  if (v != FFileName) FFileName = v;
}

void TZMPipeImp::SetSize(int32_t v) {
  if (v == FSize) return;
  if (!FStream) {
    FSize = 0;
    return;
  }
  int64_t s = FStream->Size();
  FSize = int32_t(std::min<int64_t>(v, s));
}

void TZMPipeImp::SetStream(TStream* v) {
  if (v == FStream) return;
  if (FStream && FOwnsStream) delete FStream;
  FStream = v;
  if (FStream) {
    // A stream longer than a size can express is used up to that length.
    FSize = int32_t(std::clamp<int64_t>(FStream->Size(), 0, INT32_MAX));
    FStream->SetPosition(0);
  }
}

void TZMPipeListImp::CheckRange(int index) const {
  if (index < 0 || index >= MaxPipes)
    throw EZipMate::CreateMsg(ZM_CODE(zmmZMCore, zmsIndexOutsideRange), {index, MaxPipes - 1});
}

TZMPipe* TZMPipeListImp::Items(int index) {
  CheckRange(index);
  if (index >= Count()) FList.resize(size_t(index) + 1, nullptr);
  if (!FList[size_t(index)]) FList[size_t(index)] = new TZMPipeImp();
  return FList[size_t(index)];
}

void TZMPipeListImp::SetCount(int value) {
  CheckRange(value);
  if (value > Count()) FList.resize(size_t(value), nullptr);
}

void TZMPipeListImp::SetItems(int index, TZMPipe* pipe) {
  CheckRange(index);
  if (index >= Count()) FList.resize(size_t(index) + 1, nullptr);
  TZMPipe*& slot = FList[size_t(index)];
  if (slot && slot != pipe) delete slot;
  slot = pipe;
}

int TZMPipeListImp::Add(TStream* stream, const std::string& fileName, bool ownsStream) {
  int index = Count();
  CheckRange(index);
  auto* p = new TZMPipeImp();
  FList.push_back(p);
  p->SetStream(stream);
  p->SetFileName(fileName);
  p->SetOwnsStream(ownsStream);
  return index;
}

void TZMPipeListImp::Clear() {
  for (TZMPipe* p : FList) delete p;
  FList.clear();
}

void TZMPipeListImp::MoveTo(TZMPipeListImp* other) {
  if (!other || other == this) return;
  other->Clear();
  other->FList = std::move(FList);
  FList.clear();
}

bool TZMPipeListImp::HasStream(int index) const {
  TZMPipe* p = Peek(index);
  return p && p->Stream();
}

void TZMPipeListImp::DropOwnedStream(int index) {
  TZMPipe* p = Peek(index);
  if (p && p->OwnsStream()) p->SetStream(nullptr);
}

TZMPipe* TZMPipeListImp::Peek(int index) const {
  return index >= 0 && index < Count() ? FList[size_t(index)] : nullptr;
}

// ---- TZMWorkBin ----

TZMWorkBin::TZMWorkBin(TZMWorkBin* owner) : FOwnerBin(owner) {
  if (owner) {
    if (!owner->FChildren) owner->FChildren = std::make_unique<std::vector<TZMWorkBin*>>();
    owner->FChildren->push_back(this);
  }
}

TZMWorkBin::~TZMWorkBin() {
  if (FChildren) {
    while (!FChildren->empty()) {
      TZMWorkBin* child = FChildren->back();
      FChildren->pop_back();
      child->FOwnerBin = nullptr;
      delete child;
    }
    FChildren.reset();
  }
  if (FOwnerBin) {
    TZMWorkBin* owner = FOwnerBin;
    FOwnerBin = nullptr;
    if (owner->FChildren) {
      auto& v = *owner->FChildren;
      v.erase(std::remove(v.begin(), v.end(), this), v.end());
      if (v.empty()) owner->FChildren.reset();
    }
  }
}

// ---- TZMWorkBase ----

TZMWorkBase::TZMWorkBase(TCustomZipMate& master, TZMWorkBin* owner) : TZMWorkBin(owner), FMaster(&master) {}

void TZMWorkBase::RequestCancel(int32_t) {}

TStrings& TZMWorkBase::WorkingSpecs() const { return FMaster->WorkingSpecs(); }
TStrings& TZMWorkBase::WorkingExclSpecs() const { return FMaster->WorkingExclSpecs(); }
int32_t TZMWorkBase::NextSerial() const { return FMaster->NextSerial(); }
TZMCore* TZMWorkBase::Lister() const { return FMaster->Lister(); }
uint8_t TZMWorkBase::Verbosity() const { return FMaster->Verbosity(); }
void TZMWorkBase::SetRunningWorker(std::unique_ptr<TZMWorkBase> w) const {
  FMaster->SetRunningWorker(std::move(w));
}
void TZMWorkBase::ShowExceptionError(const std::exception& e) const { FMaster->ShowExceptionError(e); }
bool TZMWorkBase::Poll() const { return FMaster->Poll(); }
bool TZMWorkBase::EmitMessage(int32_t code, const std::string& text) const {
  return FMaster->EmitMessage(code, text, true);
}
void TZMWorkBase::ShowMessageText(const std::string& text, int32_t code, bool show) const {
  FMaster->ShowMessageText(text, code, show);
}
void TZMWorkBase::ShowMessageIdSuffix(int32_t code, const std::string& suffix) const {
  FMaster->ShowMessageIdSuffix(code, suffix);
}
void TZMWorkBase::ReportFormatted(int number, std::initializer_list<TFmtArg> args) const {
  FMaster->ReportFormatted(number, args);
}
bool TZMWorkBase::ReportSkipped(const std::string& name, int32_t code, TZMSkipTypes type) const {
  return FMaster->ReportSkipped(name, code, type);
}
std::string TZMWorkBase::FormatMessageText(int number, std::initializer_list<TFmtArg> args) const {
  return FMaster->FormatMessageText(number, args);
}
int TZMWorkBase::MessageDialog(const std::string& title, std::string& msg, TMsgDlgButtons btns,
                               uint32_t context) const {
  return FMaster->MessageDialog(title, msg, btns, context);
}
std::string TZMWorkBase::OSErrorText(int number) const { return FMaster->OSErrorText(number); }
void TZMWorkBase::SniffLine(int32_t code, const std::string& text) const { FMaster->SniffLine(code, text); }
void TZMWorkBase::CheckIndex(int index, int count) const { FMaster->CheckIndex(index, count); }

// ---- TZMCore ----

TZMCore::TZMCore(TCustomZipMate& master, TZMWorkBin* owner)
    : TZMWorkBase(master, owner),
      FTempFiles(std::make_unique<TStringList>()),
      FDetails(std::make_unique<TProgDetails>()) {}

TZMCore::~TZMCore() {
  // Registered files stay where they are when a worker goes without Finished.
  FCancelCode = 2;
  FTempFiles.reset();
  FDetails.reset();
}

void TZMCore::Finished(bool good) { RemoveTempFiles(!good); }

void TZMCore::TraceLine(const std::string& text) {
  if (Verbosity() != 0) EmitMessage(0, "Trace: " + text);
}

void TZMCore::ThrowIfCancelled() {
  Poll();
  if (FCancelCode != 0) throw EZipMate::CreateCode(FCancelCode, true);
}

void TZMCore::NotifyProgress(uint8_t action, int number, int64_t size, const std::string& name) {
  if (FProgressMuted) return;
  bool raise = true;
  switch (action) {
    case 0:
      Poll();
      raise = false;
      break;
    case 1: FDetails->NewItem(name, size); break;
    case 2: FDetails->Step(size); break;
    case 3:
      if (FDetails->BatchOpen())
        FDetails->EndBatch();
      else
        raise = false;
      break;
    case 4: FDetails->AnnounceItems(size); break;
    case 5: FDetails->AnnounceBytes(size); break;
    case 6:
      if (number >= 0 && number < 16) number += 32;
      FDetails->NewExtra(LoadMessageText(number), size);
      break;
    case 7: FDetails->ExtraStep(int64_t(uint32_t(size))); break;
    default: raise = false;
  }
  if (raise && Master().OnProgress) Master().OnProgress(&Master(), FDetails.get());
  Poll();
}

void TZMCore::ShowMessageById(int32_t code, bool show) {
  int32_t c = ZMAbsCode(code);
  std::string text = LoadMessageText(c);
  if (text.empty())
    text = Format("ZMRes_???.res is probably not linked to the executable\nMissing String ID is: %d ", {c});
  ShowMessageText(text, c, show);
}

void TZMCore::ReportOpenFailure(int32_t code) {
  if (ZMMsgOf(code) != zmsInputFileDoesNotExist) {
    ShowMessageById(code, true);
    return;
  }
  SetFullErrCode(kMissingArchiveCode);
  SetErrCode(zmsInputFileDoesNotExist);
  SetErrMsg(LoadMessageText(zmsInputFileDoesNotExist));
}

std::string TZMCore::LoadMessageText(int number) const { return Master().LoadMessageText(number); }

int TZMCore::AskUser(const std::string& title, const std::string& msg, TMsgDlgButtons btns,
                     uint32_t context) {
  std::string m = msg;
  return MessageDialog(title, m, btns, context);
}

void TZMCore::RegisterTempFile(const std::string& path, bool removeAlways) {
  std::string full = path;
  try {
    if (!path.empty()) {
      bool folder = path.back() == '/' || path.back() == '\\';
      full = std::filesystem::absolute(std::filesystem::path(path)).lexically_normal().string();
      if (folder && !full.empty() && full.back() != '/' && full.back() != '\\') full += plat::PathDelim;
    }
  } catch (const std::exception&) {
    full = path;
  }
  FTempFiles->AddObject(full, removeAlways ? this : nullptr);
}

void TZMCore::RemoveTempFiles(bool removeAll) {
  for (int i = FTempFiles->Count() - 1; i >= 0; --i) {
    std::string name = FTempFiles->Strings(i);
    if (name.size() <= 1) continue;
    if (FTempFiles->Objects(i) != this && !removeAll) continue;
    if (name.back() == '\\' || name.back() == '/') {
      name.pop_back();
      if (FolderExists(name)) RemoveFolder(name);
    } else if (FileIsPresent(name)) {
      RemoveFile(name);
    }
  }
  FTempFiles->Clear();
}

void TZMCore::SetCancelCode(int32_t code) {
  FCancelCode = code;
  Master().FCancel = code;
}

void TZMCore::RaiseDirUpdate() {
  if (Master().OnDirUpdate) Master().OnDirUpdate(&Master());
}

void TZMCore::RaiseNewName(int seqNo) {
  if (Master().OnNewName) Master().OnNewName(&Master(), seqNo);
}

TZMAddOpts TZMCore::AddOptions() const { return Master().FAddOptions; }
void TZMCore::SetAddOptions(TZMAddOpts v) { Master().FAddOptions = v; }
bool TZMCore::ConfirmErase() const { return Master().FConfirmErase; }
TZMEncodingOpts TZMCore::Encoding() const { return Master().FEncoding; }
TZMEncodingOpts TZMCore::WriteEncoding() const { return Master().FWriteEncoding; }
void TZMCore::SetWriteEncoding(TZMEncodingOpts v) { Master().FWriteEncoding = v; }
uint32_t TZMCore::NameCodePage() const { return Master().FNameCodePage; }
int32_t TZMCore::ErrCode() const { return Master().FErrCode; }
void TZMCore::SetErrCode(int32_t v) { Master().FErrCode = ZMAbsCode(v); }
void TZMCore::SetErrMsg(const std::string& v) { Master().FErrMsg = v; }
void TZMCore::SetFullErrCode(int32_t v) { Master().FFullErrCode = v; }
intptr_t TZMCore::OwnerWindow() const { return Master().FOwnerWindow; }
TZMDeleteOpts TZMCore::HowToDelete() const { return Master().FHowToDelete; }
TZMSpanOpts TZMCore::SpanOptions() const { return Master().FSpanOptions; }
void TZMCore::SetSpanOptions(TZMSpanOpts v) { Master().FSpanOptions = v; }
std::string TZMCore::TempDir() const { return Master().FTempDir; }
int64_t TZMCore::MaxVolumeSize() const { return Master().MaxVolumeSize(); }
uint32_t TZMCore::MinFreeVolumeSize() const { return Master().MinFreeVolumeSize(); }
uint32_t TZMCore::KeepFreeOnDisk1() const { return Master().KeepFreeOnDisk1(); }
uint32_t TZMCore::KeepFreeOnAllDisks() const { return Master().KeepFreeOnAllDisks(); }
bool TZMCore::AsksForNextDisk() const { return bool(Master().OnGetNextDisk); }

bool TZMCore::RaiseStatusDisk(int disk, const std::string& name, uint8_t statusBits, TZMDiskAction& action) {
  TCustomZipMate& m = Master();
  if (!m.OnStatusDisk) return false;
  m.OnStatusDisk(&m, disk, name, TZMZipDiskStatus::FromBits(statusBits), action);
  return true;
}

bool TZMCore::RaiseGetNextDisk(int disk, int total, const std::string& drive, bool& abort) {
  TCustomZipMate& m = Master();
  if (!m.OnGetNextDisk) return false;
  m.OnGetNextDisk(&m, disk, total, drive, abort);
  return true;
}

bool TZMCore::Unattended() const { return Master().FUnattended; }
bool TZMCore::UseDirOnlyEntries() const { return Master().FUseDirOnlyEntries; }
TZMWriteOpts TZMCore::WriteOptions() const { return Master().FWriteOptions; }
void TZMCore::SetWriteOptions(TZMWriteOpts v) { Master().FWriteOptions = v; }
void TZMCore::SetSuccessCnt(int32_t v) { Master().FSuccessCnt = v; }
void TZMCore::SetSFXCaption(const std::string& v) { Master().FSFXCaption = v; }
void TZMCore::SetSFXCommandLine(const std::string& v) { Master().FSFXCommandLine = v; }
void TZMCore::SetSFXDefaultDir(const std::string& v) { Master().FSFXDefaultDir = v; }
void TZMCore::SetSFXMessage(const std::string& v) { Master().FSFXMessage = v; }
void TZMCore::SetSFXRegFailPath(const std::string& v) { Master().FSFXRegFailPath = v; }
void TZMCore::SetSFXOptions(TZMSFXOpts v) { Master().FSFXOptions = v; }
void TZMCore::SetSFXOverwriteMode(TZMOvrOpts v) { Master().FSFXOverwriteMode = v; }

void TZMCore::SetSFXIcon(const TIcon* v) {
  auto& icon = Master().FSFXIcon;
  if (!v || v->Empty()) {
    icon.reset();
    return;
  }
  if (!icon) icon = std::make_unique<TIcon>();
  if (icon.get() != v) *icon = *v;
}

TMemoryStream& TZMCore::WorkStream() {
  auto& s = Master().FWorkStream;
  if (!s) s = std::make_unique<TMemoryStream>();
  return *s;
}

void TZMCore::SetWorkStream(std::unique_ptr<TMemoryStream> v) { Master().FWorkStream = std::move(v); }
