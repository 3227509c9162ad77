#include "DZAesField.h"

#include "ZMEndian.h"

namespace dz {

void ParseAesField(const uint8_t* data, size_t len, TDZAesField& out) {
  out = TDZAesField{};
  if (len < 7 || data[2] != 'A' || data[3] != 'E') return;
  const uint16_t version = zm::GetLE16(data);
  const uint8_t strength = data[4];
  if ((version != 1 && version != 2) || strength < 1 || strength > 3) return;
  out.Version = version;
  out.Strength = strength;
  out.Method = zm::GetLE16(data + 5);
  out.Valid = true;
}

}  // namespace dz
