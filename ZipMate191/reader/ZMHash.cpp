#include "ZMHash.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <new>
#include <random>

#include "ZMUtils.h"
#include "ZMMatch.h"
#include "ZMZipFile.h"

namespace {

inline uint8_t UpperAscii(uint8_t c) { return (c >= 'a' && c <= 'z') ? uint8_t(c - 32) : c; }

inline uint64_t Rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

struct TSipState {
  uint64_t V0, V1, V2, V3;
  void Round() {
    V0 += V1;
    V1 = Rotl(V1, 13) ^ V0;
    V0 = Rotl(V0, 32);
    V2 += V3;
    V3 = Rotl(V3, 16) ^ V2;
    V0 += V3;
    V3 = Rotl(V3, 21) ^ V0;
    V2 += V1;
    V1 = Rotl(V1, 17) ^ V2;
    V2 = Rotl(V2, 32);
  }
  void Take(uint64_t m) {
    V3 ^= m;
    Round();
    V0 ^= m;
  }
};

// The process's hash key, drawn once: names cannot be chosen to collide without it.
const uint64_t* HashKey() {
  static const auto key = [] {
    std::random_device rd;
    std::array<uint64_t, 2> k{};
    for (auto& w : k) w = (uint64_t(rd()) << 32) ^ rd();
    return k;
  }();
  return key.data();
}

// Names equal but for the case of ASCII letters; the bytes of names that are may still
// mean different names in a double-byte code page, which CompareNames settles.
bool EqualUpperAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperAscii(uint8_t(a[i])) != UpperAscii(uint8_t(b[i]))) return false;
  return true;
}

}  // namespace

uint32_t TZMDirHashList::KeyOf(std::string_view name) {
  // A keyed hash of one compression and three finishing rounds over the upper-cased
  // bytes, the length in the last word.
  const uint64_t* k = HashKey();
  TSipState s{k[0] ^ 0x736f6d6570736575ull, k[1] ^ 0x646f72616e646f6dull, k[0] ^ 0x6c7967656e657261ull,
              k[1] ^ 0x7465646279746573ull};
  const auto* p = reinterpret_cast<const uint8_t*>(name.data());
  const size_t n = name.size();
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t m = 0;
    for (int b = 0; b < 8; ++b) m |= uint64_t(UpperAscii(p[i + size_t(b)])) << (8 * b);
    s.Take(m);
  }
  uint64_t last = uint64_t(n) << 56;
  for (int b = 0; i < n; ++i, ++b) last |= uint64_t(UpperAscii(p[i])) << (8 * b);
  s.Take(last);
  s.V2 ^= 0xff;
  for (int r = 0; r < 3; ++r) s.Round();
  const uint64_t h = s.V0 ^ s.V1 ^ s.V2 ^ s.V3;
  return uint32_t(h ^ (h >> 32));
}

TZMDirHashList::TZMDirHashList(TZMZipFile* owner) : FOwner(owner) {}

TZMDirHashList::~TZMDirHashList() = default;

int64_t TZMDirHashList::SlotsFor(int64_t n) {
  int64_t size = kMinSlots;
  while (size < n && size < kMaxSlots) size *= 2;
  return size;
}

int64_t TZMDirHashList::SizeFor(int n) { return SlotsFor(std::max<int64_t>(n, 0) * 3 / 2 + 1); }

void TZMDirHashList::SetSizeFor(int n) { SetSize(SizeFor(n)); }

TZMDirHashList::TSlot* TZMDirHashList::NewSlots(size_t n) {
  auto* p = static_cast<TSlot*>(std::calloc(n, sizeof(TSlot)));
  if (!p) throw std::bad_alloc();
  return p;
}

void TZMDirHashList::SetSize(int64_t n) {
  Clear();
  if (n <= 0) return;
  const int64_t size = SlotsFor(n);
  FSlots.reset(NewSlots(size_t(size)));
  FMask = uint32_t(size - 1);
}

void TZMDirHashList::Clear() {
  FSlots.reset();
  FMask = 0;
  FCount = 0;
}

void TZMDirHashList::Place(uint32_t indexPlus1, uint32_t key) {
  uint32_t i = key & FMask;
  while (FSlots[i].IndexPlus1) i = (i + 1) & FMask;
  FSlots[i] = {indexPlus1, key};
}

void TZMDirHashList::ResizeFor(int n) {
  if (!FSlots) return;
  const int64_t size = std::max(SizeFor(n), SizeFor(FCount));
  if (size == SlotCount()) return;
  std::unique_ptr<TSlot[], TFree> old(NewSlots(size_t(size)));
  old.swap(FSlots);
  const uint32_t oldMask = FMask;
  FMask = uint32_t(size - 1);
  // Equal names lie in one run, in the order they were entered; walking the old slots
  // from just past an empty one meets every run from its start, so they come out in
  // that order again.
  uint32_t start = 0;
  while (old[start].IndexPlus1) ++start;
  for (uint32_t k = 1; k <= oldMask + 1; ++k) {
    const TSlot& s = old[(start + k) & oldMask];
    if (s.IndexPlus1) Place(s.IndexPlus1, s.Key);
  }
}

bool TZMDirHashList::Matches(const TSlot& slot, uint32_t key, std::string_view name) const {
  if (slot.Key != key) return false;
  const int index = int(slot.IndexPlus1 - 1);
  if (index >= FOwner->Count()) return false;
  const TZMZRec* rec = FOwner->Items(index);
  if (!rec) return false;
  const std::string_view stored = rec->NameRef();
  if (stored == name) return true;
  return EqualUpperAscii(stored, name) && CompareNames(std::string(stored), std::string(name)) == 0;
}

TZMZRec* TZMDirHashList::Add(int index, bool addDuplicate) {
  TZMZRec* rec = (index >= 0 && index < FOwner->Count()) ? FOwner->Items(index) : nullptr;
  assert(rec && "nil ZipDirEntry");
  if (!rec) return nullptr;
  if (!FSlots) SetSize(kDefaultSlots);
  // A table filled past two thirds grows, whoever fills it.
  if (SizeFor(FCount + 1) > SlotCount()) ResizeFor(2 * (FCount + 1));
  const std::string_view name = rec->NameRef();
  const uint32_t key = KeyOf(name);
  uint32_t i = key & FMask;
  TZMZRec* dup = nullptr;
  for (; FSlots[i].IndexPlus1; i = (i + 1) & FMask) {
    if (Matches(FSlots[i], key, name)) {
      dup = FOwner->Items(int(FSlots[i].IndexPlus1 - 1));
      if (!addDuplicate) return dup;
    }
  }
  FSlots[i] = {uint32_t(index) + 1, key};
  ++FCount;
  return dup;
}

int TZMDirHashList::Find(const std::string& name, bool includeMarked) const {
  if (!FSlots) return -1;
  const std::string key = WithPlatformSeparators(name);
  const uint32_t hash = KeyOf(key);
  for (uint32_t i = hash & FMask; FSlots[i].IndexPlus1; i = (i + 1) & FMask) {
    if (!Matches(FSlots[i], hash, key)) continue;
    const int index = int(FSlots[i].IndexPlus1 - 1);
    if (!includeMarked && (FOwner->Items(index)->StatusBits() & 128)) continue;
    return index;
  }
  return -1;
}
