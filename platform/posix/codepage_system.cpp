// The system code page of a POSIX process: the Windows code page that reads
// the bytes of the locale's character set alike. Where a Windows "ANSI" code
// page is a superset of the character set (ISO-8859-1 and 1252, EUC-KR and
// 949, ...) that one is chosen, as Windows reports it for such a locale.
#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define DL_HAVE_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/lsan_interface.h>
#define DL_HAVE_LSAN 1
#endif
#endif

#include "platform/codepage.hpp"

namespace platform {
namespace {

constexpr CodePage kFallback = 1252;

struct CharsetCodePage {
  const char* charset;  // upper case, without '-', '_', '.' and blanks
  CodePage code_page;
};

constexpr CharsetCodePage kCharsets[] = {
    {"UTF8", 65001},        {"ANSIX341968", 1252},  {"ASCII", 1252},
    {"USASCII", 1252},      {"ISO88591", 1252},     {"CP1252", 1252},
    {"WINDOWS1252", 1252},  {"ISO885915", 28605},   {"ISO88592", 28592},
    {"ISO88593", 28593},    {"ISO88594", 28594},    {"ISO88595", 28595},
    {"ISO88596", 28596},    {"ISO88597", 28597},    {"ISO88598", 28598},
    {"ISO88599", 28599},    {"ISO885913", 28603},   {"KOI8R", 20866},
    {"KOI8U", 21866},       {"CP1250", 1250},       {"CP1251", 1251},
    {"CP1253", 1253},       {"CP1254", 1254},       {"CP1255", 1255},
    {"CP1256", 1256},       {"CP1257", 1257},       {"CP1258", 1258},
    {"TIS620", 874},        {"CP874", 874},         {"EUCKR", 949},
    {"UHC", 949},           {"CP949", 949},         {"JOHAB", 1361},
    {"SHIFTJIS", 932},      {"SJIS", 932},          {"CP932", 932},
    {"EUCJP", 20932},       {"GB2312", 936},        {"EUCCN", 936},
    {"GBK", 936},           {"CP936", 936},         {"GB18030", 54936},
    {"BIG5", 950},          {"BIG5HKSCS", 950},     {"CP950", 950},
};

std::string Normalise(const char* charset) {
  std::string key;
  for (const char* p = charset; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (std::isalnum(c)) key.push_back(static_cast<char>(std::toupper(c)));
  }
  return key;
}

CodePage CodePageForCharset(const char* charset) {
  if (charset == nullptr) return kFallback;
  const std::string key = Normalise(charset);
  for (const CharsetCodePage& entry : kCharsets) {
    if (key == entry.charset) return entry.code_page;
  }
  return kFallback;
}

// The variables that decide the answer, unset told apart from empty.
std::string EnvironmentKey() {
  std::string key;
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG", "LOCPATH"}) {
    const char* value = std::getenv(name);
    key += value == nullptr ? std::string("\x01") : std::string(value);
    key += '\0';
  }
  return key;
}

CodePage ResolveFromLocale() {
#ifdef DL_HAVE_LSAN
  // glibc's newlocale keeps the search list it builds from LOCPATH for the
  // life of the process; it is not ours to free.
  __lsan::ScopedDisabler keep_glibc_allocations;
#endif
  // A locale object of our own rather than setlocale(): the process locale
  // stays "C" (number formatting in JSON must not change), and the answer
  // follows LC_ALL, LC_CTYPE and LANG (and LOCPATH) exactly as the C
  // library resolves them.
  locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return kFallback;
  const CodePage code_page = CodePageForCharset(nl_langinfo_l(CODESET, locale));
  freelocale(locale);
  return code_page;
}

}  // namespace

CodePage SystemCodePage() {
  // Resolved once per environment: loading a locale reads files, and the
  // answer is asked for on every conversion with code page 0.
  static std::mutex mutex;
  static std::string cached_key;
  static CodePage cached = 0;
  const std::string key = EnvironmentKey();
  std::lock_guard<std::mutex> lock(mutex);
  if (cached == 0 || key != cached_key) {
    cached = ResolveFromLocale();
    cached_key = key;
  }
  return cached;
}

}  // namespace platform
