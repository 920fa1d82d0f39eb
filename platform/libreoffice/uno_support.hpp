// Small helpers for talking to the office through its C++ UNO API: text
// conversions, property lists, file URLs and the process's own UNO runtime.
// Only the LibreOffice backend includes this; nothing outside it sees a UNO
// type.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <rtl/ustring.hxx>

namespace css = com::sun::star;

namespace platform::libreoffice {

// The names every file of the backend uses.
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using rtl::OUString;

rtl::OUString U(const std::string& utf8);
std::string S(const rtl::OUString& text);

com::sun::star::beans::PropertyValue Prop(const char* name, const com::sun::star::uno::Any& value);
com::sun::star::uno::Sequence<com::sun::star::beans::PropertyValue> Props(
    std::vector<com::sun::star::beans::PropertyValue> values);

// The file URL of `path`; raises EngineError for a path the office cannot use.
rtl::OUString FileUrl(const std::filesystem::path& path);

// The process's own UNO runtime: bootstrapped once with the office's
// fundamentalrc as the process's bootstrap file (what URE_BOOTSTRAP would
// name; without it the office's types and services are not found) and kept
// for the life of the process, since tearing it down during exit is not safe.
com::sun::star::uno::Reference<com::sun::star::uno::XComponentContext> LocalContext(
    const std::filesystem::path& programDir);

}  // namespace platform::libreoffice
