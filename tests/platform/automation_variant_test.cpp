#include <gtest/gtest.h>

#include <type_traits>

#include "platform/automation.hpp"

using namespace Automation;

namespace {

class Probe : public DispatchObject {
 public:
  explicit Probe(bool* deleted) : deleted_(deleted) {}
  Variant Invoke(Invocation&) override { return Variant(); }

 protected:
  ~Probe() override { *deleted_ = true; }

 private:
  bool* deleted_;
};

TEST(AutomationVariant, OmittedArgumentIsErrorParamNotFound) {
  Variant missing = Variant::Missing();
  EXPECT_EQ(missing.vt(), VT_ERROR);
  EXPECT_EQ(missing.scode(), DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(static_cast<std::uint32_t>(missing.scode()), 0x80020004u);
  EXPECT_TRUE(missing.IsMissing());
  EXPECT_FALSE(Variant::Error(E_FAIL).IsMissing());
  EXPECT_FALSE(Variant::I4(0).IsMissing());
  EXPECT_EQ(missing.Describe(), "VT_ERROR 0x80020004");
}

TEST(AutomationVariant, WrongKindRaisesTypeMismatch) {
  try {
    Variant::I2(1).bstrVal();
    FAIL() << "no exception";
  } catch (const AutomationException& e) {
    EXPECT_EQ(e.code(), DISP_E_TYPEMISMATCH);
  }
  EXPECT_THROW(Variant::Bstr(u"x").ToInt(), AutomationException);
  EXPECT_THROW(Variant().pdispVal(), AutomationException);
  EXPECT_THROW(Variant::I4(3).iVal(), AutomationException);
}

TEST(AutomationVariant, TextConvertsBetweenUtf8AndUtf16) {
  // Korean text and a character outside the BMP (a surrogate pair).
  const std::string utf8 = "\xED\x95\x9C\xEA\xB8\x80 \xF0\x9F\x98\x80";
  Variant v = Variant::BstrFromUtf8(utf8);
  EXPECT_EQ(v.bstrVal(), (std::u16string{0xD55C, 0xAE00, u' ', 0xD83D, 0xDE00}));
  EXPECT_EQ(v.ToUtf8(), utf8);

  // Malformed input and lone surrogates become U+FFFD, never bad UTF-8.
  EXPECT_EQ(Variant::BstrFromUtf8("a\xC0\xAF" "b").bstrVal(), (std::u16string{u'a', 0xFFFD, 0xFFFD, u'b'}));
  EXPECT_EQ(Variant::BstrFromUtf8("\xE2\x82").bstrVal(), std::u16string(1, 0xFFFD));
  EXPECT_EQ(Variant::BstrFromUtf8("\xED\xA0\x80").bstrVal(), std::u16string(1, 0xFFFD));
  EXPECT_EQ(Variant::Bstr(std::u16string{u'x', 0xD800}).ToUtf8(), "x\xEF\xBF\xBD");
  EXPECT_EQ(Variant::Bstr(std::u16string{0xDC00, u'y'}).ToUtf8(), "\xEF\xBF\xBDy");
}

TEST(AutomationVariant, ByReferenceReadsAndWritesTheTarget) {
  Variant target = Variant::I2(8);
  Variant ref = Variant::ByRef(&target);
  EXPECT_EQ(ref.vt(), VT_VARIANT | VT_BYREF);
  EXPECT_EQ(ref.vt(), 0x4C);
  EXPECT_EQ(ref.iVal(), 8);
  EXPECT_EQ(ref.Describe(), "BYREF VT_I2 8");
  ref.Deref() = Variant::Bstr(u"written");
  EXPECT_EQ(target.bstrVal(), u"written");

  Variant missing = Variant::Missing();
  EXPECT_TRUE(Variant::ByRef(&missing).IsMissing());

  // A reference to itself does not loop.
  Variant self = Variant::ByRef(nullptr);
  self = Variant::ByRef(&self);
  EXPECT_EQ(&self.Deref(), &self);
}

TEST(AutomationVariant, DispatchValueHoldsAReference) {
  bool deleted = false;
  auto* object = new Probe(&deleted);
  {
    Variant v = Variant::Dispatch(object);
    EXPECT_EQ(object->RefCount(), 2u);
    Variant copy = v;
    EXPECT_EQ(object->RefCount(), 3u);
    Variant moved = std::move(copy);
    EXPECT_EQ(object->RefCount(), 3u);
    EXPECT_EQ(copy.vt(), VT_EMPTY);
    moved = Variant::I2(1);  // assignment releases the old value
    EXPECT_EQ(object->RefCount(), 2u);
    Variant& alias = v;
    v = alias;  // self-assignment keeps it
    EXPECT_EQ(object->RefCount(), 2u);
    EXPECT_EQ(v.pdispVal(), object);
  }
  EXPECT_EQ(object->RefCount(), 1u);
  EXPECT_FALSE(deleted);
  EXPECT_EQ(object->Release(), 0u);
  EXPECT_TRUE(deleted);
}

TEST(AutomationException, IsNotAStandardException) {
  static_assert(!std::is_base_of<std::exception, AutomationException>::value,
                "handlers that catch std::exception must not catch automation failures");
  AutomationException e(DISP_E_EXCEPTION, "cannot open x.docx", "Word.Application");
  EXPECT_EQ(e.code(), DISP_E_EXCEPTION);
  EXPECT_EQ(e.description(), "cannot open x.docx");
  EXPECT_EQ(e.source(), "Word.Application");
  EXPECT_EQ(e.what(), "0x80020009: cannot open x.docx");
}

}  // namespace
