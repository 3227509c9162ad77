// Compressors for the old methods (Shrink, Reduce, Implode), written for the tests
// from the format descriptions alone, so that the engine's decoders are checked
// against an independent writer; Info-ZIP unzip reads what they write. Shared by the
// engine's suites and the fuzz targets. Each returns the entry's compressed data.
#pragma once
#include <algorithm>
#include <cstdint>
#include <queue>
#include <string>
#include <unordered_map>
#include <vector>

namespace testzip {

namespace old {

// Bits packed from the low bit of each byte up.
class TBitWriter {
 public:
  void Put(uint32_t v, unsigned n) {
    for (unsigned i = 0; i < n; ++i) {
      FAcc |= uint8_t(((v >> i) & 1) << FCount);
      if (++FCount == 8) {
        FOut += char(FAcc);
        FAcc = 0;
        FCount = 0;
      }
    }
  }
  // A prefix code, its first bit (the top one of its len bits) first.
  void Code(uint32_t code, unsigned len) {
    for (unsigned i = len; i-- > 0;) Put((code >> i) & 1, 1);
  }
  std::string Done() {
    if (FCount) FOut += char(FAcc);
    FCount = 0;
    FAcc = 0;
    return FOut;
  }

 private:
  std::string FOut;
  uint8_t FAcc = 0;
  unsigned FCount = 0;
};

// Longest earlier match at pos within window bytes back, of at most maxLen bytes;
// chains of positions by a hash of their first 2 bytes, updated by Insert.
struct TMatcher {
  const std::string& S;
  std::vector<int> Head = std::vector<int>(4096, -1), Prev;
  explicit TMatcher(const std::string& s) : S(s), Prev(s.size(), -1) {}
  unsigned Key(size_t i) const { return ((uint8_t(S[i]) | uint8_t(S[i + 1]) << 8) * 40503u >> 4) & 4095; }
  void Insert(size_t i) {
    if (i + 1 >= S.size()) return;
    Prev[i] = Head[Key(i)];
    Head[Key(i)] = int(i);
  }
  // Length and distance of the match found (length 0 for none).
  std::pair<unsigned, unsigned> Find(size_t pos, size_t window, unsigned maxLen) const {
    unsigned best = 0, dist = 0;
    if (pos + 1 >= S.size()) return {0, 0};
    const unsigned limit = unsigned(std::min<size_t>(maxLen, S.size() - pos));
    int tries = 48;
    for (int c = Head[Key(pos)]; c >= 0 && pos - size_t(c) <= window && tries-- > 0; c = Prev[size_t(c)]) {
      unsigned n = 0;
      while (n < limit && S[size_t(c) + n] == S[pos + n]) ++n;
      if (n > best) {
        best = n;
        dist = unsigned(pos - size_t(c));
      }
    }
    return {best, dist};
  }
};

// Code lengths of 1 to maxLen bits for every symbol (each counted at least once).
inline std::vector<unsigned> CodeLengths(std::vector<uint64_t> freq, unsigned maxLen) {
  const size_t n = freq.size();
  for (;;) {
    struct TNode {
      uint64_t F;
      int Left, Right;
    };
    std::vector<TNode> nodes;
    using TItem = std::pair<uint64_t, int>;
    std::priority_queue<TItem, std::vector<TItem>, std::greater<>> q;
    for (size_t i = 0; i < n; ++i) {
      nodes.push_back({freq[i] + 1, -1, -1});
      q.push({freq[i] + 1, int(i)});
    }
    while (q.size() > 1) {
      const TItem a = q.top();
      q.pop();
      const TItem b = q.top();
      q.pop();
      nodes.push_back({a.first + b.first, a.second, b.second});
      q.push({a.first + b.first, int(nodes.size() - 1)});
    }
    std::vector<unsigned> depth(nodes.size(), 0), lens(n);
    for (size_t i = nodes.size(); i-- > n;) {
      depth[size_t(nodes[i].Left)] = depth[i] + 1;
      depth[size_t(nodes[i].Right)] = depth[i] + 1;
    }
    unsigned longest = 0;
    for (size_t i = 0; i < n; ++i) longest = std::max(longest, lens[i] = depth[i]);
    if (longest <= maxLen) return lens;
    for (uint64_t& f : freq) f /= 2;  // flatter counts, shorter codes
  }
}

}  // namespace old

// Shrink (method 1). clearEvery > 0 frees the table's leaves after that many codes
// (besides whenever the table is full), to reach the reuse of codes in short data.
inline std::string Shrink(const std::string& data, unsigned clearEvery = 0) {
  constexpr unsigned kCodes = 8192;
  old::TBitWriter w;
  if (data.empty()) return w.Done();
  std::vector<int> parent(kCodes, -1);  // -1: free (codes 257 and up)
  std::vector<uint8_t> last(kCodes);
  std::unordered_map<uint32_t, unsigned> child;  // prefix << 8 | byte -> code
  unsigned bits = 9, emitted = 0;
  unsigned top = 257, hint = 257;  // codes in use lie below top; none free below hint
  auto emit = [&](unsigned code) {
    while (code >= (1u << bits)) {
      w.Put(256, bits);
      w.Put(1, bits);
      ++bits;
    }
    w.Put(code, bits);
    ++emitted;
  };
  auto clearLeaves = [&] {
    w.Put(256, bits);
    w.Put(2, bits);
    std::vector<bool> hasChild(top, false);
    for (unsigned c = 257; c < top; ++c)
      if (parent[c] >= 0) hasChild[size_t(parent[c])] = true;
    for (unsigned c = 257; c < top; ++c)
      if (parent[c] >= 0 && !hasChild[c]) {
        child.erase(uint32_t(parent[c]) << 8 | last[c]);
        parent[c] = -1;
      }
    hint = 257;
  };
  auto lowestFree = [&] {
    while (hint < kCodes && parent[hint] >= 0) ++hint;
    return hint;
  };
  unsigned cur = uint8_t(data[0]);
  for (size_t i = 1; i < data.size(); ++i) {
    const uint8_t k = uint8_t(data[i]);
    const auto it = child.find(cur << 8 | k);
    if (it != child.end()) {
      cur = it->second;
      continue;
    }
    emit(cur);
    if (lowestFree() == kCodes || (clearEvery && emitted % clearEvery == 0)) clearLeaves();
    const unsigned code = lowestFree();
    if (code < kCodes) {
      top = std::max(top, code + 1);
      parent[code] = int(cur);
      last[code] = k;
      child[cur << 8 | k] = code;
    }
    cur = k;
  }
  emit(cur);
  return w.Done();
}

// Reduce with factor 1 to 4 (methods 2 to 5); follower sets hold at most maxFollowers
// bytes (up to 32).
inline std::string Reduce(const std::string& data, unsigned factor, unsigned maxFollowers = 32) {
  constexpr uint8_t kEscape = 144;
  const unsigned mask = 0xFFu >> factor;
  const size_t window = size_t(256) << factor;
  // Literals and references behind the escape byte.
  std::string mid;
  old::TMatcher m(data);
  for (size_t i = 0; i < data.size();) {
    auto [len, dist] = m.Find(i, window, 3 + mask + 255);
    // A first byte of 0 would read as an escaped 144: length 3 needs a far distance.
    if (len == 3 && dist <= 256) len = 0;
    if (len >= 3) {
      const unsigned l = len - 3, d = dist - 1;
      mid += char(kEscape);
      mid += char((d >> 8) << (8 - factor) | std::min(l, mask));
      if (l >= mask) mid += char(l - mask);
      mid += char(d & 0xFF);
    } else {
      len = 1;
      mid += data[i];
      if (uint8_t(data[i]) == kEscape) mid += '\0';
    }
    for (unsigned k = 0; k < len; ++k) m.Insert(i + k);
    i += len;
  }
  // Follower sets: the most frequent successors of each byte (ties: the lower byte).
  std::vector<uint16_t> pairs;  // byte before << 8 | byte
  uint8_t prev = 0;
  for (char c : mid) {
    pairs.push_back(uint16_t(prev << 8 | uint8_t(c)));
    prev = uint8_t(c);
  }
  std::sort(pairs.begin(), pairs.end());
  std::vector<std::vector<std::pair<size_t, uint8_t>>> seen(256);  // count, byte
  for (size_t i = 0, j; i < pairs.size(); i = j) {
    for (j = i; j < pairs.size() && pairs[j] == pairs[i];) ++j;
    seen[pairs[i] >> 8].push_back({j - i, uint8_t(pairs[i])});
  }
  std::vector<std::vector<uint8_t>> sets(256);
  for (unsigned s = 0; s < 256; ++s) {
    std::stable_sort(seen[s].begin(), seen[s].end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (size_t i = 0; i < seen[s].size() && i < maxFollowers; ++i) sets[s].push_back(seen[s][i].second);
  }
  old::TBitWriter w;
  for (unsigned s = 256; s-- > 0;) {
    w.Put(unsigned(sets[s].size()), 6);
    for (uint8_t c : sets[s]) w.Put(c, 8);
  }
  prev = 0;
  for (char ch : mid) {
    const uint8_t c = uint8_t(ch);
    const std::vector<uint8_t>& set = sets[prev];
    const auto at = std::find(set.begin(), set.end(), c);
    if (set.empty()) {
      w.Put(c, 8);
    } else if (at == set.end()) {
      w.Put(1, 1);
      w.Put(c, 8);
    } else {
      unsigned bits = 1;  // enough for the largest index, at least one
      while ((1u << bits) < set.size()) ++bits;
      w.Put(0, 1);
      w.Put(unsigned(at - set.begin()), bits);
    }
    prev = c;
  }
  return w.Done();
}

// Implode (method 6): bigHistory is flag bit 1 (8 KiB), literalTree flag bit 2.
inline std::string Implode(const std::string& data, bool bigHistory, bool literalTree) {
  const unsigned lowBits = bigHistory ? 7 : 6, minLen = literalTree ? 3 : 2;
  struct TToken {
    unsigned Len, Dist;  // Len 0: the literal in Dist
  };
  std::vector<TToken> tokens;
  std::vector<uint64_t> litFreq(256, 0), lenFreq(64, 0), distFreq(64, 0);
  old::TMatcher m(data);
  for (size_t i = 0; i < data.size();) {
    auto [len, dist] = m.Find(i, size_t(1) << (lowBits + 6), minLen + 63 + 255);
    if (len >= minLen) {
      tokens.push_back({len, dist});
      ++lenFreq[std::min(len - minLen, 63u)];
      ++distFreq[(dist - 1) >> lowBits];
    } else {
      len = 1;
      tokens.push_back({0, uint8_t(data[i])});
      ++litFreq[uint8_t(data[i])];
    }
    for (unsigned k = 0; k < len; ++k) m.Insert(i + k);
    i += len;
  }
  struct TTree {
    std::vector<unsigned> Len;
    std::vector<uint32_t> Code;
  };
  old::TBitWriter w;
  // Lengths stored as runs; codes dealt from the longest length down, the last symbol
  // of a length first, as the format prescribes.
  auto tree = [&](const std::vector<uint64_t>& freq) {
    TTree t{old::CodeLengths(freq, 16), std::vector<uint32_t>(freq.size())};
    std::vector<uint8_t> runs;
    for (size_t i = 0; i < t.Len.size();) {
      size_t j = i;
      while (j < t.Len.size() && j - i < 16 && t.Len[j] == t.Len[i]) ++j;
      runs.push_back(uint8_t((j - i - 1) << 4 | (t.Len[i] - 1)));
      i = j;
    }
    w.Put(unsigned(runs.size() - 1), 8);
    for (uint8_t b : runs) w.Put(b, 8);
    uint32_t code = 0, step = 0;
    unsigned lastLen = 0;
    for (unsigned len = 16; len >= 1; --len)
      for (size_t s = t.Len.size(); s-- > 0;)
        if (t.Len[s] == len) {
          code += step;
          if (len != lastLen) step = 1u << (16 - (lastLen = len));
          t.Code[s] = code >> (16 - len);
        }
    return t;
  };
  TTree lit;
  if (literalTree) lit = tree(litFreq);
  const TTree lens = tree(lenFreq), dists = tree(distFreq);
  for (const TToken& t : tokens) {
    if (t.Len == 0) {
      w.Put(1, 1);
      if (literalTree)
        w.Code(lit.Code[t.Dist], lit.Len[t.Dist]);
      else
        w.Put(t.Dist, 8);
      continue;
    }
    const unsigned d = t.Dist - 1, l = t.Len - minLen, ls = std::min(l, 63u);
    w.Put(0, 1);
    w.Put(d & ((1u << lowBits) - 1), lowBits);
    w.Code(dists.Code[d >> lowBits], dists.Len[d >> lowBits]);
    w.Code(lens.Code[ls], lens.Len[ls]);
    if (ls == 63) w.Put(l - 63, 8);
  }
  return w.Done();
}

}  // namespace testzip
