// Raw-data resources: the tables registered at run time are all there is.
#include "PlatError.h"
#include "PlatResource.h"
#include "PlatResourceTable.h"

namespace plat {

bool FindResourceByName(const std::string& name, int type, TResourceData& out) {
  if (!name.empty() && FindRegisteredByName(name, type, out)) return true;
  SetLastError(kErrResourceNameNotFound);
  return false;
}

bool FindResourceById(int id, int type, TResourceData& out) {
  if (FindRegisteredById(id, type, out)) return true;
  SetLastError(kErrResourceNameNotFound);
  return false;
}

}  // namespace plat
