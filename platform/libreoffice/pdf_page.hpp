// A PDF opened as a drawing, written as a web page: each PDF page's text and
// pictures in reading order (top to bottom, left to right), the pictures as
// PNG files beside the page.
#pragma once

#include <filesystem>
#include <functional>

#include <com/sun/star/drawing/XShapes.hpp>
#include <com/sun/star/lang/XComponent.hpp>

namespace platform::libreoffice {

// Writes the picture of `source` (a shape) to `target` as `mediaType`, at
// `width` x `height` pixels.
using GraphicWriter = std::function<void(const com::sun::star::uno::Reference<com::sun::star::lang::XComponent>& source,
                                         const std::filesystem::path& target, const char* mediaType, sal_Int32 width,
                                         sal_Int32 height)>;

// Writes the page `page` (UTF-8 HTML) for the PDF document `pdf`; its
// pictures go beside it through `writeGraphic`.
void WritePdfAsPage(const com::sun::star::uno::Reference<com::sun::star::lang::XComponent>& pdf,
                    const std::filesystem::path& page, const GraphicWriter& writeGraphic);

}  // namespace platform::libreoffice
