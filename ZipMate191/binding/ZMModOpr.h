// The worker level that may change an archive in place (its comment); progress
// reports are muted once its destruction begins.
#pragma once
#include <string>

#include "ZMFileOpr.h"

class TZMModOpr : public TZMFileOpr {
 public:
  explicit TZMModOpr(TCustomZipMate& master);
  ~TZMModOpr() override;

  // Replaces the comment of the component's archive (ZipFileName) with text, in place:
  // the end record gets the new length, the comment follows it and the file ends
  // there. Failures are reported and leave the component's ZipComment empty.
  void WriteComment(const std::string& text);
};

// Runs WriteComment in a new worker of the component.
void ZMWriteComment(TCustomZipMate& comp, const std::string& text);
