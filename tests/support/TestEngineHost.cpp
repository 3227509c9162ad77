#include "TestEngineHost.h"

#include <algorithm>
#include <cstring>

#include "PlatDynLib.h"

namespace zmtest {

bool TEngineLib::Load(const char* path) {
  Handle = plat::LibLoad(path);
  if (!Handle) {
    Error = plat::LastLibErrorText();
    return false;
  }
  const std::string missing = Bind([this](const char* name) { return plat::LibSymbol(Handle, name); });
  if (!missing.empty()) Error = "not exported: " + missing;
  return Error.empty();
}

std::string TextOf(const void* p, int32_t form) {
  if (!p) return "";
  if (form == 0) return std::string(static_cast<const char*>(p));
  // UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
  std::string out;
  for (const char16_t* w = static_cast<const char16_t*>(p); *w; ++w) {
    uint32_t c = *w;
    if (c >= 0xD800 && c < 0xDC00 && w[1] >= 0xDC00 && w[1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(w[1]) - 0xDC00);
      ++w;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | (c >> 18));
      out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

int TEngineHost::Exec(TDZExecFunc exec) {
  TDZCommand cmd{};
  cmd.Worker = this;
  cmd.CmdVersion = DZ_CMD_VERSION;
  cmd.Callback = &TEngineHost::Callback;
  cmd.StreamCallback = WithStreams ? &TEngineHost::StreamCallback : nullptr;
  cmd.Options = Options;
  cmd.PwdReqCount = PwdReqCount;
  cmd.Level = Level;
  cmd.OpData = OpData;
  cmd.Magic = DZ_CMD_MAGIC;
  return exec(&cmd);
}

bool TEngineHost::HasSkip(int type) const {
  for (const TSkip& s : Skips)
    if (s.Type == type) return true;
  return false;
}

std::map<std::string, int> TEngineHost::SkipTypes() const {
  std::map<std::string, int> types;
  for (const TSkip& s : Skips) types[s.Name] = s.Type;
  return types;
}

std::string TEngineHost::AllMessages() const {
  std::string s;
  for (const TMsg& m : Messages) s += std::to_string(DZErrorNumber(m.Code)) + ":" + m.Text + "\n";
  return s;
}

int32_t DZ_CALL TEngineHost::Callback(void* p) {
  auto& rec = *static_cast<TDZCallbackRec*>(p);
  if (rec.Magic != DZ_CALLBACK_MAGIC) return -5;
  return static_cast<TEngineHost*>(rec.Worker)->Handle(rec);
}

int32_t TEngineHost::Handle(TDZCallbackRec& rec) {
  const int action = DZCallbackAction(rec.Request);
  Actions.push_back(action);
  const bool progress = action == DZ_CB_ITEM || action == DZ_CB_STEP || action == DZ_CB_BATCH_END ||
                        action == DZ_CB_TOTAL_ITEMS || action == DZ_CB_TOTAL_BYTES;
  if (progress) {
    if (action == DZ_CB_ITEM && rec.ItemSize >= 0) Items.push_back(TextOf(rec.Text1, rec.TextForm));
    if (action == DZ_CB_TOTAL_ITEMS) TotalItems = uint32_t(rec.Param1);
    if (action == DZ_CB_TOTAL_BYTES) TotalBytes = rec.ItemSize;
    if (action == DZ_CB_STEP) StepBytes += rec.ItemSize;
    return OnProgress ? OnProgress(action, rec.ItemSize) : 0;
  }
  switch (action) {
    case DZ_CB_MESSAGE: Messages.push_back({rec.Param1, TextOf(rec.Text1, rec.TextForm)}); return 0;
    case DZ_CB_PASSWORD: {
      ++PasswordAsks;
      if (!OnPassword) return 2;  // no password to give
      int32_t tries = rec.Param1;
      std::string pwd;
      const int r = OnPassword(TextOf(rec.Text1, rec.TextForm), tries, pwd);
      rec.Param1 = tries;
      if (r == 1) GiveText(rec, pwd);
      return r;
    }
    case DZ_CB_CRC_ERROR:
      return OnCrc ? OnCrc(TextOf(rec.Text1, rec.TextForm), uint32_t(rec.Param1), uint32_t(rec.Param2)) : 0;
    case DZ_CB_OVERWRITE:
      return OnOverwrite ? OnOverwrite(TextOf(rec.Text1, rec.TextForm), rec.Param1, rec.Param2, rec.Param3)
                         : 0;
    case DZ_CB_SKIPPED: {
      TSkip s{TextOf(rec.Text1, rec.TextForm), rec.Param2 - 1, rec.Param1};
      Skips.push_back(s);
      return OnSkipped ? OnSkipped(s) : 0;
    }
    case DZ_CB_EXT_NAME: {
      if (!OnExtName) return 0;
      std::string name = TextOf(rec.Text1, rec.TextForm);
      const int r = OnExtName(name, TextOf(rec.Text2, rec.TextForm));
      if (r == 1) GiveText(rec, name);
      return r;
    }
    case DZ_CB_OP_KEY: Key = uint32_t(rec.Param1); return 0;
    case DZ_CB_ARG: return HandleArg(rec);
    default: return -1;
  }
}

void TEngineHost::GiveText(TDZCallbackRec& rec, const std::string& s) {
  FTextBuf = s;
  FTextBuf.append(4, '\0');
  rec.Text1 = FTextBuf.data();
  rec.TextForm = 2;
}

int32_t TEngineHost::HandleArg(TDZCallbackRec& rec) {
  const int kind = rec.Param1, index = rec.Param3;
  auto listItem = [&](const std::vector<std::string>& list) {
    if (index < 0) return -5;
    rec.Param3 = int32_t(list.size());
    if (size_t(index) >= list.size()) {
      GiveText(rec, "");
      return 0;
    }
    GiveText(rec, list[size_t(index)]);
    return 1;
  };
  switch (kind) {
    case DZ_ARG_ARCHIVE: GiveText(rec, Archive); return 1;
    case DZ_ARG_PASSWORD: GiveText(rec, Password); return 1;
    case DZ_ARG_ROOT: GiveText(rec, Root); return 1;
    case DZ_ARG_BASE: GiveText(rec, Base); return 1;
    case DZ_ARG_SPEC: return listItem(Specs);
    case DZ_ARG_EXCLUDE: return listItem(Excludes);
    case DZ_ARG_TEMP: GiveText(rec, Temp); return 1;
    case DZ_ARG_COMMENT:
    case DZ_ARG_STORE_SUFFIX: GiveText(rec, ""); return 1;
    default: return -5;
  }
}

int32_t DZ_CALL TEngineHost::StreamCallback(void* p) {
  auto& rec = *static_cast<TDZStreamRec*>(p);
  if (rec.Magic != DZ_STREAM_MAGIC) return -5;
  return static_cast<TEngineHost*>(rec.Worker)->HandleStream(rec);
}

int32_t TEngineHost::HandleStream(TDZStreamRec& rec) {
  if (rec.StreamOp == DZ_SO_IDENTIFY || rec.StreamOp == DZ_SO_OPEN) {
    if (rec.StreamOp == DZ_SO_OPEN) rec.StreamRef = nullptr;
    auto it = Streams.find(rec.StreamNo);
    if (it == Streams.end()) return 0;
    TMemStream& s = it->second;
    if (rec.StreamOp == DZ_SO_IDENTIFY) {
      rec.Pos = int64_t(s.Data.size());
    } else {
      s.Pos = 0;
      s.Closed = false;
      rec.StreamRef = &s;
    }
    return 1;
  }
  // The other operations name an open stream by its reference.
  TMemStream* s = nullptr;
  for (auto& [no, open] : Streams)
    if (&open == rec.StreamRef) s = &open;
  if (!s) return 0;
  switch (rec.StreamOp) {
    case DZ_SO_CLOSE:
      s->Closed = true;
      rec.StreamRef = nullptr;
      return 1;
    case DZ_SO_SEEK: {
      const int origin = rec.ByteCount & 0xFF;
      int64_t base = origin == 0 ? 0 : origin == 1 ? s->Pos : int64_t(s->Data.size());
      const int64_t np = base + rec.Pos;
      if (np < 0) return 0;
      s->Pos = np;
      rec.Pos = np;
      return 1;
    }
    case DZ_SO_READ: {
      int64_t avail = std::max<int64_t>(0, int64_t(s->Data.size()) - s->Pos);
      const int32_t n = int32_t(std::min<int64_t>(avail, rec.ByteCount));
      if (n > 0) std::memcpy(rec.DataPtr, s->Data.data() + s->Pos, size_t(n));
      s->Pos += n;
      rec.ByteCount = n;
      return 1;
    }
    case DZ_SO_WRITE:
      if (!s->Discard) {
        if (size_t(s->Pos) > s->Data.size()) s->Data.resize(size_t(s->Pos));
        s->Data.replace(size_t(s->Pos), size_t(rec.ByteCount), static_cast<const char*>(rec.DataPtr),
                        size_t(rec.ByteCount));
      }
      s->Pos += rec.ByteCount;
      return 1;
    default: return 0;
  }
}

}  // namespace zmtest
