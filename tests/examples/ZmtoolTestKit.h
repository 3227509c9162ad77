// zmtool run as a process: shell commands with their output captured, file trees,
// archives made by the peer tools, processes started to be signalled, and a terminal
// (tmux) to drive prompts in.
#pragma once
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ZMDllLoad.h"
#include "ZMDllLoadTestKit.h"
#include "ZMUtils.h"
#include "ZMWFuncs.h"

namespace zmt {

namespace fs = std::filesystem;

inline std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void WriteAll(const fs::path& p, const std::string& data) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << data;
}

inline bool Have(const std::string& tool) {
  return std::system(("command -v " + tool + " > /dev/null 2>&1").c_str()) == 0;
}

inline std::string Tool() { return ZMTOOL_PATH; }

// A sanitizer build's engine packs to more than the loader accepts as a resource,
// so neither the test program nor zmtool can load it from there.
inline bool EngineResourceTooLarge(int64_t& size) {
  auto res = OpenResourceStream("DZResDll191");
  size = res ? res->Size() : 0;
  return size >= TZMDLLLoader::MaxResSize;
}

// The command line that starts zmtool with these arguments. (Where the engine is too
// large for zmtool's resource, the build puts it in zmtool's folder.)
inline std::string Zm(const std::string& args) { return "'" + Tool() + "' " + args; }

struct TRun {
  int Status = -1;
  std::string Out, Err;
};

// Runs a shell command in folder with standard input from /dev/null (not a terminal);
// stdout and stderr captured.
inline TRun Shell(const std::string& cmd, const fs::path& folder) {
  // Captured output lives outside folder, so that archivers run there do not pack it.
  static int serial = 0;
  fs::path base = fs::temp_directory_path() /
                  ("zmtool_run_" + std::to_string(::getpid()) + "_" + std::to_string(++serial));
  fs::path out = base.string() + ".out", err = base.string() + ".err";
  std::string full = "cd '" + folder.string() + "' && ( " + cmd + " ) < /dev/null > '" + out.string() +
                     "' 2> '" + err.string() + "'";
  int rc = std::system(full.c_str());
  TRun r;
  r.Status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.Out = ReadAll(out);
  r.Err = ReadAll(err);
  fs::remove(out);
  fs::remove(err);
  return r;
}

// Files (relative path to contents), folders ("path/" to "") and links ("path@" to
// the target) below root.
inline std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> t;
  for (auto& e : fs::recursive_directory_iterator(root)) {
    std::string rel = fs::relative(e.path(), root).generic_string();
    if (e.is_symlink())
      t[rel + "@"] = fs::read_symlink(e.path()).generic_string();
    else if (e.is_directory())
      t[rel + "/"] = "";
    else
      t[rel] = ReadAll(e.path());
  }
  return t;
}

// Mode bits and modification time (whole seconds) of everything below root, by
// relative path.
inline std::map<std::string, std::string> Stamps(const fs::path& root) {
  std::map<std::string, std::string> t;
  for (auto& e : fs::recursive_directory_iterator(root)) {
    const auto secs = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::file_clock::to_sys(fs::last_write_time(e.path())).time_since_epoch());
    const bool folder = e.is_directory();
    t[fs::relative(e.path(), root).generic_string()] =
        std::to_string(unsigned(fs::status(e.path()).permissions())) +
        (folder ? "" : " " + std::to_string(secs.count()));
  }
  return t;
}

// What each peer archiver's test, and zmtool's, say about an archive: empty when all
// of them pass.
inline std::string PeerComplaints(const fs::path& archive, const std::string& password = "") {
  const std::string a = "'" + archive.string() + "'";
  const std::string pw = password.empty() ? "" : " -P '" + password + "'";
  std::string bad;
  const fs::path here = archive.parent_path();
  if (Have("unzip") && Shell("unzip -tq" + pw + " " + a, here).Status != 0) bad += " unzip";
  if (Have("7z") && Shell("7z t -p'" + password + "' " + a, here).Status != 0) bad += " 7z";
  if (Have("python3") &&
      Shell("python3 -c \"import "
            "sys,zipfile;z=zipfile.ZipFile(sys.argv[1]);z.setpassword(sys.argv[2].encode());"
            "sys.exit(z.testzip() is not None)\" " +
                a + " '" + password + "'",
            here)
              .Status != 0)
    bad += " python";
  const std::string zpw = password.empty() ? "" : " --password '" + password + "'";
  if (Shell(Zm("test -q" + zpw + " " + a), here).Status != 0) bad += " zmtool";
  return bad;
}

// The names in a folder (none when it is missing).
inline std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto& e : fs::directory_iterator(folder, ec)) names.push_back(e.path().filename().string());
  return names;
}

// Runs a shell command in folder inside a mount namespace of its own in which a
// tmpfs with the options is mounted at mountPoint; the mount goes with the command,
// which therefore also looks at what is left there. Status 77 when no such namespace
// or mount can be had.
inline TRun InTmpfs(const std::string& options, const fs::path& mountPoint, const std::string& cmd,
                    const fs::path& folder) {
  if (Shell("unshare -m true", folder).Status != 0) return TRun{77, "", "no mount namespace"};
  fs::create_directories(mountPoint);
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

// A folder of files to pack (Src), and archives of it made by the peer tools.
struct TZmtoolFixture : ::testing::Test {
  TTempDir Tmp{"zmtool"};
  fs::path Src;
  void SetUp() override {
    Src = Tmp.Path / "src";
    WriteAll(Src / "readme.txt", "hello zmtool\n");
    WriteAll(Src / "empty.dat", "");
    std::string bin;
    for (int i = 0; i < 70000; ++i) bin += char((i * 7919) >> 3);
    WriteAll(Src / "data" / "bin.raw", bin);
    WriteAll(Src / "data" / "deep" / "more" / "notes.md", std::string(20000, 'n') + "end");
    WriteAll(Src / "zażółć.txt", "polskie litery\n");
  }
  TRun Run(const std::string& args) { return Shell(Zm(args), Tmp.Path); }
  // Incompressible data in Src (200,000 bytes in noise.bin), which it returns.
  std::string AddNoise() {
    std::string noise;
    uint32_t x = 12345;
    for (int i = 0; i < 200000; ++i) {
      x = x * 1103515245u + 12345u;
      noise += char(x >> 24);
    }
    WriteAll(Src / "noise.bin", noise);
    return noise;
  }
  // Src split by zip into set/set.z01, set.z02 ... set/set.zip; the last part's name.
  std::string SplitSet() {
    fs::create_directories(Tmp.Path / "set");
    const std::string set = (Tmp.Path / "set" / "set.zip").string();
    EXPECT_EQ(Shell("zip -q -r -s 64k '" + set + "' .", Src).Status, 0);
    EXPECT_TRUE(fs::exists(Tmp.Path / "set" / "set.z02"));
    return set;
  }
  // An archive of Src made by one of the peer tools; empty when the tool is missing.
  std::string Make(const std::string& tool, const std::string& name = "") {
    std::string a = (Tmp.Path / ((name.empty() ? tool : name) + ".zip")).string();
    std::string cmd;
    if (tool == "zip")
      cmd = "zip -qry '" + a + "' .";
    else if (tool == "7z")
      cmd = "7z a -tzip -bd -snl '" + a + "' . > /dev/null";
    else if (tool == "bsdtar")
      cmd = "bsdtar --format zip -cf '" + a + "' .";
    else if (tool == "python3")
      cmd =
          "python3 -c \"import zipfile,os\n"
          "z=zipfile.ZipFile('" +
          a +
          "','w',zipfile.ZIP_DEFLATED)\n"
          "for r,d,f in os.walk('.'):\n"
          "  for n in f: z.write(os.path.join(r,n))\n"
          "z.close()\"";
    if (!Have(tool)) return std::string();
    TRun r = Shell(cmd, Src);
    EXPECT_EQ(r.Status, 0) << cmd << "\n" << r.Err;
    return a;
  }
};

// A terminal for zmtool: a shell in a detached tmux session of its own server, driven
// by keys; what it shows is read back from the pane.
class TTerminal {
 public:
  TTerminal(const fs::path& folder, int width, int height) {
    static int serial = 0;
    FSocket = "zmt" + std::to_string(::getpid()) + "_" + std::to_string(++serial);
    Tmux("new-session -d -s t -x " + std::to_string(width) + " -y " + std::to_string(height) + " -c '" +
         folder.string() + "' 'env PS1=\"$ \" bash --norc --noprofile'");
    Tmux("set-option -g status off");
  }
  ~TTerminal() { Tmux("kill-server"); }
  TTerminal(const TTerminal&) = delete;
  TTerminal& operator=(const TTerminal&) = delete;

  static bool Available() { return Have("tmux"); }
  // Types a command line on a cleared screen and waits until it runs; its exit status
  // shows afterwards as "[status N]".
  void Command(const std::string& line) {
    // The marker is typed in two words, so that only its output matches.
    const std::string marker = "[run " + std::to_string(++FRuns) + "]";
    Keys("clear; echo '[run' '" + std::to_string(FRuns) + "]'; " + line + "; echo \"[status $?]\"", true);
    Keys("Enter");
    EXPECT_TRUE(WaitFor(marker)) << Screen();
  }
  void Keys(const std::string& keys, bool literal = false) {
    std::string quoted;
    for (char c : keys) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    Tmux(std::string("send-keys -t t ") + (literal ? "-l " : "") + "'" + quoted + "'");
  }
  void Resize(int width, int height) {
    Tmux("resize-window -t t -x " + std::to_string(width) + " -y " + std::to_string(height));
  }
  std::string Screen() {
    const fs::path out = fs::temp_directory_path() / (FSocket + ".screen");
    Tmux("capture-pane -p -t t > '" + out.string() + "'");
    std::string s = ReadAll(out);
    fs::remove(out);
    return s;
  }
  // Waits (up to 20 s) until the screen shows text; true when it did.
  bool WaitFor(const std::string& text) {
    for (int i = 0; i < 400; ++i) {
      if (Screen().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  // Waits for the question to show, then types the answer (literally); false, and
  // nothing typed, when the question did not come.
  bool Answer(const std::string& question, const std::string& answer) {
    if (!WaitFor(question)) return false;
    Keys(answer, true);
    return true;
  }

 private:
  void Tmux(const std::string& args) { std::system(("tmux -L " + FSocket + " " + args).c_str()); }
  std::string FSocket;
  int FRuns = 0;
};

}  // namespace zmt
