// Archives built byte by byte for the reader's tests, and a reader
// bound to a component that collects its messages.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "TestPeers.h"
#include "TestTempDir.h"
#include "TestZip.h"
#include "ZMCrc32.h"
#include "ZMEndian.h"
#include "ZMMsg.h"
#include "ZMZipFile.h"
#include "ZipMate.h"

namespace zmtest {

using testzip::Put16;
using testzip::Put32;
inline void Put64(std::string& s, uint64_t v) {
  char b[8];
  zm::PutLE64(b, v);
  s.append(b, 8);
}
inline uint32_t Crc(const std::string& s) { return testzip::Crc32(s); }

// An extra-field block.
inline std::string Block(uint16_t tag, const std::string& data) { return testzip::ExtraBlock(tag, data); }
// A Unicode path (0x7075) or comment (0x6375) block for the stored text.
inline std::string UnicodeBlock(uint16_t tag, const std::string& stored, const std::string& utf8,
                                uint8_t version = 1) {
  std::string d(1, char(version));
  Put32(d, Crc(stored));
  return Block(tag, d + utf8);
}

struct TEntrySpec {
  std::string Name;
  std::string Data;   // stored as is (method 0 unless Method is set)
  std::string Extra;  // central extra field
  std::string LocalExtra;
  std::string Comment;
  uint16_t MadeBy = 0x031E;  // Unix, 3.0
  uint16_t Needed = 10;
  uint16_t Flag = 0;
  uint16_t Method = 0;
  uint32_t DosTime = 0x5A2C6000;  // 2025-01-12 12:00:00
  uint32_t ExtAttr = 0;
  // Values written into the central header instead of the true ones (when set).
  int64_t CSize = -1, USize = -1, Offset = -1;
  std::string LocalName;  // name in the local header when not empty
};

struct TArchiveSpec {
  std::vector<TEntrySpec> Entries;
  std::string Comment;
  std::string Prefix;  // bytes in front of the archive (a stub)
  // Values written into the end record instead of the true ones (when set).
  int64_t TotalEntries = -1, CentralOffset = -1, CentralSize = -1;
  int32_t CommentLength = -1;
  std::string Trailing;  // bytes after the comment
};

inline std::string LocalHeader(const TEntrySpec& e) {
  const std::string name = e.LocalName.empty() ? e.Name : e.LocalName;
  std::string h;
  const uint32_t size = uint32_t(e.Data.size());
  Put32(h, 0x04034B50);
  Put16(h, e.Needed);
  testzip::PutSharedFields(h, e.Flag, e.Method, e.DosTime, Crc(e.Data), size, size, name.size(),
                           e.LocalExtra.size());
  return h + name + e.LocalExtra;
}

inline std::string CentralHeader(const TEntrySpec& e, uint32_t offset) {
  std::string h;
  Put32(h, 0x02014B50);
  const uint32_t size = uint32_t(e.Data.size());
  Put16(h, e.MadeBy);
  Put16(h, e.Needed);
  testzip::PutSharedFields(h, e.Flag, e.Method, e.DosTime, Crc(e.Data),
                           e.CSize >= 0 ? uint32_t(e.CSize) : size, e.USize >= 0 ? uint32_t(e.USize) : size,
                           e.Name.size(), e.Extra.size());
  Put16(h, uint16_t(e.Comment.size()));
  Put16(h, 0);
  Put16(h, 0);
  Put32(h, e.ExtAttr);
  Put32(h, e.Offset >= 0 ? uint32_t(e.Offset) : offset);
  return h + e.Name + e.Extra + e.Comment;
}

inline std::string BuildArchive(const TArchiveSpec& a) {
  std::string out = a.Prefix;
  std::string central;
  for (const TEntrySpec& e : a.Entries) {
    const uint32_t off = uint32_t(out.size() - a.Prefix.size());
    out += LocalHeader(e) + e.Data;
    central += CentralHeader(e, off);
  }
  const uint32_t cenOff = uint32_t(out.size() - a.Prefix.size());
  out += central;
  const bool z64 = a.Entries.size() > 0xFFFE;
  if (z64) {
    // Zip64 end record and locator for counts beyond the 16-bit fields.
    const uint64_t recOff = out.size() - a.Prefix.size();
    Put32(out, 0x06064B50);
    Put64(out, 44);
    Put16(out, 45);
    Put16(out, 45);
    Put32(out, 0);
    Put32(out, 0);
    Put64(out, a.Entries.size());
    Put64(out, a.Entries.size());
    Put64(out, central.size());
    Put64(out, cenOff);
    Put32(out, 0x07064B50);
    Put32(out, 0);
    Put64(out, recOff);
    Put32(out, 1);
  }
  Put32(out, 0x06054B50);
  Put16(out, 0);
  Put16(out, 0);
  const uint16_t n = uint16_t(a.TotalEntries >= 0 ? a.TotalEntries
                              : z64               ? 0xFFFF
                                                  : int64_t(a.Entries.size()));
  Put16(out, n);
  Put16(out, n);
  Put32(out, a.CentralSize >= 0 ? uint32_t(a.CentralSize) : uint32_t(central.size()));
  Put32(out, a.CentralOffset >= 0 ? uint32_t(a.CentralOffset) : cenOff);
  Put16(out, uint16_t(a.CommentLength >= 0 ? a.CommentLength : int32_t(a.Comment.size())));
  return out + a.Comment + a.Trailing;
}

inline std::string ReadFile(const std::string& path) { return Slurp(path); }

// A component without dialogs whose messages are collected, and its reader.
struct TReaderFixture {
  TZipMate Zip;
  std::vector<std::pair<int, std::string>> Messages;
  std::vector<std::pair<int, int>> Changes;  // (kind, value)
  std::unique_ptr<TZMZipFile> Reader;

  TReaderFixture() {
    Zip.SetUnattended(true);
    Zip.OnMessage = [this](TObject*, int code, const std::string& msg) { Messages.emplace_back(code, msg); };
    NewReader();
  }
  void NewReader() {
    Reader = std::make_unique<TZMZipFile>(Zip);
    Reader->SetOnChange([this](TObject*, int value, int kind) { Changes.emplace_back(kind, value); });
  }
  bool HasMessage(int number) const {
    for (const auto& m : Messages)
      if ((m.first & 0x1FF) == number) return true;
    return false;
  }
  bool HasText(const std::string& part) const {
    for (const auto& m : Messages)
      if (m.second.find(part) != std::string::npos) return true;
    return false;
  }
  // Opens and loads; an exception from the load becomes the negative message number.
  int32_t Open(const std::string& path) {
    Reader->SetFileName(path);
    try {
      return Reader->OpenZip(false, false);
    } catch (const EZMException& e) {
      return -e.MsgId;
    }
  }
};

inline int MsgOf(int32_t code) { return code < 0 ? int((-int64_t(code)) & 0x1FF) : int(code & 0x1FF); }

}  // namespace zmtest
