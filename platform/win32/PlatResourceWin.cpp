// Raw-data resources: the program's own resources (compiled from the generated .rc
// script), then any tables registered at run time.
#include <windows.h>

#include <mutex>
#include <utility>
#include <vector>

#include "PlatError.h"
#include "PlatResource.h"

namespace plat {

namespace {

struct TRegistry {
  std::mutex Lock;
  std::vector<std::pair<const TResourceEntry*, size_t>> Tables;
};

TRegistry& Registry() {
  static TRegistry r;
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
bool FindRegistered(Pred pred, TResourceData& out) {
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

bool FindInModule(const wchar_t* name, int type, TResourceData& out) {
  HMODULE module = ::GetModuleHandleW(nullptr);
  HRSRC res = ::FindResourceW(module, name, MAKEINTRESOURCEW(type));
  if (!res) return false;
  HGLOBAL mem = ::LoadResource(module, res);
  const void* data = mem ? ::LockResource(mem) : nullptr;
  if (!data) return false;
  out.Data = static_cast<const uint8_t*>(data);
  out.Size = ::SizeofResource(module, res);
  return true;
}

}  // namespace

void RegisterResources(const TResourceEntry* entries, size_t count) {
  if (!entries || count == 0) return;
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  for (const auto& t : r.Tables)
    if (t.first == entries) return;
  r.Tables.emplace_back(entries, count);
}

bool FindResourceByName(const std::string& name, int type, TResourceData& out) {
  if (name.empty() || name[0] == '#' || name.find('\0') != std::string::npos) {
    // "#123" would be read as a number by the system; names never start with it here.
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return false;
  }
  // Resource names are ASCII; the system compares them without regard to case.
  std::wstring wide(name.begin(), name.end());
  if (FindInModule(wide.c_str(), type, out)) return true;
  if (FindRegistered(
          [&](const TResourceEntry& e) {
            return e.Type == type && e.Name && e.Name[0] && SameName(e.Name, name);
          },
          out))
    return true;
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return false;
}

bool FindResourceById(int id, int type, TResourceData& out) {
  if (id > 0 && id <= 0xFFFF && FindInModule(MAKEINTRESOURCEW(id), type, out)) return true;
  if (FindRegistered(
          [&](const TResourceEntry& e) { return e.Type == type && (!e.Name || !e.Name[0]) && e.Id == id; },
          out))
    return true;
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return false;
}

}  // namespace plat
