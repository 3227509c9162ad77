// The monitor link: reply decoding, the handshake, line transport and closing, with a
// fake platform link standing in for the monitor window.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "PlatCodePage.h"
#include "PlatSniffer.h"
#include "ZMClasses.h"
#include "ZMSniffer.h"
#include "ZMUTF8.h"

namespace {

class TFakeMonitor : public plat::TSnifferLink {
 public:
  intptr_t Window = 0x1234;  // 0: no monitor open
  int32_t Reply = 0;
  int Handshakes = 0;
  intptr_t GotOwner = 0;
  uint8_t GotVerbosity = 0xFF;
  struct TLine {
    uint32_t LinkId;
    int32_t Code;
    std::string Text;
  };
  std::vector<TLine> Lines;
  int RefuseAfter = -1;  // lines taken before sends start failing (-1: never)

  intptr_t FindMonitor() override { return Window; }
  int32_t Handshake(intptr_t monitor, intptr_t owner, uint8_t verbosity) override {
    EXPECT_EQ(monitor, Window);
    ++Handshakes;
    GotOwner = owner;
    GotVerbosity = verbosity;
    return Reply;
  }
  bool SendLine(intptr_t monitor, uint32_t id, int32_t code, const std::string& utf8) override {
    EXPECT_EQ(monitor, Window);
    if (RefuseAfter >= 0 && int(Lines.size()) >= RefuseAfter) return false;
    Lines.push_back({id, code, utf8});
    return true;
  }
};

class ZMSnifferTest : public ::testing::Test {
 protected:
  void SetUp() override { Prev = plat::SetSnifferLink(&Fake); }
  void TearDown() override { plat::SetSnifferLink(Prev); }
  TFakeMonitor Fake;
  plat::TSnifferLink* Prev = nullptr;
  TZMSniffer S;
};

TEST(ZMSnifferReply, TopByteDecidesLinkAndVerbosity) {
  TZMSnifferReply d = DecodeSnifferReply(0x05000007);
  EXPECT_TRUE(d.Link);
  EXPECT_EQ(d.LinkId, 7u);
  EXPECT_TRUE(d.SetsVerbosity);
  EXPECT_EQ(d.Verbosity, 1);
  d = DecodeSnifferReply(0x07ABCDEF);
  EXPECT_TRUE(d.Link);
  EXPECT_EQ(d.LinkId, 0xABCDEFu);
  EXPECT_EQ(d.Verbosity, 3);
  d = DecodeSnifferReply(0x04000000);
  EXPECT_TRUE(d.SetsVerbosity);
  EXPECT_EQ(d.Verbosity, 0);
  // Top bytes below 4 keep the component's verbosity.
  d = DecodeSnifferReply(0x03FFFFFF);
  EXPECT_TRUE(d.Link);
  EXPECT_FALSE(d.SetsVerbosity);
  EXPECT_EQ(d.LinkId, 0xFFFFFFu);
  EXPECT_TRUE(DecodeSnifferReply(0).Link);
  // Refusals.
  EXPECT_FALSE(DecodeSnifferReply(0x08000000).Link);
  EXPECT_FALSE(DecodeSnifferReply(0x7F000001).Link);
  EXPECT_FALSE(DecodeSnifferReply(-1).Link);
  EXPECT_FALSE(DecodeSnifferReply(int32_t(0x85000007u)).Link);
}

TEST_F(ZMSnifferTest, HandshakeOffersOwnerAndVerbosityAndMayChangeIt) {
  Fake.Reply = 0x05000007;
  uint8_t verbosity = 2;
  ASSERT_TRUE(S.Open(0x4711, verbosity));
  EXPECT_EQ(Fake.GotOwner, 0x4711);
  EXPECT_EQ(Fake.GotVerbosity, 2);
  EXPECT_EQ(verbosity, 1);
  EXPECT_EQ(S.LinkId(), 7u);
  S.SendLine(0, "hello");
  ASSERT_EQ(Fake.Lines.size(), 1u);
  EXPECT_EQ(Fake.Lines[0].LinkId, 7u);
  EXPECT_EQ(Fake.Lines[0].Text, "hello");

  // A plain id leaves the verbosity alone.
  Fake.Reply = 0x00000009;
  verbosity = 3;
  ASSERT_TRUE(S.Open(0, verbosity));
  EXPECT_EQ(verbosity, 3);
  EXPECT_EQ(S.LinkId(), 9u);
}

TEST_F(ZMSnifferTest, NoMonitorOrARefusalLeavesTheLinkClosed) {
  uint8_t verbosity = 1;
  Fake.Window = 0;
  EXPECT_FALSE(S.Open(0, verbosity));
  EXPECT_EQ(Fake.Handshakes, 0);
  Fake.Window = 0x99;
  for (int32_t r : {int32_t(0x08000000), -5}) {
    Fake.Reply = r;
    EXPECT_FALSE(S.Open(0, verbosity));
    EXPECT_FALSE(S.IsOpen());
    EXPECT_EQ(verbosity, 1);
  }
  S.SendLine(0, "lost");
  EXPECT_TRUE(Fake.Lines.empty());
  // A refused handshake after an open link closes the old one.
  Fake.Reply = 3;
  ASSERT_TRUE(S.Open(0, verbosity));
  Fake.Reply = -1;
  EXPECT_FALSE(S.Open(0, verbosity));
  S.SendLine(0, "lost");
  EXPECT_TRUE(Fake.Lines.empty());
}

TEST_F(ZMSnifferTest, AFailedSendClosesTheLinkUntilTheNextHandshake) {
  Fake.Reply = 0x00000042;
  uint8_t verbosity = 0;
  ASSERT_TRUE(S.Open(0, verbosity));
  Fake.RefuseAfter = 1;
  S.SendLine(12, "first");
  S.SendLine(0, "refused");
  EXPECT_FALSE(S.IsOpen());
  Fake.RefuseAfter = -1;
  S.SendLine(0, "after");
  ASSERT_EQ(Fake.Lines.size(), 1u);
  EXPECT_EQ(Fake.Lines[0].Code, 12);
  ASSERT_TRUE(S.Open(0, verbosity));
  S.SendLine(0, "again");
  EXPECT_EQ(Fake.Lines.size(), 2u);
  S.Close();
  S.SendLine(0, "closed");
  EXPECT_EQ(Fake.Lines.size(), 2u);
}

TEST_F(ZMSnifferTest, LinesGoOutAsUtf8InEitherMode) {
  Fake.Reply = 1;
  uint8_t verbosity = 0;
  ASSERT_TRUE(S.Open(0, verbosity));
  unsigned prevCp = plat::SetAnsiCodePageOverride(1250);
  bool prevMode = SetUTF8Mode(false);
  S.SendLine(0,
             "Zak\xB3"
             "ad \xB9");  // "Zakład ą" in Windows-1250
  SetUTF8Mode(true);
  S.SendLine(0, "\xC5\x82");  // already UTF-8: sent unchanged
  SetUTF8Mode(prevMode);
  plat::SetAnsiCodePageOverride(prevCp);
  ASSERT_EQ(Fake.Lines.size(), 2u);
  EXPECT_EQ(Fake.Lines[0].Text,
            "Zak\xC5\x82"
            "ad \xC4\x85");
  EXPECT_EQ(Fake.Lines[1].Text, "\xC5\x82");
}

TEST(ZMSnifferLine, StartingLineNamesThreadsOwnerAndComponent) {
  TComponent owner;
  owner.SetName("FormMainShort");
  TComponent zip(&owner);
  zip.SetName("ZipMate");
  const std::string tid = std::to_string(plat::CurrentThreadId());
  char ptr[32];
  // Addresses are written as fixed-width upper-case hex, as the component's %p does.
  std::snprintf(ptr, sizeof ptr, "%0*llX", int(2 * sizeof(void*)),
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&zip)));
  const std::string line = TZMSniffer::StartingLine(zip);
  // The tests run on the program's main thread.
  EXPECT_EQ(line, "Starting " + tid + "." + tid + ":FormMainShort.<" + ptr + ">(ZipMate)") << line;
  TComponent lone;
  lone.SetName("Z");
  EXPECT_NE(TZMSniffer::StartingLine(lone).find(":<"), std::string::npos);
}

#ifndef _WIN32
TEST(ZMSnifferPosix, NoMonitorIsEverFound) {
  EXPECT_EQ(plat::SnifferLink().FindMonitor(), 0);
  TZMSniffer s;
  uint8_t verbosity = 3;
  EXPECT_FALSE(s.Open(0, verbosity));
  EXPECT_EQ(verbosity, 3);
}
#endif

}  // namespace
