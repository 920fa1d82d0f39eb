#include "platform/libreoffice/uno_support.hpp"

#include <mutex>

#include <cppuhelper/bootstrap.hxx>
#include <osl/file.hxx>
#include <rtl/bootstrap.h>

#include "platform/libreoffice/engine.hpp"

namespace platform::libreoffice {

rtl::OUString U(const std::string& utf8) { return rtl::OUString::fromUtf8(utf8.c_str()); }
std::string S(const rtl::OUString& text) { return text.toUtf8().getStr(); }

css::beans::PropertyValue Prop(const char* name, const css::uno::Any& value) {
  css::beans::PropertyValue p;
  p.Name = rtl::OUString::createFromAscii(name);
  p.Value = value;
  return p;
}

css::uno::Sequence<css::beans::PropertyValue> Props(std::vector<css::beans::PropertyValue> values) {
  return css::uno::Sequence<css::beans::PropertyValue>(values.data(), static_cast<sal_Int32>(values.size()));
}

rtl::OUString FileUrl(const std::filesystem::path& path) {
  rtl::OUString url;
  if (osl::FileBase::getFileURLFromSystemPath(U(path.string()), url) != osl::FileBase::E_None)
    throw EngineError(EngineError::Kind::kFailed, "not a usable path: " + path.string());
  return url;
}

css::uno::Reference<css::uno::XComponentContext> LocalContext(const std::filesystem::path& programDir) {
  static std::mutex mutex;
  static css::uno::Reference<css::uno::XComponentContext>* context = nullptr;
  std::lock_guard<std::mutex> lock(mutex);
  if (context == nullptr) {
    const rtl::OUString ini = U("file://" + (programDir / "fundamentalrc").string());
    rtl_bootstrap_setIniFileName(ini.pData);
    context = new css::uno::Reference<css::uno::XComponentContext>(cppu::defaultBootstrap_InitialComponentContext());
  }
  return *context;
}

}  // namespace platform::libreoffice
