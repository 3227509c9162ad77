// Initial values and setter rules of the component's published settings.
#include <gtest/gtest.h>

#include "PlatPath.h"
#include "ZipMateTestKit.h"

TEST(ZipMateProps, InitialValues) {
  TZipMate z;
  EXPECT_TRUE(z.Active());
  EXPECT_EQ(z.State(), 0);
  EXPECT_EQ(z.ZipFileName(), "");
  EXPECT_EQ(z.FSpecArgs().Count(), 0);
  EXPECT_EQ(z.PasswordReqCount(), 1u);
  EXPECT_EQ(z.Encoding(), zeoAuto);
  EXPECT_FALSE(z.UseDirOnlyEntries());
  EXPECT_TRUE(z.ExtrOptions().Empty());
  EXPECT_EQ(z.AddCompLevel(), 9);
  EXPECT_EQ(z.HowToDelete(), htdAllowUndo);
  EXPECT_EQ(z.MinFreeVolumeSize(), 65536u);
  EXPECT_EQ(z.NoSkipping(), (TZMSkipAborts{stDupName, stReadError}));
  EXPECT_EQ(z.SFXOverwriteMode(), ovrAlways);
  EXPECT_EQ(z.SFXIcon(), nullptr);
  EXPECT_FALSE(z.NoReadAux());
  EXPECT_FALSE(z.DLL_Load());
  EXPECT_FALSE(z.Unattended());
  EXPECT_EQ(z.Verbosity(), 0);
  EXPECT_EQ(z.Version(), "1.9.1.0019");
  EXPECT_EQ(z.ErrCode(), 0);
  EXPECT_FALSE(z.Cancel());
  // Every suffix but EXE and EXT: 27 members, bits 17 and 18 clear.
  EXPECT_EQ(z.AddStoreSuffixes().ToBits(), 0x07FFFFFFu & ~(3u << 17));
}

TEST(ZipMateProps, ClampedAndDerivedValues) {
  TZipMate z;
  z.SetPasswordReqCount(20);
  EXPECT_EQ(z.PasswordReqCount(), 15u);
  z.SetMaxVolumeSizeKb(3000000);
  EXPECT_EQ(z.MaxVolumeSize(), 3072000000LL);
  EXPECT_EQ(z.MaxVolumeSizeKb(), 3000000);
  z.SetMaxVolumeSizeKb(-5);
  EXPECT_EQ(z.MaxVolumeSize(), 0);
  z.SetMaxVolumeSize(1500);
  EXPECT_EQ(z.MaxVolumeSizeKb(), 1);
  z.SetMaxVolumeSize(-1);
  EXPECT_EQ(z.MaxVolumeSize(), 0);
  z.SetVersion("2.0");
  EXPECT_EQ(z.Version(), "1.9.1.0019");
  z.SetTempDir(std::string("tmp") + plat::PathDelim + "x");
  EXPECT_EQ(z.TempDir(), std::string("tmp") + plat::PathDelim + "x" + plat::PathDelim);
  z.SetTempDir("");
  EXPECT_EQ(z.TempDir(), "");
  z.SetVerbose(true);
  z.SetTrace(true);
  EXPECT_EQ(z.Verbosity(), 3);
  z.SetVerbose(false);
  EXPECT_EQ(z.Verbosity(), 2);
}

TEST(ZipMateProps, ExtAddStoreSuffixesNormalised) {
  TZipMate z;
  z.SetExtAddStoreSuffixes("gif;PNG");
  EXPECT_EQ(z.ExtAddStoreSuffixes(), ".gif:.png:");
  EXPECT_TRUE(z.AddStoreSuffixes().Contains(assEXT));
  z.SetExtAddStoreSuffixes(".TXT");
  EXPECT_EQ(z.ExtAddStoreSuffixes(), ".txt:");
  z.SetExtAddStoreSuffixes(":a,,.B:");
  EXPECT_EQ(z.ExtAddStoreSuffixes(), ".a:.b:");
  z.SetExtAddStoreSuffixes("");
  EXPECT_EQ(z.ExtAddStoreSuffixes(), "");
  EXPECT_FALSE(z.AddStoreSuffixes().Contains(assEXT));
  z.SetExtAddStoreSuffixes(";;:");
  EXPECT_EQ(z.ExtAddStoreSuffixes(), "");
  EXPECT_FALSE(z.AddStoreSuffixes().Contains(assEXT));
}

TEST(ZipMateProps, SpecListsAreCopied) {
  TZipMate z;
  TStringList l{"*.dbf", "a.txt"};
  z.SetFSpecArgs(l);
  l.Add("more");
  EXPECT_EQ(z.FSpecArgs().Count(), 2);
  z.SetFSpecArgs(z.FSpecArgs());
  EXPECT_EQ(z.FSpecArgs().Count(), 2);
  z.SetFSpecArgsExcl(l);
  EXPECT_EQ(z.FSpecArgsExcl().Count(), 3);
}

TEST(ZipMateProps, AuxiliarySettingsMarkChanges) {
  TZipMate z;
  z.SetSFXCaption("cap");
  EXPECT_TRUE(z.AuxChanged());
  EXPECT_TRUE(z.NoReadAux());  // reads true once marked
  z.SetNoReadAux(true);
  EXPECT_FALSE(z.AuxChanged());
  EXPECT_TRUE(z.NoReadAux());
  z.SetNoReadAux(false);
  EXPECT_FALSE(z.NoReadAux());
  z.SetSFXCaption("cap");  // unchanged value: no mark
  EXPECT_FALSE(z.AuxChanged());

  z.SetWriteOptions(TZMWriteOpts{zwoZipTime});
  EXPECT_FALSE(z.AuxChanged());
  z.SetWriteOptions(TZMWriteOpts{zwoZipTime, zwoDiskSpan});
  EXPECT_TRUE(z.AuxChanged());
  z.SetNoReadAux(true);
  z.SetNoReadAux(false);
  z.SetSpanOptions(TZMSpanOpts{spWipeFiles});
  EXPECT_FALSE(z.AuxChanged());
  z.SetSpanOptions(TZMSpanOpts{spWipeFiles, spCompatName});
  EXPECT_TRUE(z.AuxChanged());

  // While loading NoReadAux reads the stored value.
  z.BeginLoading();
  EXPECT_FALSE(z.NoReadAux());
  z.Loaded();
}

TEST(ZipMateProps, IconIsCopiedAndRemoved) {
  TZipMate z;
  TIcon icon;
  icon.SetBits({1, 2, 3});
  z.SetSFXIcon(&icon);
  ASSERT_NE(z.SFXIcon(), nullptr);
  EXPECT_NE(z.SFXIcon(), &icon);
  icon.SetBits({9});
  EXPECT_EQ(z.SFXIcon()->Bits(), (std::vector<uint8_t>{1, 2, 3}));
  TIcon empty;
  z.SetSFXIcon(&empty);
  EXPECT_EQ(z.SFXIcon(), nullptr);
  z.SetSFXIcon(&icon);
  z.SetSFXIcon(nullptr);
  EXPECT_EQ(z.SFXIcon(), nullptr);
}

TEST(ZipMateProps, LoadStrHookIsSharedByAllComponents) {
  TZipMate a, b;
  a.SetOnLoadStr([](int id, std::string& s) {
    if (id == 301) s = "shared";
  });
  ASSERT_TRUE(bool(b.OnLoadStr()));
  EXPECT_EQ(b.LoadMessageText(301), "shared");
  b.SetOnLoadStr(nullptr);
  EXPECT_FALSE(bool(a.OnLoadStr()));
  EXPECT_EQ(a.LoadMessageText(301), "Resource missing for 301");
}

TEST(ZipMateProps, CommentStoredWithoutListing) {
  TScopedUi ui;
  TTestZipMate z;
  z.TrackStates();
  z.SetZipComment("hello");
  EXPECT_EQ(z.ZipComment(), "hello");
  EXPECT_EQ(z.Operations(), 1);
  z.SetZipComment("hello");  // equal: nothing at all
  EXPECT_EQ(z.Operations(), 1);
  EXPECT_TRUE(ui.Ui.Dialogs.empty());
}
