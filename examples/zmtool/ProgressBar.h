// The progress bar on standard error: one line that fits the terminal's width (taken
// at every redraw, so that it follows a resized window), redrawn in place at most ten
// times a second, with the bytes done of the total, the speed and the time left.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>

class TZMProgressDetails;

namespace zmtool {

class TProgressBar {
 public:
  // Drawn only when on is set and standard error is a terminal.
  explicit TProgressBar(bool on);
  ~TProgressBar() { Finish(); }
  void Show(const TZMProgressDetails& d);
  // Takes the bar off its line (before other text is written there).
  void Clear();
  // The last state stays on its line, and the next text goes below it.
  void Finish();

  // The line for a terminal of the given width (never longer than width - 1).
  static std::string Line(int width, int64_t done, int64_t total, double seconds, const std::string& name);

 private:
  void Draw(bool force);

  bool FOn;
  bool FShown = false;
  int64_t FDone = 0, FTotal = 0;
  std::string FName;
  std::chrono::steady_clock::time_point FStart, FLastDraw;
};

// 1536 as "1.5 KiB", 512 as "512 B".
std::string ByteText(int64_t n);

}  // namespace zmtool
