#include "ZMFileOpr.h"

#include "ZMDllLoad.h"
#include "ZMMsg.h"
#include "ZMUtils.h"
#include "ZMWFuncs.h"
#include "ZMXcpt.h"
#include "ZMZipFile.h"
#include "ZipMate.h"

namespace {

// path with its extension (after the last '.' of the file-name part) replaced.
std::string WithExtension(const std::string& path, const std::string& ext) {
  const size_t slash = path.find_last_of("/\\");
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ext;
  return path.substr(0, dot) + ext;
}

bool IsZipExtension(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string e = path.substr(dot);
  for (char& c : e) c = char(std::toupper(static_cast<unsigned char>(c)));
  return e == ".ZIP";
}

}  // namespace

TZMFileOpr::TZMFileOpr(TCustomZipMate& master) : TZMCore(master), FLister(master.Lister()) {}

TZMFileOpr::~TZMFileOpr() = default;

int32_t TZMFileOpr::StreamConvert(TStream*, TStream*, uint32_t&, int32_t&, int64_t) {
  TraceLine("Deflate not available");
  return ZM_ERROR(zmmZMFileOpr, 140);
}

int32_t TZMFileOpr::JoinToSingleFile(const std::string& source, std::string& dest, bool withConversion) {
  int32_t result = 0;
  bool created = false;
  std::string target;
  const TZMEncodingOpts savedEncoding = WriteEncoding();
  std::unique_ptr<TZMZipFile> in;
  std::unique_ptr<TZMZipCopy> out;
  try {
    if (!BareFileName(dest).empty()) {
      // The name keeps a .zip extension of any case; others get .zip.
      target = IsZipExtension(dest) ? dest : WithExtension(dest, ".zip");
      if (FileIsPresent(target)) DiscardFile(target, HowToDelete() == htdFinal);
    } else {
      target = MakeTempName(Master(), "zip", ".zip");
      if (target.empty()) throw EZipMate::CreateCode(ZM_CODE(zmmZMFileOpr, zmsTemporaryFileCouldNotBeCreated), true);
    }
    in = std::make_unique<TZMZipFile>(Master());
    in->SetFileName(source);
    result = in->OpenZip(false, false);
    if (result >= 0) {
      result = ZM_ERROR(zmmZMFileOpr, zmsCreationOfOutputFileFailed);
      out = std::make_unique<TZMZipCopy>(Master());
      if (out->File_Create(target)) {
        created = true;
        out->SetReportMode(withConversion ? 2 : 1);
        if (withConversion) SetWriteEncoding(zeoUTF8);
        const int64_t r = out->WriteFile(in.get(), true);
        // The copy gives the number of entries written; any failure is negative.
        result = r < 0 ? int32_t(r) : 0;
      }
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
  if (created) {
    out->File_Close();
    if (result != 0) RemoveFile(target);
  }
  dest = result == 0 ? target : std::string();
  return result;
}
