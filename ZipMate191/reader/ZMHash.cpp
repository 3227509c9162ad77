#include "ZMHash.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <random>

#include "ZMUtils.h"
#include "ZMMatch.h"
#include "ZMZipFile.h"

namespace {

const int kPrimes[] = {61,    131,   257,   389,   521,   641,   769,   1031,  1283,  1543,
                       2053,  2579,  3593,  4099,  5147,  6151,  7177,  8209,  10243, 12289,
                       14341, 16411, 18433, 20483, 22521, 24593, 28687, 32771, 40961, 65537};
constexpr int kPrimeCount = int(sizeof(kPrimes) / sizeof(kPrimes[0]));

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
bool EqualUpperAscii(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperAscii(uint8_t(a[i])) != UpperAscii(uint8_t(b[i]))) return false;
  return true;
}

}  // namespace

uint32_t TZMDirHashList::KeyOf(const std::string& name) {
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

TZMDirHashList::~TZMDirHashList() { Clear(); }

int TZMDirHashList::SizeFor(int n) {
  for (int i = 0; i < kPrimeCount; ++i)
    if (kPrimes[i] >= n) return kPrimes[i];
  // Steps of 65,536 buckets, so that a directory growing a little keeps its table.
  const int64_t steps = (int64_t(n) + 65535) / 65536;
  return int(std::min<int64_t>(steps * 65536 + 1, kMaxBuckets));
}

void TZMDirHashList::SetSizeFor(int n) { SetSize(SizeFor(n)); }

void TZMDirHashList::SetSize(int n) {
  Clear();
  if (n == 0) return;
  if (n < kMinBuckets) n = kMinBuckets;
  if (n > kMaxBuckets) n = kMaxBuckets;
  FBuckets.assign(size_t(n), nullptr);
}

void TZMDirHashList::ResizeFor(int n) {
  if (FBuckets.empty()) return;
  const int size = std::clamp(SizeFor(n), kMinBuckets, kMaxBuckets);
  if (size == BucketCount()) return;
  std::vector<THashNode*> old(size_t(size), nullptr);
  old.swap(FBuckets);
  // Chain tails of the new buckets; the nodes of one name share an old bucket and come
  // out of it in the order they were entered.
  std::vector<THashNode**> tails(FBuckets.size());
  for (size_t b = 0; b < tails.size(); ++b) tails[b] = &FBuckets[b];
  for (THashNode* node : old) {
    while (node) {
      THashNode* next = node->Next;
      THashNode**& tail = tails[node->Hash % FBuckets.size()];
      node->Next = nullptr;
      *tail = node;
      tail = &node->Next;
      node = next;
    }
  }
}

void TZMDirHashList::ClearNodes() {
  while (FBlocks) {
    TNodeBlock* next = FBlocks->Next;
    delete FBlocks;
    FBlocks = next;
  }
  FBlockCount = 0;
  FNodeCount = 0;
  FNextFree = -1;
  FFreeNodes = nullptr;
}

void TZMDirHashList::Clear() {
  ClearNodes();
  FBuckets.clear();
  FBuckets.shrink_to_fit();
}

TZMDirHashList::THashNode* TZMDirHashList::NewNode() {
  if (!FBlocks || FNextFree < 0 || FNextFree >= kNodesPerBlock) {
    TNodeBlock* b = new TNodeBlock();  // zero-filled
    b->Next = FBlocks;
    FBlocks = b;
    ++FBlockCount;
    FNextFree = 0;
  }
  return &FBlocks->Nodes[FNextFree++];
}

bool TZMDirHashList::Matches(const THashNode* node, uint32_t key, const std::string& name) const {
  if (!node || node->IndexPlus1 == 0 || node->Hash != key) return false;
  const int index = int(node->IndexPlus1 - 1);
  if (index >= FOwner->Count()) return false;
  const TZMZRec* rec = FOwner->Items(index);
  if (!rec) return false;
  const std::string& stored = rec->NameRef();
  if (stored == name) return true;
  return EqualUpperAscii(stored, name) && CompareNames(stored, name) == 0;
}

TZMZRec* TZMDirHashList::Add(int index, bool addDuplicate) {
  TZMZRec* rec = (index >= 0 && index < FOwner->Count()) ? FOwner->Items(index) : nullptr;
  assert(rec && "nil ZipDirEntry");
  if (!rec) return nullptr;
  if (FBuckets.empty()) SetSize(kDefaultBuckets);
  // A table filled past twice its buckets grows, whoever fills it.
  if (FNodeCount >= 2 * BucketCount()) ResizeFor(2 * FNodeCount);
  const std::string& name = rec->NameRef();
  const uint32_t key = KeyOf(name);
  THashNode** link = &FBuckets[key % FBuckets.size()];
  TZMZRec* dup = nullptr;
  while (*link) {
    if (Matches(*link, key, name)) {
      dup = FOwner->Items(int((*link)->IndexPlus1 - 1));
      if (!addDuplicate) return dup;
    }
    link = &(*link)->Next;
  }
  THashNode* node = NewNode();
  node->Next = nullptr;
  node->IndexPlus1 = uint32_t(index) + 1;
  node->Hash = key;
  *link = node;
  ++FNodeCount;
  return dup;
}

int TZMDirHashList::Find(const std::string& name, bool includeMarked) const {
  if (FBuckets.empty()) return -1;
  const std::string key = WithPlatformSeparators(name);
  const uint32_t hash = KeyOf(key);
  for (const THashNode* n = FBuckets[hash % FBuckets.size()]; n; n = n->Next) {
    if (!Matches(n, hash, key)) continue;
    const int index = int(n->IndexPlus1 - 1);
    if (!includeMarked && (FOwner->Items(index)->StatusBits() & 128)) continue;
    return index;
  }
  return -1;
}
