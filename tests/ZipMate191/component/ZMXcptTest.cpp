#include "ZMXcpt.h"

#include <gtest/gtest.h>

#include "ZMMsgStr.h"
#include "ZMUTF8.h"
#include "ZMMsg.h"

TEST(ZMXcptCodes, BitLayoutMatchesKnownCodes) {
  EXPECT_EQ(ZMMakeCode(1, 6942, 194), 11943106);
  EXPECT_EQ(ZMMakeCode(1, 3346, 1), 10101761);
  EXPECT_EQ(ZMMsgOf(-11943106), zmsErrorException);
  EXPECT_EQ(ZMMsgOf(INT32_MIN), 0);
  EXPECT_EQ(ZMAbsCode(-22), 22);
  EXPECT_GE(ZMAbsCode(INT32_MIN), 0);
  // Line numbers beyond 14 bits and modules beyond 8 bits never reach the sign bit.
  EXPECT_GE(ZMMakeCode(0x1FF, 0xFFFFF, 0x3FF), 0);
}

TEST(ZMXcptCreate, CodeTakesAbsoluteValueAndMessageText) {
  EZipMate e = EZipMate::CreateCode(-ZMMakeCode(zmmZipMate, 100, 197), false);
  EXPECT_EQ(e.FullCode, ZMMakeCode(zmmZipMate, 100, 197));
  EXPECT_EQ(e.MsgId, zmsNotActive);
  EXPECT_FALSE(e.Show);
  EXPECT_EQ(e.ArgKind, 0);
  EXPECT_EQ(e.Message(), "not Active");
  EXPECT_STREQ(e.what(), "not Active");
}

TEST(ZMXcptCreate, BareMessageNumberIsAValidCode) {
  EZipMate e = EZipMate::CreateCode(22);
  EXPECT_EQ(e.FullCode, 22);
  EXPECT_EQ(e.MsgId, zmsErrorNoExtractPasswordGiven);
  EXPECT_TRUE(e.Show);
  EXPECT_EQ(e.Message(), "Error - no extract password given");
}

TEST(ZMXcptCreate, MsgFormatsTheArguments) {
  EZipMate e = EZipMate::CreateMsg(ZM_CODE(zmmZMCore, zmsIndexOutsideRange), {12, 9});
  EXPECT_EQ(e.MsgId, zmsIndexOutsideRange);
  EXPECT_TRUE(e.Show);
  EXPECT_EQ(e.Message(), "Index (12) outside range 0..9");
  EZMException b = EZMException::CreateMsg(202);
  EXPECT_EQ(b.Message(), "Cannot process invalid zip");
}

TEST(ZMXcptCreate, IntAndStrKeepTheirArgument) {
  EZipMate i = EZipMate::CreateInt(192, 77);
  EXPECT_EQ(i.Message(), "critical DLL Error 77");
  EXPECT_EQ(i.ArgKind, 0);
  EZipMate s = EZipMate::CreateStr(ZM_CODE(zmmZipMate, zmsFailedToLoad), "DzEngine190.dll");
  EXPECT_EQ(s.Message(), "Failed to load DzEngine190.dll");
  EXPECT_EQ(s.ArgKind, 1);
  EXPECT_EQ(s.StrArg, "DzEngine190.dll");
  EXPECT_EQ(s.MsgId, zmsFailedToLoad);
}

TEST(ZMXcptCreate, MissingArgumentsLeaveThePlaceholders) {
  EZipMate e = EZipMate::CreateMsg(199, {5});
  EXPECT_EQ(e.Message(), "Index (5) outside range 0..%d");
}

TEST(ZMXcptDisplay, Utf8ModeRebuildsStringArgumentText) {
  bool old = SetUTF8Mode(true);
  EZipMate s = EZipMate::CreateStr(19, "plik-\xC5\x82.dll");
  EXPECT_EQ(s.DisplayText(), "Failed to load plik-\xC5\x82.dll");
  EZipMate c = EZipMate::CreateCode(2);
  EXPECT_EQ(c.DisplayText(), "User canceled operation");
  SetUTF8Mode(old);
  EXPECT_EQ(s.DisplayText(), s.Message());
}

TEST(ZMXcptCreate, HookedTextIsUsed) {
  SetTextHook([](int id, std::string& s) {
    if (id == 300) s = "custom %d";
  });
  EZipMate e = EZipMate::CreateInt(300, 4);
  SetTextHook(nullptr);
  EXPECT_EQ(e.Message(), "custom 4");
  EXPECT_EQ(e.MsgId, 300);
}
