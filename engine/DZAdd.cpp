#include "DZAdd.h"

#include <zlib.h>

#include <algorithm>
#include <random>
#include <vector>

#include "DZCrypt.h"
#include "ZMCrc32.h"

namespace dz {

namespace {

constexpr size_t kChunk = 256 * 1024;

class TStreamIo {
 public:
  TStreamIo(TDZHost& host, void* ref) : FHost(host), FRef(ref) {}
  // Bytes read (0 at the end), or -1.
  int64_t Read(uint8_t* buf, size_t n) {
    TDZStreamRec rec{};
    rec.StreamRef = FRef;
    rec.StreamOp = DZ_SO_READ;
    rec.DataPtr = buf;
    rec.ByteCount = int32_t(n);
    FHost.StreamCall(rec);
    if (rec.ByteCount < 0 || size_t(rec.ByteCount) > n) return -1;
    return rec.ByteCount;
  }
  bool Write(const uint8_t* buf, size_t n) {
    TDZStreamRec rec{};
    rec.StreamRef = FRef;
    rec.StreamOp = DZ_SO_WRITE;
    rec.DataPtr = const_cast<uint8_t*>(buf);
    rec.ByteCount = int32_t(n);
    return FHost.StreamCall(rec) && rec.ByteCount == int32_t(n);
  }
  // New position, or -1.
  int64_t Seek(int64_t pos, int origin) {
    TDZStreamRec rec{};
    rec.StreamRef = FRef;
    rec.StreamOp = DZ_SO_SEEK;
    rec.Pos = pos;
    rec.ByteCount = origin;
    if (!FHost.StreamCall(rec)) return -1;
    return rec.Pos;
  }

 private:
  TDZHost& FHost;
  void* FRef;
};

// Reads the next piece of the source, at most `left` bytes when a size is given.
int64_t ReadPiece(TStreamIo& in, uint8_t* buf, size_t cap, int64_t size, uint64_t done) {
  size_t n = cap;
  if (size >= 0) n = size_t(std::min<uint64_t>(cap, uint64_t(size) - done));
  if (n == 0) return 0;
  return in.Read(buf, n);
}

}  // namespace

int RunStreamConvert(TDZHost& host) {
  const TDZCommand& cmd = host.Cmd();
  auto* rec = static_cast<TDZStreamConvert*>(cmd.OpData);
  if (!rec || !rec->Source || !rec->Dest || !host.HasStreams()) {
    host.ErrorMsg(deBadOptions, " (no streams to convert)");
    return -deBadOptions;
  }
  const bool encrypt = (cmd.Options & DZ_OPT_ENCRYPT) != 0;
  const int level = std::clamp<int>(cmd.Level, 0, 9);
  const bool deflate = rec->Method == 8 && level > 0;
  const int64_t size = rec->Size;
  TStreamIo in(host, rec->Source), out(host, rec->Dest);
  std::vector<uint8_t> buf(kChunk), zbuf(kChunk + 1024);

  TDZCrypt crypt;
  uint32_t crc = 0;
  if (encrypt) {
    std::string pwd;
    if (const int r = host.PasswordForWriting(pwd); r != 0) return r;
    // The encryption header carries the CRC's high byte, so the source is read
    // once for its CRC and then again for the data.
    const int64_t start = in.Seek(0, 1);
    if (start < 0) {
      host.ErrorMsg(deSeekFile, " (source stream)");
      return -deSeekFile;
    }
    uint32_t reg = 0xFFFFFFFFu;
    uint64_t done = 0;
    for (;;) {
      const int64_t got = ReadPiece(in, buf.data(), buf.size(), size, done);
      if (got < 0) {
        host.ErrorMsg(deReadFile, " (source stream)");
        return -deReadFile;
      }
      if (got == 0) break;
      reg = zm::Crc32UpdateFast(reg, buf.data(), size_t(got));
      done += uint64_t(got);
      host.CheckStop();
    }
    crc = ~reg;
    if (in.Seek(start, 0) != start) {
      host.ErrorMsg(deSeekFile, " (source stream)");
      return -deSeekFile;
    }
    crypt.Init(pwd);
    uint8_t head[TDZCrypt::kHeaderSize];
    std::random_device rd;
    for (size_t i = 0; i + 1 < sizeof head; ++i) head[i] = uint8_t(rd());
    head[sizeof head - 1] = uint8_t(crc >> 24);
    crypt.Encrypt(head, sizeof head);
    if (!out.Write(head, sizeof head)) {
      host.ErrorMsg(deWriteFile, " (destination stream)");
      return -deWriteFile;
    }
  }

  auto emit = [&](uint8_t* data, size_t n) {
    if (encrypt) crypt.Encrypt(data, n);
    return out.Write(data, n);
  };

  z_stream zs{};
  if (deflate && deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    host.ErrorMsg(deNoMemory, "");
    return -deNoMemory;
  }
  uint32_t reg = 0xFFFFFFFFu;
  uint64_t done = 0;
  int err = 0;
  for (bool last = false; !last && !err;) {
    const int64_t got = ReadPiece(in, buf.data(), buf.size(), size, done);
    if (got < 0) {
      err = deReadFile;
      break;
    }
    last = got == 0;
    reg = zm::Crc32UpdateFast(reg, buf.data(), size_t(got));
    done += uint64_t(got);
    if (!deflate) {
      if (got > 0 && !emit(buf.data(), size_t(got))) err = deWriteFile;
    } else {
      zs.next_in = buf.data();
      zs.avail_in = uInt(got);
      do {
        zs.next_out = zbuf.data();
        zs.avail_out = uInt(zbuf.size());
        const int zr = ::deflate(&zs, last ? Z_FINISH : Z_NO_FLUSH);
        if (zr == Z_STREAM_ERROR) {
          err = deFatal;
          break;
        }
        const size_t have = zbuf.size() - zs.avail_out;
        if (have && !emit(zbuf.data(), have)) {
          err = deWriteFile;
          break;
        }
      } while (zs.avail_out == 0);
    }
    if (host.Stopped()) break;
  }
  if (deflate) deflateEnd(&zs);
  host.CheckStop();
  if (err) {
    host.ErrorMsg(err, err == deReadFile ? " (source stream)" : " (destination stream)");
    return -err;
  }
  if (encrypt && ~reg != crc) {
    // The source changed between the two readings.
    host.ErrorMsg(deError, "the source stream changed while it was read");
    return -deError;
  }
  rec->Method = deflate ? 8 : 0;
  rec->Crc = ~reg;
  rec->Size = int64_t(done);
  return 1;
}

}  // namespace dz
