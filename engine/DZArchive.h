// The engine's reader of an archive's directory: trailer, Zip64 trailer, central
// entries with their extra fields, and the checks that make each entry's data range
// trustworthy (inside the archive, not shared with another entry). Where the directory
// is and what the names are is decided by the code shared with the component
// (ZMTrailer.h, ZMStoredText.h), so that extraction sees the entries it lists.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "DZAesField.h"
#include "DZSource.h"
#include "PlatTime.h"

namespace dz {

struct TDZEntry {
  // Widest fields first: an archive of many entries keeps one of these for each.
  std::string_view Name;  // UTF-8, '/' separated; held by the archive's name store
  uint64_t CompSize = 0;
  uint64_t UncompSize = 0;
  uint64_t LocalOffset = 0;  // adjusted for data in front of the archive
  plat::TFileTime FileTime = 0;
  // Filled by CheckRanges.
  uint64_t DataOffset = 0;   // first byte after the local header
  uint32_t DosDateTime = 0;  // date in the high word
  uint32_t Crc = 0;
  uint32_t ExtAttr = 0;
  uint32_t DiskStart = 0;
  uint16_t VersionMade = 0;
  uint16_t Flags = 0;
  uint16_t Method = 0;
  TDZAesField Aes;           // the AES field (0x9901), when the entry has a sound one
  int8_t RangeError = 0;     // engine error when the data range cannot be trusted
  bool HasFileTime = false;  // a UTC time from an extended-timestamp or NTFS field

  bool Encrypted() const { return (Flags & 1) != 0; }
  // Method 99 with its AES field: AES-encrypted data of the method the field names.
  bool IsAes() const { return Method == kAesMethod && Aes.Valid && Encrypted(); }
  // The method the data are compressed with.
  uint16_t DataMethod() const { return IsAes() ? Aes.Method : Method; }
  bool IsFolder() const { return !Name.empty() && Name.back() == '/'; }
  unsigned Host() const { return VersionMade >> 8; }
  std::string NameText() const { return std::string(Name); }
};
static_assert(sizeof(void*) != 8 || sizeof(TDZEntry) <= 88, "an entry of a large directory grew");

// The entries' names side by side in blocks, so that an entry holds only a view of its
// name and a directory of many entries makes no allocation for each. Blocks double from
// kFirstBlock to kBlock, so that a small directory takes little.
class TDZNameStore {
 public:
  // A lasting copy of s (until Clear).
  std::string_view Add(std::string_view s);
  void Clear();

 private:
  static constexpr size_t kFirstBlock = 4 * 1024;
  static constexpr size_t kBlock = 256 * 1024;
  std::vector<std::unique_ptr<char[]>> FBlocks;
  size_t FUsed = 0;
  size_t FRoom = 0;  // bytes of the last block
};

class TDZArchive {
 public:
  // Reads the directory, decoding names as EntryName does. Returns 0 or an engine
  // error; warnings go to warn.
  int Load(TDZSource& src, int nameEncoding, unsigned codePage, unsigned oemCodePage, std::string& warn);
  // Reads every local header and refuses entries whose data leave the archive or
  // overlap other entries.
  void CheckRanges(TDZSource& src);

  std::vector<TDZEntry>& Entries() { return FEntries; }
  uint64_t CentralStart() const { return FCenStart; }

 private:
  // Reads count entries from the directory's bytes [FCenStart, end), a window at a time.
  int ParseCentral(TDZSource& src, uint64_t end, uint64_t count, int nameEncoding, unsigned codePage,
                   unsigned oemCodePage, std::string& warn);

  std::vector<TDZEntry> FEntries;
  TDZNameStore FNames;
  uint64_t FCenStart = 0;  // where the central directory really starts
  int64_t FAdjust = 0;     // bytes in front of the archive (self-extractor stub);
                           // negative when bytes are missing there
};

// The name the component lists for the entry, in UTF-8 with '/' separators: decoded as
// its flags, host and Unicode path field say, or as nameEncoding (the component's
// Encoding, 0 automatic), codePage (its name code page) and oemCodePage (the OEM code
// page it decodes with, 0 the user's) ask.
std::string EntryName(std::string_view raw, std::string_view extra, uint16_t flags, uint16_t versionMadeBy,
                      int nameEncoding, unsigned codePage, unsigned oemCodePage = 0);

}  // namespace dz
