// Checksums, ZIP extra-field filtering, executable inspection (image size,
// self-extractor stubs, icons) and path and name helpers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "PlatFile.h"
#include "ZMClasses.h"

// ---- CRC-32 (reflected polynomial 0xEDB88320) ----

// Table-driven update without pre- or post-inversion, one byte per table lookup.
uint32_t Crc32Update(uint32_t reg, const void* bytes, size_t count);
// The standard ZIP/zlib CRC continued from `previous` (0 to start). A null
// pointer returns `previous` unchanged.
uint32_t Crc32(const void* bytes, size_t count, uint32_t previous = 0);

// ---- ZIP extra fields (blocks of 16-bit tag, 16-bit length, data) ----

// The blocks whose tag is among tags[0..highIndex], in their order.
std::string KeepExtraBlocks(const std::string& extra, const std::vector<uint32_t>& tags, int highIndex);
// The blocks whose tag is not among tags[0..highIndex], in their order.
std::string DropExtraBlocks(const std::string& extra, const std::vector<uint32_t>& tags, int highIndex);

// ---- Executables ----

// Signatures that open the header of a self-extractor stub: format A and format B.
inline constexpr uint32_t kStubASig = 0x01005A44;
inline constexpr uint32_t kStubBSig = 0x0C005A44;

// Results of ProbeStub.
inline constexpr int kStubNotExe = 0;        // not an executable
inline constexpr int kStubNone = 1;          // executable, no recognised trailer
inline constexpr int kStubA = 0x11;          // format A, archive at the data offset
inline constexpr int kStubAFile = 0x811;     // format A, archive in a separate file
inline constexpr int kStubB = 0x13;          // format B, archive at the data offset
inline constexpr int kStubBCentral = 0x813;  // format B, central directory at the offset
inline constexpr int kStubBadRecord = -7;    // short/bad trailer record or failed seek
inline constexpr int kStubException = -10;   // an exception while reading

// End of the last section's raw data of a 32-bit x86 PE image, or 0.
uint32_t ExeImageSize(plat::THandle h);
uint32_t ExeImageSize(TStream& s);

// Recognises a self-extractor trailer after the image. On entry archiveName is the
// executable's name; it becomes the name of the archive. dataOffset receives the
// position of the archive data (or of its central directory).
int ProbeStub(plat::THandle h, std::string& archiveName, int64_t& dataOffset);
int ProbeStub(TStream& s, std::string& archiveName, int64_t& dataOffset);

struct TImageSectionHeader {
  char Name[8] = {};
  uint32_t VirtualSize = 0;
  uint32_t VirtualAddress = 0;
  uint32_t SizeOfRawData = 0;
  uint32_t PointerToRawData = 0;
  uint32_t PointerToRelocations = 0;
  uint32_t PointerToLinenumbers = 0;
  uint16_t NumberOfRelocations = 0;
  uint16_t NumberOfLinenumbers = 0;
  uint32_t Characteristics = 0;
};

struct TImageResourceDataEntry {
  uint32_t OffsetToData = 0;
  uint32_t Size = 0;
  uint32_t CodePage = 0;
  uint32_t Reserved = 0;
};

// Finds the resource data entry of icon 1 of the executable in the stream and the
// section holding the resources. Raises EZipMate (messages 117, 143, 144, 146, 147).
bool FindIconEntry(TStream& s, TImageSectionHeader& section, TImageResourceDataEntry& entry);
// An icon from icon 1 of the executable held in memory. Raises EZipMate as
// FindIconEntry does, and message 149 when the icon bits are unusable.
TIcon IconFromExe(TMemoryStream& ms);
TIcon IconFromExe(TReadOnlyMemoryStream& ms);

// ---- Paths and names (file-system paths use plat::PathDelim) ----
//
// SetTrailingDelimiter, ConvertSlashes, WithPlatformSeparators and EndsWithDelimiter walk
// the text by character of the component's code page (ModeCodePage): the trail byte of
// a double-byte character is never a delimiter.

// Appends or drops the trailing delimiter as wanted.
std::string SetTrailingDelimiter(const std::string& path, bool wanted);
// The file name without folders (delimiter or ':') and without its last extension.
std::string BareFileName(const std::string& path);
// path + tail with exactly one delimiter between them (none after a drive ':').
std::string JoinPath(const std::string& path, const std::string& tail);
// direction 1: '\' to '/'; any other direction: '/' to '\'. Every conversion of
// separators in names goes through here.
std::string ConvertSlashes(const std::string& path, int direction);
std::u16string ConvertSlashesWide(const std::u16string& path, int direction);
// Both '\\' and '/' become the platform's delimiter (PathDelim).
std::string WithPlatformSeparators(std::string name);
// Last character is '\' or '/'.
bool EndsWithDelimiter(std::string_view s);
// No '*', '?' or '|'.
bool HasNoWildcards(const std::string& s);
// Any byte above 126 or below 31.
bool HasNonPlainChars(std::string_view s);
// Last 1-based position p < limit holding ch; 0 when none.
int LastIndexOf(const std::string& s, char ch, int limit);
// value is among list[0..highIndex].
bool IsInList(uint32_t value, const std::vector<uint32_t>& list, int highIndex);
// Appends len1 bytes of block1 and len2 bytes of block2 and returns the new length;
// with a negative length (or a missing block) nothing changes.
int AppendTwoBlocks(std::string& s, const void* block1, int len1, const void* block2, int len2);
