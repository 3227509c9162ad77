// A private folder under the temporary folder for one test (or one fuzz or benchmark
// run), removed with everything in it when the object goes, also where a test made
// parts of it read-only.
#pragma once
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

#include "PlatFileSys.h"
#include "PlatPath.h"

namespace zmtest {

class TTempDir {
 public:
  // The folder's name is prefix and a random part.
  explicit TTempDir(const std::string& prefix = "zmtest") {
    std::random_device rd;
    for (int tries = 0; tries < 100; ++tries) {
      const uint64_t r = (uint64_t(rd()) << 32) ^ rd();
      const std::string path = plat::TempFolder() + prefix + std::to_string(r % 1000000007u);
      std::error_code ec;
      if (std::filesystem::create_directory(path, ec)) {
        Path = path;
        return;
      }
    }
    throw std::runtime_error("no temporary folder could be made for " + prefix);
  }
  ~TTempDir() {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::remove_all(Path, ec) != static_cast<std::uintmax_t>(-1) && !ec) return;
    fs::permissions(Path, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(Path, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(Path, ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  // The folder.
  std::filesystem::path Path;

  // The folder with a closing separator.
  std::string Dir() const { return Path.string() + plat::PathDelimStr; }
  // The path of a file of the folder.
  std::string File(const std::string& name) const { return (Path / name).string(); }
  std::string operator/(const std::string& name) const { return File(name); }
  // Writes a file of the folder (its folders made as needed); its path.
  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::filesystem::path p = Path / name;
    std::error_code ec;
    std::filesystem::create_directories(p.parent_path(), ec);
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
    return p.string();
  }
};

// The whole content of a file (empty when it cannot be read).
inline std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Writes a file whole, its folders made as needed.
inline void WriteWhole(const std::filesystem::path& path, const std::string& bytes) {
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace zmtest
