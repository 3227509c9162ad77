// zmtool's --help, the README and the man page say the same thing: every option the
// help of a command names, and every exit status, is in both documents.
#include <regex>
#include <set>

#include "ZmtoolTestKit.h"

using namespace zmt;

TEST(ZmtoolDocs, HelpReadmeAndManPageAgree) {
  std::string readme = ReadAll(fs::path(ZM_SOURCE_DIR) / "README.md");
  const size_t from = readme.find("## zmtool"), to = readme.find("\n## ", from + 1);
  ASSERT_NE(from, std::string::npos);
  readme = readme.substr(from, to - from);
  // The man page's source without its font changes, "\-" as "-".
  std::string man = std::regex_replace(ReadAll(fs::path(ZM_SOURCE_DIR) / "examples/zmtool/zmtool.1"),
                                       std::regex(R"(\\f[BIRP]|\\f\(CW)"), "");
  man = std::regex_replace(man, std::regex(R"(\\-)"), "-");
  std::set<std::string> options;
  for (const char* command : {"", "list ", "extract ", "test ", "comment ", "join ", "create ", "delete "}) {
    const TRun r = Shell(Zm(std::string(command) + "--help"), fs::temp_directory_path());
    ASSERT_EQ(r.Status, 0) << command;
    const std::regex option(R"((^|[ ,])(--?[a-zA-Z][a-z-]*))");
    for (std::sregex_iterator it(r.Out.begin(), r.Out.end(), option), end; it != end; ++it)
      options.insert((*it)[2].str());
  }
  EXPECT_GE(options.size(), 30u);  // the help was read
  for (const std::string& o : options) {
    EXPECT_NE(readme.find(o), std::string::npos) << o << " is missing from the README";
    EXPECT_NE(man.find(o), std::string::npos) << o << " is missing from the man page";
  }
  for (const char* status : {"0", "1", "2", "3", "4", "130"}) {
    EXPECT_NE(readme.find(std::string("| ") + status + " |"), std::string::npos) << status;
    EXPECT_NE(man.find(std::string(".B ") + status + "\n"), std::string::npos) << status;
  }
}
