/// \file ZMDirEntry.h
/// The read-only interface of one entry of an archive's directory, as applications
/// read the listing through the component (TCustomZipMate::DirEntry).
#pragma once
#include <cstdint>
#include <string>

#include "ZMBase.h"
#include "ZMClasses.h"

/// One entry of an archive's directory, read-only. ExtraData has a body here; the rest
/// is supplied by the records and by the entries of the directory view.
///
/// The values are those of the entry's central directory record; sizes and offsets are
/// the 64-bit values where the record carries them in a Zip64 block. An entry kept
/// after its listing was replaced, or after the component is gone, reads as stale:
/// zeros, empty texts and Encoded() 2.
class TZMDirEntry : public TObject {
 public:
  /// Size of the stored data in bytes, with the encryption header when there is one.
  virtual int64_t CompressedSize() const = 0;
  /// The compression method number stored in the record (0 stored, 8 deflate, 9
  /// Deflate64, 12 bzip2, 14 LZMA, 93 Zstandard, 95 XZ and so on).
  virtual uint16_t CompressionMethod() const = 0;
  /// The CRC-32 of the uncompressed data, as the record holds it.
  virtual uint32_t CRC32() const = 0;
  /// The modification time in MS-DOS form, local time: the date in the high 16 bits,
  /// the time (2-second steps) in the low 16 bits.
  virtual uint32_t DateTime() const = 0;
  /// How the entry's name is stored: 1 native code page, 2 OEM, 3 UTF-8, 4 Unicode extra
  /// fields.
  virtual TZMEncodingOpts Encoded() const = 0;
  /// Whether the entry's data are encrypted (traditionally or with AES).
  virtual bool Encrypted() const = 0;
  /// The external file attributes as stored: the system's attributes in the low bits
  /// (the DOS attributes in the low byte) and, for entries made on Unix, the file mode
  /// in the high 16 bits.
  virtual uint32_t ExtFileAttrib() const = 0;
  /// The data of the first block with this tag, without its 4-byte head; empty when
  /// there is none or it runs past the end of the field.
  virtual std::string ExtraData(uint16_t tag) const;
  /// The whole extra field of the directory record, as raw bytes.
  virtual std::string ExtraField() const = 0;
  /// Length of ExtraField() in bytes.
  virtual uint16_t ExtraFieldLength() const = 0;
  /// The entry's comment, decoded like its name; empty when it has none.
  virtual std::string FileComment() const = 0;
  /// Length of the stored comment in bytes.
  virtual uint16_t FileCommentLen() const = 0;
  /// The entry's name, decoded (as Encoding and NameCodePage of the component say),
  /// with "\" between its folder parts; a folder's name ends with "\".
  virtual std::string FileName() const = 0;
  /// Length of the stored name in bytes.
  virtual uint16_t FileNameLength() const = 0;
  /// The general-purpose flag bits of the record (bit 0 encrypted, bit 3 data
  /// descriptor, bit 11 UTF-8 name and comment).
  virtual uint16_t Flag() const = 0;
  /// The name as stored in the record, undecoded bytes with "/" separators.
  virtual std::string HeaderName() const = 0;
  /// The internal file attributes (bit 0: the data are text).
  virtual uint16_t IntFileAttrib() const = 0;
  /// Offset of the entry's local header from the start of its part, in bytes.
  virtual int64_t RelOffLocalHdr() const = 0;
  /// Number of the part (from 0) on which the entry's local header starts.
  virtual uint16_t StartOnDisk() const = 0;
  /// The reader's state bits for the entry (bit 4, value 16: a folder entry whose
  /// stored name ends with "/"); the other bits are the reader's own bookkeeping.
  virtual uint32_t StatusBits() const = 0;
  /// Size of the data once extracted, in bytes.
  virtual int64_t UncompressedSize() const = 0;
  /// The "version made by" word: the host system in the high byte (0 DOS, 3 Unix, 10
  /// NTFS...), the format version times ten in the low byte.
  virtual uint16_t VersionMadeBy() const = 0;
  /// The format version needed to extract the entry, times ten (20 for deflate, 45 for
  /// Zip64...).
  virtual uint16_t VersionNeeded() const = 0;
};
