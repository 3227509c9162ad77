#include "ZMInflt.h"

#include <algorithm>
#include <vector>

#include "ZMCrc32.h"
#include "ZMEndian.h"
#include "ZMXcpt.h"
#include "ZMMsg.h"

TZMInflate::TZMInflate(size_t poolEntries) : FCore(zm::TInflateMode::Deflate, poolEntries) {}

bool TZMInflate::Emit(const uint8_t* data, size_t n) {
  Crc = zm::Crc32UpdateFast(Crc, data, n);
  OutCount += int64_t(n);
  if (!OutStream) return true;
  while (n) {
    int part = int(std::min<size_t>(n, 1u << 30));
    if (OutStream->Write(data, part) != part) return false;
    data += part;
    n -= size_t(part);
  }
  return true;
}

int32_t TZMInflate::Inflate() {
  if (InStream && InStream == OutStream) throw EZMStreamsSame();
  Crc = 0xFFFFFFFFu;
  OutCount = 0;
  zm::TZMInflateCore::TReader reader = [this](uint8_t* buf, size_t max) -> ptrdiff_t {
    int64_t want = std::min<int64_t>({int64_t(max), kInChunk, InRemaining});
    if (want <= 0 || !InStream) return 0;
    int n = InStream->Read(buf, int(want));
    if (n <= 0) return 0;
    InRemaining -= n;
    return n;
  };
  zm::TZMInflateCore::TSink sink = [this](const uint8_t* p, size_t n) { return Emit(p, n); };
  int r = FCore.Inflate(reader, sink);
  switch (r) {
    case zm::irOk: Crc = ~Crc; return 0;
    case zm::irBadCodes: return 2;
    case zm::irWriteFailed: return ZM_ERROR(zmmZMInflt, zmsWriteErrorInOutputFile);
    case zm::irNoTableSpace: throw EZipMate::CreateCode(ZM_CODE(zmmZMInflt, zmsRequestedMemoryNotAvailable));
    default: return 1;
  }
}

int32_t TZMInflate::CopyStored() {
  if (InStream && InStream == OutStream) throw EZMStreamsSame();
  Crc = 0xFFFFFFFFu;
  OutCount = 0;
  const int64_t size = std::max<int64_t>(InRemaining, 0);
  std::vector<uint8_t> window(kStoredChunk);
  while (OutCount < size) {
    int chunk = int(std::min<int64_t>(kStoredChunk, size - OutCount));
    int got = 0;
    while (got < chunk && InStream) {
      int n = InStream->Read(window.data() + got, chunk - got);
      if (n <= 0) break;
      got += n;
    }
    InRemaining -= got;
    if (got < chunk) return ZM_ERROR(zmmZMInflt, zmsWriteErrorInOutputFile);
    if (!Emit(window.data(), size_t(chunk))) return ZM_ERROR(zmmZMInflt, zmsWriteErrorInOutputFile);
  }
  Crc = ~Crc;
  return 0;
}

int32_t InflateStream(TStream* output, TStream* input, uint16_t method, uint32_t& crc, int64_t size) {
  if (method != 0 && method != 8) return ZM_ERROR(zmmZMInflt, zmsUnsupportedZipVersion);
  TZMInflate decoder;
  decoder.InStream = input;
  decoder.OutStream = output;
  decoder.InRemaining = std::max<int64_t>(size, 0);
  int32_t r = method == 8 ? decoder.Inflate() : decoder.CopyStored();
  if (r != 0) return r;
  if (decoder.Crc == crc) return 0;
  crc = decoder.Crc;
  return ZM_ERROR(zmmZMInflt, zmsCrcError);
}

int32_t InflateResource(TStream* output, TStream* input, int64_t size) {
  uint8_t head[6];
  int got = 0;
  // A declared size too small for the header counts as a failed header read.
  while (input && size >= 6 && got < 6) {
    int n = input->Read(head + got, 6 - got);
    if (n <= 0) break;
    got += n;
  }
  if (got < 6) return ZM_ERROR(zmmZMInflt, zmsErrorReadingFile);
  uint16_t method = zm::GetLE16(head);
  uint32_t crc = zm::GetLE32(head + 2);
  return InflateStream(output, input, method, crc, size - 6);
}
