// Running zmtool as a process: shell commands with their output captured, processes
// started to be signalled, and the files a run leaves.
#pragma once
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ZMDllLoad.h"
#include "ZMWFuncs.h"

inline std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void WriteAll(const std::filesystem::path& p, const std::string& data) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << data;
}

inline bool Have(const std::string& tool) {
  return std::system(("command -v " + tool + " > /dev/null 2>&1").c_str()) == 0;
}

struct TRun {
  int Status = -1;
  std::string Out, Err;
};

// Runs a shell command in folder; stdout and stderr captured.
inline TRun Shell(const std::string& cmd, const std::filesystem::path& folder) {
  namespace fs = std::filesystem;
  // Captured output lives outside folder, so that archivers run there do not pack it.
  static int serial = 0;
  fs::path base = fs::temp_directory_path() /
                  ("zmtool_run_" + std::to_string(::getpid()) + "_" + std::to_string(++serial));
  fs::path out = base.string() + ".out", err = base.string() + ".err";
  std::string full = "cd '" + folder.string() + "' && " + cmd + " > '" + out.string() + "' 2> '" + err.string() + "'";
  int rc = std::system(full.c_str());
  TRun r;
  r.Status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.Out = ReadAll(out);
  r.Err = ReadAll(err);
  fs::remove(out);
  fs::remove(err);
  return r;
}

// Files (relative path to contents) and folders ("path/" to "") below root.
inline std::map<std::string, std::string> Tree(const std::filesystem::path& root) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> t;
  for (auto& e : fs::recursive_directory_iterator(root)) {
    std::string rel = fs::relative(e.path(), root).generic_string();
    if (e.is_directory())
      t[rel + "/"] = "";
    else
      t[rel] = ReadAll(e.path());
  }
  return t;
}

// The names in a folder (none when it is missing).
inline std::vector<std::string> Names(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto& e : std::filesystem::directory_iterator(folder, ec)) names.push_back(e.path().filename().string());
  return names;
}

inline std::string Tool() { return ZMTOOL_PATH; }

// A sanitizer build's engine packs to more than the loader accepts as a resource,
// so neither the test program nor zmtool can load it from there.
inline bool EngineResourceTooLarge(int64_t& size) {
  auto res = OpenResourceStream("DZResDll191");
  size = res ? res->Size() : 0;
  return size >= TZMDLLLoader::MaxResSize;
}

// Runs a shell command in folder inside a mount namespace of its own in which a
// tmpfs with the options is mounted at mountPoint; the mount goes with the command,
// which therefore also looks at what is left there. Status 77 when no such namespace
// or mount can be had.
inline TRun InTmpfs(const std::string& options, const std::filesystem::path& mountPoint,
                    const std::string& cmd, const std::filesystem::path& folder) {
  if (Shell("unshare -m true", folder).Status != 0) return TRun{77, "", "no mount namespace"};
  std::filesystem::create_directories(mountPoint);
  return Shell("unshare -m sh -c 'mount -t tmpfs -o " + options + " tmpfs \"" + mountPoint.string() +
                   "\" 2>/dev/null || exit 77; " + cmd + "'",
               folder);
}

// Starts argv[0] with the arguments and the extra environment entries ("NAME=value"),
// output discarded, every signal at its default; the process id.
inline pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  // The entries given come first, and the first of a name is the one that counts.
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  for (char** e = environ; *e; ++e) envp.push_back(*e);
  args.push_back(nullptr);
  envp.push_back(nullptr);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  struct sigaction dfl = {};
  dfl.sa_handler = SIG_DFL;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &dfl, nullptr);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  dup2(null, 2);
  execve(args[0], args.data(), envp.data());
  _exit(127);
}
