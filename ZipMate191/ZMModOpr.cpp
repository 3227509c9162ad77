#include "ZMModOpr.h"

TZMModOpr::TZMModOpr(TCustomZipMate& master) : TZMFileOpr(master) { SetProgressMuted(false); }

TZMModOpr::~TZMModOpr() { SetProgressMuted(true); }
