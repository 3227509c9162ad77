// The name hash table of a loaded directory: buckets of node chains, nodes taken from
// fixed-size blocks so that no node is allocated alone.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class TZMZipFile;
class TZMZRec;

class TZMDirHashList {
 public:
  // One chain link: the next node of the bucket, the entry's index + 1 (0: empty) and
  // its name hash, so that a chain is walked without visiting the other records.
  struct THashNode {
    THashNode* Next;
    uint32_t IndexPlus1;
    uint32_t Hash;
  };
  static constexpr int kNodesPerBlock = 511;
  static constexpr int kMinBuckets = 61;
  static constexpr int kMaxBuckets = 65537;
  static constexpr int kDefaultBuckets = 1283;

  explicit TZMDirHashList(TZMZipFile* owner);
  ~TZMDirHashList();
  TZMDirHashList(const TZMDirHashList&) = delete;
  TZMDirHashList& operator=(const TZMDirHashList&) = delete;

  // Enters the entry at index; returns the (last) record with the same name already
  // entered, or null. Without addDuplicate a duplicate is not entered.
  TZMZRec* Add(int index, bool addDuplicate);
  // Index of the first entry with this name (case-insensitive; '/' equals '\'), or -1.
  // Without includeMarked entries with status bit 128 are passed over.
  int Find(const std::string& name, bool includeMarked) const;
  // Empty table with a bucket count from the prime table suited to n entries.
  void SetSizeFor(int n);
  // Empty table of n buckets (clamped to 61..65537); 0 turns the list off.
  void SetSize(int n);
  void Clear();
  void ClearNodes();
  THashNode* NewNode();
  int BucketCount() const { return int(FBuckets.size()); }
  int BlockCount() const { return FBlockCount; }
  bool Matches(const THashNode* node, uint32_t hash, const std::string& name) const;

  // The bucket count SetSizeFor would choose.
  static int SizeFor(int n);

 private:
  struct TNodeBlock {
    THashNode Nodes[kNodesPerBlock];
    TNodeBlock* Next;
  };

  TNodeBlock* FBlocks = nullptr;
  TZMZipFile* FOwner;
  int FNextFree = -1;
  std::vector<THashNode*> FBuckets;
  int FBlockCount = 0;
  THashNode* FFreeNodes = nullptr;
};
