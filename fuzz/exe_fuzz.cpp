// Fuzzes the readers of executables: the image size of a PE file, the self-extractor
// trailer after the image (archive name and data offset), the self-extractor settings
// header (plain and compressed text tables), and the resource tree walk for the
// program's icon, from both kinds of memory stream. Results stay inside the file, the
// two image-size readers agree, and an icon found is a slice of the file.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ZMClasses.h"
#include "ZMLister.h"
#include "ZMUtils.h"
#include "ZMXcpt.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool IsSliceOf(const std::vector<uint8_t>& bits, const uint8_t* data, size_t size) {
  if (bits.empty() || bits.size() > size) return false;
  return std::search(data, data + size, bits.begin(), bits.end()) != data + size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TReadOnlyMemoryStream ro(data, size);
  const uint32_t image = ExeImageSize(ro);
  Check(image <= 0x7FFFFFFFu);

  std::string name = "dir/setup.exe";
  int64_t offset = -1;
  const int kind = ProbeStub(ro, name, offset);
  switch (kind) {
    case kStubNotExe: Check(image == 0 && offset == 0 && name == "dir/setup.exe"); break;
    case kStubNone:
    case kStubBadRecord: Check(image > 0); break;
    case kStubA:
    case kStubB:
    case kStubBCentral:
    case kStubAFile:
      Check(image > 0 && offset > int64_t(image) && offset <= int64_t(size));
      Check(!name.empty() && name.find('/') == std::string::npos);
      break;
    default: std::abort();  // memory streams never fail, so no exception result either
  }

  // The lister's reader of the image end agrees wherever the full reader finds an image.
  const int64_t end = TZMLister::ImageEnd(data, size);
  Check(end >= -1);
  if (image > 0) Check(end == int64_t(image));
  TZMSFXSettings settings;
  const int32_t sfx = TZMLister::ParseSFXHeader(data, size, settings);
  if (sfx == 1) Check(settings.Version == 1 || settings.Version == 2);
  if (sfx == 0) Check(size <= 12000 || data[0] != 'M' || data[1] != 'Z');  // only stubs too small or not MZ

  TImageSectionHeader section;
  TImageResourceDataEntry entry;
  try {
    Check(FindIconEntry(ro, section, entry));
  } catch (const EZMException&) {
  }
  try {
    TReadOnlyMemoryStream again(data, size);
    TIcon icon = IconFromExe(again);
    Check(IsSliceOf(icon.Bits(), data, size));
  } catch (const EZMException&) {
  }
  try {
    TMemoryStream ms;
    if (size) ms.Write(data, int(size));
    TIcon icon = IconFromExe(ms);
    Check(IsSliceOf(icon.Bits(), data, size));
  } catch (const EZMException&) {
  }
  return 0;
}
