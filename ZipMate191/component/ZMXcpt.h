// The component's exceptions and the layout of its error codes.
//
// An error code is a signed 32-bit integer; its absolute value holds the message
// number in bits 0-8, the source line in bits 9-22 and the module number in bits
// 23-30. A negative value is an error returned by a function.
#pragma once
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <vector>

#include "ZMClasses.h"

// Module numbers carried in error codes; the component's main module is 1.
enum TZMModuleNo : int {
  zmmZipMate = 1,
  zmmZMXcpt,
  zmmZMLister,
  zmmZMCenDir,
  zmmZMCore,
  zmmZMWorkFile,
  zmmZMDrv,
  zmmZMWZip,
  zmmZMEOC,
  zmmZMIRec,
  zmmZMCentral,
  zmmZMHash,
  zmmZMZipFile,
  zmmZMDllLoad,
  zmmZMDllOpr,
  zmmZMFileOpr,
  zmmZMModOpr,
  zmmZMMsgStr,
  zmmZMMsg,
  zmmZMDefMsgs,
  zmmZMInflt,
  zmmZMUtils,
  zmmZMUTF8,
  zmmZMWFuncs,
  zmmZMMatch,
  zmmZMDlg,
  zmmZMNewFile,
  zmmZMAddOpr
};

// The absolute value of a code for a message raised at a module's line.
constexpr int32_t ZMMakeCode(int module, int line, int msg) {
  return int32_t(((uint32_t(module) & 0xFF) << 23) | ((uint32_t(line) & 0x3FFF) << 9) |
                 (uint32_t(msg) & 0x1FF));
}
// The message number of a code (of its absolute value; INT32_MIN included).
constexpr int ZMMsgOf(int32_t code) { return int((code < 0 ? 0u - uint32_t(code) : uint32_t(code)) & 0x1FF); }
// The absolute value of a code; INT32_MIN, which has none, keeps its low 31 bits.
constexpr int32_t ZMAbsCode(int32_t code) {
  return code >= 0 ? code : int32_t((0u - uint32_t(code)) & 0x7FFFFFFF);
}

// A positive code for the current line of the given module.
#define ZM_CODE(module, msg) ZMMakeCode((module), __LINE__, (msg))
// A negative (returned) error code for the current line of the given module.
#define ZM_ERROR(module, msg) (-ZMMakeCode((module), __LINE__, (msg)))

class EZMException : public std::exception {
 public:
  // Message text: the message's text formatted with the arguments.
  static EZMException CreateMsg(int32_t code, std::initializer_list<TFmtArg> args = {});
  // Message text "TZipMate exception"; the code and show flag as given.
  static EZMException CreateCode(int32_t code, bool show = true);

  const char* what() const noexcept override { return FMessage.c_str(); }
  const std::string& Message() const { return FMessage; }
  void SetMessage(std::string m) { FMessage = std::move(m); }
  // The text to show for this exception, in the component's 8-bit form.
  std::string DisplayText() const;

  uint8_t ArgKind = 0;   // 0: message text final; 1: format filled with StrArg
  std::string StrArg;    // the string argument when ArgKind is 1
  int32_t FullCode = 0;  // absolute value of the code
  bool Show = true;      // shown in a dialog when reported
  int32_t MsgId = 0;     // FullCode AND 0x1FF
  int HelpContext = 0;

 protected:
  EZMException() = default;
  // Sets the code and the message text; false when the text had to be replaced by
  // "Unknown error (n)".
  bool SetCode(int32_t code);
  void InitMsg(int32_t code, const std::vector<TFmtArg>& args);
  void InitCode(int32_t code, bool show);
  // The factories' work for this class and those derived from it.
  template <class E>
  static E MadeMsg(int32_t code, const std::vector<TFmtArg>& args) {
    E e;
    e.InitMsg(code, args);
    return e;
  }
  template <class E>
  static E MadeCode(int32_t code, bool show) {
    E e;
    e.InitCode(code, show);
    return e;
  }
  std::string FMessage;
};

class EZipMate : public EZMException {
 public:
  static EZipMate CreateMsg(int32_t code, std::initializer_list<TFmtArg> args = {});
  static EZipMate CreateCode(int32_t code, bool show = true);
  // CreateMsg with one integer argument.
  static EZipMate CreateInt(int32_t code, int64_t value);
  // CreateMsg with one string argument, kept for the display text.
  static EZipMate CreateStr(int32_t code, const std::string& value);
};
