#include "ZMInflateCore.h"

#include <algorithm>
#include <cstring>

namespace zm {

namespace {

// A table entry is one 32-bit word:
//   bits 0-7   bits consumed at this level: the code bits plus, for a length or a
//              distance, its extra bits, so one shift takes both
//   bits 8-12  code bits at this level (the extra bits follow them), or the index
//              bits of a sub-table
//   bit 14     special: value 0 ends the block, value 1 is an invalid code
//   bit 15     link to a sub-table
//   bits 16-31 value: length or distance base, or sub-table offset; a literal has
//              its byte in bits 16-23 and bit 31 set (literal/length tables only)
constexpr uint32_t kLitFlag = 0x80000000u;
constexpr uint32_t kSpecialFlag = 0x4000u;
constexpr uint32_t kLinkFlag = 0x8000u;

// An entry without its code length: total = extra bits, code bits 0.
constexpr uint32_t MakeEntry(uint32_t flags, uint32_t extra, uint32_t value) {
  return flags | (value << 16) | extra;
}
// Adds the code length of a leaf.
constexpr uint32_t WithLen(uint32_t e, uint32_t len) { return e + len + (len << 8); }
inline unsigned EntTotal(uint32_t e) { return e & 0x3F; }
inline unsigned EntLen(uint32_t e) { return (e >> 8) & 0x1F; }
inline unsigned EntExtra(uint32_t e) { return EntTotal(e) - EntLen(e); }
inline unsigned EntValue(uint32_t e) { return e >> 16; }
constexpr uint64_t BitMask(unsigned n) { return (uint64_t(1) << n) - 1; }
// Value plus the extra bits that follow the code in the bits saved before the shift.
inline unsigned EntPlusExtra(uint32_t e, uint64_t saved) {
  return EntValue(e) + unsigned((saved & BitMask(EntTotal(e))) >> EntLen(e));
}

constexpr uint32_t kEndOfBlock = MakeEntry(kSpecialFlag, 0, 0);
constexpr uint32_t kInvalid = MakeEntry(kSpecialFlag, 0, 1);

const uint8_t kCodeLenOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Table entries of every symbol, per mode (0: Deflate, 1: Deflate64).
struct TSymbolEntries {
  uint32_t Lit[2][288];
  uint32_t Dist[2][32];
};

constexpr TSymbolEntries MakeSymbolEntries() {
  TSymbolEntries t{};
  for (unsigned m = 0; m < 2; ++m) {
    for (unsigned sym = 0; sym < 288; ++sym) {
      uint32_t e = kInvalid;
      if (sym < 256)
        e = MakeEntry(kLitFlag, 0, sym);
      else if (sym == 256)
        e = kEndOfBlock;
      else if (sym == 285 && m == 1)
        e = MakeEntry(0, 16, 3);
      else if (sym <= 285)
        e = MakeEntry(0, kLenExtra[sym - 257], kLenBase[sym - 257]);
      t.Lit[m][sym] = e;
    }
    for (unsigned sym = 0; sym < 32; ++sym)
      t.Dist[m][sym] = sym < 30 || m == 1 ? MakeEntry(0, kDistExtra[sym], kDistBase[sym]) : kInvalid;
  }
  return t;
}

constexpr TSymbolEntries kSymbolEntries = MakeSymbolEntries();

constexpr unsigned kLitRootBits = 11;
constexpr unsigned kDistRootBits = 8;
constexpr unsigned kCodeLenRootBits = 7;

// Every sub-table belongs to a code longer than the root bits and holds at most
// 2^(15 - root) entries, which bounds the space of a table of n symbols.
constexpr size_t TableBound(size_t symbols, unsigned root) {
  return (size_t(1) << root) + symbols * (size_t(1) << (15 - root));
}

inline uint64_t LoadLE64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

// Fast-path margins: bytes of input that one iteration may load (two refills of 8
// bytes, the second at most 7 bytes on), and bytes of output that one iteration may
// write (a 258-byte match copied in 16-byte blocks).
constexpr size_t kFastInMargin = 16;
constexpr size_t kFastOutMargin = 258 + 16;

}  // namespace

const size_t TZMInflateCore::kDefaultPoolEntries =
    (size_t(1) << kLitRootBits) + (size_t(1) << kDistRootBits) +  // fixed tables
    (size_t(1) << kCodeLenRootBits) +                             // code-length code table
    TableBound(288, kLitRootBits) + TableBound(32, kDistRootBits);

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(__BMI2__)
#define ZM_INFLATE_BMI2 1
#define ZM_ALWAYS_INLINE __attribute__((always_inline))
#else
#define ZM_ALWAYS_INLINE
#endif

TZMInflateCore::TZMInflateCore(TInflateMode mode, size_t poolEntries)
    : FMode(mode),
      FHistory(mode == TInflateMode::Deflate64 ? 65536 : 32768),
      FLitEntries(kSymbolEntries.Lit[mode == TInflateMode::Deflate64]),
      FDistEntries(kSymbolEntries.Dist[mode == TInflateMode::Deflate64]),
      FPool(poolEntries) {
#ifdef ZM_INFLATE_BMI2
  FUseBmi2 = __builtin_cpu_supports("bmi2");
#endif
}

uint64_t TZMInflateCore::InConsumed() const {
  unsigned real = FBitCount > FPadBits ? FBitCount - FPadBits : 0;
  return FInRead - uint64_t(FInEnd - FInPos) - real / 8;
}

// Builds a canonical Huffman lookup table from code lengths. Returns 0, irBadData for
// an incomplete or empty set, irBadCodes for an over-subscribed set, or irNoTableSpace.
// A single code of length 1 is accepted for literal/length and distance codes, and a
// distance set without codes (a block of literals only), as RFC 1951 allows.
int TZMInflateCore::BuildTable(const uint8_t* lens, unsigned n, TTableKind kind, unsigned maxRoot,
                               TTable& table) {
  // Four sets of counters, so that runs of equal lengths do not wait on one counter.
  unsigned counts[4][16] = {};
  unsigned i = 0;
  for (; i + 4 <= n; i += 4) {
    counts[0][lens[i]]++;
    counts[1][lens[i + 1]]++;
    counts[2][lens[i + 2]]++;
    counts[3][lens[i + 3]]++;
  }
  for (; i < n; ++i) counts[0][lens[i]]++;
  unsigned count[16];
  for (unsigned len = 0; len < 16; ++len)
    count[len] = counts[0][len] + counts[1][len] + counts[2][len] + counts[3][len];
  unsigned maxLen = 15;
  while (maxLen > 0 && count[maxLen] == 0) --maxLen;
  unsigned numCodes = n - count[0];
  int left = 1;
  for (unsigned len = 1; len <= 15; ++len) {
    left <<= 1;
    left -= int(count[len]);
    if (left < 0) return irBadCodes;
  }
  if (numCodes == 0) {
    if (kind != tkDist) return irBadData;
  } else if (left > 0) {
    if (kind == tkCodeLen || numCodes != 1 || maxLen != 1) return irBadData;
  }

  // Literal/length and distance tables always index their full root bits, so the
  // fast loop masks with constants; short codes fill several entries.
  unsigned root = kind == tkCodeLen ? std::min(maxRoot, std::max(maxLen, 1u)) : maxRoot;
  size_t size = size_t(1) << root;
  if (FPoolUsed + size > FPool.size()) return irNoTableSpace;
  table.Offset = uint32_t(FPoolUsed);
  table.Bits = root;
  uint32_t* t = FPool.data() + FPoolUsed;
  FPoolUsed += size;
  // A complete code set fills every entry; only an incomplete one leaves gaps.
  const bool gaps = left > 0;
  if (gaps) std::fill(t, t + size, WithLen(kInvalid, root));
  if (numCodes == 0) return irOk;
  const uint32_t* entries = kind == tkLitLen ? FLitEntries : FDistEntries;

  unsigned offs[17];
  offs[1] = 0;
  for (unsigned len = 1; len < 16; ++len) offs[len + 1] = offs[len] + count[len];
  uint16_t sorted[288];
  for (unsigned sym = 0; sym < n; ++sym)
    if (lens[sym]) sorted[offs[lens[sym]]++] = uint16_t(sym);

  uint32_t huff = 0;  // the current code, bit-reversed
  // The next code of the same length, bit-reversed (the increment runs from the top).
  auto nextCode = [&huff](unsigned len) {
    uint32_t incr = uint32_t(1) << (len - 1);
    while (huff & incr) incr >>= 1;
    if (incr) {
      huff &= incr - 1;
      huff += incr;
    } else {
      huff = 0;
    }
  };
  i = 0;
  if (!gaps) {
    // First level of a complete set: the codes of each length go into a table of
    // 2^length entries, which is then doubled for the next length (the shorter codes
    // repeat with their period), up to the root bits.
    unsigned len = 1;
    while (count[len] == 0) ++len;
    if (len <= root) {
      size_t end = size_t(1) << len;
      for (;;) {
        for (unsigned c = count[len]; c; --c) {
          const unsigned sym = sorted[i++];
          t[huff] = WithLen(kind == tkCodeLen ? MakeEntry(0, 0, sym) : entries[sym], len);
          nextCode(len);
        }
        if (len == root) break;
        std::memcpy(t + end, t, end * sizeof(uint32_t));
        end <<= 1;
        ++len;
      }
    }
  }
  uint32_t low = ~0u;
  uint32_t* sub = nullptr;
  unsigned subBits = 0;
  for (; i < numCodes; ++i) {
    unsigned sym = sorted[i];
    unsigned len = lens[sym];
    const uint32_t ent = kind == tkCodeLen ? MakeEntry(0, 0, sym) : entries[sym];
    if (len <= root) {
      for (uint32_t k = huff; k < size; k += uint32_t(1) << len) t[k] = WithLen(ent, len);
    } else {
      if ((huff & (size - 1)) != low) {
        // Size the sub-table from the codes still to be placed.
        unsigned curr = len - root;
        int room = 1 << curr;
        while (curr + root < maxLen) {
          room -= int(count[curr + root]);
          if (room <= 0) break;
          ++curr;
          room <<= 1;
        }
        size_t subSize = size_t(1) << curr;
        if (FPoolUsed + subSize > FPool.size()) return irNoTableSpace;
        sub = FPool.data() + FPoolUsed;
        if (gaps) std::fill(sub, sub + subSize, WithLen(kInvalid, curr));
        low = huff & uint32_t(size - 1);
        t[low] = kLinkFlag | (uint32_t(FPoolUsed - table.Offset) << 16) | (curr << 8) | root;
        FPoolUsed += subSize;
        subBits = curr;
      }
      for (uint32_t k = huff >> root; k < (uint32_t(1) << subBits); k += uint32_t(1) << (len - root))
        sub[k] = WithLen(ent, len - root);
    }
    count[len]--;
    nextCode(len);
  }
  return irOk;
}

bool TZMInflateCore::FillInput() {
  if (FEof) return false;
  if (FStoredRuns) KeepStored();  // they live in the buffer about to be refilled
  ptrdiff_t n = (*FReader)(FIn.get(), kInBufSize);
  if (n <= 0) {
    FEof = true;
    FReadError = n < 0;
    return false;
  }
  if (size_t(n) > kInBufSize) n = ptrdiff_t(kInBufSize);
  FInPos = FIn.get();
  FInEnd = FInPos + n;
  FInRead += uint64_t(n);
  return true;
}

// Adds 8 bits. After the end of input they are zero bits, which a final code may look
// at but never consume; consuming them is caught at the next request.
bool TZMInflateCore::MoreBits() {
  if (FInPos == FInEnd && !FillInput()) {
    if (FReadError) {
      FFail = irReadFailed;
      return false;
    }
    if (FBitCount < FPadBits) {
      FFail = irBadData;
      return false;
    }
    FPadBits += 8;
    FBitCount += 8;
    return true;
  }
  FBits |= uint64_t(*FInPos++) << FBitCount;
  FBitCount += 8;
  return true;
}

// Fields of a fixed width must lie within the input; only codes may look past it.
bool TZMInflateCore::NeedBits(unsigned n) {
  while (FBitCount < n)
    if (!MoreBits()) return false;
  if (FPadBits && FBitCount < n + FPadBits) {
    FFail = irBadData;
    return false;
  }
  return true;
}

// Decodes one symbol, taking input bytes only as far as the code needs them.
bool TZMInflateCore::DecodeSlow(const TTable& tab, uint32_t& entry) {
  const uint32_t* t = FPool.data() + tab.Offset;
  for (;;) {
    uint32_t e = t[FBits & BitMask(tab.Bits)];
    if (e & kLinkFlag) {
      uint32_t e2 = t[EntValue(e) + ((FBits >> tab.Bits) & BitMask(EntLen(e)))];
      if (tab.Bits + EntLen(e2) <= FBitCount) {
        Consume(tab.Bits + EntLen(e2));
        entry = e2;
        break;
      }
    } else if (EntLen(e) <= FBitCount) {
      Consume(EntLen(e));
      entry = e;
      break;
    }
    if (!MoreBits()) return false;
  }
  if (FBitCount < FPadBits) {  // the code ran past the end of the input
    FFail = irBadData;
    return false;
  }
  return true;
}

bool TZMInflateCore::Flush(bool slide) {
  size_t n = size_t(FOutPos - FFlushStart);
  if (n) {
    FOutCount += n;
    if (*FSink && !(*FSink)(FFlushStart, n)) {
      FFail = irWriteFailed;
      return false;
    }
  }
  if (slide && FOutPos == FBufEnd) {
    std::memmove(FOut.get(), FOutPos - FHistory, FHistory);
    FOutPos = FOut.get() + FHistory;
    FValidStart = FOut.get();
  }
  FFlushStart = FOutPos;
  FOutLimit = FOutPos + std::min(FOutChunk, size_t(FBufEnd - FOutPos));
  return true;
}

// Zeroes the history before the first byte of the stream, the first time a distance
// reaches back there (the area is at least as long as the history, so before the
// first slide this is exactly the unwritten start of the buffer).
void TZMInflateCore::ZeroHistory() {
  std::memset(FOut.get(), 0, size_t(FValidStart - FOut.get()));
  FValidStart = FOut.get();
}

// Copies a match near the end of the output chunk, flushing as it goes.
bool TZMInflateCore::CopyMatch(unsigned dist, unsigned len) {
  if (dist > size_t(FOutPos - FValidStart)) ZeroHistory();
  while (len) {
    if (FOutPos == FOutLimit && !Flush(true)) return false;
    size_t n = std::min(size_t(len), size_t(FOutLimit - FOutPos));
    uint8_t* d = FOutPos;
    const uint8_t* s = d - dist;
    if (dist >= n) {
      std::memcpy(d, s, n);
    } else {
      for (size_t i = 0; i < n; ++i) d[i] = s[i];
    }
    FOutPos += n;
    len -= unsigned(n);
  }
  return true;
}

int TZMInflateCore::StoredBlock() {
  Consume(FBitCount & 7);
  if (!NeedBits(32)) return FFail;
  unsigned len = unsigned(FBits & 0xFFFF);
  unsigned nlen = unsigned((FBits >> 16) & 0xFFFF);
  Consume(32);
  if (FBitCount < FPadBits) return irBadData;
  if (nlen != (~len & 0xFFFFu)) return irBadData;
  if (FPadBits && len > (FBitCount - FPadBits) / 8) return irBadData;
  if (len && FBitCount >= 8) {
    // Bytes already in the accumulator go through the window, after the runs before.
    if (FStoredRuns) KeepStored();
    while (len && FBitCount >= 8) {
      if (FOutPos == FOutLimit && !Flush(true)) return FFail;
      *FOutPos++ = uint8_t(FBits);
      Consume(8);
      --len;
    }
  }
  if (!len) return irOk;
  // The rest goes to the sink straight from the input buffer, after what the window
  // holds; the window takes it later (KeepStored).
  if (!Flush(false)) return FFail;
  while (len) {
    if (FInPos == FInEnd && !FillInput()) return FReadError ? irReadFailed : irBadData;
    size_t n = std::min({size_t(len), size_t(FInEnd - FInPos), FOutChunk});
    FOutCount += n;
    if (*FSink && !(*FSink)(FInPos, n)) return irWriteFailed;
    if (FStoredRuns == kMaxStoredRuns) KeepStored();
    FStored[FStoredRuns++] = {FInPos, n};
    FInPos += n;
    len -= unsigned(n);
  }
  return irOk;
}

// Moves the stored bytes sent straight to the sink into the window: only the last
// FHistory of them, since nothing reaches further back.
void TZMInflateCore::KeepStored() {
  size_t total = 0;
  for (unsigned i = 0; i < FStoredRuns; ++i) total += FStored[i].Size;
  size_t skip = total > FHistory ? total - FHistory : 0;
  size_t keep = total - skip;
  uint8_t* dst;
  if (keep == FHistory) {
    dst = FOut.get();
    FValidStart = FOut.get();
  } else if (keep <= size_t(FBufEnd - FOutPos)) {
    dst = FOutPos;
  } else {
    // Slide: the newest window bytes move down in front of the kept ones.
    const size_t old = FHistory - keep;
    std::memmove(FOut.get(), FOutPos - old, old);
    dst = FOut.get() + old;
    FValidStart = FOut.get();
  }
  for (unsigned i = 0; i < FStoredRuns; ++i) {
    const TStoredRun& r = FStored[i];
    if (skip >= r.Size) {
      skip -= r.Size;
      continue;
    }
    std::memcpy(dst, r.Data + skip, r.Size - skip);
    dst += r.Size - skip;
    skip = 0;
  }
  FStoredRuns = 0;
  FOutPos = FFlushStart = dst;
  FOutLimit = FOutPos + std::min(FOutChunk, size_t(FBufEnd - FOutPos));
}

int TZMInflateCore::DynamicTables(TTable& lit, TTable& dist) {
  if (!NeedBits(14)) return FFail;
  unsigned nlit = unsigned(FBits & 0x1F) + 257;
  unsigned ndist = unsigned((FBits >> 5) & 0x1F) + 1;
  unsigned ncode = unsigned((FBits >> 10) & 0xF) + 4;
  Consume(14);
  // The 5-bit fields cannot exceed 288 and 32; codes beyond the alphabet are invalid
  // when they occur in the data.
  uint8_t lens[288 + 32];
  std::memset(lens, 0, 19);
  for (unsigned i = 0; i < ncode; ++i) {
    if (!NeedBits(3)) return FFail;
    lens[kCodeLenOrder[i]] = uint8_t(FBits & 7);
    Consume(3);
  }
  TTable clTable;
  int r = BuildTable(lens, 19, tkCodeLen, kCodeLenRootBits, clTable);
  if (r) return r;

  unsigned total = nlit + ndist;
  unsigned i = 0;
  uint8_t prev = 0;
  const uint32_t* const clt = FPool.data() + clTable.Offset;
  const uint64_t clMask = BitMask(clTable.Bits);
  while (i < total) {
    uint32_t e;
    if (!FPadBits && FInEnd - FInPos >= 8) {
      // Enough input at hand: one refill covers a code and its repeat bits (7 + 7).
      // The code-length table indexes every code at its first level.
      if (FBitCount < 14) {
        FBits |= LoadLE64(FInPos) << FBitCount;
        FInPos += (63 - FBitCount) >> 3;
        FBitCount |= 56;
      }
      e = clt[FBits & clMask];
      Consume(EntLen(e));
    } else if (!DecodeSlow(clTable, e)) {
      return FFail;
    }
    unsigned sym = EntValue(e);
    if (sym < 16) {
      lens[i++] = uint8_t(sym);
      prev = uint8_t(sym);
      continue;
    }
    unsigned rep;
    uint8_t val = 0;
    if (sym == 16) {
      if (!NeedBits(2)) return FFail;
      rep = 3 + unsigned(FBits & 3);
      Consume(2);
      val = prev;
    } else if (sym == 17) {
      if (!NeedBits(3)) return FFail;
      rep = 3 + unsigned(FBits & 7);
      Consume(3);
      prev = 0;
    } else {
      if (!NeedBits(7)) return FFail;
      rep = 11 + unsigned(FBits & 0x7F);
      Consume(7);
      prev = 0;
    }
    if (i + rep > total) return irBadData;
    std::memset(lens + i, val, rep);
    i += rep;
  }
  if (FBitCount < FPadBits) return irBadData;
  FBits &= BitMask(FBitCount);
  r = BuildTable(lens, nlit, tkLitLen, kLitRootBits, lit);
  if (r) return r;
  return BuildTable(lens + nlit, ndist, tkDist, kDistRootBits, dist);
}

// Decodes while there is room for a whole symbol in input and output. Returns 0 at the
// end of the block, a failure code, or -1 when the margins ran out.
//
// After a refill the accumulator holds 64 bits of input, of which n (at least 56) are
// counted. The entry of the next symbol is looked up as soon as its bits are known, so
// that its load overlaps the work on the current one; bits looked at beyond n are real
// input, which the next refill ORs in again unchanged.
inline ZM_ALWAYS_INLINE int TZMInflateCore::FastLoopBody(const TTable& lit, const TTable& dist) {
  const uint32_t* const lt = FPool.data() + lit.Offset;
  const uint32_t* const dt = FPool.data() + dist.Offset;
  // Both tables index their full root bits (see BuildTable).
  constexpr uint64_t lmask = BitMask(kLitRootBits);
  constexpr uint64_t dmask = BitMask(kDistRootBits);
  constexpr unsigned dbits = kDistRootBits;
  // A Deflate64 length may take 31 bits and its distance 29: refill between them so
  // that at least a root code's bits stay after the distance.
  const unsigned midRefill = FMode == TInflateMode::Deflate64 ? 40 : 0;
  uint64_t b = FBits;
  unsigned n = FBitCount;
  const uint8_t* in = FInPos;
  const uint8_t* const inLast = FInEnd - kFastInMargin;
  uint8_t* out = FOutPos;
  uint8_t* const outLast = FOutLimit - kFastOutMargin;
  const uint8_t* valid = FValidStart;
  int result = -1;

#define ZM_REFILL()         \
  do {                      \
    b |= LoadLE64(in) << n; \
    in += (63 - n) >> 3;    \
    n |= 56;                \
  } while (0)
// Takes the bits of entry e; the shift count needs no masking (at most 31).
#define ZM_TAKE(e)  \
  do {              \
    b >>= ((e)&63); \
    n -= ((e)&63);  \
  } while (0)

  // Each pass reads at most 16 bytes ahead of in and writes at most one match.
  ZM_REFILL();
  uint32_t e = lt[b & lmask];
  while (in <= inLast && out <= outLast) {
    ZM_REFILL();
    if (e & kLinkFlag) {
      ZM_TAKE(e);
      e = lt[EntValue(e) + (b & BitMask(EntLen(e)))];
    }
    uint64_t saved = b;
    ZM_TAKE(e);
    if (int32_t(e) < 0) {
      // Literals: up to three more whose codes fit the first level need no refill
      // (at most 15 + 3 * 11 bits of the 56; the next lookup sees bits up to 59 of
      // the 64 loaded).
      *out++ = uint8_t(e >> 16);
      e = lt[b & lmask];
      if (int32_t(e) < 0) {
        ZM_TAKE(e);
        *out++ = uint8_t(e >> 16);
        e = lt[b & lmask];
        if (int32_t(e) < 0) {
          ZM_TAKE(e);
          *out++ = uint8_t(e >> 16);
          e = lt[b & lmask];
          if (int32_t(e) < 0) {
            ZM_TAKE(e);
            *out++ = uint8_t(e >> 16);
            e = lt[b & lmask];
          }
        }
      }
      continue;
    }
    if (e & kSpecialFlag) {
      result = EntValue(e) == 0 ? irOk : irBadData;
      break;
    }
    unsigned len = EntPlusExtra(e, saved);
    if (n < midRefill) ZM_REFILL();
    e = dt[b & dmask];
    if (e & kLinkFlag) {
      b >>= dbits;
      n -= dbits;
      e = dt[EntValue(e) + (b & BitMask(EntLen(e)))];
    }
    saved = b;
    ZM_TAKE(e);
    if (e & kSpecialFlag) {
      result = irBadData;
      break;
    }
    unsigned d = EntPlusExtra(e, saved);
    e = lt[b & lmask];
    if (d > size_t(out - valid)) {
      ZeroHistory();
      valid = FValidStart;
    }
    if (len > 258) {
      // Only Deflate64 has matches this long; copy them the careful way.
      // CopyMatch may flush and slide the output, so the loop's limits are stale
      // afterwards: leave the loop and let the caller start it again.
      FOutPos = out;
      if (!CopyMatch(d, len)) result = FFail;
      out = FOutPos;
      break;
    }
    // Distances never reach before the buffer: it keeps a whole window of history.
    const uint8_t* src = out - d;
    uint8_t* dst = out;
    out += len;
    if (d >= 16) {
      // Most matches are short: two blocks without a test (the margin allows for
      // them), then the rest.
      std::memcpy(dst, src, 16);
      std::memcpy(dst + 16, src + 16, 16);
      dst += 32;
      src += 32;
      while (dst < out) {
        std::memcpy(dst, src, 16);
        dst += 16;
        src += 16;
      }
    } else if (d >= 8) {
      do {
        std::memcpy(dst, src, 8);
        dst += 8;
        src += 8;
      } while (dst < out);
    } else if (d == 1) {
      uint64_t v = 0x0101010101010101ull * src[0];
      do {
        std::memcpy(dst, &v, 8);
        dst += 8;
      } while (dst < out);
    } else {
      // Period d below 8: lay down one period multiple of at least 8 bytes, then copy
      // words from that far back.
      unsigned step = (8 + d - 1) / d * d;
      unsigned i = 0;
      for (; i < step && i < len; ++i) dst[i] = src[i];
      for (; i < len; i += 8) std::memcpy(dst + i, dst + i - step, 8);
    }
  }
#undef ZM_TAKE
#undef ZM_REFILL

  FBits = b & BitMask(n);
  FBitCount = n;
  FInPos = in;
  FOutPos = out;
  return result;
}

int TZMInflateCore::FastLoop(const TTable& lit, const TTable& dist) { return FastLoopBody(lit, dist); }

#ifdef ZM_INFLATE_BMI2
__attribute__((target("bmi2")))
#endif
int TZMInflateCore::FastLoopBmi2(const TTable& lit, const TTable& dist) {
  return FastLoopBody(lit, dist);
}

int TZMInflateCore::HuffBlock(const TTable& lit, const TTable& dist) {
  if (FStoredRuns) KeepStored();
  for (;;) {
    if (size_t(FInEnd - FInPos) >= kFastInMargin && size_t(FOutLimit - FOutPos) >= kFastOutMargin) {
      int r = FUseBmi2 ? FastLoopBmi2(lit, dist) : FastLoop(lit, dist);
      if (r >= 0) return r;
    }
    uint32_t e;
    if (!DecodeSlow(lit, e)) return FFail;
    if (int32_t(e) < 0) {
      if (FOutPos == FOutLimit && !Flush(true)) return FFail;
      *FOutPos++ = uint8_t(EntValue(e));
      continue;
    }
    if (e & kSpecialFlag) return EntValue(e) == 0 ? irOk : irBadData;
    if (!NeedBits(EntExtra(e))) return FFail;
    unsigned len = EntValue(e) + unsigned(FBits & BitMask(EntExtra(e)));
    Consume(EntExtra(e));
    if (!DecodeSlow(dist, e)) return FFail;
    if (e & kSpecialFlag) return irBadData;
    if (!NeedBits(EntExtra(e))) return FFail;
    unsigned d = EntValue(e) + unsigned(FBits & BitMask(EntExtra(e)));
    Consume(EntExtra(e));
    if (!CopyMatch(d, len)) return FFail;
  }
}

int TZMInflateCore::Inflate(const TReader& reader, const TSink& sink) {
  FReader = &reader;
  if (!FIn) FIn = std::make_unique_for_overwrite<uint8_t[]>(kInBufSize);  // filled before it is read
  FInPos = FInEnd = FIn.get();
  FEof = false;
  FInRead = 0;
  return Decode(sink);
}

int TZMInflateCore::Inflate(const uint8_t* data, size_t size, const TSink& sink) {
  // All of the input is there: nothing is ever read, and stored bytes reach the sink
  // straight from the caller's memory, which stays valid until the end.
  FReader = nullptr;
  FInPos = data;
  FInEnd = data + size;
  FEof = true;
  FInRead = size;
  return Decode(sink);
}

int TZMInflateCore::Decode(const TSink& sink) {
  FSink = &sink;
  FReadError = false;
  FOutCount = 0;
  FBits = 0;
  FBitCount = FPadBits = 0;
  FFail = irOk;
  size_t area = std::max(FOutChunk, kOutChunk);
  if (FOutSize != FHistory + area + kFastOutMargin) {
    FOutSize = FHistory + area + kFastOutMargin;
    FOut.reset(new uint8_t[FOutSize]);
  }
  FOutPos = FFlushStart = FValidStart = FOut.get() + FHistory;
  FStoredRuns = 0;
  FBufEnd = FOutPos + area;
  FOutLimit = FOutPos + std::min(FOutChunk, area);

  if (!FFixedBuilt) {
    FPoolUsed = 0;
    uint8_t lens[288];
    std::memset(lens, 8, 144);
    std::memset(lens + 144, 9, 112);
    std::memset(lens + 256, 7, 24);
    std::memset(lens + 280, 8, 8);
    int r = BuildTable(lens, 288, tkLitLen, kLitRootBits, FFixedLit);
    if (r) return r;
    std::memset(lens, 5, 32);
    r = BuildTable(lens, 32, tkDist, kDistRootBits, FFixedDist);
    if (r) return r;
    FPoolMark = FPoolUsed;
    FFixedBuilt = true;
  }

  bool last = false;
  while (!last) {
    if (!NeedBits(3)) return FFail;
    last = FBits & 1;
    unsigned type = unsigned(FBits >> 1) & 3;
    Consume(3);
    FPoolUsed = FPoolMark;
    int r;
    switch (type) {
      case 0: r = StoredBlock(); break;
      case 1: r = HuffBlock(FFixedLit, FFixedDist); break;
      case 2: {
        TTable lit, dist;
        r = DynamicTables(lit, dist);
        if (r == irOk) r = HuffBlock(lit, dist);
        break;
      }
      default: r = irBadCodes; break;
    }
    if (r) return r;
  }
  if (FBitCount < FPadBits) return irBadData;  // the last code ran past the input
  if (!Flush(false)) return FFail;
  return irOk;
}

int InflateBuffer(const uint8_t* data, size_t size, std::vector<uint8_t>& out, TInflateMode mode) {
  TZMInflateCore core(mode);
  TZMInflateCore::TSink sink = [&](const uint8_t* p, size_t n) {
    out.insert(out.end(), p, p + n);
    return true;
  };
  return core.Inflate(data, size, sink);
}

}  // namespace zm
