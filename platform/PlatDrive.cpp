// What every system shares of the drive layer: the layer in use, the system's own
// unless a test put another one in its place.
#include "PlatDrive.h"

#include <utility>

namespace plat {

namespace {

TDriveLayer* gCurrent = nullptr;

}  // namespace

TDriveLayer& Drives() { return gCurrent ? *gCurrent : SystemDrives(); }

TDriveLayer* SetDrives(TDriveLayer* layer) { return std::exchange(gCurrent, layer); }

}  // namespace plat
