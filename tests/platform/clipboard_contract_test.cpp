#include "tests/platform/clipboard_contract.hpp"

#include <cstdlib>

namespace clipboard_test {

DescribedHtml ParseHtmlFormat(const std::string& d) {
  DescribedHtml out;
  const auto field = [&](const char* name) -> long long {
    const std::string key = std::string("\n") + name + ":";
    const std::size_t at = d.find(key);
    if (at == std::string::npos) return -1;
    return std::atoll(d.c_str() + at + key.size());
  };
  if (d.rfind("Version:", 0) != 0) {
    out.error = "no Version: line at the start";
    return out;
  }
  const long long start_html = field("StartHTML"), end_html = field("EndHTML");
  const long long start_fragment = field("StartFragment"), end_fragment = field("EndFragment");
  const auto size = static_cast<long long>(d.size());
  if (start_html < 0 || end_html != size || start_fragment < start_html || end_fragment < start_fragment ||
      end_fragment > end_html) {
    out.error = "inconsistent offsets";
    return out;
  }
  out.document = d.substr(static_cast<std::size_t>(start_html));
  out.fragment = d.substr(static_cast<std::size_t>(start_fragment),
                          static_cast<std::size_t>(end_fragment - start_fragment));
  const std::string start_marker = "<!--StartFragment-->";
  if (start_fragment < start_html + 20 ||
      d.compare(static_cast<std::size_t>(start_fragment) - 20, 20, start_marker) != 0)
    out.error = "StartFragment does not follow <!--StartFragment-->";
  else if (d.compare(static_cast<std::size_t>(end_fragment), 18, "<!--EndFragment-->") != 0)
    out.error = "EndFragment is not at <!--EndFragment-->";
  else if (out.document.find("<html") == std::string::npos)
    out.error = "the document has no <html";
  return out;
}

namespace {

const std::string kKoreanAndEmoji = "\xEC\x95\x88\xEB\x85\x95 \xF0\x9F\x98\x80";  // "안녕 😀"

TEST_P(ClipboardContractTest, NoOwnerReadsEmpty) {
  harness_->Clear();
  const platform::ClipboardContents c = harness_->clipboard().Read();
  EXPECT_TRUE(c.png.empty());
  EXPECT_TRUE(c.text.empty());
  EXPECT_TRUE(c.html_format.empty());
}

TEST_P(ClipboardContractTest, Utf8TextArrivesAsUtf16WithSurrogatePairs) {
  harness_->Offer("UTF8_STRING", kKoreanAndEmoji);
  const platform::ClipboardContents c = harness_->clipboard().Read();
  EXPECT_EQ(c.text, u"\uC548\uB155 \U0001F600");
  EXPECT_EQ(c.text.size(), 5u);
  EXPECT_TRUE(c.png.empty());
  EXPECT_TRUE(c.html_format.empty());
}

TEST_P(ClipboardContractTest, TextTargetsOtherThanUtf8String) {
  harness_->Offer("text/plain;charset=utf-8", "caf\xC3\xA9");
  EXPECT_EQ(harness_->clipboard().Read().text, u"caf\u00E9");
  // STRING is ISO 8859-1.
  harness_->Offer("STRING", "caf\xE9");
  EXPECT_EQ(harness_->clipboard().Read().text, u"caf\u00E9");
}

TEST_P(ClipboardContractTest, MalformedUtf8BecomesReplacementCharacters) {
  harness_->Offer("UTF8_STRING", "a\xFF" "b\xC3");
  EXPECT_EQ(harness_->clipboard().Read().text, u"a\uFFFDb\uFFFD");
}

TEST_P(ClipboardContractTest, PngBytesArriveUnchanged) {
  const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(300, '\x01') + "IEND";
  harness_->Offer("image/png", png);
  const platform::ClipboardContents c = harness_->clipboard().Read();
  EXPECT_EQ(c.png, png);
  EXPECT_TRUE(c.text.empty());
  EXPECT_TRUE(c.html_format.empty());
}

TEST_P(ClipboardContractTest, OtherPicturesAreNoBitmap) {
  harness_->Offer("image/bmp", "BM" + std::string(100, '\0'));
  EXPECT_TRUE(harness_->clipboard().Read().png.empty());
  // Data that is not a PNG, though offered as one.
  harness_->Offer("image/png", "GIF89a" + std::string(100, '\0'));
  EXPECT_TRUE(harness_->clipboard().Read().png.empty());
}

TEST_P(ClipboardContractTest, BareFragmentIsWrappedInADescribedDocument) {
  const std::string fragment = "<b>bold</b> and <img src=\"file:///tmp/a.png\">";
  harness_->Offer("text/html", fragment);
  const DescribedHtml html = ParseHtmlFormat(harness_->clipboard().Read().html_format);
  ASSERT_EQ(html.error, "");
  EXPECT_EQ(html.fragment, fragment);
  EXPECT_EQ(html.document.rfind("<html", 0), 0u);
  EXPECT_EQ(html.document.substr(html.document.size() - 7), "</html>");
}

TEST_P(ClipboardContractTest, WholeDocumentWithMarkersKeepsItsBytes) {
  const std::string document =
      "<html><head><meta charset=\"utf-8\"></head><body>\n<!--StartFragment--><p>x "
      "\xEC\x95\x88</p><!--EndFragment-->\n</body></html>";
  harness_->Offer("text/html", document);
  const std::string described = harness_->clipboard().Read().html_format;
  const DescribedHtml html = ParseHtmlFormat(described);
  ASSERT_EQ(html.error, "");
  EXPECT_EQ(html.document, document);
  EXPECT_EQ(html.fragment, "<p>x \xEC\x95\x88</p>");
}

TEST_P(ClipboardContractTest, WholeDocumentWithoutMarkersGetsThemAroundItsBody) {
  harness_->Offer("text/html",
                  "<!DOCTYPE html>\n<html lang=\"ko\"><head><title>t</title></head>"
                  "<BODY class=\"x\"><p>one</p><p>two</p></BODY>\n</html>\n");
  const DescribedHtml html = ParseHtmlFormat(harness_->clipboard().Read().html_format);
  ASSERT_EQ(html.error, "");
  EXPECT_EQ(html.fragment, "<p>one</p><p>two</p>");
  EXPECT_EQ(html.document.rfind("<!DOCTYPE html>\n<html lang=\"ko\">", 0), 0u);
}

TEST_P(ClipboardContractTest, Utf16HtmlWithByteOrderMarkIsConvertedToUtf8) {
  const std::u16string text = u"<p>\uC548\uB155 \U0001F600</p>";
  std::string little_endian("\xFF\xFE", 2);
  for (const char16_t u : text) {
    little_endian += static_cast<char>(u & 0xFF);
    little_endian += static_cast<char>(u >> 8);
  }
  harness_->Offer("text/html", little_endian);
  const DescribedHtml html = ParseHtmlFormat(harness_->clipboard().Read().html_format);
  ASSERT_EQ(html.error, "");
  EXPECT_EQ(html.fragment, "<p>\xEC\x95\x88\xEB\x85\x95 \xF0\x9F\x98\x80</p>");
}

TEST_P(ClipboardContractTest, DescriptionOfferedByTheOwnerIsKept) {
  const std::string description =
      "Version:0.9\r\nStartHTML:0000000097\r\nEndHTML:0000000170\r\nStartFragment:0000000133\r\n"
      "EndFragment:0000000134\r\n<html><body>\r\n<!--StartFragment-->x<!--EndFragment-->\r\n</body></html>";
  harness_->Offer("HTML Format", description);
  EXPECT_EQ(harness_->clipboard().Read().html_format, description);
}

TEST_P(ClipboardContractTest, ReadingDoesNotConsumeTheClipboard) {
  harness_->Offer("UTF8_STRING", "again");
  EXPECT_EQ(harness_->clipboard().Read().text, u"again");
  EXPECT_EQ(harness_->clipboard().Read().text, u"again");
}

}  // namespace
}  // namespace clipboard_test
