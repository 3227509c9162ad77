// The worker level that may change an archive in place; progress reports are muted
// once its destruction begins.
#pragma once
#include "ZMFileOpr.h"

class TZMModOpr : public TZMFileOpr {
 public:
  explicit TZMModOpr(TCustomZipMate& master);
  ~TZMModOpr() override;
};
