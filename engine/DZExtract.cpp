#include "DZExtract.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "PlatCleanup.h"
#include "PlatCpu.h"
#include "PlatError.h"
#include "PlatFileSys.h"
#include "PlatPath.h"
#include "PlatTime.h"
#include "ZMCrc32.h"
#include "ZMMatch.h"
#include "ZMUTF8.h"

namespace fs = std::filesystem;

namespace dz {

namespace {

constexpr size_t kReadChunk = 256 * 1024;
constexpr uint64_t kTwoSeconds = 20000000;  // in file-time units

fs::path PathOf(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

std::string Utf8Of(const fs::path& p) {
  std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

const char* MethodName(unsigned m) {
  switch (m) {
    case 1: return "Shrink";
    case 2:
    case 3:
    case 4:
    case 5: return "Reduce";
    case 6: return "Implode";
    case 12: return "bzip2";
    case 14: return "LZMA";
    case 19: return "LZ77";
    case 93: return "Zstandard";
    case 95: return "XZ";
    case 96: return "JPEG";
    case 97: return "WavPack";
    case 98: return "PPMd";
    case 99: return "AES encryption";
    default: return "unknown";
  }
}

// File calls on UTF-8 names.

// Creates a new file for writing; fails when the name exists in any form (a file,
// a folder, a link), so that nothing already there is followed or truncated.
// exists tells that failure apart.
plat::THandle CreateNewUtf8(const std::string& name, bool& exists) {
#ifdef _WIN32
  const plat::THandle h = plat::FileCreateNewW(WideFromUtf8String(name));
#else
  const plat::THandle h = plat::FileCreateNew(name);
#endif
  exists = h == plat::kInvalidHandle && plat::GetLastError() == plat::kErrFileExists;
  return h;
}

bool DeleteUtf8(const std::string& name) {
#ifdef _WIN32
  return plat::FileDeleteW(WideFromUtf8String(name));
#else
  return plat::FileDelete(name);
#endif
}

// What stands at path when it is neither a regular file, a folder nor missing (a link
// is followed): "a FIFO", "a socket", "a device"; null otherwise.
const char* SpecialFileAt(const fs::path& path, fs::file_status st) {
  std::error_code ec;
  if (st.type() == fs::file_type::symlink) st = fs::status(path, ec);
  switch (st.type()) {
    case fs::file_type::fifo: return "a FIFO";
    case fs::file_type::socket: return "a socket";
    case fs::file_type::block:
    case fs::file_type::character: return "a device";
    default: return nullptr;
  }
}

bool FileTimeOf(const std::string& path, plat::TFileTime& t) {
  plat::THandle h = OpenRegularUtf8(path);
  if (h == plat::kInvalidHandle) return false;
  plat::TFileInfo info;
  const bool ok = plat::FileInfoByHandle(h, info);
  plat::FileClose(h);
  if (ok) t = info.LastWriteTime;
  return ok;
}

// "(path: cause)": where a file operation failed and why.
std::string Where(const std::string& path, const std::string& cause) {
  return "(" + path + (cause.empty() ? "" : ": " + cause) + ")";
}

// The engine error for a file that could not be made: a refusal says so.
int CreateError(uint32_t sysError) {
  return sysError == plat::kErrAccessDenied || sysError == plat::kErrWriteProtect ? deAccessDenied
                                                                                  : deCreateFile;
}

// Copies the whole file from into to; false, with the last error set, on a failure.
bool CopyData(plat::THandle from, plat::THandle to) {
  std::vector<uint8_t> buf(kReadChunk);
  for (uint64_t pos = 0;;) {
    const int got = plat::FileReadAt(from, buf.data(), int(buf.size()), pos);
    if (got == 0) return true;
    if (got < 0 || plat::FileWrite(to, buf.data(), got) != got) return false;
    pos += uint64_t(got);
  }
}

std::string Hex8(uint32_t v) {
  char b[12];
  snprintf(b, sizeof b, "%08X", v);
  return b;
}

}  // namespace

// UTC time of the entry: the extra field's when asked for and present, else the
// MS-DOS stamp read as local time.
bool TDZExtractor::EntryTime(const TDZEntry& en, bool useExtra, plat::TFileTime& t) {
  if (useExtra && en.HasFileTime) {
    t = en.FileTime;
    return true;
  }
  // Entries of one archive mostly share a few stamps; the local-time conversion
  // consults the time zone every time.
  if (!FDosValid || FDosStamp != en.DosDateTime) {
    plat::TFileTime local;
    FDosOk = plat::DosDateTimeToFileTime(uint16_t(en.DosDateTime >> 16), uint16_t(en.DosDateTime & 0xFFFF),
                                         local) &&
             plat::LocalFileTimeToFileTime(local, FDosTime);
    FDosStamp = en.DosDateTime;
    FDosValid = true;
  }
  t = FDosTime;
  return FDosOk;
}

std::string TargetPath(const std::string& base, const std::vector<std::string>& parts, bool dirs) {
  std::string target = base;
  if (dirs)
    for (size_t i = 0; i + 1 < parts.size(); ++i) target += parts[i] + plat::PathDelim;
  return target + parts.back();
}

bool SplitSafeName(std::string_view name, std::vector<std::string>& parts) {
  parts.clear();
  if (name.empty() || name[0] == '/' || name[0] == '\\') return false;
  if (name.size() >= 2 && name[1] == ':' &&
      ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
    return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = name.size();
    std::string part(name.substr(start, end - start));
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") return false;
    for (unsigned char c : part)
      if (c < 0x20 || c == 0x7F) return false;
#ifdef _WIN32
    if (part.find_first_of(":*?\"<>|") != std::string::npos) return false;
    if (part.back() == '.' || part.back() == ' ') return false;
#endif
    parts.push_back(std::move(part));
  }
  return !parts.empty();
}

// Destination of one entry's data: a temporary file renamed into place, an
// application stream, or nothing at all when testing.
struct TDZExtractor::TOutput {
  TDZHost* Host = nullptr;
  plat::THandle File = plat::kInvalidHandle;
  std::string TempName;
  // Removes the temporary file should a signal end the program before it is renamed
  // into place or dropped.
  plat::TCleanupPath TempSlot;
  // The decoding thread writes the data into a file without a name, handed over
  // with the entry's last piece; it gets its name once the entry is accepted.
  bool Unnamed = false;
  bool TimeSet = false;  // by that thread
  std::string Target;
  std::string Folder;    // the target's, made already
  bool Replace = false;  // a file of that name is replaced
  void* Stream = nullptr;
  int StreamNo = -1;
  // Why the file could not be made, written or placed: the system's error and text.
  uint32_t Error = 0;
  std::string Cause;

  void NoteError(uint32_t code) {
    Error = code;
    Cause = plat::SysErrorMessage(code);
  }

  bool Write(const uint8_t* data, size_t n) {
    if (File != plat::kInvalidHandle) {
      while (n) {
        const int part = int(std::min<size_t>(n, 1u << 30));
        if (plat::FileWrite(File, data, part) != part) {
          NoteError(plat::GetLastError());
          return false;
        }
        data += part;
        n -= size_t(part);
      }
    } else if (Stream) {
      while (n) {
        TDZStreamRec rec{};
        rec.StreamRef = Stream;
        rec.StreamNo = StreamNo;
        rec.StreamOp = DZ_SO_WRITE;
        rec.DataPtr = const_cast<uint8_t*>(data);
        const size_t part = std::min<size_t>(n, 1u << 24);
        rec.ByteCount = int32_t(part);
        if (!Host->StreamCall(rec) || rec.ByteCount != int32_t(part)) return false;
        data += part;
        n -= part;
      }
    }
    return true;
  }
  // Takes the name of a temporary file just made.
  void HoldTemp(const std::string& name) {
    TempName = name;
#ifdef _WIN32
    TempSlot.ResetW(WideFromUtf8String(name));
#else
    TempSlot.Reset(name);
#endif
  }
  void CloseStream() {
    if (!Stream) return;
    TDZStreamRec rec{};
    rec.StreamRef = Stream;
    rec.StreamNo = StreamNo;
    rec.StreamOp = DZ_SO_CLOSE;
    Host->StreamCall(rec);
    Stream = nullptr;
  }
  // Closes the temporary file and renames it into place.
  bool Commit() {
    plat::FileClose(File);
    File = plat::kInvalidHandle;
    std::error_code ec;
    fs::rename(PathOf(TempName), PathOf(Target), ec);
    if (ec) {
      Cause = ec.message();
      return false;
    }
    TempName.clear();
    TempSlot.Release();
    return true;
  }
  // Drops the temporary file (after any failure).
  void Discard() {
    if (File != plat::kInvalidHandle) plat::FileClose(File);
    File = plat::kInvalidHandle;
    if (!TempName.empty()) DeleteUtf8(TempName);
    TempName.clear();
    TempSlot.Release();
  }
  ~TOutput() {
    Discard();
    CloseStream();
  }
};

void TDZExtractor::ReadSpecs(int kind, std::vector<std::string>& out) {
  out.clear();
  for (int i = 0; i < 1 << 20; ++i) {
    std::string s;
    int32_t count = 0;
    const int r = FHost.GetText(kind, i, s, &count);
    FHost.CheckStop();
    if (r != 1) break;
    if (!s.empty()) out.push_back(s);
    if (count > 0 && i + 1 >= count) break;
  }
}

int TDZExtractor::Prepare() {
  const uint32_t opts = FHost.Cmd().Options;
  if ((opts & (DZ_OPT_EXTRACT | DZ_OPT_TEST)) == 0) return deBadOptions;
  FTest = (opts & DZ_OPT_TEST) != 0;

  FHost.GetText(DZ_ARG_ARCHIVE, 0, FArchiveName);
  FHost.CheckStop();
  FHost.GetText(DZ_ARG_PASSWORD, 0, FPassword);
  FHost.CheckStop();
  std::string root, base;
  FHost.GetText(DZ_ARG_ROOT, 0, root);
  FHost.CheckStop();
  FHost.GetText(DZ_ARG_BASE, 0, base);
  FHost.CheckStop();
  ReadSpecs(DZ_ARG_SPEC, FSpecs);
  ReadSpecs(DZ_ARG_EXCLUDE, FExcludes);

  // Specifications "n:pattern" send an entry to application stream n.
  std::vector<std::string> plain;
  for (const std::string& s : FSpecs) {
    const int no = StreamNumberOf(s);
    if (no >= 0) {
      std::string pat = s.substr(2);
      if (pat.size() >= 8 && pat.compare(0, 7, "#stream") == 0 && pat.back() == '#') pat.clear();
      FPipes.push_back(TPipeSpec{no, pat});
    } else {
      plain.push_back(s);
    }
  }
  FSpecs.swap(plain);

  int err = 0;
  FSource = OpenSource(FHost, FArchiveName, err);
  FHost.CheckStop();
  if (!FSource) {
    FHost.ErrorMsg(err, " " + FArchiveName);
    return err;
  }
  std::string warn;
  err = FArchive.Load(*FSource, FHost.Cmd().NameEncoding & 0x7F, unsigned(FHost.Cmd().CodePage),
                      unsigned(FHost.Cmd().OemCodePage), warn);
  if (err) {
    FHost.ErrorMsg(err, " " + FArchiveName);
    return err;
  }
  // Oddities the archive survives are notes, not errors.
  if (!warn.empty()) FHost.Info("note: " + warn + " in " + FArchiveName);
  FArchive.CheckRanges(*FSource);
  FHost.CheckStop();

  if (!FTest) {
    if (base.empty()) base = root;
    std::error_code ec;
    fs::path p = base.empty() ? fs::current_path(ec) : fs::absolute(PathOf(base), ec);
    if (!ec) p = fs::weakly_canonical(p, ec);
    if (ec || !fs::is_directory(p, ec)) {
      FHost.ErrorMsg(deNoFileOrPermission, " " + base);
      return deNoFileOrPermission;
    }
    FBase = Utf8Of(p);
    if (FBase.empty() || FBase.back() != plat::PathDelim) FBase += plat::PathDelim;
  }
  return 0;
}

void TDZExtractor::Select(std::vector<size_t>& chosen) {
  auto& entries = FArchive.Entries();
  // Only pipes send entries to streams: without them every entry goes to a file.
  FStreamOf.assign(FPipes.empty() ? 0 : entries.size(), -1);
  chosen.reserve(entries.size());
  // Names are compared only when something is to be matched.
  const bool matching = !FExcludes.empty() || !FPipes.empty() || !FSpecs.empty();
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string name = matching ? entries[i].NameText() : std::string();
    bool excluded = false;
    for (const std::string& x : FExcludes)
      if (FileNameMatch(x, name)) {
        excluded = true;
        break;
      }
    if (excluded) continue;
    bool take = false;
    if (!FTest && !entries[i].IsFolder()) {
      for (TPipeSpec& p : FPipes) {
        if (p.Pattern.empty() ? p.Taken : !FileNameMatch(p.Pattern, name)) continue;
        p.Taken = true;
        FStreamOf[i] = p.Stream;
        take = true;
        break;
      }
    }
    if (!take) {
      if (FSpecs.empty())
        take = FPipes.empty() || FTest;
      else
        for (const std::string& s : FSpecs)
          if (FileNameMatch(s, name)) {
            take = true;
            break;
          }
    }
    if (take) chosen.push_back(i);
  }
}

void TDZExtractor::Fail(const TDZEntry& en, int skip, int err, const std::string& detail) {
  if (err) FHost.ErrorMsg(err, " " + en.NameText() + (detail.empty() ? "" : " " + detail));
  FHost.Skipped(en.NameText(), skip, err);
}

bool TDZExtractor::MakeFolders(const std::string& base, const std::vector<std::string>& parts, size_t n,
                               std::string& path, const std::string& display) {
  path = base;
  for (size_t i = 0; i < n; ++i) {
    path += parts[i];
    // Folders made or checked before stay folders: the engine never makes links.
    if (FKnownFolders.count(path)) {
      path += plat::PathDelim;
      continue;
    }
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(PathOf(path), ec);
    if (st.type() == fs::file_type::not_found) {
      if (!fs::create_directory(PathOf(path), ec) && ec) {
        FHost.ErrorMsg(deCreateFile, " " + display + " " + Where(path, ec.message()));
        FHost.Skipped(display, skNoAccess, deCreateFile);
        return false;
      }
    } else if (st.type() != fs::file_type::directory) {
      // A file, or a link that could lead out of the base folder.
      FHost.ErrorMsg(deCreateFile, " " + display + " " + Where(path, "not a folder"));
      FHost.Skipped(display, skNoAccess, deCreateFile);
      return false;
    }
    FKnownFolders.insert(path);
    path += plat::PathDelim;
  }
  return true;
}

bool TDZExtractor::OpenCipher(const TDZEntry& en, size_t ordinal, TDZCrypt& crypt,
                              std::unique_ptr<TDZAesCipher>& aes, TDZCipher*& cipher) {
  if (en.IsAes()) {
    // The salt and the password verifier.
    uint8_t header[16 + TDZAesCipher::kVerifierSize];
    if (!FSource->ReadAt(en.DataOffset, header, TDZAesCipher::HeaderSizeFor(en.Aes))) {
      Fail(en, skReadError, deReadFile, "");
      return false;
    }
    // Made only for the entries that need it: the cipher holds several KiB of state,
    // all of which is wiped when it goes.
    aes = std::make_unique<TDZAesCipher>();
    cipher = aes.get();
    return ObtainPassword(en, [&](const std::string& pwd) {
      uint8_t keys[TDZAesCipher::kKeysSize];
      const bool ok = FKeysAhead && FKeysAhead->Take(ordinal, en.Aes, pwd, header, keys)
                          ? aes->InitWithKeys(en.Aes, keys, header)
                          : aes->Init(en.Aes, pwd, header);
      Wipe(keys, sizeof keys);
      if (ok && ordinal + 1 >= FKeysAheadEnd) StartKeysAhead(ordinal, pwd);
      return ok;
    });
  }
  uint8_t header[TDZCrypt::kHeaderSize];
  if (!FSource->ReadAt(en.DataOffset, header, sizeof header)) {
    Fail(en, skReadError, deReadFile, "");
    return false;
  }
  // The last header byte repeats the CRC's high byte, or with a data descriptor
  // usually the high byte of the time; the CRC check after decoding has the last word.
  const uint8_t crcCheck = uint8_t(en.Crc >> 24);
  const uint8_t timeCheck = uint8_t(en.DosDateTime >> 8);
  cipher = &crypt;
  return ObtainPassword(en, [&](const std::string& pwd) {
    crypt.Init(pwd);
    TDZCrypt probe = crypt;
    TDZCrypt probe2 = crypt;
    if (!probe.CheckHeader(header, crcCheck) && !((en.Flags & 8) && probe2.CheckHeader(header, timeCheck)))
      return false;
    crypt.Decrypt(header, sizeof header);  // keys now stand at the first data byte
    return true;
  });
}

void TDZExtractor::StartKeysAhead(size_t ordinal, const std::string& password) {
  FKeysAhead.reset();  // done with the entries before this one
  FKeysAheadEnd = FChosen.size();
  if (plat::UsableProcessors() == 1) return;
  // A window of entries at a time keeps the keys in memory few.
  constexpr size_t kWindow = 64;
  std::vector<TDZAesKeysAhead::TJob> jobs;
  for (size_t k = ordinal + 1; k < FChosen.size(); ++k) {
    if (jobs.size() == kWindow) {
      FKeysAheadEnd = k;
      break;
    }
    const TDZEntry& en = FArchive.Entries()[FChosen[k]];
    if (!en.IsAes() || en.RangeError) continue;
    TDZAesKeysAhead::TJob job;
    job.Ordinal = k;
    job.Field = en.Aes;
    // Unreadable here, the salt is reported when the entry comes up.
    if (FSource->ReadAt(en.DataOffset, job.Salt, en.Aes.SaltBytes())) jobs.push_back(job);
  }
  if (jobs.empty()) return;
  try {
    FKeysAhead = std::make_unique<TDZAesKeysAhead>(password, std::move(jobs));
  } catch (const std::system_error&) {
    // No thread: each entry derives its keys when it comes up.
  }
}

bool TDZExtractor::ObtainPassword(const TDZEntry& en, const std::function<bool(const std::string&)>& tryPwd) {
  bool tried = !FPassword.empty();
  if (!FPassword.empty() && tryPwd(FPassword)) return true;
  for (const std::string& p : FGoodPasswords)
    if (tryPwd(p)) return true;
  int err = dePasswordFailed;
  if (!FNoMorePasswords) {
    int32_t tries = std::max<int32_t>(1, FHost.Cmd().PwdReqCount);
    while (tries > 0) {
      int32_t left = tries;
      std::string pwd;
      const int r = FHost.AskPassword(en.NameText(), left, pwd);
      FHost.CheckStop();
      if (r == 1 && !pwd.empty()) {
        tried = true;
        if (tryPwd(pwd)) {
          FGoodPasswords.push_back(pwd);
          return true;
        }
        tries = std::min(tries - 1, left);
        continue;
      }
      if (r == 3) FNoMorePasswords = true;
      // No answer after a wrong password leaves the wrong password as the cause.
      if ((r == 2 || r == 3) && !tried) err = dePasswordCancelled;
      break;
    }
  }
  Fail(en, skBadPassword, err, err == dePasswordFailed ? "(wrong password)" : "");
  return false;
}

bool TDZExtractor::Decode(const TDZEntry& en, size_t ordinal, TDZCipher* cipher, TOutput& out,
                          uint32_t& crc) {
  bool writeFailed = false;
  uint64_t written = 0;
  int64_t sinceStep = 0;
  // Without data, only the count of bytes a decoding thread wrote or tested.
  auto sink = [&](const uint8_t* data, size_t n) -> bool {
    if (data && !out.Write(data, n)) {
      writeFailed = true;
      return false;
    }
    written += n;
    FTotalDone += n;
    sinceStep += int64_t(n);
    if (sinceStep >= int64_t(kReadChunk) || written == en.UncompSize) {
      FHost.Progress(DZ_CB_STEP, sinceStep, int64_t(FTotalDone), std::string());
      sinceStep = 0;
    }
    return !FHost.Stopped();
  };

  TDZDecodeResult r;
  if (!cipher && FAhead && FAhead->Covers(ordinal)) {
    // Decoded on a decoding thread; the data arrive here in order.
    for (;;) {
      const TDZDecodeAhead::TPiece& piece = FAhead->Next(ordinal);
      if (piece.Last && piece.File != plat::kInvalidHandle) out.File = piece.File;
      // Data left to this thread for the other one's file go to their place in it.
      const bool toFile = piece.File != plat::kInvalidHandle && piece.Data;
      if (toFile && !WriteAllAt(piece.File, piece.Data, piece.Size, piece.Offset)) {
        writeFailed = true;
        out.NoteError(plat::GetLastError());
      }
      if (writeFailed || (piece.Size && !sink(toFile ? nullptr : piece.Data, piece.Size))) {
        r.Result = zm::irWriteFailed;
        r.Abandoned = true;
        break;
      }
      if (piece.Last) {
        r = piece.Outcome;
        out.TimeSet = r.TimeSet;
        if (r.FileError && out.Cause.empty()) out.NoteError(r.FileError);
        break;
      }
    }
  } else {
    r = FDecoder.Run(*FSource, en, cipher, sink);
  }
  FHost.CheckStop();
  crc = r.Crc;
  writeFailed = writeFailed || r.WriteFailed;
  if (r.Result == zm::irOk && r.Written == en.UncompSize && !writeFailed && !r.AuthFailed) return true;
  if (writeFailed) {
    Fail(en, skGeneralExtractError, deWriteFile,
         Where(out.TempName.empty() ? out.Target : out.TempName, out.Cause));
  } else if (r.ReadFailed) {
    Fail(en, skReadError, deReadFile, "");
  } else if (r.AuthFailed) {
    // Whatever else went wrong, data that fail their authentication were altered.
    FHost.ErrorMsg(deError, "authentication failed for " + en.NameText() +
                                " (its encrypted data were altered or damaged)");
    FHost.Skipped(en.NameText(), skGeneralExtractError, deError);
  } else if (r.Result == mrMemoryLimit) {
    Fail(en, skGeneralExtractError, deNoMemory, "(decoding needs more memory than the engine allows)");
  } else if (r.TooLong) {
    Fail(en, skSizeChange, deInvalidStruct, "(more data than its stated size)");
  } else if (r.Result == zm::irOk) {
    Fail(en, skSizeChange, deInvalidStruct, "(less data than its stated size)");
  } else {
    Fail(en, skZipFileFormatWrong, deInvalidStruct, "(compressed data are damaged)");
  }
  return false;
}

bool TDZExtractor::TryTempNames(const std::string& folder, size_t index,
                                const std::function<int(const std::string&)>& take) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const uint32_t r =
        uint32_t(plat::NowFileTime() * 2654435761u) ^ uint32_t(index * 40503u) ^ uint32_t(attempt * 977u);
    const int got = take(folder + ".dz" + Hex8(r) + ".tmp");
    if (got != 1) return got == 0;  // 1: the name is taken, try another
  }
  return false;
}

bool TDZExtractor::CreateTemp(const std::string& folder, size_t index, TOutput& out) {
  return TryTempNames(folder, index, [&](const std::string& tmp) {
    bool taken = false;
    out.File = CreateNewUtf8(tmp, taken);
    if (out.File == plat::kInvalidHandle) {
      if (!taken) out.NoteError(plat::GetLastError());
      return taken ? 1 : 2;
    }
    out.HoldTemp(tmp);
    return 0;
  });
}

bool TDZExtractor::PlaceUnnamed(const std::string& folder, size_t index, bool replace, TOutput& out,
                                bool haveTime, plat::TFileTime time) {
  if (out.File == plat::kInvalidHandle) return false;
  // A name still free is taken as it stands; one taken since it was checked is
  // replaced, as a file renamed into place would.
  if (!replace && plat::FileLinkUnnamed(out.File, out.Target)) {
    plat::FileClose(out.File);
    out.File = plat::kInvalidHandle;
    return true;
  }
  bool linked = false;
  TryTempNames(folder, index, [&](const std::string& tmp) {
    if (plat::FileLinkUnnamed(out.File, tmp)) {
      linked = true;
      out.HoldTemp(tmp);
      return 0;
    }
    if (plat::GetLastError() == plat::kErrFileExists) return 1;
    out.NoteError(plat::GetLastError());
    return 2;
  });
  if (!linked) {
    // The file system cannot link the file there (the target folder lies on another
    // one): copy the data into a temporary file beside the target.
    const plat::THandle from = out.File;
    out.File = plat::kInvalidHandle;
    bool copied = CreateTemp(folder, index, out);
    if (copied && !CopyData(from, out.File)) {
      out.NoteError(plat::GetLastError());
      copied = false;
    }
    plat::FileClose(from);
    if (!copied) return false;
    if (haveTime) plat::FileSetTime(out.File, time);
  }
  return out.Commit();
}

bool TDZExtractor::CheckEntry(const TDZEntry& en, std::vector<std::string>& parts, int pipe) {
  const uint32_t opts = FHost.Cmd().Options;
  if (en.IsFolder() && en.Name.find_first_not_of("./") == std::string::npos &&
      en.Name.find("..") == std::string::npos)
    return false;  // "./": the base folder itself
  if (!SplitSafeName(en.Name, parts)) {
    Fail(en, skBadName, deBadName, "");
    return false;
  }
  if (en.IsFolder()) {
    if (!FTest && (opts & DZ_OPT_DIRNAMES) && pipe < 0) {
      std::string path;
      MakeFolders(FBase, parts, parts.size(), path, en.NameText());
    }
    return false;
  }
  if (en.RangeError) {
    Fail(en, skZipFileFormatWrong, en.RangeError, "(data outside the archive or shared)");
    return false;
  }
  if (en.Method == kAesMethod && !en.IsAes()) {
    Fail(en, skCompressionUnknown, deSkipping,
         en.Aes.Valid ? "(AES encryption on an entry not flagged as encrypted)"
                      : "(AES encryption without a valid AES extra field)");
    return false;
  }
  const uint16_t method = en.DataMethod();
  if (!MethodSupported(method)) {
    Fail(en, skCompressionUnknown, deSkipping,
         "(method " + std::to_string(method) + ", " + MethodName(method) + ", is not supported)");
    return false;
  }
  if (en.Encrypted() && (en.Flags & 0x40)) {
    Fail(en, skCompressionUnknown, deSkipping, "(strong encryption is not supported)");
    return false;
  }
  // Encryption bytes around the data.
  const uint64_t cryptHead = !en.Encrypted() ? 0
                             : en.IsAes()    ? TDZAesCipher::HeaderSizeFor(en.Aes) + TDZAesCipher::kMacSize
                                             : TDZCrypt::kHeaderSize;
  if (en.CompSize < cryptHead || (method == 0 && en.CompSize - cryptHead != en.UncompSize)) {
    Fail(en, skZipFileFormatWrong, deInvalidStruct, "(sizes do not agree)");
    return false;
  }
  return true;
}

bool TDZExtractor::PrepareFile(const TDZEntry& en, size_t index, size_t ordinal,
                               std::vector<std::string>& parts, bool haveEntryTime, plat::TFileTime entryTime,
                               TOutput& out) {
  const uint32_t opts = FHost.Cmd().Options;
  bool dirs = (opts & DZ_OPT_DIRNAMES) != 0;
  // The caller may rename the file; the new name obeys the same rules.
  std::string offered;
  if (dirs)
    for (size_t i = 0; i < parts.size(); ++i) offered += (i ? plat::PathDelimStr : "") + parts[i];
  else
    offered = parts.back();
  std::string renamed = offered;
  const int answer = FHost.ExtractName(renamed, FBase);
  FHost.CheckStop();
  if (answer == 1 && renamed != offered) {
    std::vector<std::string> newParts;
    if (!SplitSafeName(renamed, newParts) || renamed.back() == '/' || renamed.back() == plat::PathDelim) {
      Fail(en, skBadName, deBadName, "(renamed to " + renamed + ")");
      return false;
    }
    parts.swap(newParts);
    dirs = true;
  }
  const size_t nFolders = dirs ? parts.size() - 1 : 0;
  const std::string target = TargetPath(FBase, parts, dirs);

  std::error_code ec;
  const fs::file_status st = fs::symlink_status(PathOf(target), ec);
  const bool exists = st.type() != fs::file_type::not_found;
  if (exists && st.type() == fs::file_type::directory) {
    Fail(en, skFileExists, deCreateFile, "(a folder of that name exists)");
    return false;
  }
  // Only regular files are opened or replaced: a FIFO would block the open and a
  // device would take the data.
  if (const char* special = exists ? SpecialFileAt(PathOf(target), st) : nullptr) {
    Fail(en, skFileExists, deCreateFile, std::string("(") + special + " is in the way: " + target + ")");
    return false;
  }
  plat::TFileTime fileTime = 0;
  const bool older =
      exists && haveEntryTime && FileTimeOf(target, fileTime) && fileTime + kTwoSeconds <= entryTime;
  if (opts & (DZ_OPT_UPDATE | DZ_OPT_FRESHEN)) {
    // Update takes new files and newer versions; freshen only newer versions.
    if ((exists && !older) || (!exists && !(opts & DZ_OPT_UPDATE))) {
      FHost.Skipped(en.NameText(), skOnFreshen, 0);
      return false;
    }
  } else if (exists) {
    const bool dflt = (opts & DZ_OPT_OVERWRITE) != 0;
    const int r = FHost.Overwrite(target, dflt, int32_t(index), older);
    FHost.CheckStop();
    const bool overwrite = r == 1 || (r == 0 && dflt);
    if (!overwrite) {
      FHost.Skipped(en.NameText(), skNoOverwrite, 0);
      return false;
    }
  }
  if (!MakeFolders(FBase, parts, nFolders, out.Folder, en.NameText())) return false;
  out.Target = target;
  out.Replace = exists;
  if (FAhead && FAhead->Covers(ordinal) && FAhead->WritesFile(ordinal)) {
    out.Unnamed = true;
  } else if (!CreateTemp(out.Folder, index, out)) {
    // The data go to a temporary file beside the target first.
    Fail(en, skNoOpen, CreateError(out.Error), Where(out.Folder, out.Cause));
    return false;
  }
  return true;
}

bool TDZExtractor::OpenStream(const TDZEntry& en, int pipe, TOutput& out) {
  TDZStreamRec rec{};
  rec.StreamNo = pipe;
  rec.StreamOp = DZ_SO_OPEN;
  if (!FHost.StreamCall(rec) || !rec.StreamRef) {
    FHost.CheckStop();
    Fail(en, skNoOpen, deCreateFile, "(stream " + std::to_string(pipe) + ")");
    return false;
  }
  out.Stream = rec.StreamRef;
  out.StreamNo = pipe;
  return true;
}

bool TDZExtractor::AcceptCrc(const TDZEntry& en, uint32_t crc) {
  // The second form of AES encryption leaves the CRC out: its code authenticated the data.
  if (crc == en.Crc || (en.IsAes() && !en.Aes.ChecksCrc())) return true;
  const int r = FHost.CrcError(en.NameText(), crc, en.Crc);
  FHost.CheckStop();
  FHost.ErrorMsg(deError, "CRC-32 mismatch in " + en.NameText() + " (found " + Hex8(crc) + ", expected " +
                              Hex8(en.Crc) + ")");
  if (r != 1 || FTest) {
    FHost.Skipped(en.NameText(), skGeneralExtractError, deError);
    return false;
  }
  return true;
}

bool TDZExtractor::PlaceFile(const TDZEntry& en, size_t index, bool haveEntryTime, plat::TFileTime entryTime,
                             TOutput& out) {
  bool placed = true;
  if (out.Unnamed) {
    if (haveEntryTime && !out.TimeSet && out.File != plat::kInvalidHandle)
      plat::FileSetTime(out.File, entryTime);
    placed = PlaceUnnamed(out.Folder, index, out.Replace, out, haveEntryTime, entryTime);
  } else if (out.File != plat::kInvalidHandle) {
    if (haveEntryTime) plat::FileSetTime(out.File, entryTime);
    placed = out.Commit();
  }
  if (!placed) Fail(en, skNoAccess, CreateError(out.Error), Where(out.Target, out.Cause));
  return placed;
}

bool TDZExtractor::ProcessEntry(size_t index, size_t ordinal, int pipe) {
  TDZEntry& en = FArchive.Entries()[index];
  std::vector<std::string> parts;
  if (!CheckEntry(en, parts, pipe)) return false;
  plat::TFileTime entryTime = 0;
  const bool haveEntryTime = EntryTime(en, (FHost.Cmd().Options & DZ_OPT_NTFS) != 0, entryTime);

  TOutput out;
  out.Host = &FHost;
  if (!FTest && pipe < 0 && !PrepareFile(en, index, ordinal, parts, haveEntryTime, entryTime, out))
    return false;
  if (pipe >= 0 && !OpenStream(en, pipe, out)) return false;

  TDZCrypt crypt;
  std::unique_ptr<TDZAesCipher> aes;
  TDZCipher* cipher = nullptr;
  if (en.Encrypted() && !OpenCipher(en, ordinal, crypt, aes, cipher)) return false;

  if (FHost.Verbose()) FHost.Info((FTest ? "testing: " : "extracting: ") + en.NameText());
  uint32_t crc = 0;
  if (!Decode(en, ordinal, cipher, out, crc) || !AcceptCrc(en, crc)) return false;
  return PlaceFile(en, index, haveEntryTime, entryTime, out);
}

bool TDZExtractor::UnnamedFilesWork() {
  const plat::THandle h = plat::FileCreateUnnamed(FBase);
  if (h == plat::kInvalidHandle) return false;
  plat::FileClose(h);
  return true;
}

int TDZExtractor::Run() {
  int err = Prepare();
  if (err) return -err;
  std::vector<size_t>& chosen = FChosen;
  chosen.clear();
  Select(chosen);
  uint64_t total = 0;
  for (size_t i : chosen) total += FArchive.Entries()[i].UncompSize;
  FHost.Progress(DZ_CB_TOTAL_ITEMS, 0, 0, std::string(), int32_t(chosen.size()));
  FHost.Progress(DZ_CB_TOTAL_BYTES, int64_t(total), 0, std::string());
  FHost.CheckStop();
  if (chosen.empty()) {
    FHost.Message(deNothingToDo | DZ_MSG_WARNING, "no entries selected");
    FHost.Progress(DZ_CB_BATCH_END, 0, 0, std::string());
    return 0;
  }
  // Files are written (or tested entries checked) here while other threads decode the
  // next entries, as many at once as the process has processors. Data that need a
  // password, and application streams as the source, stay on this thread.
  const unsigned processors = plat::UsableProcessors();
  if (FSource->ThreadSafe() && processors > 1) {
    // Where the file system has files without a name, the decoding threads also make
    // and write the files, small ones included; they get their names here.
    const bool files = !FTest && UnnamedFilesWork();
    const bool useExtraTime = (FHost.Cmd().Options & DZ_OPT_NTFS) != 0;
    std::vector<TDZAheadJob> jobs;
    jobs.reserve(chosen.size());
    for (size_t k = 0; k < chosen.size(); ++k) {
      const TDZEntry& en = FArchive.Entries()[chosen[k]];
      const bool piped = StreamOf(chosen[k]) >= 0;
      if (!DecodableAhead(en, files && !piped)) continue;
      TDZAheadJob& job = jobs.emplace_back();
      job.Ordinal = k;
      job.Entry = &en;
      job.CountOnly = FTest;
      job.ToFile = files && !piped;
      if (job.ToFile) job.SetTime = EntryTime(en, useExtraTime, job.Time);
    }
    if (!jobs.empty()) {
      try {
        FAhead = std::make_unique<TDZDecodeAhead>(*FSource, std::move(jobs), files ? FBase : "",
                                                  std::min(processors, TDZDecodeAhead::kMaxThreads));
      } catch (const std::system_error&) {
        FAhead.reset();  // no thread: everything is decoded here
      }
    }
  }
  int done = 0, skipped = 0;
  for (size_t k = 0; k < chosen.size(); ++k) {
    const size_t i = chosen[k];
    const TDZEntry& en = FArchive.Entries()[i];
    const int pipe = StreamOf(i);
    const uint64_t before = FTotalDone;
    FHost.Progress(DZ_CB_ITEM, int64_t(en.UncompSize), int64_t(FTotalDone), en.NameText());
    FHost.CheckStop();
    const bool ok = ProcessEntry(i, k, pipe);
    if (FAhead) FAhead->Finish(k);
    if (ok)
      ++done;
    else if (!en.IsFolder())
      ++skipped;
    // Keep the totals right when an entry was skipped or cut short.
    FTotalDone = before + en.UncompSize;
    FHost.Progress(DZ_CB_ITEM, -1, int64_t(FTotalDone), std::string());
    FHost.CheckStop();
  }
  FAhead.reset();
  FKeysAhead.reset();
  FHost.Progress(DZ_CB_BATCH_END, 0, int64_t(FTotalDone), std::string());
  if (FHost.Verbose())
    FHost.Message(0, std::to_string(done) + (FTest ? " tested, " : " extracted, ") + std::to_string(skipped) +
                         " skipped");
  FHost.CheckStop();
  return done;
}

}  // namespace dz
