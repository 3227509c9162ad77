#include "ZMXcpt.h"

void EZMException::SetCode(int32_t code) {
  FullCode = code < 0 ? -code : code;
  MsgId = FullCode & 0x1FF;
}

EZMException EZMException::CreateCode(int32_t code, bool show) {
  EZMException e;
  e.FMessage = "TZipMate exception";
  e.SetCode(code);
  e.Show = show;
  return e;
}

EZipMate EZipMate::CreateCode(int32_t code, bool show) {
  EZipMate e;
  e.FMessage = "TZipMate exception";
  e.SetCode(code);
  e.Show = show;
  return e;
}
