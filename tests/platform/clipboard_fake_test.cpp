// The clipboard contract on the test double, and the conversions of offered
// targets that it shares with the X11 backend.
#include <gtest/gtest.h>

#include "base/utf.hpp"
#include "platform/clipboard_html_format.hpp"
#include "platform/clipboard_targets.hpp"
#include "platform/testing/fake_clipboard.hpp"
#include "tests/platform/clipboard_contract.hpp"

namespace clipboard_test {
namespace {

class FakeHarness final : public ClipboardHarness {
 public:
  void Offer(const std::string& target, const std::string& data) override {
    // Like xclip, one owner serves one target.
    fake_.Clear();
    fake_.Offer(target, data);
  }
  void Clear() override { fake_.Clear(); }
  platform::Clipboard& clipboard() override { return fake_; }

 private:
  platform::FakeClipboard fake_;
};

INSTANTIATE_TEST_SUITE_P(Fake, ClipboardContractTest,
                         ::testing::Values(HarnessFactory{"Fake", [] {
                                             return std::unique_ptr<ClipboardHarness>(new FakeHarness);
                                           }}),
                         [](const auto& info) { return info.param.name; });

TEST(ClipboardTargets, PreferredTargetsWinWhenSeveralAreOffered) {
  platform::FakeClipboard clipboard;
  clipboard.Offer("STRING", "latin");
  clipboard.Offer("text/plain;charset=utf-8", "plain");
  clipboard.Offer("UTF8_STRING", "utf8");
  clipboard.Offer("text/html", "<i>fragment</i>");
  clipboard.Offer("HTML Format", "Version:0.9\r\nStartHTML:...");
  EXPECT_EQ(clipboard.Read().text, u"utf8");
  EXPECT_EQ(clipboard.Read().html_format, "Version:0.9\r\nStartHTML:...");
}

TEST(ClipboardTargets, HtmlFormatTargetThatIsNoDescriptionFallsBackToTextHtml) {
  platform::FakeClipboard clipboard;
  clipboard.Offer("HTML Format", "<i>not a description</i>");
  clipboard.Offer("text/html", "<i>fragment</i>");
  const DescribedHtml html = ParseHtmlFormat(clipboard.Read().html_format);
  ASSERT_EQ(html.error, "");
  EXPECT_EQ(html.fragment, "<i>fragment</i>");
}

TEST(ClipboardTargets, OwnerThatWillNotListItsTargetsIsAskedForEach) {
  platform::FakeClipboard clipboard;
  clipboard.SetListsTargets(false);
  clipboard.Offer("UTF8_STRING", "unlisted");
  clipboard.Offer("image/png", std::string("\x89PNG\r\n\x1a\n", 8));
  const platform::ClipboardContents c = clipboard.Read();
  EXPECT_EQ(c.text, u"unlisted");
  EXPECT_EQ(c.png.size(), 8u);
}

TEST(ClipboardTargets, UnresponsiveOwnerReadsEmpty) {
  platform::FakeClipboard clipboard;
  clipboard.Offer("UTF8_STRING", "never sent");
  clipboard.SetUnresponsive(true);
  const platform::ClipboardContents c = clipboard.Read();
  EXPECT_TRUE(c.text.empty());
  EXPECT_TRUE(c.html_format.empty());
}

TEST(ClipboardTargets, DataBeyondItsLimitReadsAsAbsentWithoutCuttingIt) {
  platform::FakeClipboard clipboard;
  platform::ClipboardLimits limits;
  limits.max_png_bytes = 100;
  limits.max_text_bytes = 10;
  limits.max_html_bytes = 50;
  clipboard.SetLimits(limits);
  clipboard.Offer("image/png", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(93, 'x'));
  clipboard.Offer("UTF8_STRING", "eleven byte");
  clipboard.Offer("text/html", std::string(51, 'h'));
  platform::ClipboardContents c = clipboard.Read();
  EXPECT_TRUE(c.png.empty());
  EXPECT_TRUE(c.text.empty());
  EXPECT_TRUE(c.html_format.empty());
  // At the limit itself everything is accepted.
  clipboard.Offer("image/png", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(92, 'x'));
  clipboard.Offer("UTF8_STRING", "ten bytes!");
  clipboard.Offer("text/html", std::string(50, 'h'));
  c = clipboard.Read();
  EXPECT_EQ(c.png.size(), 100u);
  EXPECT_EQ(c.text, u"ten bytes!");
  EXPECT_FALSE(c.html_format.empty());
}

TEST(ClipboardTextConversion, Utf8ToUtf16RejectsOverlongSurrogateAndOutOfRangeForms) {
  // Clipboard text: every byte that does not start a well-formed sequence
  // becomes U+FFFD.
  auto Utf8ToUtf16Lenient = [](std::string_view text) { return Utf8ToWideLenient(text, Utf8Errors::kReplaceEachByte); };
  EXPECT_EQ(Utf8ToUtf16Lenient("\xC0\xAF"), u"\uFFFD\uFFFD");          // overlong '/'
  EXPECT_EQ(Utf8ToUtf16Lenient("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // U+D800
  EXPECT_EQ(Utf8ToUtf16Lenient("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16Lenient("\xF4\x8F\xBF\xBF"), u"\U0010FFFF");
  EXPECT_EQ(Utf8ToUtf16Lenient("\xE2\x82"), u"\uFFFD\uFFFD");  // cut short at the end
  EXPECT_EQ(Utf8ToUtf16Lenient(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(ClipboardHtmlDecoding, ByteOrderMarksAndUnmarkedUtf16) {
  using platform::DecodeTextHtml;
  EXPECT_EQ(DecodeTextHtml(std::string("\xFE\xFF\x00<\xD8\x3D\xDE\x00", 8)), "<\xF0\x9F\x98\x80");
  EXPECT_EQ(DecodeTextHtml("\xEF\xBB\xBF<p>"), "<p>");
  EXPECT_EQ(DecodeTextHtml(std::string("<\0p\0>\0", 6)), "<p>");
  // A lone surrogate and an odd last byte.
  EXPECT_EQ(DecodeTextHtml(std::string("\xFF\xFE\x00\xD8x\0y", 7)), "\xEF\xBF\xBDx");
  // The text ends at its first NUL, as trailing NULs of some owners would
  // otherwise end up inside the fragment.
  EXPECT_EQ(DecodeTextHtml(std::string("<p>a</p>\0\0", 10)), "<p>a</p>");
}

TEST(ClipboardHtmlFormat, DocumentCases) {
  using platform::HtmlFormatFromTextHtml;
  EXPECT_EQ(HtmlFormatFromTextHtml(""), "");
  // A document without body: the fragment is what follows the html tag.
  DescribedHtml html = ParseHtmlFormat(HtmlFormatFromTextHtml("<html><p>x</p></html>"));
  ASSERT_EQ(html.error, "");
  EXPECT_EQ(html.fragment, "<p>x</p>");
  // An upper-case document is carried whole as the fragment of a new one.
  html = ParseHtmlFormat(HtmlFormatFromTextHtml("<HTML><BODY>x</BODY></HTML>"));
  ASSERT_EQ(html.error, "");
  EXPECT_EQ(html.fragment, "<HTML><BODY>x</BODY></HTML>");
  // "<htmlx" is not an html tag; "<body>" with no end runs to the end.
  html = ParseHtmlFormat(HtmlFormatFromTextHtml("<htmlx><html><body>tail"));
  ASSERT_EQ(html.error, "");
  EXPECT_EQ(html.fragment, "tail");
  // Markers in the wrong order count as none.
  html = ParseHtmlFormat(
      HtmlFormatFromTextHtml("<html><body><!--EndFragment-->y<!--StartFragment--></body></html>"));
  ASSERT_EQ(html.error, "");
  EXPECT_EQ(html.fragment, "<!--EndFragment-->y<!--StartFragment-->");
}

}  // namespace
}  // namespace clipboard_test
