#include "ZMDllOpr.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "PlatCodePage.h"
#include "PlatPath.h"
#include "PlatTime.h"
#include "ZMDllLoad.h"
#include "ZMIRec.h"
#include "ZMLister.h"
#include "ZMMsgStr.h"
#include "ZMNewFile.h"
#include "ZMUTF8.h"
#include "ZMUtils.h"
#include "ZMWFuncs.h"
#include "ZMXcpt.h"
#include "ZMZipFile.h"
#include "ZipMate.h"
#include "ZMMsg.h"

namespace {

constexpr int32_t kMessageCodeBase = 0x0610A000;
constexpr int kMaxComment = 255;
constexpr int kMaxExtra = 2047;

// The message id of an engine error number (1 to 35: 232 to 266; above: 237).
int32_t EngineErrorId(int32_t err) {
  int32_t low = DZErrorNumber(err);
  if (low == 0) return 0;
  int32_t id = 231 + low;
  return id > 266 ? 237 : id;
}

// Cuts a component string to at most n bytes without splitting a UTF-8 sequence.
std::string CutText(const std::string& s, size_t n) {
  if (s.size() <= n) return s;
  size_t end = n;
  if (UTF8Mode())
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  return s.substr(0, end);
}

// Local date-time value to a DOS stamp (date high, time low); 0 outside 1980-2107.
uint32_t DateTimeToDos(double dt) {
  plat::TSystemTime st;
  if (!plat::DateTimeToSystemTime(dt, st) || st.Year < 1980 || st.Year > 2107) return 0;
  uint32_t date = uint32_t((st.Year - 1980) << 9 | st.Month << 5 | st.Day);
  uint32_t time = uint32_t(st.Hour << 11 | st.Minute << 5 | st.Second / 2);
  return date << 16 | time;
}

const char* const kSuffixNames[] = {"gif", "png", "z",    "zip", "zoo", "arc", "lzh",  "arj",    "taz",
                                    "tgz", "lha", "rar",  "ace", "cab", "gz",  "gzip", "jar",    "exe",
                                    "ext", "jpg", "jpeg", "7zp", "mp3", "wmv", "wma",  "dvr-ms", "avi"};

}  // namespace

// ---- TDZCallback ----

std::string TDZCallback::ReadText(const void* p) const {
  if (!p || !FRec) return std::string();
  if (FRec->TextForm != 0) {
    const char16_t* w = static_cast<const char16_t*>(p);
    size_t n = 0;
    while (w[n]) ++n;
    std::u16string ws(w, n);
    return UTF8Mode() ? Utf8FromWideString(ws) : AnsiFromWide(ws);
  }
  std::string s(static_cast<const char*>(p));
  return UTF8Mode() ? Utf8FromAnsi(s) : s;
}

std::string TDZCallback::Text1() const { return FRec ? ReadText(FRec->Text1) : std::string(); }
std::string TDZCallback::Text2() const { return FRec ? ReadText(FRec->Text2) : std::string(); }

void TDZCallback::Store(const std::string& bytes) {
  size_t n = bytes.size();
  if (!FTextBuf || n + 4 >= FTextBufSize) {
    size_t size = ((n + 4) / 512 + 1) * 512;
    FTextBuf = std::make_unique<char[]>(size);
    FTextBufSize = size;
  }
  if (n) std::memcpy(FTextBuf.get(), bytes.data(), n);
  std::memset(FTextBuf.get() + n, 0, 4);
  if (FRec) FRec->Text1 = FTextBuf.get();
}

void TDZCallback::SetText(const std::string& text) {
  if (FRec) FRec->TextForm = UTF8Mode() && CountUtf8Sequences(text) > 0 ? 2 : 0;
  Store(text);
}

void TDZCallback::SetRaw(const std::string& bytes) { Store(bytes); }

// ---- Callback functions ----

extern "C" int32_t DZ_CALL DZMainCallback(void* record) {
  auto* rec = static_cast<TDZCallbackRec*>(record);
  if (!rec || rec->Magic != DZ_CALLBACK_MAGIC || !rec->Worker) return -5;
  return static_cast<TZMDLLOpr*>(rec->Worker)->HandleCallback(*rec);
}

extern "C" int32_t DZ_CALL DZStreamCallback(void* record) {
  auto* rec = static_cast<TDZStreamRec*>(record);
  if (!rec || rec->Magic != DZ_STREAM_MAGIC || !rec->Worker) return -5;
  return static_cast<TZMDLLOpr*>(rec->Worker)->HandleStream(*rec);
}

// ---- TZMDLLOpr ----

TZMDLLOpr::TZMDLLOpr(TCustomZipMate& master)
    : TZMModOpr(master),
      FCallback(std::make_unique<TDZCallback>()),
      FPipes(std::make_unique<TZMPipeListImp>()) {}

TZMDLLOpr::~TZMDLLOpr() {
  SetProgressMuted(true);
  if (FOpKey != 0) {
    try {
      DLLLoader().AbortOp(&Master(), FOpKey);
    } catch (...) {
    }
  }
  FCallback.reset();
  FPipes->Clear();
}

void TZMDLLOpr::RequestCancel(int32_t) {
  if (FOpKey != 0) DLLLoader().AbortOp(&Master(), FOpKey);
}

void TZMDLLOpr::Finished(bool good) {
  TZMModOpr::Finished(good);
  if (!good) {
    FPipes->Clear();
    SetWorkStream(nullptr);
  }
}

int32_t TZMDLLOpr::LoadEngineDll() { return DLLLoader().Load(this); }
int32_t TZMDLLOpr::ReleaseEngineDll() { return DLLLoader().Release(this); }

void TZMDLLOpr::SetEngineHeld(bool load) {
  TZMDLLLoader& loader = DLLLoader();
  if (load != loader.Holds(&Master())) {
    if (load)
      loader.Load(this);
    else
      loader.Release(this);
  }
}

int32_t TZMDLLOpr::ExecEngine(TDZCommand* cmd) {
  const int32_t r = RunEngine(cmd);
  CheckEngineResult(r);
  return r;
}

int32_t TZMDLLOpr::RunEngine(TDZCommand* cmd) {
  int32_t r;
  try {
    r = DLLLoader().Exec(this, cmd, FOpKey);
  } catch (...) {
    r = -6;
  }
  FOpKey = 0;
  return r;
}

void TZMDLLOpr::ShowRunFailure(EZMException& e) {
  if (!FEventErr.empty()) {
    e.SetMessage(e.DisplayText() + FEventErr);
    e.ArgKind = 0;
  }
  ShowExceptionError(e);
  SetSuccessCnt(0);
}

void TZMDLLOpr::CheckEngineResult(int32_t result) {
  if (result >= 0) return;
  int64_t n = -int64_t(result);
  if (n > 36) throw EZipMate::CreateMsg(ZM_CODE(zmmZMDllOpr, zmsCriticalDllError), {n});
  if (n <= 2) throw EZipMate::CreateCode(ZM_CODE(zmmZMDllOpr, zmsUserCanceledOperation), true);
  throw EZipMate::CreateCode(ZM_CODE(zmmZMDllOpr, int(231 + n)), true);
}

TDZCommand* TZMDLLOpr::BuildCommand(const std::string& arg0) {
  FCommand = std::make_unique<TDZCommand>();
  std::memset(FCommand.get(), 0, sizeof(TDZCommand));
  TDZCommand& c = *FCommand;
  FArg0 = arg0;
  c.ParentWindow = Unattended() ? nullptr : reinterpret_cast<void*>(OwnerWindow());
  c.Worker = this;
  c.CmdVersion = DZ_CMD_VERSION;
  c.Callback = &DZMainCallback;
  c.StreamCallback = &DZStreamCallback;
  c.MsgLevel = Master().Trace() ? -1 : Master().Verbose() ? 1 : 0;
  c.CodePage = int32_t(NameCodePage());
  c.OemCodePage = int32_t(plat::OemCodePage());
  c.Magic = DZ_CMD_MAGIC;
  return FCommand.get();
}

TDZCommand* TZMDLLOpr::BuildExtractCommand(const std::string& arg0) {
  TDZCommand& c = *BuildCommand(arg0);
  TZMExtrOpts o = Master().ExtrOptions();
  c.NameEncoding = int32_t(Encoding()) & 0x7F;
  uint32_t opts = DZ_OPT_ALWAYS;
  opts |= o.Contains(ExtrTest) ? DZ_OPT_TEST : DZ_OPT_EXTRACT;
  if (o.Contains(ExtrUpdate))
    opts |= DZ_OPT_UPDATE;
  else if (o.Contains(ExtrFreshen))
    opts |= DZ_OPT_FRESHEN;
  if (o.Contains(ExtrDirNames)) opts |= DZ_OPT_DIRNAMES;
  if (o.Contains(ExtrOverWrite)) opts |= DZ_OPT_OVERWRITE;
  if (o.Contains(ExtrNTFS)) opts |= DZ_OPT_NTFS;
  c.Options = opts;
  c.PwdReqCount = int32_t(Master().PasswordReqCount());
  return &c;
}

TDZCommand* TZMDLLOpr::BuildAddCommand(const std::string& arg0) {
  TDZCommand& c = *BuildCommand(arg0);
  TZMAddOpts a = AddOptions();
  TZMWriteOpts w = WriteOptions();
  TZMEncodingOpts enc = Encoding();
  c.NameEncoding = enc == zeoOEM ? 2 : enc == zeoUTF8 ? 3 : 0;
  c.NameWriteEnc = int32_t(WriteEncoding()) & 0x7F;
  c.Level = Master().AddCompLevel();
  if (a.Contains(AddFromDate)) c.FromDate = DateTimeToDos(Master().AddFrom());
  uint32_t opts = DZ_OPT_ALWAYS | DZ_OPT_ADD;
  if (a.Contains(AddUpdate))
    opts |= 0x80;
  else if (a.Contains(AddFreshen))
    opts |= 0x100;
  if (!a.Contains(AddEmptyDirs)) opts |= 0x800;
  if (!a.Contains(AddDirNames)) opts |= 0x1000;
  if (a.Contains(AddRecurseDirs)) opts |= 0x2000;
  if (!w.Contains(zwoSafe)) opts |= 0x4000;
  if (a.Contains(AddMove)) opts |= 0x10000;
  if (a.Contains(AddHiddenFiles)) opts |= 0x20000;
  if (w.Contains(zwoZipTime)) opts |= 0x80000;
  if (a.Contains(AddArchiveOnly)) opts |= 0x100000;
  if (a.Contains(AddResetArchive)) opts |= 0x200000;
  if (a.Contains(AddVersion)) opts |= 0x400000;
  if (HowToDelete() == htdAllowUndo) opts |= 0x800000;
  if (a.Contains(AddEncrypt)) opts |= DZ_OPT_ENCRYPT;
  if (a.Contains(AddVolume)) opts |= 0x4000000;
  if (a.Contains(AddNTFS)) opts |= DZ_OPT_NTFS;
  c.Options = opts;
  return &c;
}

void TZMDLLOpr::FreeCommand() {
  FCommand.reset();
  FConvert.reset();
}

void TZMDLLOpr::InsertPipeSpecs() {
  TStrings& specs = WorkingSpecs();
  for (int i = 0; i < FPipes->Count(); ++i) {
    TZMPipe* p = FPipes->Peek(i);
    if (!p) continue;
    std::string name = p->FileName();
    if (!name.empty() && TZMZRec::IsInvalidName(name))
      throw EZipMate::CreateCode(ZM_CODE(zmmZMDllOpr, zmsInvalidFilename), true);
    std::string item = std::to_string(i) + ":" + (name.empty() ? "#stream" + std::to_string(i) + "#" : name);
    // The list has no insertion: rebuild it with the item at index i.
    std::vector<std::string> lines;
    for (int k = 0; k < specs.Count(); ++k) lines.push_back(specs.Strings(k));
    lines.insert(lines.begin() + std::min<size_t>(size_t(i), lines.size()), item);
    specs.Clear();
    for (const std::string& s : lines) specs.Add(s);
  }
}

std::string TZMDLLOpr::StoreSuffixText() const {
  TZMAddStoreExts set = Master().AddStoreSuffixes();
  std::string text;
  for (int m = assGIF; m <= assAVI; ++m) {
    if (m == assEXT || !set.Contains(TZMAddStoreSuffixEnum(m))) continue;
    text += '.';
    text += kSuffixNames[m];
    text += ':';
  }
  if (set.Contains(assEXT)) text += Master().ExtAddStoreSuffixes();
  return text;
}

int32_t TZMDLLOpr::TextArgument(int32_t kind, TDZCallbackRec& rec) {
  const TCustomZipMate& m = Master();
  switch (kind) {
    case DZ_ARG_ARCHIVE: FCallback->SetText(FArg0); return 1;
    case DZ_ARG_PASSWORD: FCallback->SetText(m.Password()); return 1;
    case DZ_ARG_ROOT: FCallback->SetText(m.RootDir()); return 1;
    case DZ_ARG_BASE: FCallback->SetText(m.ExtrBaseDir()); return 1;
    case DZ_ARG_COMMENT:
      FCallback->SetRaw(m.ZipComment());
      rec.TextForm = 0;
      rec.Param1 = int32_t(m.ZipComment().size());
      return 1;
    case DZ_ARG_SPEC:
    case DZ_ARG_EXCLUDE: {
      int32_t index = rec.Param3;
      if (index < 0) return -5;
      TStrings& list = kind == DZ_ARG_SPEC ? WorkingSpecs() : WorkingExclSpecs();
      rec.Param3 = list.Count();
      if (index >= list.Count()) {
        FCallback->SetText(std::string());
        return 0;
      }
      FCallback->SetText(list.Strings(index));
      return 1;
    }
    case DZ_ARG_STORE_SUFFIX: FCallback->SetText(StoreSuffixText()); return 1;
    case DZ_ARG_TEMP: FCallback->SetText(TempDir()); return 1;
    default: return -5;
  }
}

int32_t TZMDLLOpr::DoMessage(TDZCallbackRec& rec) {
  std::string text = FCallback->Text1();
  int32_t code = rec.Param1;
  int32_t tag = code == 0 ? 0 : int32_t(uint32_t(code) | 0x80000000u);
  if (code != 0 && Master().FullErrCode() == 0) SetFullErrCode(tag);
  int32_t id = EngineErrorId(code);
  if ((code & 0x700) >= DZ_MSG_ERROR && (code & DZ_MSG_PREFIX)) text = LoadMessageText(id) + text;
  SniffLine(tag, text);
  int32_t pass = id != 0 ? kMessageCodeBase + id : 0;
  if (pass != 0 && ErrCode() == 0) {
    SetErrCode(id);
    SetErrMsg(text);
  }
  if (Master().OnMessage) Master().OnMessage(&Master(), pass, text);
  Poll();
  return 0;
}

int32_t TZMDLLOpr::DoPassword(TDZCallbackRec& rec) {
  std::string pw;
  uint32_t repeat = uint32_t(rec.Param1);
  TMsgDlgBtn action = mbOK;
  bool isZip = rec.ZipOp != 0;
  TCustomZipMate& m = Master();
  if (m.OnPasswordError) {
    m.OnPasswordError(&m, isZip, pw, FCallback->Text1(), repeat, action);
    if (action != mbOK) pw.clear();
  } else {
    pw = isZip ? m.AskAddPassword(action) : m.AskExtractPassword(action);
  }
  int32_t answer;
  if (!pw.empty()) {
    FCallback->SetText(pw);
    answer = 1;
  } else {
    repeat = 0;
    answer = 2;
  }
  rec.Param1 = int32_t(std::min<uint32_t>(repeat, 15));
  if (action == mbCancel) {
    answer = 2;
  } else if (action == mbNoToAll) {
    answer = 3;
  } else if (action == mbAbort) {
    SetCancelCode(4);
    answer = -3;
  }
  return answer;
}

int32_t TZMDLLOpr::HandleCallback(TDZCallbackRec& rec) {
  int32_t answer = 0;
  if (ProgressMuted()) return 0;
  const int action = DZCallbackAction(rec.Request);
  TCustomZipMate& m = Master();
  auto absorb = [&](const std::string& what) {
    if (FEventErr.empty()) FEventErr = " #" + std::to_string(action) + " \"" + what + "\"";
    SetCancelCode(193);
    answer = -4;
    try {
      SniffLine(0, "[CALLBACK Exception sent] " + FEventErr);
    } catch (...) {
    }
  };
  try {
    FCallback->SetRecord(&rec);
    switch (action) {
      case DZ_CB_ITEM:
      case DZ_CB_STEP:
      case DZ_CB_BATCH_END:
      case DZ_CB_TOTAL_ITEMS:
      case DZ_CB_TOTAL_BYTES:
      case DZ_CB_EXTRA:
      case DZ_CB_EXTRA_STEP: {
        if (action <= DZ_CB_BATCH_END) SetWrittenBytes(rec.ItemDone);
        int number = (action == DZ_CB_EXTRA || action == DZ_CB_EXTRA_STEP) ? rec.Param1 : 0;
        int64_t size = action == DZ_CB_TOTAL_ITEMS ? int64_t(uint32_t(rec.Param1)) : rec.ItemSize;
        std::string name =
            (action == DZ_CB_ITEM || action == DZ_CB_EXTRA) ? FCallback->Text1() : std::string();
        NotifyProgress(uint8_t(action), number, size, name);
        answer = action == DZ_CB_ITEM && rec.ItemSize == -1 && Details().StopRequested() ? 1 : 0;
        break;
      }
      case DZ_CB_MESSAGE: answer = DoMessage(rec); break;
      case DZ_CB_ADD_NAME:
        if (m.OnSetAddName) {
          std::string fileName = FCallback->Text1();
          bool changed = false;
          m.OnSetAddName(&m, fileName, WithPlatformSeparators(FCallback->Text2()), changed);
          if (changed) {
            FCallback->SetText(fileName);
            answer = 1;
          }
        }
        break;
      case DZ_CB_PASSWORD: answer = DoPassword(rec); break;
      case DZ_CB_CRC_ERROR:
        if (m.OnCRC32Error) {
          bool doExtract = true;
          m.OnCRC32Error(&m, FCallback->Text1(), uint32_t(rec.Param1), uint32_t(rec.Param2), doExtract);
          answer = doExtract ? 1 : 3;
        }
        break;
      case DZ_CB_OVERWRITE:
        if (m.OnExtractOverwrite) {
          bool doOverwrite = rec.Param1 != 0;
          m.OnExtractOverwrite(&m, FCallback->Text1(), rec.Param3 != 2, doOverwrite, rec.Param2);
          answer = doOverwrite ? 1 : 2;
          SniffLine(0, Format("[Overwrite] IN=%d,%d OUT=%d", {rec.Param1, rec.Param2, answer}));
        }
        break;
      case DZ_CB_SKIPPED: {
        int32_t id = 0;
        if (rec.Param1 != 0) {
          id = EngineErrorId(rec.Param1);
          SetFullErrCode(id);
        }
        int type = rec.Param2 - 1;
        if (type < stOnFreshen || type > stNothingToDo) type = stGeneralExtractError;
        answer = ReportSkipped(FCallback->Text1(), id, TZMSkipTypes(type)) ? 1 : 0;
        break;
      }
      case DZ_CB_COMMENT:
        if (m.OnFileComment) {
          std::string comment = FCallback->Text2();
          bool changed = false;
          m.OnFileComment(&m, FCallback->Text1(), comment, changed);
          if (changed) {
            comment = CutText(comment, kMaxComment);
            FCallback->SetText(comment);
            rec.Param1 = int32_t(comment.size());
            answer = 1;
          }
        }
        break;
      case DZ_CB_LEVEL: {
        bool levelChanged = false, dataChanged = false;
        if (m.OnSetCompLevel) {
          int level = rec.Param2;
          bool changed = false;
          m.OnSetCompLevel(&m, FCallback->Text1(), level, changed);
          if (changed && level >= 0 && level <= 9) {
            rec.Param2 = level;
            levelChanged = true;
          }
        }
        if (m.OnFileExtra) {
          std::string data;
          if (rec.Text2 && rec.Param1 > 0)
            data.assign(static_cast<const char*>(rec.Text2), size_t(rec.Param1));
          bool changed = false;
          m.OnFileExtra(&m, FCallback->Text1(), data, changed);
          if (changed) {
            if (data.size() > size_t(kMaxExtra)) data.resize(kMaxExtra);
            FCallback->SetRaw(data);
            rec.Param1 = int32_t(data.size());
            dataChanged = true;
          }
        }
        answer = (dataChanged ? 1 : 0) | (levelChanged ? 2 : 0);
        break;
      }
      case DZ_CB_EXT_NAME:
        if (m.OnSetExtName) {
          const std::string original = FCallback->Text1();
          std::string fileName = original;
          bool changed = false;
          m.OnSetExtName(&m, fileName, WithPlatformSeparators(FCallback->Text2()), changed);
          // A folder may not become a file, nor a file a folder.
          if (changed && fileName != original && EndsWithDelimiter(fileName) == EndsWithDelimiter(original)) {
            FCallback->SetText(fileName);
            answer = 1;
          }
        }
        break;
      case DZ_CB_OP_KEY: FOpKey = uint32_t(rec.Param1); break;
      case DZ_CB_ARG: answer = TextArgument(rec.Param1, rec); break;
      default: answer = -1; break;
    }
    if (action >= DZ_CB_ADD_NAME && action < DZ_CB_OP_KEY) Poll();
    // A stop asked for earlier wins over an ordinary answer; a stronger one (abort)
    // stands.
    if (CancelCode() != 0 && answer >= -1) {
      answer = -2;
      SniffLine(0, "[CANCEL sent]");
    }
  } catch (const std::exception& e) {
    absorb(e.what());
  } catch (...) {
    // Nothing may unwind into the engine.
    absorb("unknown exception");
  }
  return answer;
}

int32_t TZMDLLOpr::DoStreamOp(TDZStreamRec& rec) {
  TCustomZipMate& m = Master();
  const int op = rec.StreamOp;
  int32_t answer = 0;
  switch (op) {
    case DZ_SO_IDENTIFY: {
      bool done = false;
      if (m.OnStream) {
        TStream* s = nullptr;
        TZMSStats stat{};
        m.OnStream(&m, zsoIdentify, rec.StreamNo, s, stat, done);
        if (done) {
          rec.Pos = stat.Size;
          rec.Info1 = stat.Date;
          rec.Info2 = stat.Attrs;
          answer = 1;
        }
      }
      if (!done && FPipes->HasStream(rec.StreamNo)) {
        TZMPipe* p = FPipes->Peek(rec.StreamNo);
        rec.Pos = p->Size();
        rec.Info1 = uint32_t(p->DosDate());
        rec.Info2 = uint32_t(p->Attributes());
        answer = 1;
      }
      break;
    }
    case DZ_SO_OPEN: {
      rec.StreamRef = nullptr;
      bool done = false;
      if (m.OnStream) {
        TStream* s = nullptr;
        TZMSStats stat{};
        m.OnStream(&m, zsoOpen, rec.StreamNo, s, stat, done);
        if (done && s) {
          rec.StreamRef = s;
          answer = 1;
        }
      }
      if (!answer && !done && FPipes->HasStream(rec.StreamNo)) {
        rec.StreamRef = FPipes->Peek(rec.StreamNo)->Stream();
        answer = 1;
      }
      break;
    }
    case DZ_SO_CLOSE: {
      auto* s = static_cast<TStream*>(rec.StreamRef);
      if (!s) break;
      if (s == &WorkStream()) {
        rec.StreamRef = nullptr;
        answer = 1;
        break;
      }
      bool done = false;
      if (m.OnStream) {
        TZMSStats stat{};
        m.OnStream(&m, zsoClose, rec.StreamNo, s, stat, done);
        if (done) {
          rec.StreamRef = s;
          answer = 1;
        }
      }
      if (!done && FPipes->HasStream(rec.StreamNo)) {
        FPipes->DropOwnedStream(rec.StreamNo);
        rec.StreamRef = nullptr;
        answer = 1;
      }
      break;
    }
    case DZ_SO_SEEK: {
      auto* s = static_cast<TStream*>(rec.StreamRef);
      if (!s) break;
      int64_t pos = s->Seek(rec.Pos, rec.ByteCount & 0xFF);
      rec.Pos = pos;
      answer = pos >= 0 ? 1 : 0;
      break;
    }
    case DZ_SO_READ: {
      auto* s = static_cast<TStream*>(rec.StreamRef);
      if (!s || !rec.DataPtr || rec.ByteCount < 0) break;
      int64_t left = s->Size() - s->Position();
      int32_t count = int32_t(std::clamp<int64_t>(left, 0, rec.ByteCount));
      int n = count > 0 ? s->Read(rec.DataPtr, count) : 0;
      rec.ByteCount = n;
      answer = n == count ? 1 : 0;
      break;
    }
    case DZ_SO_WRITE: {
      auto* s = static_cast<TStream*>(rec.StreamRef);
      if (!s || !rec.DataPtr || rec.ByteCount < 0) break;
      int32_t count = rec.ByteCount;
      int n = count > 0 ? s->Write(rec.DataPtr, count) : 0;
      rec.ByteCount = n;
      answer = n == count ? 1 : 0;
      break;
    }
    default: break;
  }
  if (op <= 2 && Master().Verbosity() != 0)
    TraceLine(Format("Stream operation %d on %d returns %d", {op, rec.StreamNo, answer}));
  return answer;
}

int32_t TZMDLLOpr::HandleStream(TDZStreamRec& rec) {
  try {
    return DoStreamOp(rec);
  } catch (...) {
    return -5;
  }
}

int32_t TZMDLLOpr::ListedEntryCount() {
  TCustomZipMate& m = Master();
  TZMLister* lister = m.ZipLister();
  if (!lister) return ArchiveEntryCount();
  if (lister->CenDir().Count() == 0) lister->LoadArchive(m.ZipFileName(), false);
  return lister->CenDir().Count();
}

bool TZMDLLOpr::ListedIsMultiPart() {
  TCustomZipMate& m = Master();
  if (TZMLister* lister = m.ZipLister()) {
    const TZMCenDir& view = lister->CenDir();
    if (view.CurrentReader()) return view.IsMultiPart() || view.TotalDisks() > 1;
  }
  TZMZipFile reader(m);
  reader.SetFileName(m.ZipFileName());
  const bool multi = reader.OpenZip(true, true) >= 0 && (reader.MultiPart() || reader.TotalDisks() > 1);
  reader.File_Close();
  return multi;
}

int32_t TZMDLLOpr::ArchiveEntryCount() {
  TZMZipFile reader(Master());
  reader.SetFileName(Master().ZipFileName());
  int32_t count = 0;
  reader.SetVisitor([&](const TZMZRec&) {
    ++count;
    return true;
  });
  const int32_t r = reader.OpenZip(false, false);
  if (r < 0) {
    count = 0;
    ReportOpenFailure(r);
  }
  reader.File_Close();
  return count;
}

int32_t TZMDLLOpr::TrailerEntryCount(const std::string& name, bool& multiPart) {
  TZMZipFile reader(Master());
  reader.SetFileName(name);
  const int32_t r = reader.OpenZip(false, true);
  reader.File_Close();
  if (r < 0) {
    ReportOpenFailure(r);
    return -1;
  }
  multiPart = reader.MultiPart() || reader.TotalDisks() > 1;
  return reader.TotalEntries();
}

void TZMDLLOpr::RunExtract(const std::string* unlisted) {
  try {
    SetCancelCode(0);
    TCustomZipMate& m = Master();
    const std::string& archive = unlisted ? *unlisted : m.ZipFileName();
    if (archive.empty()) throw EZipMate::CreateCode(ZM_CODE(zmmZMDllOpr, zmsErrorNoZipFileSpecified), true);
    bool multiPart = false;
    if ((unlisted ? TrailerEntryCount(archive, multiPart) : ListedEntryCount()) <= 0) {
      if (ErrCode() == 0) throw EZipMate::CreateCode(ZM_CODE(zmmZMDllOpr, zmsZipFileCouldNotBeOpened), true);
      return;
    }
    SetCancelCode(0);
    TZMExtrOpts opts = m.ExtrOptions();
    if (!m.ExtrBaseDir().empty() && !opts.Contains(ExtrTest)) {
      std::string base = SetTrailingDelimiter(m.ExtrBaseDir(), true);
      try {
        base = std::filesystem::absolute(std::filesystem::path(base)).lexically_normal().string();
      } catch (const std::exception&) {
        // Kept as given; the existence check below decides.
      }
      base = SetTrailingDelimiter(base, true);
      if (opts.Contains(ExtrForceDirs)) MakeFolderPath(SetTrailingDelimiter(base, false));
      if (!FolderExists(base))
        throw EZipMate::CreateStr(ZM_CODE(zmmZMDllOpr, zmsExtractDirectoryMustExist), base);
    }
    FArg0 = archive;
    // The engine reads single files: a split archive is first joined into a scratch
    // file (without a name where the system allows), gone again whatever happens next.
    TZMNewFile joined(*this);
    if (unlisted ? multiPart : ListedIsMultiPart()) {
      if (JoinToScratch(FArg0, joined) != 0) return;
      FArg0 = joined.OpenName();
    }
    if (LoadEngineDll() <= 0) return;
    const TZMEngineRun after(*this, [this] {
      WorkingSpecs().Clear();
      FPipes->Clear();
      FreeCommand();
    });
    m.Pipes().MoveTo(FPipes.get());
    InsertPipeSpecs();
    TDZCommand* cmd = BuildExtractCommand(FArg0);
    FEventErr.clear();
    if (Unattended() && m.Password().empty() && !m.OnPasswordError) ReportFormatted(130, {});
    SetSuccessCnt(ExecEngine(cmd));
  } catch (EZMException& e) {
    ShowRunFailure(e);
  }
}

int32_t TZMDLLOpr::StreamConvert(TStream* source, TStream* dest, uint32_t& crc, int32_t& method,
                                 int64_t size) {
  if (!source) return ZM_ERROR(zmmZMDllOpr, zmsNoInputStream);
  if (!dest) return ZM_ERROR(zmmZMDllOpr, zmsNoOutputStream);
  if (source == &WorkStream()) return ZM_ERROR(zmmZMDllOpr, zmsInputStreamIsOutputStream);
  bool encrypt = method == 1 || method == 3;
  bool deflate = method == 2 || method == 3;
  if (encrypt && Unattended() && Master().Password().empty())
    return ZM_ERROR(zmmZMDllOpr, zmsUnattendedWithoutPassword);
  TZMAddOpts saved = AddOptions();
  TZMAddOpts a = saved;
  if (encrypt)
    a.Include(AddEncrypt);
  else
    a.Exclude(AddEncrypt);
  SetAddOptions(a);
  const int32_t failed = ZM_ERROR(zmmZMDllOpr, zmsFailedToLoad);
  int32_t result = failed;
  if (LoadEngineDll() <= 0) {
    SetAddOptions(saved);
    return failed;
  }
  try {
    TDZCommand* cmd = BuildAddCommand(std::string());
    FConvert = std::make_unique<TDZStreamConvert>();
    std::memset(FConvert.get(), 0, sizeof(TDZStreamConvert));
    FConvert->Method = deflate ? 8 : 0;
    FConvert->Size = size < 0 ? source->Size() : size;
    FConvert->Source = source;
    FConvert->Dest = dest;
    cmd->OpData = FConvert.get();
    FEventErr.clear();
    if (RunEngine(cmd) == 1) {
      SetSuccessCnt(1);
      method = FConvert->Method == 8 ? 2 : 0;
      crc = FConvert->Crc;
      result = 0;
    }
  } catch (...) {
    result = failed;
  }
  FreeCommand();
  ReleaseEngineDll();
  SetAddOptions(saved);
  return result;
}

// ---- Component-side entries ----

void ZMRunExtract(TCustomZipMate& comp, const std::string* unlisted) {
  TZMFileOpr::Start<TZMDLLOpr>(comp)->RunExtract(unlisted);
}

void ZMSetEngineHeld(TCustomZipMate& comp, bool load) {
  TZMFileOpr::Start<TZMDLLOpr>(comp)->SetEngineHeld(load);
}

bool ZMEngineHeld(const TCustomZipMate& comp) {
  return DLLLoader().Holds(const_cast<TCustomZipMate*>(&comp));
}

void ZMEngineInfo(const TCustomZipMate& comp, TZMEngineInfo& info) {
  info = TZMEngineInfo();
  TZMDLLLoader& loader = DLLLoader();
  if (!ZMEngineHeld(comp) || !loader.Loaded()) return;
  info.Version = loader.Version();
  info.PrivVersion = loader.PrivVersion();
  info.Name = loader.DllName();
  info.Banner = loader.Banner();
}

void ZMDropEngine(TCustomZipMate& comp) {
  // The entry goes first, whatever its count, so that the release that follows unloads
  // the library when nobody else holds it (a component with two holds would otherwise
  // leave it loaded without a holder).
  TZMDLLLoader& loader = DLLLoader();
  loader.RemoveHolder(&comp);
  loader.Release(nullptr, &comp);
}
