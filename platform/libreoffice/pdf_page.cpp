#include "platform/libreoffice/pdf_page.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>

#include <com/sun/star/drawing/XDrawPage.hpp>
#include <com/sun/star/drawing/XDrawPages.hpp>
#include <com/sun/star/drawing/XDrawPagesSupplier.hpp>
#include <com/sun/star/drawing/XShape.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/text/XTextRange.hpp>

#include "platform/libreoffice/engine.hpp"
#include "platform/libreoffice/uno_support.hpp"

namespace fs = std::filesystem;

namespace platform::libreoffice {
namespace {

std::string HtmlEscape(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\n': out += "<br>"; break;
      default: out += c;
    }
  }
  return out;
}

struct PageItem {
  sal_Int32 y = 0, x = 0, height = 0;
  std::string text;  // a text run, or
  std::string html;  // a picture
};

void CollectShapes(const Reference<css::drawing::XShapes>& shapes, const fs::path& staging,
                   const GraphicWriter& writeGraphic, std::vector<PageItem>& items, unsigned& pictures) {
  const sal_Int32 count = shapes->getCount();
  for (sal_Int32 i = 0; i < count; ++i) {
    Reference<css::drawing::XShape> shape(shapes->getByIndex(i), UNO_QUERY);
    if (!shape.is()) continue;
    Reference<css::lang::XServiceInfo> info(shape, UNO_QUERY);
    auto is = [&](const char* service) {
      return info.is() && info->supportsService(OUString::createFromAscii(service));
    };
    if (is("com.sun.star.drawing.GroupShape")) {
      Reference<css::drawing::XShapes> group(shape, UNO_QUERY);
      if (group.is()) CollectShapes(group, staging, writeGraphic, items, pictures);
      continue;
    }
    const auto pos = shape->getPosition();
    const auto size = shape->getSize();
    PageItem item{pos.Y, pos.X, size.Height, {}, {}};
    if (is("com.sun.star.drawing.GraphicObjectShape")) {
      const std::string name = "picture" + std::to_string(++pictures) + ".png";
      // Pictures at 96 dots per inch of their size on the page.
      const sal_Int32 w = std::max<sal_Int32>(1, size.Width * 96 / 2540);
      const sal_Int32 h = std::max<sal_Int32>(1, size.Height * 96 / 2540);
      writeGraphic(Reference<css::lang::XComponent>(shape, UNO_QUERY_THROW), staging / name,
                    "image/png", w, h);
      item.html = "<p><img src=\"" + name + "\" width=\"" + std::to_string(w) + "\" height=\"" +
                  std::to_string(h) + "\" alt=\"\"></p>";
    } else {
      Reference<css::text::XTextRange> text(shape, UNO_QUERY);
      if (!text.is()) continue;
      item.text = S(text->getString());
      if (item.text.find_first_not_of(" \t\r\n") == std::string::npos) continue;
    }
    items.push_back(std::move(item));
  }
}

// Orders a page's items top to bottom and joins text runs that share a
// line (a PDF splits a line wherever the font changes) left to right.
std::string PageHtml(std::vector<PageItem> items) {
  std::stable_sort(items.begin(), items.end(), [](const PageItem& a, const PageItem& b) {
    return a.y != b.y ? a.y < b.y : a.x < b.x;
  });
  std::string html;
  std::vector<PageItem> line;
  auto flush = [&] {
    if (line.empty()) return;
    std::stable_sort(line.begin(), line.end(), [](const PageItem& a, const PageItem& b) { return a.x < b.x; });
    std::string text;
    for (const auto& part : line) text += part.text;
    html += "<p>" + HtmlEscape(text) + "</p>\n";
    line.clear();
  };
  for (auto& item : items) {
    if (item.html.empty()) {
      const bool sameLine = !line.empty() &&
          std::abs(item.y - line.front().y) * 2 <= std::max(item.height, line.front().height);
      if (!sameLine) flush();
      line.push_back(std::move(item));
    } else {
      flush();
      html += item.html + "\n";
    }
  }
  flush();
  return html;
}

}  // namespace

void WritePdfAsPage(const Reference<css::lang::XComponent>& pdf, const fs::path& page,
                    const GraphicWriter& writeGraphic) {
  Reference<css::drawing::XDrawPagesSupplier> supplier(pdf, UNO_QUERY_THROW);
  auto pages = supplier->getDrawPages();
  std::string html =
      "<!DOCTYPE html>\n<html>\n<head>\n<meta http-equiv=\"content-type\" content=\"text/html; "
      "charset=utf-8\">\n<title></title>\n</head>\n<body>\n";
  unsigned pictures = 0;
  for (sal_Int32 p = 0; p < pages->getCount(); ++p) {
    Reference<css::drawing::XShapes> shapes(pages->getByIndex(p), UNO_QUERY_THROW);
    std::vector<PageItem> items;
    CollectShapes(shapes, page.parent_path(), writeGraphic, items, pictures);
    html += "<div class=\"page\" id=\"page" + std::to_string(p + 1) + "\">\n" + PageHtml(std::move(items)) +
            "</div>\n";
  }
  html += "</body>\n</html>\n";
  std::ofstream out(page, std::ios::binary);
  out << html;
  if (!out) throw EngineError(EngineError::Kind::kFailed, "cannot write " + page.string());
}

}  // namespace platform::libreoffice
