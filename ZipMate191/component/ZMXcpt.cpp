#include "ZMXcpt.h"

#include "ZMMsgStr.h"
#include "ZMUTF8.h"

bool EZMException::SetCode(int32_t code) {
  FullCode = ZMAbsCode(code);
  MsgId = FullCode & 0x1FF;
  FMessage = LoadMessage(MsgId);
  if (DisplayText().empty()) {
    FMessage = Format("Unknown error (%d)", {MsgId});
    MsgId = 1;
    return false;
  }
  return true;
}

void EZMException::InitMsg(int32_t code, const std::vector<TFmtArg>& args) {
  FMessage = "TZipMate exception";
  if (SetCode(code)) FMessage = Format(DisplayText(), args);
  Show = true;
  ArgKind = 0;
}

void EZMException::InitCode(int32_t code, bool show) {
  FMessage = "TZipMate exception";
  SetCode(code);
  Show = show;
  ArgKind = 0;
}

std::string EZMException::DisplayText() const {
  if (!UTF8Mode()) return FMessage;
  if (ArgKind == 1) {
    std::string fmt = Utf8FromAnsi(LoadMessage(MsgId));
    return fmt.empty() ? fmt : Format(fmt, {StrArg});
  }
  return Utf8FromAnsi(FMessage);
}

EZMException EZMException::CreateMsg(int32_t code, std::initializer_list<TFmtArg> args) {
  return MadeMsg<EZMException>(code, args);
}

EZMException EZMException::CreateCode(int32_t code, bool show) { return MadeCode<EZMException>(code, show); }

EZipMate EZipMate::CreateMsg(int32_t code, std::initializer_list<TFmtArg> args) {
  return MadeMsg<EZipMate>(code, args);
}

EZipMate EZipMate::CreateCode(int32_t code, bool show) { return MadeCode<EZipMate>(code, show); }

EZipMate EZipMate::CreateInt(int32_t code, int64_t value) { return CreateMsg(code, {value}); }

EZipMate EZipMate::CreateStr(int32_t code, const std::string& value) {
  EZipMate e = CreateMsg(code, {value});
  e.ArgKind = 1;
  e.StrArg = value;
  return e;
}
