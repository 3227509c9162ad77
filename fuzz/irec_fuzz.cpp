// Parses fuzzed bytes as a run of central directory records held in memory, then
// works every record: decoded names and comments in each encoding, extra blocks
// (Zip64, Unicode path and comment, NTFS, timestamps), the editing operations with
// fuzzed values, and the written central and local headers, which must parse back.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ZMIRec.h"
#include "ZMUTF8.h"
#include "ZMUtils.h"
#include "ZMZipFile.h"
#include "ZipMate.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// The extra field must stay a well-formed list of blocks inside its 16-bit length.
void CheckBlocks(const std::string& extra) {
  Check(extra.size() <= 0xFFFF);
  size_t pos = 0, len = 0;
  for (uint16_t tag : {0x0001, 0x7075, 0x6375, 0x000A, 0x5455}) {
    if (FindExtraBlock(extra, tag, pos, len)) Check(pos <= extra.size() && len <= extra.size() - pos);
  }
}

void Work(TZMZipFile& owner, TZipMate& zip, TZMZRec& rec, const std::string& tail) {
  const std::string name = rec.FileName();
  rec.FileComment();
  rec.Encoded();
  rec.Hash();
  rec.DecodeText(false);
  rec.DecodeText(true);
  rec.UnicodeExtra(false);
  rec.UnicodeExtra(true);
  for (uint16_t tag : {0x0001, 0x7075, 0x6375, 0x000A, 0x5455, 0x5855})
    Check(rec.ExtraData(tag).size() <= rec.ExtraField().size());
  CheckBlocks(rec.ExtraField());
  TZMZRec::IsInvalidName(name);
  rec.CleanName(name, false);
  rec.CleanName(name, true);
  std::string checked;
  rec.CheckedName(tail, checked);
  const std::vector<uint32_t> tags{0x0001, 0x7075, 0x000A};
  const std::string kept = KeepExtraBlocks(rec.ExtraField(), tags, 2);
  const std::string dropped = DropExtraBlocks(rec.ExtraField(), tags, 2);
  Check(kept.size() + dropped.size() <= rec.ExtraField().size());

  // The other encodings give some text and never fail.
  for (TZMEncodingOpts enc : {zeoOEM, zeoUTF8, zeoNone, zeoAuto}) {
    zip.SetEncoding(enc);
    rec.ClearCache();
    rec.FileName();
    rec.FileComment();
  }

  // Written back, the header parses to the same stored name and sizes.
  TZMZRec copy(&owner);
  copy.AssignFrom(rec);
  const std::string h = copy.CentralBytes();
  if (!h.empty()) {
    TZMZRec back(&owner);
    size_t used = 0;
    const int32_t r = back.ParseCentral(reinterpret_cast<const uint8_t*>(h.data()), h.size(), used);
    Check(r >= 0 && used == h.size());
    Check(back.HeaderName() == copy.HeaderName());
    Check(back.CompressedSize() == copy.CompressedSize());
    Check(back.UncompressedSize() == copy.UncompressedSize());
    Check(back.RelOffLocalHdr() == copy.RelOffLocalHdr());
  }
  copy.BuildLocalExtra();
  CheckBlocks(copy.LocalExtra());
  copy.LocalBytes(rec.DateTime(), rec.CRC32());

  // Edits with fuzzed values keep the record well formed.
  TZMZRec edit(&owner);
  edit.AssignFrom(rec);
  edit.SetExtraField(tail);
  CheckBlocks(edit.ExtraField());
  edit.SetFileComment(tail);
  edit.SetFileName(tail);
  edit.ReEncode();
  edit.ReplaceExtra(0x7075, tail);
  CheckBlocks(edit.ExtraField());
  edit.SetDateStamp(rec.CRC32());
  edit.SetVersions(rec.CRC32() & 1);
  const std::string h2 = edit.CentralBytes();
  if (!h2.empty()) {
    TZMZRec back(&owner);
    size_t used = 0;
    Check(back.ParseCentral(reinterpret_cast<const uint8_t*>(h2.data()), h2.size(), used) >= 0);
    Check(back.HeaderName() == edit.HeaderName());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  [[maybe_unused]] static const bool utf8 = (SetUTF8Mode(true), true);
  if (size > 1 << 16) return 0;
  TZipMate zip;
  zip.SetUnattended(true);
  TZMZipFile owner(zip);
  // The bytes after the last record give the fuzzed values of the edits.
  size_t pos = 0;
  std::vector<std::unique_ptr<TZMZRec>> recs;
  while (pos < size && recs.size() < 64) {
    auto rec = std::make_unique<TZMZRec>(&owner);
    size_t used = 0;
    int32_t r = -1;
    try {
      r = rec->ParseCentral(data + pos, size - pos, used);
    } catch (const EZMException&) {
      r = -1;
    }
    if (r < 0) break;
    Check(used >= 46 && used <= size - pos);
    pos += used;
    recs.push_back(std::move(rec));
  }
  const std::string tail(reinterpret_cast<const char*>(data + pos), size - pos);
  for (auto& rec : recs) {
    try {
      Work(owner, zip, *rec, tail);
    } catch (const EZMException&) {
    }
    zip.SetEncoding(zeoAuto);
  }
  return 0;
}
