// The component's exceptions and the layout of its error codes.
//
// An error code is a signed 32-bit integer; its absolute value holds the message
// number in bits 0-8, the source line in bits 9-22 and the module number in bits
// 23-30. A negative value is an error returned by a function.
#pragma once
#include <cstdint>
#include <exception>
#include <string>

// Module numbers carried in error codes; the component's main module is 1.
enum TZMModuleNo : int {
  zmmZipMate = 1, zmmZMXcpt, zmmZMLister, zmmZMCenDir, zmmZMCore, zmmZMWorkFile, zmmZMDrv,
  zmmZMWZip, zmmZMEOC, zmmZMIRec, zmmZMCentral, zmmZMHash, zmmZMZipFile, zmmZMDllLoad,
  zmmZMDllOpr, zmmZMFileOpr, zmmZMModOpr, zmmZMMsgStr, zmmZMMsg, zmmZMDefMsgs, zmmZMInflt,
  zmmZMUtils, zmmZMUTF8, zmmZMWFuncs, zmmZMMatch, zmmZMDlg
};

// The absolute value of a code for a message raised at a module's line.
constexpr int32_t ZMMakeCode(int module, int line, int msg) {
  return int32_t(((uint32_t(module) & 0xFF) << 23) | ((uint32_t(line) & 0x3FFF) << 9) |
                 (uint32_t(msg) & 0x1FF));
}
constexpr int ZMMsgOf(int32_t code) { return int((code < 0 ? -code : code) & 0x1FF); }

// A positive code for the current line of the given module.
#define ZM_CODE(module, msg) ZMMakeCode((module), __LINE__, (msg))
// A negative (returned) error code for the current line of the given module.
#define ZM_ERROR(module, msg) (-ZMMakeCode((module), __LINE__, (msg)))

class EZMException : public std::exception {
 public:
  // Message text "TZipMate exception"; the code and show flag as given.
  static EZMException CreateCode(int32_t code, bool show = true);

  const char* what() const noexcept override { return FMessage.c_str(); }
  const std::string& Message() const { return FMessage; }
  void SetMessage(std::string m) { FMessage = std::move(m); }

  uint8_t ArgKind = 0;     // 0: message text final; 1: format filled with StrArg
  std::string StrArg;      // the string argument when ArgKind is 1
  int32_t FullCode = 0;    // absolute value of the code
  bool Show = true;        // shown in a dialog when reported
  int32_t MsgId = 0;       // FullCode AND 0x1FF
  int HelpContext = 0;

 protected:
  EZMException() = default;
  void SetCode(int32_t code);
  std::string FMessage;
};

class EZipMate : public EZMException {
 public:
  static EZipMate CreateCode(int32_t code, bool show = true);
};
