// Extraction speed of the engine library next to unzip, bsdtar and 7z on one archive
// of a few hundred megabytes in several thousand files of mixed text and binary data,
// made by Info-ZIP zip -6, and its testing next to unzip -t. Run by hand:
//   extract_bench [--engine path/DzEngine190.dll] [--dir work-folder] [--mb 320] [--reps 3]
// Prints each time (best of the repetitions, which run in turn) and its ratio to the
// engine's time.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <algorithm>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "DZEngineIntf.h"
#include "TestEngineHost.h"
#include "TestPeers.h"

namespace fs = std::filesystem;

namespace {

int Shell(const std::string& cmd) {
  const int r = std::system(cmd.c_str());
  return WIFEXITED(r) ? WEXITSTATUS(r) : -1;
}

using zmtest::HaveTool;

// Several thousand files: text of varying redundancy, random and half-random binaries.
uint64_t MakeData(const fs::path& root, uint64_t megabytes) {
  std::mt19937_64 rng(20260);
  static const char* words[] = {"rate ",   "table ", "labour ", "quarter ", "price ",
                                "list\n",  "zip ",   "Tarnix ", "2016 ",    "dbf ",
                                "value, ", "index ", "cost\n",  "unit ",    "hour "};
  const uint64_t target = megabytes << 20;
  uint64_t total = 0;
  std::string buf;
  for (int i = 0; total < target; ++i) {
    const fs::path dir = root / ("d" + std::to_string(i % 40)) / ("s" + std::to_string(i % 7));
    fs::create_directories(dir);
    const unsigned kind = unsigned(rng() % 4);
    const size_t size = size_t(2000 + rng() % 160000);
    buf.resize(size);
    if (kind <= 1) {  // text
      size_t p = 0;
      while (p < size) {
        const char* w = words[rng() % 15];
        for (; *w && p < size; ++w) buf[p++] = *w;
        if (rng() % 9 == 0 && p < size) buf[p++] = char('0' + rng() % 10);
      }
    } else if (kind == 2) {  // random bytes
      for (size_t p = 0; p < size; p += 8) {
        const uint64_t v = rng();
        std::memcpy(&buf[p], &v, std::min<size_t>(8, size - p));
      }
    } else {  // binary with structure: records with small values
      for (size_t p = 0; p < size; ++p) buf[p] = char((p % 64 < 8) ? rng() % 256 : rng() % 4);
    }
    std::ofstream(dir / ("f" + std::to_string(i) + (kind <= 1 ? ".txt" : ".bin")), std::ios::binary)
        .write(buf.data(), std::streamsize(size));
    total += size;
  }
  return total;
}

double Seconds(const std::chrono::steady_clock::time_point& t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::string engine =
      (fs::canonical("/proc/self/exe").parent_path() / ".." / "engine" / "DzEngine190.dll").string();
  fs::path work = fs::temp_directory_path() / "dz_extract_bench";
  uint64_t mb = 320;
  int reps = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--engine"))
      engine = argv[i + 1];
    else if (!std::strcmp(argv[i], "--dir"))
      work = argv[i + 1];
    else if (!std::strcmp(argv[i], "--mb"))
      mb = std::strtoull(argv[i + 1], nullptr, 10);
    else if (!std::strcmp(argv[i], "--reps"))
      reps = std::max(1, std::atoi(argv[i + 1]));
  }
  zmtest::TEngineLib lib;
  if (!lib.Load(engine.c_str()) && !lib.Exec) {
    fprintf(stderr, "cannot load the engine %s: %s\n", engine.c_str(), lib.Error.c_str());
    return 1;
  }
  if (!HaveTool("zip")) {
    fprintf(stderr, "need DZ_Exec and Info-ZIP zip\n");
    return 1;
  }
  const fs::path src = work / "src", zip = work / "bench.zip", out = work / "out";
  if (!fs::exists(zip)) {
    fs::remove_all(work);
    fs::create_directories(src);
    const uint64_t bytes = MakeData(src, mb);
    printf("data: %.1f MB\n", double(bytes) / (1 << 20));
    if (Shell("cd '" + src.string() + "' && zip -6 -r -q '" + zip.string() + "' .") != 0) return 1;
    fs::remove_all(src);
  }
  printf("archive: %s, %.1f MB\n", zip.string().c_str(), double(fs::file_size(zip)) / (1 << 20));
  Shell("cat '" + zip.string() + "' > /dev/null");

  struct TResult {
    std::string Name;
    double Time;
  };
  auto fresh = [&] {
    fs::remove_all(out);
    fs::create_directories(out);
    Shell("sync");
  };

  auto engineRun = [&](uint32_t options) {
    zmtest::TEngineHost host;
    host.Archive = zip.string();
    host.Base = out.string();
    host.Options = options;
    host.PwdReqCount = 0;
    host.Level = 0;
    host.WithStreams = false;
    const auto t0 = std::chrono::steady_clock::now();
    const int n = host.Exec(lib.Exec);
    const double t = Seconds(t0);
    for (const zmtest::TMsg& m : host.Messages)
      if (DZErrorNumber(m.Code)) fprintf(stderr, "engine: %s\n", m.Text.c_str());
    if (n <= 0) printf("engine returned %d\n", n);
    return t;
  };
  struct TRunner {
    std::string Name;
    bool Extracts;
    std::function<double()> Run;
  };
  std::vector<TRunner> runners = {
      {"DzEngine190", true,
       [&] { return engineRun(DZ_OPT_ALWAYS | DZ_OPT_EXTRACT | DZ_OPT_DIRNAMES | DZ_OPT_OVERWRITE); }}};
  const std::vector<std::pair<std::string, std::string>> tools = {
      {"unzip", "unzip -o -q '" + zip.string() + "' -d '" + out.string() + "'"},
      {"bsdtar", "bsdtar -xf '" + zip.string() + "' -C '" + out.string() + "'"},
      {"7z", "7z x -y '" + zip.string() + "' -o'" + out.string() + "' >/dev/null"}};
  auto toolRun = [&](const std::string& name, const std::string& cmdline) {
    const auto t0 = std::chrono::steady_clock::now();
    const int r = Shell(cmdline);
    const double t = Seconds(t0);
    if (r != 0) printf("%s exited with %d\n", name.c_str(), r);
    return t;
  };
  for (const auto& [name, cmdline] : tools) {
    if (!HaveTool(name)) {
      printf("%s: not installed\n", name.c_str());
      continue;
    }
    runners.push_back({name, true, [&, name = name, cmdline = cmdline] { return toolRun(name, cmdline); }});
  }
  runners.push_back({"DzEngine190 test", false, [&] { return engineRun(DZ_OPT_ALWAYS | DZ_OPT_TEST); }});
  if (HaveTool("unzip"))
    runners.push_back({"unzip -t", false,
                       [&] { return toolRun("unzip -t", "unzip -tqq '" + zip.string() + "' >/dev/null"); }});
  std::vector<double> best(runners.size(), 1e30);
  for (int r = 0; r < reps; ++r)
    for (size_t i = 0; i < runners.size(); ++i) {
      if (runners[i].Extracts) fresh();
      best[i] = std::min(best[i], runners[i].Run());
    }
  std::vector<TResult> results;
  for (size_t i = 0; i < runners.size(); ++i) results.push_back({runners[i].Name, best[i]});
  fs::remove_all(out);
  // Extractors compare with the engine's extraction, testers with its testing.
  printf("%-18s %9s %9s\n", "run", "seconds", "ratio");
  size_t ref = 0;
  for (size_t i = 0; i < results.size(); ++i) {
    if (!runners[i].Extracts && runners[ref].Extracts) ref = i;
    printf("%-18s %9.3f %9.2f\n", results[i].Name.c_str(), results[i].Time,
           results[i].Time / results[ref].Time);
  }
  return 0;
}
