#include <gtest/gtest.h>

#include <string>

#include "PlatResource.h"

using namespace plat;

// zm_tests embeds tests/platform/data files (tests/platform/Resources.cmake).
TEST(PlatResource, EmbeddedFilesAreFoundByNameWithoutRegardToCase) {
  TResourceData r;
  ASSERT_TRUE(FindResourceByName("zmtestsample", kRtRcData, r));
  std::string text(reinterpret_cast<const char*>(r.Data), r.Size);
  EXPECT_EQ(std::string("Embedded sample for the resource tests.\n\0\1\xFE\xFF", 44), text);
  ASSERT_TRUE(FindResourceByName("ZMTESTSAMPLE", kRtRcData, r));
  EXPECT_EQ(44u, r.Size);
  EXPECT_FALSE(FindResourceByName("ZMTestSample", 23, r));  // another type
  EXPECT_FALSE(FindResourceByName("ZMTestSampl", kRtRcData, r));
  EXPECT_FALSE(FindResourceByName("", kRtRcData, r));
}

TEST(PlatResource, NumberedAndTypedResources) {
  TResourceData r;
  ASSERT_TRUE(FindResourceById(123, kRtRcData, r));
  EXPECT_EQ("123 numbered", std::string(reinterpret_cast<const char*>(r.Data), r.Size));
  EXPECT_FALSE(FindResourceById(124, kRtRcData, r));
  EXPECT_FALSE(FindResourceByName("123", kRtRcData, r));  // numbers are not names
  ASSERT_TRUE(FindResourceByName("zmtesttyped", 23, r));
  EXPECT_EQ(12u, r.Size);
}
