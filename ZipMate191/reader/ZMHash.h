// The name hash table of a loaded directory: buckets of node chains, nodes taken from
// fixed-size blocks so that no node is allocated alone. Names are hashed with a keyed
// hash whose key is drawn once per process, so that no set of names, however chosen,
// makes the chains long; the table grows with the directory, at most one entry per
// bucket on average once sized for it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class TZMZipFile;
class TZMZRec;

class TZMDirHashList {
 public:
  // One chain link: the next node of the bucket, the entry's index + 1 (0: empty) and
  // the key of its name (KeyOf), so that a chain is walked without visiting the other
  // records.
  struct THashNode {
    THashNode* Next;
    uint32_t IndexPlus1;
    uint32_t Hash;
  };
  static constexpr int kNodesPerBlock = 511;
  static constexpr int kMinBuckets = 61;
  static constexpr int kMaxBuckets = 1 << 28;
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
  // Empty table with the bucket count suited to n entries (SizeFor).
  void SetSizeFor(int n);
  // Empty table of n buckets (clamped to kMinBuckets..kMaxBuckets); 0 turns the list off.
  void SetSize(int n);
  // The entered nodes relinked into the bucket count suited to n entries, each name's
  // entries kept in the order they were entered; nothing happens to a table that is off.
  void ResizeFor(int n);
  void Clear();
  void ClearNodes();
  THashNode* NewNode();
  int BucketCount() const { return int(FBuckets.size()); }
  int BlockCount() const { return FBlockCount; }
  int NodeCount() const { return FNodeCount; }
  bool Matches(const THashNode* node, uint32_t key, const std::string& name) const;

  // The bucket count SetSizeFor would choose: the first of the prime table not below n,
  // past its end n rounded up to a multiple of 65,536, plus one.
  static int SizeFor(int n);
  // The key of a name: the same for names equal but for the case of ASCII letters (as
  // NameHashUpper), otherwise as good as random.
  static uint32_t KeyOf(const std::string& name);

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
  int FNodeCount = 0;  // nodes entered in the buckets
  THashNode* FFreeNodes = nullptr;
};
