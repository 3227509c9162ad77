#include "ZMHash.h"

#include <cassert>

#include "ZMUtils.h"
#include "ZMMatch.h"
#include "ZMZipFile.h"

namespace {

const int kPrimes[] = {61,    131,   257,   389,   521,   641,   769,   1031,  1283,  1543,
                       2053,  2579,  3593,  4099,  5147,  6151,  7177,  8209,  10243, 12289,
                       14341, 16411, 18433, 20483, 22521, 24593, 28687, 32771, 40961, 65537};
constexpr int kPrimeCount = int(sizeof(kPrimes) / sizeof(kPrimes[0]));

}  // namespace

TZMDirHashList::TZMDirHashList(TZMZipFile* owner) : FOwner(owner) {}

TZMDirHashList::~TZMDirHashList() { Clear(); }

int TZMDirHashList::SizeFor(int n) {
  if (n <= 11999) {
    for (int i = 0; i < kPrimeCount; ++i)
      if (kPrimes[i] >= n) return kPrimes[i];
    return kPrimes[kPrimeCount - 1];
  }
  for (int i = kPrimeCount - 1; i >= 0; --i)
    if (kPrimes[i] < n) return kPrimes[i];
  return kPrimes[0];
}

void TZMDirHashList::SetSizeFor(int n) { SetSize(SizeFor(n)); }

void TZMDirHashList::SetSize(int n) {
  Clear();
  if (n == 0) return;
  if (n < kMinBuckets) n = kMinBuckets;
  if (n > kMaxBuckets) n = kMaxBuckets;
  FBuckets.assign(size_t(n), nullptr);
}

void TZMDirHashList::ClearNodes() {
  while (FBlocks) {
    TNodeBlock* next = FBlocks->Next;
    delete FBlocks;
    FBlocks = next;
  }
  FBlockCount = 0;
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

bool TZMDirHashList::Matches(const THashNode* node, uint32_t hash, const std::string& name) const {
  if (!node || node->IndexPlus1 == 0 || node->Hash != hash) return false;
  const int index = int(node->IndexPlus1 - 1);
  if (index >= FOwner->Count()) return false;
  const TZMZRec* rec = FOwner->Items(index);
  return rec && rec->Hash() == hash && CompareNames(rec->NameRef(), name) == 0;
}

TZMZRec* TZMDirHashList::Add(int index, bool addDuplicate) {
  TZMZRec* rec = (index >= 0 && index < FOwner->Count()) ? FOwner->Items(index) : nullptr;
  assert(rec && "nil ZipDirEntry");
  if (!rec) return nullptr;
  if (FBuckets.empty()) SetSize(kDefaultBuckets);
  const uint32_t hash = rec->Hash();
  const std::string& name = rec->NameRef();
  THashNode** link = &FBuckets[hash % FBuckets.size()];
  TZMZRec* dup = nullptr;
  while (*link) {
    if (Matches(*link, hash, name)) {
      dup = FOwner->Items(int((*link)->IndexPlus1 - 1));
      if (!addDuplicate) return dup;
    }
    link = &(*link)->Next;
  }
  THashNode* node = NewNode();
  node->Next = nullptr;
  node->IndexPlus1 = uint32_t(index) + 1;
  node->Hash = hash;
  *link = node;
  return dup;
}

int TZMDirHashList::Find(const std::string& name, bool includeMarked) const {
  if (FBuckets.empty()) return -1;
  const std::string key = WithPlatformSeparators(name);
  const uint32_t hash = NameHashUpper(key);
  for (const THashNode* n = FBuckets[hash % FBuckets.size()]; n; n = n->Next) {
    if (!Matches(n, hash, key)) continue;
    const int index = int(n->IndexPlus1 - 1);
    if (!includeMarked && (FOwner->Items(index)->StatusBits() & 128)) continue;
    return index;
  }
  return -1;
}
