// Raw-data resources: the program's own resources (compiled from the generated .rc
// script), then any tables registered at run time.
#include <windows.h>

#include <string>

#include "PlatError.h"
#include "PlatResource.h"
#include "PlatResourceTable.h"

namespace plat {

namespace {

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

bool FindResourceByName(const std::string& name, int type, TResourceData& out) {
  if (name.empty() || name[0] == '#' || name.find('\0') != std::string::npos) {
    // "#123" would be read as a number by the system; names never start with it here.
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return false;
  }
  // Resource names are ASCII; the system compares them without regard to case.
  std::wstring wide(name.begin(), name.end());
  if (FindInModule(wide.c_str(), type, out)) return true;
  if (FindRegisteredByName(name, type, out)) return true;
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return false;
}

bool FindResourceById(int id, int type, TResourceData& out) {
  if (id > 0 && id <= 0xFFFF && FindInModule(MAKEINTRESOURCEW(id), type, out)) return true;
  if (FindRegisteredById(id, type, out)) return true;
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return false;
}

}  // namespace plat
