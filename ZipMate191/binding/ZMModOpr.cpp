#include "ZMModOpr.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "PlatError.h"
#include "PlatFile.h"
#include "ZMEndian.h"
#include "ZMEOC.h"
#include "ZMLister.h"
#include "ZMMsg.h"
#include "ZMXcpt.h"
#include "ZMZipFile.h"
#include "ZipMate.h"
#include "ZMRecords.h"

TZMModOpr::TZMModOpr(TCustomZipMate& master) : TZMFileOpr(master) { SetProgressMuted(false); }

TZMModOpr::~TZMModOpr() { SetProgressMuted(true); }

namespace {

// Whether a record of the directory (count records from dirStart, each as long as its
// lengths say) reaches past eoc, into the end record and its comment, whose bytes it
// would then share: its fixed part or its name, extra field or comment. Only
// directories of up to 64 MiB in one file are walked.
bool DirectoryRunsIntoEnd(plat::THandle h, int64_t dirStart, int64_t count, int64_t eoc) {
  using C = zm::layout::TCentralHeader;
  if (dirStart < 0 || dirStart > eoc || eoc - dirStart > (int64_t(64) << 20) || count <= 0) return false;
  // The bytes from the directory to the end of the file (an end record and its comment
  // at most follow it), so that a record reaching past eoc is read as the reader reads it.
  const int64_t fileEnd = plat::FileSeek(h, 0, plat::soEnd);
  if (fileEnd < eoc) return false;
  const size_t dirSize = size_t(eoc - dirStart);
  std::vector<uint8_t> bytes(size_t(std::min<int64_t>(fileEnd, eoc + kEndOfCentralSize + 0xFFFF) - dirStart));
  if (plat::FileSeek(h, dirStart, plat::soBeginning) != dirStart ||
      (!bytes.empty() && plat::FileRead(h, bytes.data(), int(bytes.size())) != int(bytes.size())))
    return false;
  size_t at = 0;
  for (int64_t i = 0; i < count && at < dirSize; ++i) {
    // A header cut short by the end of the file, or without its signature, is not read
    // as a record: nothing to tell.
    if (at + C::FixedSize > bytes.size() || zm::GetLE32(bytes.data() + at) != C::Signature) return false;
    at += C::FixedSize + zm::GetLE16(bytes.data() + at + C::NameLen) +
          zm::GetLE16(bytes.data() + at + C::ExtraLen) + zm::GetLE16(bytes.data() + at + C::CommentLen);
    if (at > dirSize) return true;
  }
  return false;
}

}  // namespace

void TZMModOpr::WriteComment(const std::string& text) {
  TCustomZipMate& m = Master();
  const TZMSpanOpts savedSpan = SpanOptions();
  try {
    if (m.ZipFileName().empty())
      throw EZipMate::CreateCode(ZM_CODE(zmmZMModOpr, zmsErrorNoZipFileSpecified), true);
    // The end record holds a 16-bit length.
    if (text.size() > 0xFFFF) {
      EZipMate e = EZipMate::CreateCode(ZM_CODE(zmmZMModOpr, zmsErrorWritingEndOfCentral), true);
      e.SetMessage("ZMModOpr ZipComment length error");
      throw e;
    }
    // Readers look for the end record from the end of the file backwards: one inside
    // the comment would be taken for it, and the archive could no longer be opened.
    const size_t sig = text.find(std::string_view("PK\5\6", 4));
    if (sig != std::string::npos) {
      EZipMate e = EZipMate::CreateCode(ZM_CODE(zmmZMModOpr, zmsErrorWritingEndOfCentral), true);
      e.SetMessage(LoadMessageText(zmsErrorWritingEndOfCentral) +
                   ": the comment holds the end-of-central-directory signature PK\\5\\6 at byte " +
                   std::to_string(sig) + ", which readers would take for the end of the archive; " +
                   m.ZipFileName() + " is left unchanged");
      throw e;
    }
    // The name may be one part of a set whose last part holds the end record.
    TZMSpanOpts span = savedSpan;
    span.Exclude(spExactName);
    SetSpanOptions(span);
    TZMZipFile zip(m);
    zip.SetFileName(m.ZipFileName());
    // Only the end record is wanted: its offset stays the one of the plain record.
    const int32_t opened = zip.OpenZip(true, true);
    SetSpanOptions(savedSpan);
    if (auto* lister = dynamic_cast<TZMLister*>(FLister)) lister->SetState(kListerRewritten);
    if (opened < 0) throw EZipMate::CreateCode(ZMAbsCode(opened), true);
    if (zip.IsOpen()) {
      zip.File_Close();
      if (zip.File_Reopen(plat::fmOpenReadWrite | plat::fmShareDenyWrite) != 0 || !zip.IsOpen())
        throw EZipMate::CreateCode(ZM_CODE(zmmZMModOpr, zmsZipFileCouldNotBeOpened), true);
    }
    const plat::THandle h = zip.Handle();
    const int64_t eoc = zip.EOCOffset();
    if (plat::FileSeek(h, eoc, plat::soBeginning) != eoc)
      throw EZipMate::CreateCode(ZM_CODE(zmmZMModOpr, zmsSeekErrorInInputFile), true);
    uint8_t rec[kEndOfCentralSize];
    if (plat::FileRead(h, rec, kEndOfCentralSize) != kEndOfCentralSize)
      throw EZipMate::CreateCode(ZM_CODE(zmmZMModOpr, zmsErrorReadingEndOfCentral), true);
    if (zm::GetLE32(rec) != zm::layout::TEndOfCentral::Signature)
      throw EZipMate::CreateCode(ZM_CODE(zmmZMModOpr, zmsErrorReadingEndOfCentral), true);
    // Walked when the directory starts in the file that holds the end record: a single
    // archive, or a set (a one-part one, too) whose directory begins on its last part.
    if ((!zip.MultiPart() || zip.CentralDisk() == zip.DiskNr()) &&
        DirectoryRunsIntoEnd(h, zip.ArchiveStart() + zip.CentralOffset(), zip.TotalEntries(), eoc)) {
      EZipMate e = EZipMate::CreateCode(ZM_CODE(zmmZMModOpr, zmsErrorWritingEndOfCentral), true);
      e.SetMessage(LoadMessageText(zmsErrorWritingEndOfCentral) + ": a record of the central directory of " +
                   m.ZipFileName() +
                   " runs into its end record, so a new comment would change that record; the archive is "
                   "left unchanged");
      throw e;
    }
    // The text goes first and the length last, so that the archive opens at every step
    // (an interrupted rewrite leaves at worst a garbled comment or bytes after it); a
    // failed write (a full disk) puts the old comment back.
    const std::string oldText = zip.ZipComment();
    const uint16_t oldLength = zm::GetLE16(rec + 20);
    const auto writeAt = [h](int64_t at, const void* data, size_t n) {
      return plat::FileSeek(h, at, plat::soBeginning) == at &&
             (n == 0 || plat::FileWrite(h, data, int(n)) == int(n));
    };
    const int64_t textAt = eoc + kEndOfCentralSize;
    uint8_t length[2];
    zm::PutLE16(length, uint16_t(text.size()));
    const bool written = writeAt(textAt, text.data(), text.size()) && writeAt(eoc + 20, length, 2) &&
                         plat::FileSeek(h, textAt + int64_t(text.size()), plat::soBeginning) >= 0 &&
                         zip.Truncate() && plat::FileFlush(h);
    if (!written) {
      const uint32_t cause = plat::GetLastError();
      zm::PutLE16(length, oldLength);
      if (writeAt(textAt, oldText.data(), oldText.size()) && writeAt(eoc + 20, length, 2) &&
          plat::FileSeek(h, textAt + int64_t(oldText.size()), plat::soBeginning) >= 0)
        zip.Truncate();
      EZipMate e = EZipMate::CreateCode(ZM_CODE(zmmZMModOpr, zmsErrorWritingEndOfCentral), true);
      e.SetMessage(LoadMessageText(zmsErrorWritingEndOfCentral) + ": " + m.ZipFileName() + ": " +
                   plat::SysErrorMessage(cause) + "; the old comment is kept");
      throw e;
    }
    zip.File_Close();
  } catch (const EZMException& e) {
    SetSpanOptions(savedSpan);
    ShowExceptionError(e);
    m.FZipComment.clear();
  }
}

void ZMWriteComment(TCustomZipMate& comp, const std::string& text) {
  TZMFileOpr::Start<TZMModOpr>(comp)->WriteComment(text);
}
