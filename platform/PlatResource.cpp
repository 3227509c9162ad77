// What every system shares of the resources: the tables registered at run time, searched
// by name (without regard to case) or by number.
#include "PlatResource.h"

#include <mutex>
#include <utility>
#include <vector>

#include "PlatResourceTable.h"

namespace plat {

namespace {

struct TRegistry {
  std::mutex Lock;
  std::vector<std::pair<const TResourceEntry*, size_t>> Tables;
};

TRegistry& Registry() {
  static TRegistry r;  // constructed on first use, so static initialisers may register
  return r;
}

bool SameName(const char* a, const std::string& b) {
  size_t i = 0;
  for (; a[i] && i < b.size(); ++i) {
    auto x = static_cast<unsigned char>(a[i]);
    auto y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
  }
  return a[i] == '\0' && i == b.size();
}

template <typename Pred>
bool Find(Pred pred, TResourceData& out) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  for (const auto& [table, count] : r.Tables)
    for (size_t i = 0; i < count; ++i)
      if (pred(table[i])) {
        out.Data = table[i].Data;
        out.Size = table[i].Size;
        return true;
      }
  return false;
}

}  // namespace

void RegisterResources(const TResourceEntry* entries, size_t count) {
  if (!entries || count == 0) return;
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  for (const auto& t : r.Tables)
    if (t.first == entries) return;  // the same table linked in twice
  r.Tables.emplace_back(entries, count);
}

bool FindRegisteredByName(const std::string& name, int type, TResourceData& out) {
  return Find(
      [&](const TResourceEntry& e) {
        return e.Type == type && e.Name && e.Name[0] && SameName(e.Name, name);
      },
      out);
}

bool FindRegisteredById(int id, int type, TResourceData& out) {
  return Find(
      [&](const TResourceEntry& e) { return e.Type == type && (!e.Name || !e.Name[0]) && e.Id == id; }, out);
}

}  // namespace plat
