#include "DZPpmdModel.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace dz {

namespace {

constexpr uint16_t kInitBinEsc[8] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3, 0x64A1, 0x5ABC, 0x6632, 0x6051};
constexpr uint8_t kExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};

// A bit probability (of 2^14) moved towards the symbol coded, or away from it.
unsigned Mean(unsigned prob) { return (prob + (1u << 5)) >> 7; }
uint16_t ProbHit(unsigned prob) { return uint16_t(prob + (1u << 7) - Mean(prob)); }
uint16_t ProbMiss(unsigned prob) { return uint16_t(prob - Mean(prob)); }

}  // namespace

// ---- Heap ------------------------------------------------------------------------

bool TDZPpmdModel::Reserve(uint32_t size) {
  if (!FTables) {
    for (unsigned i = 0, k = 0; i < kIndexes; ++i) {
      unsigned step = i >= 12 ? 4 : (i >> 2) + 1;
      do FUnits2Indx[k++] = uint8_t(i);
      while (--step);
      FIndx2Units[i] = uint8_t(k);
    }
    FNS2BSIndx[0] = 0;
    FNS2BSIndx[1] = 2;
    std::fill_n(FNS2BSIndx + 2, 9, uint8_t(4));
    std::fill_n(FNS2BSIndx + 11, 256 - 11, uint8_t(6));
    unsigned i = 0;
    for (; i < 5; ++i) FNS2Indx[i] = uint8_t(i);
    for (unsigned m = i, k = 1; i < 260; ++i) {
      FNS2Indx[i] = uint8_t(m);
      if (--k == 0) k = ++m - 4;
    }
    FTables = true;
  }
  if (FHeap && FSize == size) return true;
  FHeap.reset();
  FSize = 0;
  // A guard unit past the end, stamped as no free block.
  FHeap.reset(new (std::nothrow) uint8_t[size_t(size) + kUnit]);
  if (!FHeap) return false;
  FBase = FHeap.get();
  FSize = size;
  std::memset(FBase + size, 0, kUnit);
  return true;
}

uint32_t TDZPpmdModel::Stamp(const uint8_t* p) const {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void TDZPpmdModel::InsertNode(uint8_t* p, unsigned indx) {
  TNode* n = reinterpret_cast<TNode*>(p);
  n->Stamp = kEmpty;
  n->Next = FFreeList[indx];
  n->NU = I2U(indx);
  FFreeList[indx] = Ref(p);
  ++FStamps[indx];
}

uint8_t* TDZPpmdModel::RemoveNode(unsigned indx) {
  uint8_t* p = Ptr(FFreeList[indx]);
  FFreeList[indx] = reinterpret_cast<TNode*>(p)->Next;
  --FStamps[indx];
  return p;
}

void TDZPpmdModel::SplitBlock(uint8_t* p, unsigned oldIndx, unsigned newIndx) {
  const unsigned nu = I2U(oldIndx) - I2U(newIndx);
  p += I2U(newIndx) * kUnit;
  unsigned i = U2I(nu);
  if (I2U(i) != nu) {
    const unsigned k = I2U(--i);
    InsertNode(p + k * kUnit, nu - k - 1);
  }
  InsertNode(p, i);
}

void TDZPpmdModel::GlueFreeBlocks() {
  uint8_t* const end = FBase + FSize;
  FGlueCount = 1 << 13;
  std::fill_n(FStamps, kIndexes, 0u);
  // The order-0 context holds the top unit, so a run of free blocks ends below it;
  // the free gap between the two ends gets a stamp that ends a run there.
  if (FLoUnit != FHiUnit) std::memset(FLoUnit, 0, 4);

  // Every free block, in the order of the lists, each joined with the free blocks
  // that follow it in the heap (those then count no units and drop out).
  uint32_t head = 0;
  uint32_t* prev = &head;
  for (unsigned i = 0; i < kIndexes; ++i) {
    uint32_t next = FFreeList[i];
    FFreeList[i] = 0;
    while (next != 0) {
      TNode* node = reinterpret_cast<TNode*>(Ptr(next));
      uint32_t nu = node->NU;
      *prev = next;
      next = node->Next;
      if (nu == 0) continue;
      prev = &node->Next;
      for (;;) {
        uint8_t* after = reinterpret_cast<uint8_t*>(node) + size_t(nu) * kUnit;
        if (after >= end || Stamp(after) != kEmpty) break;
        TNode* node2 = reinterpret_cast<TNode*>(after);
        if (node2->NU == 0) break;  // never so in a sound heap
        nu += node2->NU;
        node2->NU = 0;
      }
      node->NU = nu;
    }
  }
  *prev = 0;

  // Back onto the lists, cut into sizes the lists hold.
  for (uint32_t n = head; n != 0;) {
    uint8_t* p = Ptr(n);
    TNode* node = reinterpret_cast<TNode*>(p);
    uint32_t nu = node->NU;
    n = node->Next;
    if (nu == 0) continue;
    for (; nu > 128; nu -= 128, p += 128 * kUnit) InsertNode(p, kIndexes - 1);
    unsigned i = U2I(nu);
    if (I2U(i) != nu) {
      const unsigned k = I2U(--i);
      InsertNode(p + k * kUnit, nu - k - 1);
    }
    InsertNode(p, i);
  }
}

uint8_t* TDZPpmdModel::AllocUnitsRare(unsigned indx) {
  if (FGlueCount == 0) {
    GlueFreeBlocks();
    if (FFreeList[indx] != 0) return RemoveNode(indx);
  }
  unsigned i = indx;
  do {
    if (++i == kIndexes) {
      const uint32_t numBytes = I2U(indx) * kUnit;
      --FGlueCount;
      if (uint32_t(FUnitsStart - FText) > numBytes) return FUnitsStart -= numBytes;
      return nullptr;
    }
  } while (FFreeList[i] == 0);
  uint8_t* p = RemoveNode(i);
  SplitBlock(p, i, indx);
  return p;
}

uint8_t* TDZPpmdModel::AllocUnits(unsigned indx) {
  if (FFreeList[indx] != 0) return RemoveNode(indx);
  const uint32_t numBytes = I2U(indx) * kUnit;
  if (numBytes <= uint32_t(FHiUnit - FLoUnit)) {
    uint8_t* p = FLoUnit;
    FLoUnit += numBytes;
    return p;
  }
  return AllocUnitsRare(indx);
}

uint8_t* TDZPpmdModel::AllocContext() {
  if (FHiUnit != FLoUnit) return FHiUnit -= kUnit;
  if (FFreeList[0] != 0) return RemoveNode(0);
  return AllocUnitsRare(0);
}

uint8_t* TDZPpmdModel::ShrinkUnits(uint8_t* p, unsigned oldNU, unsigned newNU) {
  const unsigned i0 = U2I(oldNU), i1 = U2I(newNU);
  if (i0 == i1) return p;
  if (FFreeList[i1] != 0) {
    uint8_t* q = RemoveNode(i1);
    std::memcpy(q, p, size_t(newNU) * kUnit);
    InsertNode(p, i0);
    return q;
  }
  SplitBlock(p, i0, i1);
  return p;
}

uint8_t* TDZPpmdModel::MoveUnitsUp(uint8_t* p, unsigned nu) {
  const unsigned indx = U2I(nu);
  if (uint32_t(p - FUnitsStart) > (1u << 14) || Ref(p) > FFreeList[indx]) return p;
  uint8_t* q = RemoveNode(indx);
  std::memcpy(q, p, size_t(nu) * kUnit);
  if (p != FUnitsStart)
    InsertNode(p, indx);
  else
    FUnitsStart += I2U(indx) * kUnit;
  return q;
}

void TDZPpmdModel::SpecialFreeUnit(uint8_t* p) {
  if (p != FUnitsStart)
    InsertNode(p, 0);
  else
    FUnitsStart += kUnit;
}

void TDZPpmdModel::ExpandTextArea() {
  uint32_t count[kIndexes] = {};
  if (FLoUnit != FHiUnit) std::memset(FLoUnit, 0, 4);
  // Free blocks at the bottom of the units join the text; stamped 0, they are then
  // taken off their lists.
  uint8_t* p = FUnitsStart;
  while (p < FBase + FSize && Stamp(p) == kEmpty) {
    TNode* node = reinterpret_cast<TNode*>(p);
    const uint32_t nu = node->NU;
    if (nu == 0 || nu > 128) break;  // never so in a sound heap
    node->Stamp = 0;
    ++count[U2I(nu)];
    p += size_t(nu) * kUnit;
  }
  FUnitsStart = p;
  for (unsigned i = 0; i < kIndexes; ++i) {
    uint32_t cnt = count[i];
    if (cnt == 0) continue;
    uint32_t* prev = &FFreeList[i];
    FStamps[i] -= cnt;
    for (uint32_t n = *prev; n != 0;) {
      TNode* node = reinterpret_cast<TNode*>(Ptr(n));
      n = node->Next;
      if (node->Stamp != 0) {
        prev = &node->Next;
        continue;
      }
      *prev = n;
      if (--cnt == 0) break;
    }
  }
}

uint32_t TDZPpmdModel::UsedMemory() const {
  uint32_t units = 0;
  for (unsigned i = 0; i < kIndexes; ++i) units += FStamps[i] * I2U(i);
  return FSize - uint32_t(FHiUnit - FLoUnit) - uint32_t(FUnitsStart - FText) - units * kUnit;
}

// ---- Model -----------------------------------------------------------------------

TDZPpmdModel::TState* TDZPpmdModel::Find(TContext* c, uint8_t sym) {
  TState* s = Stats(c);
  for (TState* last = s + c->NumStats; s <= last; ++s)
    if (s->Symbol == sym) return s;
  FBroken = true;  // a suffix lacks a symbol of its longer context: never so
  return Stats(c);
}

void TDZPpmdModel::Start(unsigned maxOrder, unsigned restore) {
  FMaxOrder = maxOrder;
  FRestore = restore;
  FInitEsc = 0;
  FBroken = false;
  Restart();
  FDummySee.Shift = kPeriodBits;
  FDummySee.Summ = 0;
  FDummySee.Count = 64;
}

void TDZPpmdModel::Restart() {
  std::fill_n(FFreeList, kIndexes, 0u);
  std::fill_n(FStamps, kIndexes, 0u);
  FText = FBase;
  FHiUnit = FText + FSize;
  FLoUnit = FUnitsStart = FHiUnit - FSize / 8 / kUnit * 7 * kUnit;
  FGlueCount = 0;

  FOrderFall = FMaxOrder;
  FRunLength = FInitRL = -int32_t(FMaxOrder < 12 ? FMaxOrder : 12) - 1;
  FPrevSuccess = 0;

  FHiUnit -= kUnit;
  FMinContext = FMaxContext = reinterpret_cast<TContext*>(FHiUnit);
  FMinContext->Suffix = 0;
  FMinContext->NumStats = 255;
  FMinContext->Flags = 0;
  SetSummFreq(FMinContext, 256 + 1);
  TState* s = reinterpret_cast<TState*>(FLoUnit);
  FFoundState = s;
  FLoUnit += 256 / 2 * kUnit;
  SetStats(FMinContext, s);
  for (unsigned i = 0; i < 256; ++i) {
    s[i].Symbol = uint8_t(i);
    s[i].Freq = 1;
    SetSuccessor(&s[i], 0);
  }

  for (unsigned i = 0, m = 0; m < 25; ++m) {
    while (FNS2Indx[i] == m) ++i;
    for (unsigned k = 0; k < 8; ++k) {
      const uint16_t v = uint16_t(kBinScale - kInitBinEsc[k] / (i + 1));
      for (unsigned r = 0; r < 64; r += 8) FBinSumm[m][k + r] = v;
    }
  }
  for (unsigned i = 0, m = 0; m < 24; ++m) {
    while (FNS2Indx[i + 3] == m + 3) ++i;
    for (TSee& see : FSee[m]) {
      see.Shift = kPeriodBits - 4;
      see.Summ = uint16_t((2 * i + 5) << see.Shift);
      see.Count = 7;
    }
  }
}

void TDZPpmdModel::Refresh(TContext* c, unsigned oldNU, unsigned scale) {
  unsigned i = c->NumStats;
  TState* s =
      reinterpret_cast<TState*>(ShrinkUnits(reinterpret_cast<uint8_t*>(Stats(c)), oldNU, (i + 2) >> 1));
  SetStats(c, s);
  unsigned flags = (c->Flags & (kPrevHigh + kRescaled * scale)) + HighFlag(s->Symbol);
  unsigned escFreq = SummFreq(c) - s->Freq;
  unsigned sumFreq = s->Freq = uint8_t((s->Freq + scale) >> scale);
  do {
    escFreq -= (++s)->Freq;
    sumFreq += s->Freq = uint8_t((s->Freq + scale) >> scale);
    flags |= HighFlag(s->Symbol);
  } while (--i);
  SetSummFreq(c, sumFreq + ((escFreq + scale) >> scale));
  c->Flags = uint8_t(flags);
}

void TDZPpmdModel::Rescale() {
  TContext* mc = FMinContext;
  TState* stats = Stats(mc);
  TState* s = FFoundState;
  // The symbol found goes first.
  if (s != stats) {
    const TState tmp = *s;
    do s[0] = s[-1];
    while (--s != stats);
    *s = tmp;
  }
  unsigned escFreq = SummFreq(mc) - s->Freq;
  s->Freq += 4;
  const unsigned adder = FOrderFall != 0;
  s->Freq = uint8_t((s->Freq + adder) >> 1);
  unsigned sumFreq = s->Freq;
  unsigned i = mc->NumStats;
  do {
    escFreq -= (++s)->Freq;
    s->Freq = uint8_t((s->Freq + adder) >> 1);
    sumFreq += s->Freq;
    if (s[0].Freq > s[-1].Freq) {
      TState* s1 = s;
      const TState tmp = *s1;
      do s1[0] = s1[-1];
      while (--s1 != stats && tmp.Freq > s1[-1].Freq);
      *s1 = tmp;
    }
  } while (--i);

  if (s->Freq == 0) {
    const unsigned numStats = mc->NumStats;
    do ++i;
    while ((--s)->Freq == 0);
    escFreq += i;
    mc->NumStats = uint8_t(mc->NumStats - i);
    if (mc->NumStats == 0) {
      TState tmp = *stats;
      tmp.Freq = uint8_t((2 * tmp.Freq + escFreq - 1) / escFreq);
      if (tmp.Freq > kMaxFreq / 3) tmp.Freq = kMaxFreq / 3;
      InsertNode(reinterpret_cast<uint8_t*>(stats), U2I((numStats + 2) >> 1));
      mc->Flags = uint8_t((mc->Flags & kPrevHigh) + HighFlag(tmp.Symbol));
      mc->One = tmp;
      FFoundState = &mc->One;
      return;
    }
    const unsigned n0 = (numStats + 2) >> 1, n1 = (mc->NumStats + 2) >> 1;
    if (n0 != n1) SetStats(mc, ShrinkUnits(reinterpret_cast<uint8_t*>(stats), n0, n1));
    mc->Flags &= uint8_t(~kSymbolHigh);
    s = Stats(mc);
    mc->Flags |= HighFlag(s->Symbol);
    i = mc->NumStats;
    do mc->Flags |= HighFlag((++s)->Symbol);
    while (--i);
  }
  SetSummFreq(mc, sumFreq + escFreq - (escFreq >> 1));
  mc->Flags |= kRescaled;
  FFoundState = Stats(mc);
}

uint32_t TDZPpmdModel::CutOff(TContext* c, unsigned order) {
  if (c->NumStats == 0) {
    TState* s = &c->One;
    if (Ptr(Successor(s)) >= FUnitsStart) {
      SetSuccessor(s, order < FMaxOrder ? CutOff(Ctx(Successor(s)), order + 1) : 0);
      if (Successor(s) || order <= 9) return Ref(c);
    }
    SpecialFreeUnit(reinterpret_cast<uint8_t*>(c));
    return 0;
  }
  const unsigned nu = (c->NumStats + 2u) >> 1;
  SetStats(c, MoveUnitsUp(reinterpret_cast<uint8_t*>(Stats(c)), nu));
  TState* stats = Stats(c);
  int ns = c->NumStats;
  // Symbols whose successor is a place in the text go: swapped to the end of the list.
  for (TState* s = stats + ns; s >= stats; --s) {
    if (Ptr(Successor(s)) < FUnitsStart) {
      TState* s2 = stats + ns--;
      SetSuccessor(s, 0);
      std::swap(*s, *s2);
    } else if (order < FMaxOrder) {
      SetSuccessor(s, CutOff(Ctx(Successor(s)), order + 1));
    } else {
      SetSuccessor(s, 0);
    }
  }
  if (ns != c->NumStats && order) {
    if (ns < 0) {
      InsertNode(reinterpret_cast<uint8_t*>(stats), U2I(nu));
      SpecialFreeUnit(reinterpret_cast<uint8_t*>(c));
      return 0;
    }
    c->NumStats = uint8_t(ns);
    if (ns == 0) {
      c->Flags = uint8_t((c->Flags & kPrevHigh) + HighFlag(stats->Symbol));
      c->One = *stats;
      c->One.Freq = uint8_t((c->One.Freq + 11u) >> 3);
      InsertNode(reinterpret_cast<uint8_t*>(stats), U2I(nu));
    } else {
      Refresh(c, nu, SummFreq(c) > 16u * unsigned(ns));
    }
  }
  return Ref(c);
}

void TDZPpmdModel::Restore(TContext* failed) {
  FText = FBase;
  TContext* c = FMaxContext;
  // The contexts that got the new symbol before the heap ran out give it back.
  for (; c != failed; c = Suffix(c)) {
    if (--c->NumStats == 0) {
      TState* s = Stats(c);
      c->Flags = uint8_t((c->Flags & kPrevHigh) + HighFlag(s->Symbol));
      c->One = *s;
      c->One.Freq = uint8_t((c->One.Freq + 11u) >> 3);
      SpecialFreeUnit(reinterpret_cast<uint8_t*>(s));
    } else {
      Refresh(c, (c->NumStats + 3u) >> 1, 0);
    }
  }
  // The others escaped: their escapes count more.
  for (; c != FMinContext; c = Suffix(c)) {
    if (c->NumStats == 0) {
      c->One.Freq = uint8_t((c->One.Freq + 1u) >> 1);
    } else {
      SetSummFreq(c, SummFreq(c) + 4);
      if (SummFreq(c) > 128u + 4u * c->NumStats) Refresh(c, (c->NumStats + 2u) >> 1, 1);
    }
  }
  if (FRestore == kRestart || UsedMemory() < (FSize >> 1)) {
    Restart();
    return;
  }
  while (FMaxContext->Suffix) FMaxContext = Suffix(FMaxContext);
  do {
    CutOff(FMaxContext, 0);
    ExpandTextArea();
  } while (UsedMemory() > 3 * (FSize >> 2));
  FGlueCount = 0;
  FOrderFall = FMaxOrder;
}

TDZPpmdModel::TContext* TDZPpmdModel::CreateSuccessors(bool skip, TState* s1, TContext* c) {
  const uint32_t upBranch = Successor(FFoundState);
  TState* ps[kMaxOrder + 2];
  unsigned numPs = 0;
  if (!skip) ps[numPs++] = FFoundState;
  const uint8_t sym = FFoundState->Symbol;
  while (c->Suffix) {
    c = Suffix(c);
    TState* s;
    if (s1) {
      s = s1;
      s1 = nullptr;
    } else if (c->NumStats != 0) {
      s = Find(c, sym);
      if (s->Freq < kMaxFreq - 9) {
        ++s->Freq;
        SetSummFreq(c, SummFreq(c) + 1);
      }
    } else {
      s = &c->One;
      s->Freq = uint8_t(s->Freq + (!Suffix(c)->NumStats & (s->Freq < 24)));
    }
    const uint32_t successor = Successor(s);
    if (successor != upBranch) {
      c = Ctx(successor);
      if (numPs == 0) return c;
      break;
    }
    if (numPs == sizeof ps / sizeof ps[0]) return nullptr;  // deeper than any order
    ps[numPs++] = s;
  }
  if (numPs == 0) return c;

  TState up;
  up.Symbol = *Ptr(upBranch);
  SetSuccessor(&up, upBranch + 1);
  const uint8_t flags = uint8_t((sym >= 0x40 ? kPrevHigh : 0) + HighFlag(up.Symbol));
  if (c->NumStats == 0) {
    up.Freq = c->One.Freq;
  } else {
    const TState* s = Find(c, up.Symbol);
    const uint32_t cf = s->Freq - 1u;
    const uint32_t s0 = std::max<uint32_t>(SummFreq(c) - c->NumStats - cf, 1);
    up.Freq = uint8_t(1 + (2 * cf <= s0 ? uint32_t(5 * cf > s0) : (cf + 2 * s0 - 3) / s0));
  }
  do {
    uint8_t* p = AllocContext();
    if (!p) return nullptr;
    TContext* c1 = reinterpret_cast<TContext*>(p);
    c1->NumStats = 0;
    c1->Flags = flags;
    c1->One = up;
    c1->Suffix = Ref(c);
    SetSuccessor(ps[--numPs], Ref(c1));
    c = c1;
  } while (numPs != 0);
  return c;
}

TDZPpmdModel::TContext* TDZPpmdModel::ReduceOrder(TState* s1, TContext* c) {
  TContext* const c1 = c;
  const uint32_t upBranch = Ref(FText);
  const uint8_t sym = FFoundState->Symbol;
  TState* s = nullptr;
  SetSuccessor(FFoundState, upBranch);
  ++FOrderFall;
  for (;;) {
    if (s1) {
      c = Suffix(c);
      s = s1;
      s1 = nullptr;
    } else {
      if (!c->Suffix) return c;
      c = Suffix(c);
      if (c->NumStats) {
        s = Find(c, sym);
        if (s->Freq < kMaxFreq - 9) {
          s->Freq += 2;
          SetSummFreq(c, SummFreq(c) + 2);
        }
      } else {
        s = &c->One;
        s->Freq = uint8_t(s->Freq + (s->Freq < 32));
      }
    }
    if (Successor(s)) break;
    SetSuccessor(s, upBranch);
    ++FOrderFall;
  }
  if (Successor(s) <= upBranch) {
    TState* const found = FFoundState;
    FFoundState = s;
    TContext* successor = CreateSuccessors(false, nullptr, c);
    SetSuccessor(s, successor ? Ref(successor) : 0);
    FFoundState = found;
  }
  if (FOrderFall == 1 && c1 == FMaxContext) {
    SetSuccessor(FFoundState, Successor(s));
    --FText;
  }
  return Successor(s) ? Ctx(Successor(s)) : nullptr;
}

void TDZPpmdModel::UpdateModel() {
  uint32_t fSuccessor = Successor(FFoundState);
  const unsigned fFreq = FFoundState->Freq;
  const uint8_t fSymbol = FFoundState->Symbol;
  TState* s = nullptr;

  if (fFreq < kMaxFreq / 4 && FMinContext->Suffix != 0) {
    TContext* c = Suffix(FMinContext);
    if (c->NumStats == 0) {
      s = &c->One;
      if (s->Freq < 32) ++s->Freq;
    } else {
      s = Find(c, fSymbol);
      if (s != Stats(c)) {
        if (s[0].Freq >= s[-1].Freq) {
          std::swap(s[0], s[-1]);
          --s;
        }
      }
      if (s->Freq < kMaxFreq - 9) {
        s->Freq += 2;
        SetSummFreq(c, SummFreq(c) + 2);
      }
    }
  }

  TContext* c = FMaxContext;
  if (FOrderFall == 0 && fSuccessor) {
    TContext* cs = CreateSuccessors(true, s, FMinContext);
    if (!cs) {
      SetSuccessor(FFoundState, 0);
      Restore(c);
    } else {
      SetSuccessor(FFoundState, Ref(cs));
      FMaxContext = cs;
    }
    return;
  }

  *FText++ = fSymbol;
  uint32_t successor = Ref(FText);
  if (FText >= FUnitsStart) {
    Restore(c);
    return;
  }
  if (!fSuccessor) {
    TContext* cs = ReduceOrder(s, FMinContext);
    if (!cs) {
      Restore(c);
      return;
    }
    fSuccessor = Ref(cs);
  } else if (Ptr(fSuccessor) < FUnitsStart) {
    TContext* cs = CreateSuccessors(false, s, FMinContext);
    if (!cs) {
      Restore(c);
      return;
    }
    SetSuccessor(FFoundState, Ref(cs));
    fSuccessor = Ref(cs);
  }
  if (--FOrderFall == 0) {
    successor = fSuccessor;
    FText -= (FMaxContext != FMinContext);
  }

  const unsigned ns = FMinContext->NumStats;
  const uint32_t s0 = SummFreq(FMinContext) - ns - fFreq;
  const uint8_t flag = HighFlag(fSymbol);
  for (; c != FMinContext; c = Suffix(c)) {
    const unsigned ns1 = c->NumStats;
    if (ns1 != 0) {
      if (ns1 & 1) {
        // The list is full: one unit more.
        const unsigned oldNU = (ns1 + 1) >> 1;
        const unsigned i = U2I(oldNU);
        if (i != U2I(oldNU + 1)) {
          uint8_t* p = AllocUnits(i + 1);
          if (!p) {
            Restore(c);
            return;
          }
          uint8_t* old = reinterpret_cast<uint8_t*>(Stats(c));
          std::memcpy(p, old, size_t(oldNU) * kUnit);
          InsertNode(old, i);
          SetStats(c, p);
        }
      }
      SetSummFreq(c, SummFreq(c) + (3 * ns1 + 1 < ns));
    } else {
      TState* s2 = reinterpret_cast<TState*>(AllocUnits(0));
      if (!s2) {
        Restore(c);
        return;
      }
      *s2 = c->One;
      SetStats(c, s2);
      if (s2->Freq < kMaxFreq / 4 - 1)
        s2->Freq = uint8_t(s2->Freq * 2);
      else
        s2->Freq = kMaxFreq - 4;
      SetSummFreq(c, s2->Freq + FInitEsc + (ns > 2));
    }
    uint32_t cf = 2 * fFreq * (SummFreq(c) + 6);
    const uint32_t sf = s0 + SummFreq(c);
    if (cf < 6 * sf) {
      cf = 1 + (cf > sf) + (cf >= 4 * sf);
      SetSummFreq(c, SummFreq(c) + 4);
    } else {
      cf = 4 + (cf > 9 * sf) + (cf > 12 * sf) + (cf > 15 * sf);
      SetSummFreq(c, SummFreq(c) + cf);
    }
    TState* s2 = Stats(c) + ns1 + 1;
    SetSuccessor(s2, successor);
    s2->Symbol = fSymbol;
    s2->Freq = uint8_t(cf);
    c->Flags |= flag;
    c->NumStats = uint8_t(ns1 + 1);
  }
  FMaxContext = FMinContext = Ctx(fSuccessor);
}

void TDZPpmdModel::NextContext() {
  TContext* c = Ctx(Successor(FFoundState));
  if (FOrderFall == 0 && reinterpret_cast<uint8_t*>(c) >= FUnitsStart) {
    FMinContext = FMaxContext = c;
  } else {
    UpdateModel();
    FMinContext = FMaxContext;
  }
}

void TDZPpmdModel::Update1() {
  TState* s = FFoundState;
  s->Freq += 4;
  SetSummFreq(FMinContext, SummFreq(FMinContext) + 4);
  if (s[0].Freq > s[-1].Freq) {
    std::swap(s[0], s[-1]);
    FFoundState = --s;
    if (s->Freq > kMaxFreq) Rescale();
  }
  NextContext();
}

void TDZPpmdModel::Update1First() {
  FPrevSuccess = 2u * FFoundState->Freq >= SummFreq(FMinContext);
  FRunLength += int32_t(FPrevSuccess);
  SetSummFreq(FMinContext, SummFreq(FMinContext) + 4);
  if ((FFoundState->Freq += 4) > kMaxFreq) Rescale();
  NextContext();
}

void TDZPpmdModel::Update2() {
  SetSummFreq(FMinContext, SummFreq(FMinContext) + 4);
  if ((FFoundState->Freq += 4) > kMaxFreq) Rescale();
  FRunLength = FInitRL;
  UpdateModel();
  FMinContext = FMaxContext;
}

void TDZPpmdModel::UpdateBin() {
  FFoundState->Freq = uint8_t(FFoundState->Freq + (FFoundState->Freq < 196));
  FPrevSuccess = 1;
  ++FRunLength;
  NextContext();
}

TDZPpmdModel::TSee* TDZPpmdModel::MakeEscFreq(unsigned numMasked, uint32_t& escFreq) {
  const TContext* mc = FMinContext;
  const unsigned numStats = mc->NumStats;
  if (numStats == 0xFF) {
    escFreq = 1;
    return &FDummySee;
  }
  TSee* see = FSee[FNS2Indx[numStats + 2] - 3] + (SummFreq(mc) > 11 * (numStats + 1)) +
              2 * (2 * numStats < Suffix(mc)->NumStats + numMasked) + mc->Flags;
  const unsigned r = see->Summ >> see->Shift;
  see->Summ = uint16_t(see->Summ - r);
  escFreq = r + (r == 0);
  return see;
}

uint16_t& TDZPpmdModel::BinSumm() {
  const TContext* mc = FMinContext;
  // Counts of binary contexts are 1 to 196 and their flags two bits (0x08, 0x10), so
  // the masks change nothing; they only keep any index within the table.
  return FBinSumm[FNS2Indx[(mc->One.Freq - 1u) & 0xFF]][(FNS2BSIndx[Suffix(mc)->NumStats] + FPrevSuccess +
                                                         mc->Flags + ((uint32_t(FRunLength) >> 26) & 0x20)) &
                                                        63];
}

// ---- Decoding --------------------------------------------------------------------

int TDZPpmdModel::DecodeSymbol(TDZPpmdRange& rc) {
  uint8_t keep[256];  // 1 for the symbols not yet escaped from
  TContext* mc = FMinContext;
  if (mc->NumStats != 0) {
    TState* s = Stats(mc);
    const uint32_t summ = SummFreq(mc);
    const uint32_t count = rc.Threshold(summ);
    uint32_t hi = s->Freq;
    if (count < hi) {
      rc.Decode(0, s->Freq);
      FFoundState = s;
      const uint8_t sym = s->Symbol;
      Update1First();
      return FBroken ? kBadData : sym;
    }
    FPrevSuccess = 0;
    unsigned i = mc->NumStats;
    do {
      hi += (++s)->Freq;
      if (hi > count) {
        rc.Decode(hi - s->Freq, s->Freq);
        FFoundState = s;
        const uint8_t sym = s->Symbol;
        Update1();
        return FBroken ? kBadData : sym;
      }
    } while (--i);
    if (count >= summ) return kBadData;
    rc.Decode(hi, summ - hi);
    std::memset(keep, 1, sizeof keep);
    i = mc->NumStats;
    keep[s->Symbol] = 0;
    do keep[(--s)->Symbol] = 0;
    while (--i);
  } else {
    uint16_t& prob = BinSumm();
    const uint32_t count = rc.BinThreshold();
    if (count < prob) {
      rc.Decode(0, prob);
      prob = ProbHit(prob);
      FFoundState = &mc->One;
      const uint8_t sym = mc->One.Symbol;
      UpdateBin();
      return FBroken ? kBadData : sym;
    }
    if (count >= kBinScale) return kBadData;
    rc.Decode(prob, kBinScale - prob);
    prob = ProbMiss(prob);
    FInitEsc = kExpEscape[prob >> 10];
    std::memset(keep, 1, sizeof keep);
    keep[mc->One.Symbol] = 0;
    FPrevSuccess = 0;
  }

  for (;;) {
    const unsigned numMasked = FMinContext->NumStats;
    do {
      ++FOrderFall;
      if (!FMinContext->Suffix) return kEndMark;
      FMinContext = Suffix(FMinContext);
    } while (FMinContext->NumStats == numMasked);
    mc = FMinContext;
    // A suffix offers every symbol of its longer contexts: never fewer.
    if (mc->NumStats < numMasked) return kBadData;

    TState* ps[256];
    const unsigned num = mc->NumStats - numMasked;
    unsigned n = 0;
    uint32_t hi = 0;
    for (TState *s = Stats(mc), *last = s + mc->NumStats; s <= last; ++s) {
      const unsigned k = keep[s->Symbol];
      hi += s->Freq & (0u - k);
      ps[n] = s;
      n += k;
    }
    if (n != num) return kBadData;
    uint32_t escFreq;
    TSee* see = MakeEscFreq(numMasked, escFreq);
    const uint32_t freqSum = escFreq + hi;
    const uint32_t count = rc.Threshold(freqSum);
    if (count < hi) {
      unsigned k = 0;
      hi = ps[0]->Freq;
      while (hi <= count) hi += ps[++k]->Freq;
      TState* s = ps[k];
      rc.Decode(hi - s->Freq, s->Freq);
      if (see->Shift < kPeriodBits && --see->Count == 0) {
        see->Summ = uint16_t(see->Summ << 1);
        see->Count = uint8_t(3 << see->Shift++);
      }
      FFoundState = s;
      const uint8_t sym = s->Symbol;
      Update2();
      return FBroken ? kBadData : sym;
    }
    if (count >= freqSum) return kBadData;
    rc.Decode(hi, freqSum - hi);
    see->Summ = uint16_t(see->Summ + freqSum);
    for (unsigned k = 0; k < n; ++k) keep[ps[k]->Symbol] = 0;
  }
}

}  // namespace dz
