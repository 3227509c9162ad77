// The read-only interface of one entry of an archive's directory, as applications
// read the listing through the component (TCustomZipMate::DirEntry).
#pragma once
#include <cstdint>
#include <string>

#include "ZMBase.h"
#include "ZMClasses.h"

// One entry of an archive's directory, read-only. ExtraData has a body here; the rest
// is supplied by the records and by the entries of the directory view.
class TZMDirEntry : public TObject {
 public:
  virtual int64_t CompressedSize() const = 0;
  virtual uint16_t CompressionMethod() const = 0;
  virtual uint32_t CRC32() const = 0;
  virtual uint32_t DateTime() const = 0;
  // 1 native code page, 2 OEM, 3 UTF-8, 4 Unicode extra fields.
  virtual TZMEncodingOpts Encoded() const = 0;
  virtual bool Encrypted() const = 0;
  virtual uint32_t ExtFileAttrib() const = 0;
  // The data of the first block with this tag, without its 4-byte head; empty when
  // there is none or it runs past the end of the field.
  virtual std::string ExtraData(uint16_t tag) const;
  virtual std::string ExtraField() const = 0;
  virtual uint16_t ExtraFieldLength() const = 0;
  virtual std::string FileComment() const = 0;
  virtual uint16_t FileCommentLen() const = 0;
  virtual std::string FileName() const = 0;
  virtual uint16_t FileNameLength() const = 0;
  virtual uint16_t Flag() const = 0;
  virtual std::string HeaderName() const = 0;
  virtual uint16_t IntFileAttrib() const = 0;
  virtual int64_t RelOffLocalHdr() const = 0;
  virtual uint16_t StartOnDisk() const = 0;
  virtual uint32_t StatusBits() const = 0;
  virtual int64_t UncompressedSize() const = 0;
  virtual uint16_t VersionMadeBy() const = 0;
  virtual uint16_t VersionNeeded() const = 0;
};
