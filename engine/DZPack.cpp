#include "DZPack.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "DZAes.h"
#include "DZCrypt.h"
#include "DZSource.h"
#include "PlatFile.h"
#include "PlatFileSys.h"
#include "ZMCrc32.h"
#include "ZMUTF8.h"
#ifdef DZ_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace dz {

namespace {

// Files up to this size are read and compressed whole, one file per thread.
constexpr int64_t kWhole = 4 << 20;
// Larger files are cut into pieces of this size, compressed in parallel; all but the
// last end on a byte boundary without the final mark, so that the pieces join into one
// deflate stream (with zlib, each piece also starts with the end of the one before as
// its dictionary).
constexpr int64_t kPiece = 2 << 20;
constexpr size_t kDictionary = 32 * 1024;
// Input bytes of the pieces in flight (read, compressed or waiting to be written).
constexpr int64_t kBudget = 64 << 20;
constexpr size_t kWriteStep = 256 * 1024;

// An open source file shared by the pieces of one item.
struct TSource {
  plat::THandle Handle = plat::kInvalidHandle;
  ~TSource() {
    if (Handle != plat::kInvalidHandle) plat::FileClose(Handle);
  }
};

struct TPiece {
  size_t Item = 0;
  int Level = 0;        // of the item, taken before the run (the writer changes the item)
  int64_t Reserve = 0;  // input bytes counted in flight while the piece is
  int64_t Offset = 0;
  int64_t Length = 0;  // input bytes; -1: the whole file, as long as it is
  bool Last = false;
  // Results.
  bool Done = false;
  int Err = 0;       // engine error; deFileNotFound when the file did not open
  int Method = 8;    // 0 when a whole file is stored
  int64_t Read = 0;  // input bytes
  uint32_t Crc = 0;
  std::vector<uint8_t> Out;
};

#ifdef DZ_HAVE_LIBDEFLATE
// Turns a complete raw deflate stream into the first part of a longer one: its last
// block loses the final mark, and an empty stored block ends it on a byte boundary, so
// that the next piece's stream can follow. The last block is found by decoding the
// stream block by block.
bool Continuable(std::vector<uint8_t>& data) {
  z_stream zs{};
  if (inflateInit2(&zs, -15) != Z_OK) return false;
  std::vector<uint8_t> sink(64 * 1024);
  zs.next_in = data.data();
  zs.avail_in = uInt(data.size());
  uint64_t lastBlock = 0;  // bit position of the last block's header
  uint64_t end = 0;        // and of its end
  int r = Z_OK;
  while (r == Z_OK) {
    zs.next_out = sink.data();
    zs.avail_out = uInt(sink.size());
    r = inflate(&zs, Z_BLOCK);
    // At the end of a block (data_type counts the bits taken but not used): the next
    // one begins here, or, after the last, the stream ends (later the decoder skips
    // to the byte boundary).
    if (r == Z_OK && (zs.data_type & 128)) {
      const uint64_t at = uint64_t(zs.total_in) * 8 - uint64_t(zs.data_type & 63);
      (zs.data_type & 64 ? end : lastBlock) = at;
    }
  }
  inflateEnd(&zs);
  if (r != Z_STREAM_END || end == 0) return false;
  data[size_t(lastBlock >> 3)] &= uint8_t(~(1u << (lastBlock & 7)));
  data.resize(size_t((end + 7) / 8));
  if (end % 8) data.back() &= uint8_t((1u << (end % 8)) - 1);
  // The empty stored block: three zero header bits, then to the byte boundary.
  if ((8 - end % 8) % 8 < 3) data.push_back(0);
  for (uint8_t b : {0x00, 0x00, 0xFF, 0xFF}) data.push_back(b);
  return true;
}
#endif

class TPacker {
 public:
  TPacker(TDZHost& host, TDZPackJob& job) : FHost(host), FJob(job), FSources(size_t(job.Count)) {}
  ~TPacker() { Stop(); }

  int Run();

 private:
  void Plan();
  void Work();
  void Compress(TPiece& p);
  bool ReadAt(plat::THandle h, uint8_t* buf, int64_t count, int64_t offset, int64_t& got);
  void Stop();
  // Waits for piece index to be done; the lock is held.
  void WaitDone(std::unique_lock<std::mutex>& lock, size_t index);
  // Writes n bytes, encrypted first with crypt or aes when given.
  void Emit(TDZStreamRec& rec, TDZCrypt* crypt, TDZAesCipher* aes, uint8_t* data, size_t n, int64_t& written);
  void Release(size_t index);

  TDZHost& FHost;
  TDZPackJob& FJob;
  std::vector<TPiece> FPieces;
  std::vector<std::shared_ptr<TSource>> FSources;
  std::vector<std::thread> FThreads;
  std::mutex FLock;
  std::condition_variable FDoneCv, FRoomCv;
  size_t FNext = 0;  // next piece to take
  size_t FHead = 0;  // piece being written
  int64_t FInFlight = 0;
  bool FQuit = false;
  std::string FPassword;
};

void TPacker::Plan() {
  for (int i = 0; i < FJob.Count; ++i) {
    const TDZPackItem& it = FJob.Items[i];
    const int64_t size = std::max<int64_t>(it.Size, 0);
    TPiece p;
    p.Item = size_t(i);
    p.Level = std::clamp<int>(it.Level, 0, 9);
    if (size <= kWhole) {
      p.Length = -1;
      p.Reserve = size;
      p.Last = true;
      FPieces.push_back(p);
      continue;
    }
    for (int64_t at = 0; at < size; at += kPiece) {
      p.Offset = at;
      p.Reserve = p.Length = std::min(kPiece, size - at);
      p.Last = at + p.Length >= size;
      FPieces.push_back(p);
    }
  }
}

bool TPacker::ReadAt(plat::THandle h, uint8_t* buf, int64_t count, int64_t offset, int64_t& got) {
  got = 0;
  while (got < count) {
    const int want = int(std::min<int64_t>(count - got, 1 << 30));
    const int n = plat::FileReadAt(h, buf + got, want, uint64_t(offset + got));
    if (n < 0) return false;
    if (n == 0) break;
    got += n;
  }
  return true;
}

void TPacker::Compress(TPiece& p) {
  const TDZPackItem& it = FJob.Items[p.Item];
  std::shared_ptr<TSource> src;
  {
    std::lock_guard<std::mutex> g(FLock);
    src = FSources[p.Item];
    if (!src) {
      src = std::make_shared<TSource>();
      src->Handle = OpenRegularUtf8(it.Path ? it.Path : "");
      FSources[p.Item] = src;
    }
  }
  if (src->Handle == plat::kInvalidHandle) {
    p.Err = deFileNotFound;
    return;
  }
  const int level = p.Level;
  std::vector<uint8_t> in;
  if (p.Length < 0) {
    // A small file, read as long as it is now.
    int64_t got = 0;
    in.resize(size_t(p.Reserve) + 1);
    for (;;) {
      int64_t n = 0;
      if (!ReadAt(src->Handle, in.data() + got, int64_t(in.size()) - got, got, n)) {
        p.Err = deReadFile;
        return;
      }
      got += n;
      if (got < int64_t(in.size())) break;
      in.resize(in.size() * 2);
    }
    in.resize(size_t(got));
  } else {
    int64_t got = 0;
    in.resize(size_t(p.Length) + (p.Last ? 1 : 0));
    if (!ReadAt(src->Handle, in.data(), int64_t(in.size()), p.Offset, got)) {
      p.Err = deReadFile;
      return;
    }
    // The file must still have the size it was planned with.
    if (got != p.Length) {
      p.Err = deError;
      return;
    }
    in.resize(size_t(p.Length));
  }
  p.Read = int64_t(in.size());
  p.Crc = ~zm::Crc32UpdateFast(0xFFFFFFFFu, in.data(), in.size());
  if (level == 0) {
    p.Method = 0;
    p.Out = std::move(in);
    return;
  }
#ifdef DZ_HAVE_LIBDEFLATE
  {
    thread_local std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> c{
        nullptr, libdeflate_free_compressor};
    thread_local int cLevel = -1;
    if (!c || cLevel != level) {
      c.reset(libdeflate_alloc_compressor(level));
      cLevel = level;
    }
    if (!c) {
      p.Err = deNoMemory;
      return;
    }
    p.Out.resize(libdeflate_deflate_compress_bound(c.get(), in.size()));
    const size_t n = libdeflate_deflate_compress(c.get(), in.data(), in.size(), p.Out.data(), p.Out.size());
    p.Out.resize(n);
    if (p.Length < 0) {
      if (n == 0 || n >= in.size()) {
        // Data that does not shrink is stored.
        p.Method = 0;
        p.Out = std::move(in);
      }
      return;
    }
    if (n == 0) {
      p.Err = deFatal;
      return;
    }
    if (!p.Last && !Continuable(p.Out)) p.Err = deFatal;
    return;
  }
#endif
  z_stream zs{};
  if (deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    p.Err = deNoMemory;
    return;
  }
  if (p.Length >= 0 && p.Offset > 0) {
    uint8_t dict[kDictionary];
    const int64_t from = std::max<int64_t>(0, p.Offset - int64_t(kDictionary));
    int64_t got = 0;
    if (!ReadAt(src->Handle, dict, p.Offset - from, from, got) || got != p.Offset - from) {
      deflateEnd(&zs);
      p.Err = deReadFile;
      return;
    }
    deflateSetDictionary(&zs, dict, uInt(got));
  }
  p.Out.resize(deflateBound(&zs, uLong(in.size())) + 16);
  zs.next_in = in.data();
  zs.avail_in = uInt(in.size());
  zs.next_out = p.Out.data();
  zs.avail_out = uInt(p.Out.size());
  const int zr = ::deflate(&zs, p.Last ? Z_FINISH : Z_SYNC_FLUSH);
  const size_t n = p.Out.size() - zs.avail_out;
  deflateEnd(&zs);
  if (zr == Z_STREAM_ERROR || zs.avail_in != 0 || (p.Last && zr != Z_STREAM_END)) {
    p.Err = deFatal;
    return;
  }
  p.Out.resize(n);
  // A whole file that does not shrink is stored (a piece cannot be: the others are
  // deflated).
  if (p.Length < 0 && n >= in.size()) {
    p.Method = 0;
    p.Out = std::move(in);
  }
}

void TPacker::Work() {
  for (;;) {
    size_t index;
    {
      std::unique_lock<std::mutex> lock(FLock);
      FRoomCv.wait(lock, [&] {
        if (FQuit || FNext >= FPieces.size()) return true;
        return FNext == FHead || FInFlight + FPieces[FNext].Reserve <= kBudget;
      });
      if (FQuit || FNext >= FPieces.size()) return;
      index = FNext++;
      FInFlight += FPieces[index].Reserve;
    }
    TPiece& p = FPieces[index];
    try {
      Compress(p);
    } catch (const std::bad_alloc&) {
      p.Out.clear();
      p.Err = deNoMemory;
    }
    {
      std::lock_guard<std::mutex> g(FLock);
      p.Done = true;
      if (p.Last || p.Err) FSources[p.Item].reset();
    }
    FDoneCv.notify_all();
  }
}

void TPacker::Stop() {
  {
    std::lock_guard<std::mutex> g(FLock);
    FQuit = true;
  }
  FRoomCv.notify_all();
  for (std::thread& t : FThreads)
    if (t.joinable()) t.join();
  FThreads.clear();
}

void TPacker::WaitDone(std::unique_lock<std::mutex>& lock, size_t index) {
  FDoneCv.wait(lock, [&] { return FPieces[index].Done; });
}

void TPacker::Release(size_t index) {
  {
    std::lock_guard<std::mutex> g(FLock);
    TPiece& p = FPieces[index];
    FInFlight -= p.Reserve;
    std::vector<uint8_t>().swap(p.Out);
    FHead = index + 1;
  }
  FRoomCv.notify_all();
}

void TPacker::Emit(TDZStreamRec& rec, TDZCrypt* crypt, TDZAesCipher* aes, uint8_t* data, size_t n,
                   int64_t& written) {
  for (size_t at = 0; at < n;) {
    const size_t k = std::min(kWriteStep, n - at);
    if (crypt) crypt->Encrypt(data + at, k);
    if (aes) aes->Encrypt(data + at, k);
    rec.StreamOp = DZ_SO_WRITE;
    rec.DataPtr = data + at;
    rec.ByteCount = int32_t(k);
    if (!FHost.StreamCall(rec) || rec.ByteCount != int32_t(k)) {
      FHost.ErrorMsg(deWriteFile, " (archive)");
      throw EDZStop{deWriteFile};
    }
    at += k;
    written += int64_t(k);
    FHost.Progress(DZ_CB_STEP, int64_t(k), 0, std::string());
    FHost.CheckStop();
  }
}

int TPacker::Run() {
  bool encrypt = false;
  int64_t total = 0;
  for (int i = 0; i < FJob.Count; ++i) {
    encrypt |= (FJob.Items[i].Flags & DZ_PACK_ENCRYPT) != 0;
    total += std::max<int64_t>(FJob.Items[i].Size, 0);
  }
  if (encrypt) {
    if (const int r = FHost.PasswordForWriting(FPassword); r != 0) return r;
  }
  Plan();
  FHost.Progress(DZ_CB_TOTAL_ITEMS, 0, 0, std::string(), FJob.Count);
  FHost.Progress(DZ_CB_TOTAL_BYTES, total, 0, std::string());
  FHost.CheckStop();
  int threads = FJob.Threads > 0 ? FJob.Threads : int(std::thread::hardware_concurrency());
  threads = std::clamp(threads, 1, 64);
  for (int t = 0; t < threads; ++t) FThreads.emplace_back([this] { Work(); });

  std::random_device rd;
  for (size_t k = 0; k < FPieces.size();) {
    const size_t first = k;
    TDZPackItem& it = FJob.Items[FPieces[first].Item];
    const std::string name = it.Path ? it.Path : "";
    size_t end = first;
    while (end < FPieces.size() && FPieces[end].Item == FPieces[first].Item) ++end;
    const bool whole = FPieces[first].Length < 0;
    {
      std::unique_lock<std::mutex> lock(FLock);
      WaitDone(lock, first);
    }
    TPiece& head = FPieces[first];
    if (head.Err == deFileNotFound || (whole && head.Err)) {
      // Nothing of the item has been written: it is left out.
      it.Result = 0;
      FHost.Skipped(name, head.Err == deFileNotFound ? skNoOpen : skReadError, head.Err);
      for (size_t j = first; j < end; ++j) {
        std::unique_lock<std::mutex> lock(FLock);
        WaitDone(lock, j);
        lock.unlock();
        Release(j);
      }
      FHost.CheckStop();
      k = end;
      continue;
    }
    const bool crypted = (it.Flags & DZ_PACK_ENCRYPT) != 0;
    const bool aes = crypted && (it.Flags & DZ_PACK_AES) != 0;
    TDZAesField field;
    field.Valid = true;
    field.Version = 2;
    field.Strength = 3;
    field.Method = uint16_t(head.Method);
    // Bytes around the data: the salt, verifier and code, or the traditional header.
    const int64_t around = aes       ? int64_t(TDZAesCipher::HeaderSizeFor(field) + TDZAesCipher::kMacSize)
                           : crypted ? int64_t(TDZCrypt::kHeaderSize)
                                     : 0;
    it.Level = head.Method;
    if (whole) {
      it.Flags |= DZ_PACK_KNOWN;
      it.Crc = head.Crc;
      it.Size = head.Read;
      it.CompSize = int64_t(head.Out.size()) + around;
    } else {
      it.Flags &= ~DZ_PACK_KNOWN;
    }
    TDZStreamRec rec{};
    rec.StreamOp = DZ_SO_OPEN;
    rec.StreamNo = DZ_PACK_STREAM + int32_t(FPieces[first].Item);
    if (!FHost.StreamCall(rec) || !rec.StreamRef) {
      FHost.ErrorMsg(deWriteFile, " (archive)");
      return -deWriteFile;
    }
    FHost.Progress(DZ_CB_ITEM, std::max<int64_t>(it.Size, 0), 0, name);
    FHost.CheckStop();
    int64_t written = 0;
    TDZCrypt crypt;
    TDZAesCipher cipher;
    if (aes) {
      uint8_t h[32 + TDZAesCipher::kVerifierSize];
      const size_t salt = field.SaltBytes();
      for (size_t i = 0; i < salt; ++i) h[i] = uint8_t(rd());
      if (!cipher.InitNew(field, FPassword, h)) {
        FHost.ErrorMsg(deFatal, " (AES keys)");
        return -deFatal;
      }
      Emit(rec, nullptr, nullptr, h, salt + TDZAesCipher::kVerifierSize, written);
    } else if (crypted) {
      crypt.Init(FPassword);
      uint8_t h[TDZCrypt::kHeaderSize];
      for (size_t i = 0; i + 1 < sizeof h; ++i) h[i] = uint8_t(rd());
      h[sizeof h - 1] = whole ? uint8_t(it.Crc >> 24) : uint8_t(it.DosTime >> 8);
      Emit(rec, &crypt, nullptr, h, sizeof h, written);
    }
    uint32_t crc = 0;
    int64_t read = 0;
    int err = 0;
    for (size_t j = first; j < end; ++j) {
      {
        std::unique_lock<std::mutex> lock(FLock);
        WaitDone(lock, j);
      }
      TPiece& p = FPieces[j];
      if (!err && p.Err) err = p.Err;
      if (!err) {
        crc = j == first ? p.Crc : uint32_t(crc32_combine(crc, p.Crc, z_off_t(p.Read)));
        read += p.Read;
        Emit(rec, crypted && !aes ? &crypt : nullptr, aes ? &cipher : nullptr, p.Out.data(), p.Out.size(),
             written);
      }
      Release(j);
    }
    if (aes && !err) {
      uint8_t code[TDZAesCipher::kMacSize];
      cipher.Code(code);
      Emit(rec, nullptr, nullptr, code, sizeof code, written);
    }
    if (err) {
      // Part of the item is written: the caller takes it out again.
      it.Result = -err;
      FHost.Skipped(name, err == deError ? skSizeChange : skReadError, err);
    } else {
      it.Result = 1;
      it.Crc = crc;
      it.Size = read;
      it.CompSize = written;
    }
    rec.StreamOp = DZ_SO_CLOSE;
    rec.DataPtr = nullptr;
    rec.ByteCount = 0;
    if (!FHost.StreamCall(rec)) {
      FHost.ErrorMsg(deWriteFile, " (archive)");
      return -deWriteFile;
    }
    FHost.Progress(DZ_CB_ITEM, -1, 0, name);
    FHost.CheckStop();
    k = end;
  }
  Stop();
  FHost.Progress(DZ_CB_BATCH_END, 0, 0, std::string());
  return 1;
}

}  // namespace

int RunPack(TDZHost& host) {
  auto* job = static_cast<TDZPackJob*>(host.Cmd().OpData);
  if (!job || job->Count < 0 || (job->Count > 0 && !job->Items) || !host.HasStreams()) {
    host.ErrorMsg(deBadOptions, " (no files to pack)");
    return -deBadOptions;
  }
  TPacker packer(host, *job);
  return packer.Run();
}

}  // namespace dz
