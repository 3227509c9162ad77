// Shared by the listing suites: temporary folders, running tools, small archives built
// byte by byte, and a component that records its listing events.
#pragma once
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestPeers.h"
#include "TestTempDir.h"
#include "TestZip.h"
#include "ZMCrc32.h"
#include "ZMEndian.h"
#include "ZMLister.h"
#include "ZipMate.h"
#include "ZipMateTestKit.h"

namespace zmlist {

namespace fs = std::filesystem;

using zmtest::TTempDir;

inline void WriteFile(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), std::streamsize(bytes.size()));
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

using testzip::Put16;
using testzip::Put32;
using zmtest::HaveTool;
using zmtest::Quote;
using zmtest::RunCapture;

inline uint32_t Crc(const std::string& s) { return testzip::Crc32(s); }
inline std::string Block(uint16_t tag, const std::string& data) { return testzip::ExtraBlock(tag, data); }

struct TEntry {
  TEntry(std::string name, std::string data, std::string extra = {}, std::string comment = {})
      : Name(std::move(name)), Data(std::move(data)), Extra(std::move(extra)), Comment(std::move(comment)) {}
  std::string Name;
  std::string Data;
  std::string Extra;
  std::string Comment;
  uint32_t DosTime = 0x5A2C6000;
};

// A stored archive of the given entries behind prefix (a stub, or nothing).
inline std::string BuildZip(const std::vector<TEntry>& entries, const std::string& comment = {},
                            const std::string& prefix = {}) {
  std::string out = prefix, central;
  for (const TEntry& e : entries) {
    const uint32_t offset = uint32_t(out.size());
    const uint32_t crc = Crc(e.Data);
    const uint32_t size = uint32_t(e.Data.size());
    // Version 1.0 needed, no flags, stored.
    Put32(out, 0x04034B50);
    Put16(out, 10);
    testzip::PutSharedFields(out, 0, 0, e.DosTime, crc, size, size, e.Name.size(), 0);
    out += e.Name + e.Data;
    Put32(central, 0x02014B50);
    Put16(central, 0x031E);
    Put16(central, 10);
    testzip::PutSharedFields(central, 0, 0, e.DosTime, crc, size, size, e.Name.size(), e.Extra.size());
    Put16(central, uint16_t(e.Comment.size()));
    Put16(central, 0);
    Put16(central, 0);
    Put32(central, 0);
    Put32(central, offset);
    central += e.Name + e.Extra + e.Comment;
  }
  const uint32_t cenOffset = uint32_t(out.size());
  out += central;
  testzip::PutEndRecord(out, uint32_t(entries.size()), central, cenOffset, comment);
  return out;
}

// A component that counts its listing events and never shows a dialog.
struct TListingProbe {
  TScopedUi Ui;
  TZipMate Z;
  int DirUpdates = 0;
  std::vector<int> NewNames;
  std::vector<std::pair<int, std::string>> Messages;
  TListingProbe() {
    Z.SetUnattended(true);
    Z.OnDirUpdate = [this](TObject*) { ++DirUpdates; };
    Z.OnNewName = [this](TObject*, int n) { NewNames.push_back(n); };
    Z.OnMessage = [this](TObject*, int c, const std::string& m) { Messages.emplace_back(c, m); };
  }
  void Reset() {
    DirUpdates = 0;
    NewNames.clear();
    Messages.clear();
  }
  TZMCenDir& View() { return Z.ZipLister()->CenDir(); }
};

}  // namespace zmlist
