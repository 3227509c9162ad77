#include "ZMFileOpr.h"

#include "PlatFileSys.h"
#include "ZMMsg.h"
#include "ZMNameParts.h"
#include "ZMNewFile.h"
#include "ZMUtils.h"
#include "ZMWFuncs.h"
#include "ZMXcpt.h"
#include "ZMZipFile.h"
#include "ZipMate.h"

TZMFileOpr::TZMFileOpr(TCustomZipMate& master) : TZMCore(master), FLister(master.Lister()) {}

TZMFileOpr::~TZMFileOpr() = default;

int32_t TZMFileOpr::StreamConvert(TStream*, TStream*, uint32_t&, int32_t&, int64_t) {
  TraceLine("Deflate not available");
  return ZM_ERROR(zmmZMFileOpr, zmsInternalError);
}

int32_t TZMFileOpr::JoinToSingleFile(const std::string& source, std::string& dest, bool withConversion) {
  TZMNewFile file(*this);
  std::string target = dest;
  const int32_t result = Join(source, target, file, withConversion, false);
  dest = result == 0 ? target : std::string();
  return result;
}

int32_t TZMFileOpr::JoinToScratch(const std::string& source, TZMNewFile& file) {
  std::string none;
  return Join(source, none, file, true, true);
}

void TZMFileOpr::RefuseSourcePart(const TZMZipFile& source, const std::string& opened,
                                  const std::string& target) {
  plat::TFileId dest, part;
  if (!FileIdentityOf(target, dest)) return;  // not there: no part of anything
  // The name the set was opened by counts too: reading may have moved to another part.
  std::vector<std::string> names = source.PartNames();
  names.push_back(opened);
  for (const std::string& name : names) {
    if (!FileIdentityOf(name, part) || !(part == dest)) continue;
    EZipMate e = EZipMate::CreateCode(ZM_CODE(zmmZMFileOpr, zmsSourceArchiveIsDestination), true);
    e.SetMessage(LoadMessageText(zmsSourceArchiveIsDestination) + " " + target +
                 (name == target ? std::string() : " is the same file as " + name));
    throw e;
  }
}

int32_t TZMFileOpr::Join(const std::string& source, std::string& dest, TZMNewFile& file, bool withConversion,
                         bool scratch) {
  int32_t result = 0;
  const TZMEncodingOpts savedEncoding = WriteEncoding();
  std::unique_ptr<TZMZipFile> in;
  std::unique_ptr<TZMZipCopy> out;
  try {
    in = std::make_unique<TZMZipFile>(Master());
    in->SetFileName(source);
    result = in->OpenZip(false, false);
    if (result >= 0) {
      // The destination is decided once the source is open and its parts are known;
      // nothing is written over an existing file before the new one is complete.
      if (scratch) {
        file.BeginScratch(TempFolder());
      } else if (!BareFileName(dest).empty()) {
        // The name keeps a .zip extension of any case; others get .zip.
        if (zmname::Upper(zmname::ExtOf(dest)) != ".ZIP") dest = zmname::WithoutExt(dest) + ".zip";
        RefuseSourcePart(*in, source, dest);
        file.Begin(dest, true);
      } else {
        // A folder, or the temporary folder when none is given: a new name there.
        dest = FreshFileName(dest.empty() ? TempFolder() : dest, "zip", ".zip");
        if (dest.empty())
          throw EZipMate::CreateCode(ZM_CODE(zmmZMFileOpr, zmsTemporaryFileCouldNotBeCreated), true);
        file.Begin(dest, false);
      }
      out = std::make_unique<TZMZipCopy>(Master());
      out->File_Attach(file.Handle(), scratch ? file.OpenName() : dest);
      out->SetReportMode(withConversion ? 2 : 1);
      if (withConversion) SetWriteEncoding(zeoUTF8);
      const int64_t r = out->WriteFile(in.get(), true);
      // The copy gives the number of entries written; any failure is negative.
      result = r < 0 ? int32_t(r) : 0;
      out.reset();
      if (result == 0 && !scratch) file.Commit();
    }
    if (result < 0) ShowMessageById(result, true);
  } catch (const EZMException& e) {
    ShowExceptionError(e);
    result = -(e.FullCode ? e.FullCode : e.MsgId);
    if (result == 0) result = ZM_ERROR(zmmZMFileOpr, zmsUnknownErrorInCopyFunctions);
  } catch (const std::exception& e) {
    const int32_t code = ZM_CODE(zmmZMFileOpr, zmsUnknownErrorInCopyFunctions);
    EZipMate x = EZipMate::CreateCode(code, true);
    x.SetMessage(e.what());
    ShowExceptionError(x);
    result = -code;
  }
  if (withConversion) SetWriteEncoding(savedEncoding);
  if (in) in->File_Close();
  // The copy lets the file's handle go before the file is given up.
  out.reset();
  if (result != 0) file.Abandon();
  return result;
}

std::string TZMFileOpr::TempFolder() const {
  return TempDir().empty() ? plat::TempFolder() : SetTrailingDelimiter(TempDir(), true);
}
