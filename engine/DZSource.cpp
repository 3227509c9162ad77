#include "DZSource.h"

#include "PlatFileSys.h"

#include "ZMUTF8.h"

namespace dz {

bool TDZSource::ReadAt(uint64_t off, void* buf, size_t n) {
  auto* p = static_cast<uint8_t*>(buf);
  if (off > FSize || n > FSize - off) return false;
  while (n) {
    int64_t got = ReadSome(off, p, n);
    if (got <= 0) return false;
    p += got;
    off += uint64_t(got);
    n -= size_t(got);
  }
  return true;
}

TDZFileSource::~TDZFileSource() {
  if (FHandle != plat::kInvalidHandle) plat::FileClose(FHandle);
}

std::unique_ptr<TDZFileSource> TDZFileSource::Open(const std::string& name, int& err) {
  err = deNone;
  if (name.empty()) {
    err = deEmptyZip;
    return nullptr;
  }
#ifdef _WIN32
  const std::u16string wide = WideFromUtf8String(name);
  const uint32_t attr = plat::FileAttributesW(wide);
#else
  const uint32_t attr = plat::FileAttributes(name);
#endif
  if (attr == plat::kInvalidAttributes || (attr & plat::faDirectory)) {
    err = attr == plat::kInvalidAttributes ? deFileNotFound : deOpenZip;
    return nullptr;
  }
  auto src = std::unique_ptr<TDZFileSource>(new TDZFileSource());
#ifdef _WIN32
  src->FHandle = plat::FileOpenW(wide, plat::fmOpenRead | plat::fmShareDenyWrite);
#else
  src->FHandle = plat::FileOpen(name, plat::fmOpenRead | plat::fmShareDenyWrite);
#endif
  if (src->FHandle == plat::kInvalidHandle) {
    err = deOpenZip;
    return nullptr;
  }
  int64_t size = plat::FileSeek(src->FHandle, 0, plat::soEnd);
  if (size < 0 || plat::FileSeek(src->FHandle, 0, plat::soBeginning) != 0) {
    err = deSeekFile;
    return nullptr;
  }
  src->FSize = uint64_t(size);
  return src;
}

int64_t TDZFileSource::ReadSome(uint64_t off, void* buf, size_t n) {
  if (off >= FSize) return 0;
  if (n > FSize - off) n = size_t(FSize - off);
  if (n > (1u << 30)) n = 1u << 30;
  // Positioned reads: no seek, and the decoding thread may read at the same time.
  return plat::FileReadAt(FHandle, buf, int(n), off);
}

TDZStreamSource::~TDZStreamSource() {
  if (FRef) {
    TDZStreamRec rec{};
    rec.StreamRef = FRef;
    rec.StreamNo = FNo;
    rec.StreamOp = DZ_SO_CLOSE;
    FHost.StreamCall(rec);
  }
}

bool TDZStreamSource::Open(int& err) {
  TDZStreamRec rec{};
  rec.StreamNo = FNo;
  rec.StreamOp = DZ_SO_OPEN;
  if (!FHost.StreamCall(rec) || !rec.StreamRef) {
    err = deOpenZip;
    return false;
  }
  FRef = rec.StreamRef;
  TDZStreamRec seek{};
  seek.StreamRef = FRef;
  seek.StreamNo = FNo;
  seek.StreamOp = DZ_SO_SEEK;
  seek.Pos = 0;
  seek.ByteCount = 2;  // from the end: the size
  if (!FHost.StreamCall(seek) || seek.Pos < 0) {
    err = deSeekFile;
    return false;
  }
  FSize = uint64_t(seek.Pos);
  FPos = FSize;
  return true;
}

int64_t TDZStreamSource::ReadSome(uint64_t off, void* buf, size_t n) {
  if (off >= FSize) return 0;
  if (n > FSize - off) n = size_t(FSize - off);
  if (n > (1u << 24)) n = 1u << 24;
  if (off != FPos) {
    TDZStreamRec seek{};
    seek.StreamRef = FRef;
    seek.StreamNo = FNo;
    seek.StreamOp = DZ_SO_SEEK;
    seek.Pos = int64_t(off);
    seek.ByteCount = 0;
    if (!FHost.StreamCall(seek) || seek.Pos != int64_t(off)) {
      FPos = UINT64_MAX;
      return -1;
    }
    FPos = off;
  }
  TDZStreamRec rd{};
  rd.StreamRef = FRef;
  rd.StreamNo = FNo;
  rd.StreamOp = DZ_SO_READ;
  rd.DataPtr = buf;
  rd.ByteCount = int32_t(n);
  FHost.StreamCall(rd);
  if (rd.ByteCount < 0 || size_t(rd.ByteCount) > n) {
    FPos = UINT64_MAX;
    return -1;
  }
  FPos += uint64_t(rd.ByteCount);
  return rd.ByteCount;
}

int StreamNumberOf(const std::string& text) {
  if (text.size() >= 2 && text[0] >= '0' && text[0] <= '9' && text[1] == ':') return text[0] - '0';
  return -1;
}

plat::THandle OpenRegularUtf8(const std::string& name) {
  const uint32_t mode = plat::fmOpenRead | plat::fmShareDenyNone | plat::fmRegularOnly;
#ifdef _WIN32
  return plat::FileOpenW(WideFromUtf8String(name), mode);
#else
  return plat::FileOpen(name, mode);
#endif
}

std::unique_ptr<TDZSource> OpenSource(TDZHost& host, const std::string& name, int& err) {
  err = deNone;
  int no = StreamNumberOf(name);
  if (no >= 0) {
    if (!host.HasStreams()) {
      err = deOpenZip;
      return nullptr;
    }
    auto src = std::make_unique<TDZStreamSource>(host, no);
    if (!src->Open(err)) return nullptr;
    return src;
  }
  return TDZFileSource::Open(name, err);
}

}  // namespace dz
