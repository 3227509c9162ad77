#include "ProgressBar.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "PlatTerminal.h"
#include "TermText.h"
#include "ZipMate191/ZipMate.h"

namespace zmtool {

namespace {

std::string Clock(double seconds) {
  const long s = long(seconds + 0.5);
  char b[32];
  if (s >= 3600)
    std::snprintf(b, sizeof b, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(b, sizeof b, "%ld:%02ld", s / 60, s % 60);
  return b;
}

// Display columns of UTF-8 text (one per character; enough for a progress line).
size_t Columns(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

// The last columns of s, behind "...", when it is wider than width.
std::string TailFit(const std::string& s, size_t width) {
  if (Columns(s) <= width) return s;
  if (width <= 3) return std::string(width, '.');
  size_t keep = width - 3, start = s.size();
  while (start > 0 && keep > 0) {
    --start;
    if ((static_cast<unsigned char>(s[start]) & 0xC0) != 0x80) --keep;
  }
  return "..." + s.substr(start);
}

}  // namespace

std::string ByteText(int64_t n) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  double v = double(n);
  int u = 0;
  while (v >= 1024 && u < 4) v /= 1024, ++u;
  char b[32];
  if (u == 0)
    std::snprintf(b, sizeof b, "%lld B", static_cast<long long>(n));
  else
    std::snprintf(b, sizeof b, "%.1f %s", v, kUnits[u]);
  return b;
}

TProgressBar::TProgressBar(bool on) : FOn(on && plat::IsTerminal(plat::ssError)) {
  FStart = FLastDraw = std::chrono::steady_clock::now();
}

std::string TProgressBar::Line(int width, int64_t done, int64_t total, double seconds,
                               const std::string& name) {
  const size_t room = width > 1 ? size_t(width - 1) : 0;
  int pct = total > 0 ? int(done * 100 / total) : 0;
  pct = pct < 0 ? 0 : pct > 100 ? 100 : pct;
  // The figures first, as many as fit, from the left; then the bar; then the name.
  std::vector<std::string> parts = {std::to_string(pct) + "%", ByteText(done) + " / " + ByteText(total)};
  if (seconds >= 0.5 && done > 0) {
    const double speed = double(done) / seconds;
    parts.push_back(ByteText(int64_t(speed)) + "/s");
    if (total > done) parts.push_back(Clock(double(total - done) / speed) + " left");
  }
  std::string line;
  for (const std::string& p : parts) {
    const std::string next = line.empty() ? p : line + "  " + p;
    if (next.size() > room) break;
    line = next;
  }
  if (room >= line.size() + 11) {
    size_t bar = std::min({size_t(30), room / 3, room - line.size() - 1});
    const size_t fill = size_t(pct) * (bar - 2) / 100;
    line = "[" + std::string(fill, '#') + std::string(bar - 2 - fill, ' ') + "] " + line;
  }
  if (!name.empty() && room >= Columns(line) + 6) line += "  " + TailFit(name, room - Columns(line) - 2);
  return line;
}

void TProgressBar::Show(const TZMProgressDetails& d) {
  if (!FOn) return;
  switch (d.Kind()) {
    case pkTotalBytes:
      FTotal = d.TotalBytes();
      FDone = 0;
      FStart = std::chrono::steady_clock::now();
      break;
    case pkNewItem:
      FName = TerminalSafe(d.CurrentName());
      FDone = d.TotalDone();
      break;
    case pkItemStep:
    case pkItemEnd: FDone = d.TotalDone(); break;
    default: return;
  }
  Draw(d.Kind() == pkItemEnd && FDone >= FTotal);
}

void TProgressBar::Draw(bool force) {
  const auto now = std::chrono::steady_clock::now();
  if (!force && FShown && now - FLastDraw < std::chrono::milliseconds(100)) return;
  FLastDraw = now;
  const double seconds = std::chrono::duration<double>(now - FStart).count();
  const int width = plat::TerminalColumns(plat::ssError);
  std::string line = Line(width, FDone, FTotal, seconds, FName);
  // Back to the start of the line, the new state, and the rest of the old one blanked
  // (no escape sequences: every console understands this).
  const size_t room = width > 1 ? size_t(width - 1) : 0;
  if (Columns(line) < room) line.append(room - Columns(line), ' ');
  plat::WriteStdText(plat::ssError, "\r" + line);
  FShown = true;
}

void TProgressBar::Clear() {
  if (!FShown) return;
  const int width = plat::TerminalColumns(plat::ssError);
  plat::WriteStdText(plat::ssError, "\r" + std::string(width > 1 ? size_t(width - 1) : 0, ' ') + "\r");
  FShown = false;
}

void TProgressBar::Finish() {
  if (FShown) plat::WriteStdText(plat::ssError, "\n");
  FShown = false;
}

}  // namespace zmtool
