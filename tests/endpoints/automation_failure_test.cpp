#include "endpoints/automation_failure.hpp"

#include <json/writer.h>

#include "tests/office/office_fixture.hpp"

namespace office_test {
namespace {

using Automation::AutomationException;

TEST(AutomationFailureReply, SaysWhatFailedWithSuccessFalse) {
  AutomationException e(Automation::DISP_E_EXCEPTION, "cannot open /home/u/a.docx", "Word.Application");
  EXPECT_EQ(AutomationFailureMessage(e),
            "office automation failed: cannot open /home/u/a.docx (0x80020009)");
  Json::StyledWriter writer;
  EXPECT_EQ(writer.write(AutomationFailureReply(e)),
            "{\n   \"message\" : \"office automation failed: cannot open /home/u/a.docx (0x80020009)\",\n"
            "   \"success\" : false\n}\n");
}

TEST(AutomationFailureReply, MessageIsOneBoundedLine) {
  AutomationException multi(Automation::E_FAIL, "line one\nline two\r\t\x01");
  EXPECT_EQ(AutomationFailureMessage(multi), "office automation failed: line one line two    (0x80004005)");
  EXPECT_EQ(AutomationFailureMessage(AutomationException(Automation::E_FAIL, "")),
            "office automation failed: no description (0x80004005)");

  // 1000 Korean syllables (3 bytes each): cut to at most 512 bytes on a
  // character boundary.
  std::string longText;
  for (int i = 0; i < 1000; ++i) longText += "\xED\x95\x9C";
  const std::string message = AutomationFailureMessage(AutomationException(Automation::E_FAIL, longText));
  const std::string prefix = "office automation failed: ";
  const std::string suffix = " (0x80004005)";
  ASSERT_GT(message.size(), prefix.size() + suffix.size());
  const std::string cut = message.substr(prefix.size(), message.size() - prefix.size() - suffix.size());
  EXPECT_LE(cut.size(), 512u);
  EXPECT_EQ(cut.size() % 3, 0u);
  EXPECT_EQ(cut, longText.substr(0, cut.size()));
}

using DiscardDialog = OfficeTest;

TEST_F(DiscardDialog, ReleasesWhatAFailedConversionLeftAndForgetsTheDialog) {
  g_pMainDlg = new CDeskrelayDlg();
  ASSERT_TRUE(g_pMainDlg->CreateWordApp());
  ASSERT_TRUE(g_pMainDlg->CreatePowerPointApp());
  server_->SetFailure("PowerPoint.Application>2001>2005", 2037, Automation::RPC_E_TIMEOUT, "engine hung");
  try {
    g_pMainDlg->ConvertPowerPointToHtml(U16(WriteInput("deck.pptx")), true);
    FAIL() << "no exception";
  } catch (const AutomationException& e) {
    EXPECT_EQ(AutomationFailureReply(e)["success"], Json::Value(false));
  }
  EXPECT_GT(server_->LiveObjects(), 0);  // Word and the collection are still held
  DiscardMainDialog();
  EXPECT_EQ(g_pMainDlg, nullptr);
  EXPECT_EQ(server_->LiveObjects(), 0);
  DiscardMainDialog();  // nothing left: harmless
}

}  // namespace
}  // namespace office_test
