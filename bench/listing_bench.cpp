// Opening and listing an archive of many entries: the component (setting ZipFileName,
// then reading every entry's name, sizes and CRC) against "unzip -Z1" and Python's
// zipfile on the same file, in one run, best of several rounds, as ratios.
//
// Usage: listing_bench [entries=100000] [rounds=5] [archive]
// Without an archive one is written by Python's zipfile into a temporary folder.
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "PlatUi.h"
#include "TestPeers.h"
#include "TestTempDir.h"
#include "ZMIRec.h"
#include "ZipMate.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

int Run(const std::string& cmd, std::string* out = nullptr) {
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0)
    if (out) out->append(buf, n);
  const int rc = pclose(p);
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

using zmtest::HaveTool;

// Wall time of a command (its output discarded), or -1 when it failed.
double TimeCommand(const std::string& cmd) {
  const auto t = Clock::now();
  if (Run(cmd + " >/dev/null 2>&1") != 0) return -1;
  return Since(t);
}

}  // namespace

int main(int argc, char** argv) {
  const int entries = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  std::string archive = argc > 3 ? argv[3] : "";
  std::string tmp;
  std::unique_ptr<zmtest::TTempDir> tmpDir;  // the written archive's folder
  if (archive.empty()) {
    if (!HaveTool("python3")) {
      std::fprintf(stderr, "python3 is needed to write the archive\n");
      return 2;
    }
    tmpDir = std::make_unique<zmtest::TTempDir>("zmlistbench");
    tmp = tmpDir->Path.string();
    archive = tmp + "/many.zip";
    const std::string py =
        "import sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
        "    for n in range(int(sys.argv[2])):\n"
        "        z.writestr('folder%03d/entry%06d.txt' % (n // 1000, n), b'entry %d' % n)\n";
    const std::string script = tmp + "/write.py";
    if (FILE* f = std::fopen(script.c_str(), "w")) {
      std::fputs(py.c_str(), f);
      std::fclose(f);
    }
    if (Run("python3 " + script + " " + archive + " " + std::to_string(entries)) != 0) {
      std::fprintf(stderr, "could not write the archive\n");
      return 2;
    }
  }
  std::printf("archive %s: %ju bytes\n", archive.c_str(), uintmax_t(fs::file_size(archive)));

  // Ours: a fresh component each round, so nothing is cached between rounds.
  double ours = 1e9;
  int listed = 0;
  uint64_t check = 0;
  for (int r = 0; r < rounds; ++r) {
    const auto t = Clock::now();
    TZipMate z;
    z.SetUnattended(true);
    z.SetZipFileName(archive);
    listed = z.Count();
    for (int i = 0; i < listed; ++i) {
      auto e = z.DirEntry(i);
      check += e->FileName().size() + uint64_t(e->UncompressedSize()) + e->CRC32();
    }
    ours = std::min(ours, Since(t));
    if (z.ErrCode() != 0) {
      std::fprintf(stderr, "listing failed: %d %s\n", z.ErrCode(), z.ErrMsg().c_str());
      return 1;
    }
  }
  std::printf("%-34s %9.1f ms  (%d entries, check %ju)\n", "ZipMate listing", ours * 1e3, listed,
              uintmax_t(check));

  double unzipTime = -1, pyTime = -1, pyInside = -1;
  if (HaveTool("unzip")) {
    unzipTime = 1e9;
    for (int r = 0; r < rounds; ++r) unzipTime = std::min(unzipTime, TimeCommand("unzip -Z1 " + archive));
    std::printf("%-34s %9.1f ms  ratio %.2fx\n", "unzip -Z1", unzipTime * 1e3, unzipTime / ours);
  } else {
    std::printf("unzip is not installed\n");
  }
  if (HaveTool("python3")) {
    const std::string code =
        "import sys, time, zipfile\n"
        "t = time.perf_counter()\n"
        "with zipfile.ZipFile(sys.argv[1]) as z:\n"
        "    s = sum(len(i.filename) + i.file_size + i.CRC for i in z.infolist())\n"
        "print(time.perf_counter() - t)\n";
    const std::string script = (tmp.empty() ? std::string("/tmp") : tmp) + "/zmlist_read.py";
    if (FILE* f = std::fopen(script.c_str(), "w")) {
      std::fputs(code.c_str(), f);
      std::fclose(f);
    }
    pyTime = 1e9;
    pyInside = 1e9;
    for (int r = 0; r < rounds; ++r) {
      std::string out;
      const auto t = Clock::now();
      if (Run("python3 " + script + " " + archive, &out) != 0) break;
      pyTime = std::min(pyTime, Since(t));
      pyInside = std::min(pyInside, std::atof(out.c_str()));
    }
    std::printf("%-34s %9.1f ms  ratio %.2fx\n", "python3 zipfile (whole process)", pyTime * 1e3,
                pyTime / ours);
    std::printf("%-34s %9.1f ms  ratio %.2fx\n", "python3 zipfile (listing only)", pyInside * 1e3,
                pyInside / ours);
    if (tmp.empty()) std::remove(script.c_str());
  }
  return 0;
}
