// The binary interface between the zip component and the engine library
// DzEngine190.dll: entry points, command block, callback record, stream record and the
// record of a stream conversion. Little-endian; on 32-bit targets the records have
// their fixed sizes (76, 60, 48 and 24 bytes), on 64-bit targets the same fields in the
// same order with pointer fields widened to 8 bytes and natural alignment.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#if defined(_WIN32) && !defined(_WIN64)
#define DZ_CALL __stdcall
#else
#define DZ_CALL
#endif

#if defined(_WIN32)
#define DZ_EXPORT __declspec(dllexport)
#else
#define DZ_EXPORT __attribute__((visibility("default")))
#endif

#if UINTPTR_MAX == 0xFFFFFFFFu
#define DZ_32BIT 1
#pragma pack(push, 4)
#else
#define DZ_32BIT 0
#endif

extern "C" {

// Both callbacks take a pointer to their record and answer a small signed integer.
typedef int32_t(DZ_CALL* TDZCallbackFunc)(void* record);
typedef int32_t(DZ_CALL* TDZStreamFunc)(void* record);

inline constexpr uint32_t DZ_CMD_MAGIC = 0x03070505u;
inline constexpr int32_t DZ_CALLBACK_MAGIC = 1799;
inline constexpr int32_t DZ_STREAM_MAGIC = 1803;
inline constexpr int32_t DZ_CMD_VERSION = 190;
inline constexpr int32_t DZ_VERSION = 190;

// Command block handed to DZ_Exec; zero-filled by the caller.
struct TDZCommand {
  void* ParentWindow;            // owner window or null
  void* Worker;                  // returned unchanged in every callback record
  int32_t CmdVersion;            // 190
  TDZCallbackFunc Callback;      // main callback
  TDZStreamFunc StreamCallback;  // stream callback
  int32_t MsgLevel;              // -1 trace, 1 verbose, 0 quiet
  int32_t NameEncoding;          // extract: encoding option; add: 2 OEM, 3 UTF-8, else 0
  void* OpData;                  // null, or a TDZStreamConvert for the add command
  int32_t CodePage;              // code page of 8-bit entry names (0: the user's OEM code page)
  uint32_t Options;              // DZ_OPT_* bits
  int32_t PwdReqCount;           // password questions per entry
  int32_t NameWriteEnc;
  int32_t Level;  // add: compression level 0-9
  uint32_t FromDate;
  // The OEM code page the caller decodes names of MS-DOS and OS/2 entries with (0: the
  // user's), so that the engine writes the names the caller lists.
  int32_t OemCodePage;
  uint8_t Reserved[12];
  uint32_t Magic;  // DZ_CMD_MAGIC
};

// Main callback record, filled by the engine; answers are written back into it.
struct TDZCallbackRec {
  void* Worker;
  uint32_t Reserved;
  int32_t ZipOp;     // non-zero in the add command
  int32_t Request;   // action in the low 6 bits (DZ_CB_*)
  int32_t TextForm;  // from the engine: non-zero = UTF-16 texts; back: 2 = UTF-8, 0 = 8-bit
  const void* Text1;
  const void* Text2;
  int64_t ItemSize;
  int64_t ItemDone;
  int32_t Param1;
  int32_t Param2;
  int32_t Param3;
  int32_t Magic;  // DZ_CALLBACK_MAGIC
};

// Stream callback record.
struct TDZStreamRec {
  void* Worker;
  uint32_t Reserved0;
  void* StreamRef;   // the stream object; set by open, cleared by close
  int32_t StreamNo;  // pipe index or application stream number
  uint8_t StreamOp;  // DZ_SO_*
  uint8_t Reserved1[3];
  void* DataPtr;
  int64_t Pos;        // seek offset in, position out; size out for identify
  int32_t ByteCount;  // count in, bytes moved out; seek: origin in the low byte
  uint32_t Info1;     // identify: DOS date and time
  uint32_t Info2;     // identify: attributes
  int32_t Magic;      // DZ_STREAM_MAGIC
};

// Record of a stream conversion (OpData of the add command).
struct TDZStreamConvert {
  int32_t Method;  // 8 deflate, 0 store; the method used after the run
  uint32_t Crc;    // CRC-32 of the source data after the run
  int64_t Size;    // source bytes, negative for all; bytes read after the run
  void* Source;    // stream reference of the source
  void* Dest;      // stream reference of the destination
};

// One file of a packing run (the add command with DZ_OPT_PACK): the engine reads and
// compresses it and writes its data, in the order of the items, to the stream it opens
// with number DZ_PACK_STREAM + index and closes again after the data.
struct TDZPackItem {
  const char* Path;  // UTF-8 name of the file to read
  int32_t Level;     // in: 0 store, 1-9 deflate; out (at the open): the method, 0 or 8
  uint32_t Flags;    // DZ_PACK_* bits; DZ_PACK_KNOWN is set by the engine
  uint32_t DosTime;  // the entry's date and time
  int32_t Result;    // out: 1 written, 0 skipped before any data, negative error
  int64_t Size;      // in: the size the file had; out: bytes read
  int64_t CompSize;  // out: bytes written, with an encryption header
  uint32_t Crc;      // out: CRC-32 of the bytes read
  uint32_t Reserved;
};
// OpData of the packing run.
struct TDZPackJob {
  int32_t Count;
  int32_t Threads;  // compressing threads; 0 or less: one per processor
  TDZPackItem* Items;
};
inline constexpr uint32_t DZ_PACK_ENCRYPT = 1;  // traditional encryption with the password
inline constexpr uint32_t DZ_PACK_AES = 2;      // with DZ_PACK_ENCRYPT: AES-256 (AE-2) instead
// The item's CRC and sizes are final when its stream is opened (else they are so when
// it is closed, and an encryption header checks the time instead of the CRC).
inline constexpr uint32_t DZ_PACK_KNOWN = 0x100;
inline constexpr int32_t DZ_PACK_STREAM = 0x40000000;

// Callback actions.
enum : int32_t {
  DZ_CB_ITEM = 1,  // new item (Text1 name, ItemSize size; -1 ends the item)
  DZ_CB_STEP = 2,  // ItemSize bytes more done
  DZ_CB_BATCH_END = 3,
  DZ_CB_TOTAL_ITEMS = 4,  // Param1 items
  DZ_CB_TOTAL_BYTES = 5,  // ItemSize bytes
  DZ_CB_EXTRA = 6,        // Param1 stage number, ItemSize its size
  DZ_CB_EXTRA_STEP = 7,
  DZ_CB_MESSAGE = 8,  // Text1 text, Param1 code
  DZ_CB_ADD_NAME = 9,
  DZ_CB_PASSWORD = 10,   // Text1 entry, Param1 tries left; answer 1 new text, 2 skip, 3 none, -3 abort
  DZ_CB_CRC_ERROR = 11,  // Text1 entry, Param1 found, Param2 expected; answer 1 keep, 3 drop
  DZ_CB_OVERWRITE = 12,  // Text1 file, Param1 default, Param2 index, Param3 1 older / 2 not
  DZ_CB_SKIPPED = 13,    // Text1 entry, Param1 engine error, Param2 skip type + 1
  DZ_CB_COMMENT = 14,
  DZ_CB_LEVEL = 15,
  DZ_CB_EXT_NAME = 16,
  DZ_CB_OP_KEY = 18,  // Param1 key for DZ_Abort
  DZ_CB_ARG = 19      // Param1 kind, Param3 index
};

// The action of a callback request: its low 6 bits (the rest carry flags).
inline constexpr int32_t DZ_CB_ACTION_MASK = 0x3F;
inline int DZCallbackAction(int32_t request) { return int(request & DZ_CB_ACTION_MASK); }
// The engine's error number in a message code or skip reason: its low 6 bits.
inline int32_t DZErrorNumber(int32_t code) { return code & 0x3F; }

// Text argument kinds of DZ_CB_ARG.
enum : int32_t {
  DZ_ARG_ARCHIVE = 0,
  DZ_ARG_PASSWORD = 1,
  DZ_ARG_ROOT = 2,
  DZ_ARG_BASE = 3,
  DZ_ARG_COMMENT = 4,
  DZ_ARG_SPEC = 5,
  DZ_ARG_EXCLUDE = 6,
  DZ_ARG_STORE_SUFFIX = 7,
  DZ_ARG_TEMP = 8
};

// Stream operations.
enum : uint8_t {
  DZ_SO_IDENTIFY = 0,
  DZ_SO_OPEN = 1,
  DZ_SO_CLOSE = 2,
  DZ_SO_SEEK = 3,
  DZ_SO_READ = 4,
  DZ_SO_WRITE = 5
};

// Option bits of the command block.
inline constexpr uint32_t DZ_OPT_ADD = 0x01;
inline constexpr uint32_t DZ_OPT_EXTRACT = 0x04;
inline constexpr uint32_t DZ_OPT_TEST = 0x08;
inline constexpr uint32_t DZ_OPT_ALWAYS = 0x20;
inline constexpr uint32_t DZ_OPT_PACK = 0x40;  // add: OpData is a TDZPackJob
inline constexpr uint32_t DZ_OPT_UPDATE = 0x80;
inline constexpr uint32_t DZ_OPT_FRESHEN = 0x100;
inline constexpr uint32_t DZ_OPT_DIRNAMES = 0x200;
inline constexpr uint32_t DZ_OPT_OVERWRITE = 0x400;
inline constexpr uint32_t DZ_OPT_ENCRYPT = 0x2000000;
inline constexpr uint32_t DZ_OPT_NTFS = 0x08000000;

// Message code bits (action 8): engine error in the low 6 bits; a category of 0x200
// or more with DZ_MSG_PREFIX asks the receiver to put its own text for the error in
// front of the engine's text.
inline constexpr int32_t DZ_MSG_ERROR = 0x200;
inline constexpr int32_t DZ_MSG_WARNING = 0x100;
inline constexpr int32_t DZ_MSG_PREFIX = 0x800;

// Entry points.
DZ_EXPORT int32_t DZ_CALL DZ_Exec(const TDZCommand* cmd);
DZ_EXPORT int32_t DZ_CALL DZ_Abort(uint32_t key);
DZ_EXPORT int32_t DZ_CALL DZ_Version(void);
DZ_EXPORT int32_t DZ_CALL DZ_PrivVersion(void);
DZ_EXPORT int32_t DZ_CALL DZ_Name(char* buffer, int32_t size, int32_t wide);
DZ_EXPORT const char* DZ_CALL DZ_Banner(void);
DZ_EXPORT const char* DZ_CALL DZ_Path(void);

typedef int32_t(DZ_CALL* TDZExecFunc)(const TDZCommand*);
typedef int32_t(DZ_CALL* TDZAbortFunc)(uint32_t);
typedef int32_t(DZ_CALL* TDZVersionFunc)(void);
typedef int32_t(DZ_CALL* TDZNameFunc)(char*, int32_t, int32_t);
typedef const char*(DZ_CALL* TDZBannerFunc)(void);
typedef const char*(DZ_CALL* TDZPathFunc)(void);

}  // extern "C"

#if DZ_32BIT
#pragma pack(pop)
static_assert(sizeof(TDZCommand) == 76);
static_assert(offsetof(TDZCommand, Worker) == 4);
static_assert(offsetof(TDZCommand, CmdVersion) == 8);
static_assert(offsetof(TDZCommand, Callback) == 12);
static_assert(offsetof(TDZCommand, StreamCallback) == 16);
static_assert(offsetof(TDZCommand, MsgLevel) == 20);
static_assert(offsetof(TDZCommand, NameEncoding) == 24);
static_assert(offsetof(TDZCommand, OpData) == 28);
static_assert(offsetof(TDZCommand, CodePage) == 32);
static_assert(offsetof(TDZCommand, Options) == 36);
static_assert(offsetof(TDZCommand, PwdReqCount) == 40);
static_assert(offsetof(TDZCommand, NameWriteEnc) == 44);
static_assert(offsetof(TDZCommand, Level) == 48);
static_assert(offsetof(TDZCommand, FromDate) == 52);
static_assert(offsetof(TDZCommand, OemCodePage) == 56);
static_assert(offsetof(TDZCommand, Reserved) == 60);
static_assert(offsetof(TDZCommand, Magic) == 72);

static_assert(sizeof(TDZCallbackRec) == 60);
static_assert(offsetof(TDZCallbackRec, ZipOp) == 8);
static_assert(offsetof(TDZCallbackRec, Request) == 12);
static_assert(offsetof(TDZCallbackRec, TextForm) == 16);
static_assert(offsetof(TDZCallbackRec, Text1) == 20);
static_assert(offsetof(TDZCallbackRec, Text2) == 24);
static_assert(offsetof(TDZCallbackRec, ItemSize) == 28);
static_assert(offsetof(TDZCallbackRec, ItemDone) == 36);
static_assert(offsetof(TDZCallbackRec, Param1) == 44);
static_assert(offsetof(TDZCallbackRec, Param2) == 48);
static_assert(offsetof(TDZCallbackRec, Param3) == 52);
static_assert(offsetof(TDZCallbackRec, Magic) == 56);

static_assert(sizeof(TDZStreamRec) == 48);
static_assert(offsetof(TDZStreamRec, StreamRef) == 8);
static_assert(offsetof(TDZStreamRec, StreamNo) == 12);
static_assert(offsetof(TDZStreamRec, StreamOp) == 16);
static_assert(offsetof(TDZStreamRec, DataPtr) == 20);
static_assert(offsetof(TDZStreamRec, Pos) == 24);
static_assert(offsetof(TDZStreamRec, ByteCount) == 32);
static_assert(offsetof(TDZStreamRec, Info1) == 36);
static_assert(offsetof(TDZStreamRec, Info2) == 40);
static_assert(offsetof(TDZStreamRec, Magic) == 44);

static_assert(sizeof(TDZStreamConvert) == 24);
static_assert(offsetof(TDZStreamConvert, Crc) == 4);
static_assert(offsetof(TDZStreamConvert, Size) == 8);
static_assert(offsetof(TDZStreamConvert, Source) == 16);
static_assert(offsetof(TDZStreamConvert, Dest) == 20);
#else
static_assert(sizeof(TDZCommand) == 104);
static_assert(offsetof(TDZCommand, Worker) == 8);
static_assert(offsetof(TDZCommand, CmdVersion) == 16);
static_assert(offsetof(TDZCommand, Callback) == 24);
static_assert(offsetof(TDZCommand, StreamCallback) == 32);
static_assert(offsetof(TDZCommand, MsgLevel) == 40);
static_assert(offsetof(TDZCommand, NameEncoding) == 44);
static_assert(offsetof(TDZCommand, OpData) == 48);
static_assert(offsetof(TDZCommand, CodePage) == 56);
static_assert(offsetof(TDZCommand, Options) == 60);
static_assert(offsetof(TDZCommand, PwdReqCount) == 64);
static_assert(offsetof(TDZCommand, NameWriteEnc) == 68);
static_assert(offsetof(TDZCommand, Level) == 72);
static_assert(offsetof(TDZCommand, FromDate) == 76);
static_assert(offsetof(TDZCommand, OemCodePage) == 80);
static_assert(offsetof(TDZCommand, Reserved) == 84);
static_assert(offsetof(TDZCommand, Magic) == 96);

static_assert(sizeof(TDZCallbackRec) == 72);
static_assert(offsetof(TDZCallbackRec, ZipOp) == 12);
static_assert(offsetof(TDZCallbackRec, Request) == 16);
static_assert(offsetof(TDZCallbackRec, TextForm) == 20);
static_assert(offsetof(TDZCallbackRec, Text1) == 24);
static_assert(offsetof(TDZCallbackRec, Text2) == 32);
static_assert(offsetof(TDZCallbackRec, ItemSize) == 40);
static_assert(offsetof(TDZCallbackRec, ItemDone) == 48);
static_assert(offsetof(TDZCallbackRec, Param1) == 56);
static_assert(offsetof(TDZCallbackRec, Param2) == 60);
static_assert(offsetof(TDZCallbackRec, Param3) == 64);
static_assert(offsetof(TDZCallbackRec, Magic) == 68);

static_assert(sizeof(TDZStreamRec) == 64);
static_assert(offsetof(TDZStreamRec, StreamRef) == 16);
static_assert(offsetof(TDZStreamRec, StreamNo) == 24);
static_assert(offsetof(TDZStreamRec, StreamOp) == 28);
static_assert(offsetof(TDZStreamRec, DataPtr) == 32);
static_assert(offsetof(TDZStreamRec, Pos) == 40);
static_assert(offsetof(TDZStreamRec, ByteCount) == 48);
static_assert(offsetof(TDZStreamRec, Info1) == 52);
static_assert(offsetof(TDZStreamRec, Info2) == 56);
static_assert(offsetof(TDZStreamRec, Magic) == 60);

static_assert(sizeof(TDZStreamConvert) == 32);
static_assert(offsetof(TDZStreamConvert, Crc) == 4);
static_assert(offsetof(TDZStreamConvert, Size) == 8);
static_assert(offsetof(TDZStreamConvert, Source) == 16);
static_assert(offsetof(TDZStreamConvert, Dest) == 24);
#endif

// The entry points of a loaded engine, for the hosts that load it by path.
struct TDZEntryPoints {
  TDZExecFunc Exec = nullptr;
  TDZAbortFunc Abort = nullptr;
  TDZVersionFunc Version = nullptr;
  TDZVersionFunc PrivVersion = nullptr;
  TDZNameFunc Name = nullptr;
  TDZBannerFunc Banner = nullptr;
  TDZPathFunc Path = nullptr;

  // Looks every entry point up by its exported name through lookup(name), which gives
  // the symbol's address or null: the names not found, ", " between them.
  template <class TLookup>
  std::string Bind(TLookup&& lookup) {
    std::string missing;
    auto one = [&](auto& fn, const char* name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(lookup(name));
      if (!fn) missing += std::string(missing.empty() ? "" : ", ") + name;
    };
    one(Exec, "DZ_Exec");
    one(Abort, "DZ_Abort");
    one(Version, "DZ_Version");
    one(PrivVersion, "DZ_PrivVersion");
    one(Name, "DZ_Name");
    one(Banner, "DZ_Banner");
    one(Path, "DZ_Path");
    return missing;
  }
  // Whether every entry point a host relies on is bound (DZ_Path is optional).
  bool HasRequired() const { return Exec && Abort && Version && PrivVersion && Name && Banner; }
};
