// The main window: its texts, the component it owns and the button's click.
#include <gtest/gtest.h>

#include "ExportRate.h"
#include "ExportTestSupport.h"
#include "fMainShort.h"

using namespace exporttest;

namespace {

class FormMainShortTest : public TExportFixture {};

TEST_F(FormMainShortTest, MemoHoldsFourLinesWithTheirTrailingBlanks) {
  TFormMainShort form(Ops);
  const std::vector<std::string> expected = {
      "Program generuje poprawny plik rob216.dbf dla cennika Korvant \"Informacje ",
      "kwartalne Tarnix/Tarnix-MAX 2 kw 2016\" zawierający stawki robocizny kosztorysowej. ",
      "Zapisany plik można zaimportować do programu kosztorysowego razem ",
      "z pozostałymi plikami .dbf wyekesportowanymi z płyty CD z cennikiem.",
  };
  EXPECT_EQ(form.cxMemo1(), expected);
  EXPECT_EQ(form.MemoText(),
            expected[0] + "\r\n" + expected[1] + "\r\n" + expected[2] + "\r\n" + expected[3]);
}

TEST_F(FormMainShortTest, OwnsALoadedComponentWithTheStoredValues) {
  {
    TFormMainShort form(Ops);
    EXPECT_EQ(FormMainShort, &form);
    TZipMate& zip = form.ZipMate();
    EXPECT_EQ(zip.Owner(), &form);
    EXPECT_EQ(form.ComponentCount(), 1);
    // Loading has ended and the deferred start-up work has run.
    EXPECT_FALSE(zip.Loading());
    EXPECT_EQ(zip.DeferredWork(), 0u);
    EXPECT_TRUE(zip.Active());
    EXPECT_TRUE(zip.AddOptions().Empty());
    EXPECT_TRUE(zip.ExtrOptions().Empty());
    EXPECT_FALSE(zip.DLL_Load());
    EXPECT_FALSE(zip.Unattended());
    EXPECT_FALSE(zip.Verbose());
    EXPECT_FALSE(zip.Trace());
    EXPECT_FALSE(zip.UseUTF8());
    EXPECT_FALSE(zip.NoReadAux());
    EXPECT_FALSE(zip.ConfirmErase());
    // The stored 0 selects no translated table: English (1033) is in effect.
    EXPECT_EQ(zip.LanguageID(), 1033u);
    EXPECT_EQ(zip.ErrCode(), 0);
    EXPECT_TRUE(ComponentUi.Boxes.empty());
  }
  EXPECT_EQ(FormMainShort, nullptr);
}

TEST_F(FormMainShortTest, SuccessfulClickShowsTheResultAndTerminates) {
  TFormMainShort form(Ops);
  Ops.Folders.push_back(Root + "/out");
  form.cxButtonEksportujClick();
  ASSERT_EQ(Ops.Calls.size(), 3u);
  EXPECT_EQ(Ops.Calls[0].Kind, "choose");
  EXPECT_EQ(Ops.Calls[1],
            TScriptedOps::TCall("box", "Aktualizacja zakończona.", "", TUiIcon::Information, TUiButtons::Ok));
  EXPECT_EQ(Ops.Calls[2].Kind, "terminate");
  EXPECT_EQ(ratetest::ReadFile(Root + "/out/ROB216.dbf"), ratetest::ReadFile(ZM_RATE_TABLE_FILE));
}

TEST_F(FormMainShortTest, CancelledClickReportsErrorsAndStillTerminates) {
  TFormMainShort form(Ops);
  form.cxButtonEksportujClick();
  ASSERT_EQ(Ops.Calls.size(), 3u);
  EXPECT_EQ(Ops.Calls[1].Text, "Aktualizacja zakończona z błędami.");
  EXPECT_EQ(Ops.Calls[1].Title, "");
  EXPECT_EQ(Ops.Calls[1].Icon, TUiIcon::Information);
  EXPECT_EQ(Ops.Calls[2].Kind, "terminate");
}

TEST_F(FormMainShortTest, UnexpectedErrorLeavesTheClickWithoutResultOrTermination) {
  MakeDir(Temp + "/DzEngine190.dll");  // the engine cannot be staged
  TFormMainShort form(Ops);
  EXPECT_THROW(form.cxButtonEksportujClick(), EExportError);
  EXPECT_TRUE(Ops.Calls.empty());
  // The archive staged before the failure goes with it.
  EXPECT_FALSE(Exists(Temp + "/_xkgcsa9fjsk8_.tmp"));
}

}  // namespace
