// zm_embed, which turns the payload files into the program's resources: the generated
// source must change whenever a file's bytes change, also when its size stays the
// same, or a rebuild (or a compiler cache) would keep stale payload bytes.
#include <gtest/gtest.h>

#include "RateTableTestSupport.h"

using namespace ratetest;

namespace {

TEST(EmbedTool, SourceFollowsTheFilesContent) {
  const std::string dir = std::string(ZM_TEST_TMP_DIR) + "/embedtool";
  RunCommand("rm -rf " + Quote(dir) + " && mkdir -p " + Quote(dir));
  const std::string data = dir + "/payload.bin", out = dir + "/res.cpp";
  const std::string cmd = Quote(ZM_EMBED_TOOL) + " " + Quote(out) + " PAYLOAD 10 " + Quote(data);

  WriteFile(data, std::string(4096, 'a'));
  ASSERT_EQ(RunCommand(cmd).Exit, 0);
  const std::string first = ReadFile(out);
  ASSERT_NE(first.find("PAYLOAD"), std::string::npos);
  ASSERT_NE(first.find("4096"), std::string::npos);

  // Unchanged input: the same text.
  ASSERT_EQ(RunCommand(cmd).Exit, 0);
  EXPECT_EQ(ReadFile(out), first);

  // Same size, one byte different: a different text.
  std::string changed(4096, 'a');
  changed[2048] = 'b';
  WriteFile(data, changed);
  ASSERT_EQ(RunCommand(cmd).Exit, 0);
  EXPECT_NE(ReadFile(out), first);

  // A file that cannot be read is an error, not an empty resource.
  EXPECT_NE(RunCommand(Quote(ZM_EMBED_TOOL) + " " + Quote(out) + " X 10 " + Quote(dir + "/missing.bin")).Exit,
            0);
  RunCommand("rm -rf " + Quote(dir));
}

}  // namespace
