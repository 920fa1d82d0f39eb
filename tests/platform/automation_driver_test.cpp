#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "platform/automation.hpp"
#include "platform/testing/recording_automation_server.hpp"

using namespace Automation;
using Automation::Testing::RecordingAutomationServer;

namespace {

// An object that counts its deletions and echoes its arguments.
class Echo : public DispatchObject {
 public:
  explicit Echo(int* deletions) : deletions_(deletions) {}

  Variant Invoke(Invocation& call) override {
    ++calls;
    switch (call.dispid) {
      case 1:  // returns its first argument
        return call.args.at(0).Deref();
      case 2:  // writes through its first argument
        call.args.at(0).Deref() = Variant::Bstr(u"written back");
        return Variant();
      case 3:  // returns a new object
        return ReturnObject();
      case 4:
        throw std::runtime_error("engine went away");
      case 5: {  // runs `during` (which may drop the caller's reference), then uses itself
        if (during) during();
        ++calls;
        return Variant::I4(*deletions_);
      }
      default:
        throw AutomationException(DISP_E_MEMBERNOTFOUND, "no member " + std::to_string(call.dispid));
    }
  }

  int calls = 0;
  std::function<void()> during;

 protected:
  ~Echo() override { ++*deletions_; }

 private:
  Variant ReturnObject() {
    auto* child = new Echo(deletions_);
    Variant v = Variant::Dispatch(child);
    child->Release();
    return v;
  }
  int* deletions_;
};

TEST(DispatchDriver, OwnsItsObjectAndCopiesAddAReference) {
  int deletions = 0;
  auto* object = new Echo(&deletions);
  {
    DispatchDriver driver;
    driver.AttachDispatch(object);
    EXPECT_EQ(object->RefCount(), 1u);
    {
      DispatchDriver copy(driver);
      EXPECT_EQ(object->RefCount(), 2u);
      DispatchDriver assigned;
      assigned = driver;
      EXPECT_EQ(object->RefCount(), 3u);
      DispatchDriver& alias = assigned;
      assigned = alias;
      EXPECT_EQ(object->RefCount(), 3u);
    }
    EXPECT_EQ(object->RefCount(), 1u);
    EXPECT_EQ(deletions, 0);
  }
  EXPECT_EQ(deletions, 1);
}

TEST(DispatchDriver, AssignmentReleasesTheHeldObject) {
  int deletions = 0;
  DispatchDriver a(new Echo(&deletions));
  DispatchDriver b(new Echo(&deletions));
  a = b;
  EXPECT_EQ(deletions, 1);
  EXPECT_EQ(a.GetDispatch(), b.GetDispatch());
  EXPECT_EQ(a.GetDispatch()->RefCount(), 2u);
  b.ReleaseDispatch();
  EXPECT_TRUE(b.IsEmpty());
  EXPECT_EQ(a.GetDispatch()->RefCount(), 1u);
  a.ReleaseDispatch();
  EXPECT_EQ(deletions, 2);
  a.ReleaseDispatch();  // releasing an empty driver is harmless
  EXPECT_EQ(deletions, 2);
}

TEST(DispatchDriver, AttachWithoutAutoReleaseAndDetach) {
  int deletions = 0;
  auto* object = new Echo(&deletions);
  {
    DispatchDriver borrowed;
    borrowed.AttachDispatch(object, false);
  }
  EXPECT_EQ(deletions, 0);
  DispatchDriver owner(object);
  DispatchObject* taken = owner.DetachDispatch();
  EXPECT_EQ(taken, object);
  EXPECT_TRUE(owner.IsEmpty());
  EXPECT_EQ(deletions, 0);
  taken->Release();
  EXPECT_EQ(deletions, 1);
}

TEST(DispatchDriver, ObjectResultHandsTheCallerOneReference) {
  int deletions = 0;
  DispatchDriver driver(new Echo(&deletions));
  DispatchObject* child = nullptr;
  driver.InvokeHelper(3, DISPATCH_PROPERTYGET, VT_DISPATCH, &child, {});
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->RefCount(), 1u);
  DispatchDriver held;
  held.AttachDispatch(child);
  held.ReleaseDispatch();
  EXPECT_EQ(deletions, 1);

  // A result nobody receives is not leaked.
  driver.InvokeHelper(3, DISPATCH_PROPERTYGET, VT_DISPATCH, nullptr, {});
  EXPECT_EQ(deletions, 2);
}

TEST(DispatchDriver, ConvertsArgumentsToTheDeclaredTypes) {
  int deletions = 0;
  DispatchDriver driver(new Echo(&deletions));
  Variant out;
  driver.InvokeHelper(1, DISPATCH_METHOD, VT_VARIANT, &out, {VT_I2}, 65001);
  EXPECT_EQ(out, Variant::I2(-535));  // low 16 bits of 65001
  driver.InvokeHelper(1, DISPATCH_METHOD, VT_VARIANT, &out, {VT_BOOL}, true);
  EXPECT_EQ(out, Variant::Bool(true));
  driver.InvokeHelper(1, DISPATCH_METHOD, VT_VARIANT, &out, {VT_R4}, -500.0);
  EXPECT_EQ(out, Variant::R4(-500.0f));
  driver.InvokeHelper(1, DISPATCH_METHOD, VT_VARIANT, &out, {VT_BSTR}, u"C:\\Temp");
  EXPECT_EQ(out, Variant::Bstr(u"C:\\Temp"));
  const Variant byValue = Variant::I2(44);
  driver.InvokeHelper(1, DISPATCH_METHOD, VT_VARIANT, &out, {VT_VARIANT}, byValue);
  EXPECT_EQ(out, byValue);

  std::int32_t number = 0;
  driver.InvokeHelper(1, DISPATCH_METHOD, VT_I4, &number, {VT_I2}, 8);
  EXPECT_EQ(number, 8);
  std::u16string text;
  driver.InvokeHelper(1, DISPATCH_METHOD, VT_BSTR, &text, {VT_BSTR}, "\xED\x95\x9C");
  EXPECT_EQ(text, std::u16string(1, 0xD55C));
}

TEST(DispatchDriver, ByReferenceArgumentsAreWrittenBack) {
  int deletions = 0;
  DispatchDriver driver(new Echo(&deletions));
  Variant slot = Variant::Missing();
  driver.InvokeHelper(2, DISPATCH_METHOD, VT_EMPTY, nullptr, {VT_VARIANT | VT_BYREF}, &slot);
  EXPECT_EQ(slot, Variant::Bstr(u"written back"));

  // By value, the caller's Variant stays as it was.
  Variant kept = Variant::I2(1);
  driver.InvokeHelper(2, DISPATCH_METHOD, VT_EMPTY, nullptr, {VT_VARIANT}, &kept);
  EXPECT_EQ(kept, Variant::I2(1));
}

TEST(DispatchDriver, BadCallsRaiseAutomationExceptionsWithoutCallingTheObject) {
  auto codeOf = [](auto&& call) -> HRESULT {
    try {
      call();
    } catch (const AutomationException& e) {
      return e.code();
    }
    return S_OK;
  };
  DispatchDriver empty;
  EXPECT_EQ(codeOf([&] { empty.InvokeHelper(24, DISPATCH_PROPERTYGET, VT_BSTR, nullptr, {}); }), E_POINTER);

  int deletions = 0;
  auto* object = new Echo(&deletions);
  DispatchDriver driver(object);
  EXPECT_EQ(codeOf([&] { driver.InvokeHelper(1, DISPATCH_METHOD, VT_EMPTY, nullptr, {VT_I4, VT_I4}, 1); }),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(codeOf([&] { driver.InvokeHelper(1, DISPATCH_METHOD, VT_EMPTY, nullptr, {VT_I4}, u"text"); }),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(codeOf([&] { driver.InvokeHelper(1, DISPATCH_METHOD, VT_EMPTY, nullptr, {VT_VARIANT | VT_BYREF}, 3); }),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(object->calls, 0);

  // A result of another kind than asked for.
  std::u16string text;
  EXPECT_EQ(codeOf([&] { driver.InvokeHelper(1, DISPATCH_METHOD, VT_BSTR, &text, {VT_I4}, 1); }),
            DISP_E_TYPEMISMATCH);
  // Failures of the member itself.
  EXPECT_EQ(codeOf([&] { driver.InvokeHelper(99, DISPATCH_METHOD, VT_EMPTY, nullptr, {}); }), DISP_E_MEMBERNOTFOUND);
}

TEST(DispatchDriver, StandardExceptionsOfAServerBecomeAutomationExceptions) {
  int deletions = 0;
  DispatchDriver driver(new Echo(&deletions));
  try {
    driver.InvokeHelper(4, DISPATCH_METHOD, VT_EMPTY, nullptr, {});
    FAIL() << "no exception";
  } catch (const AutomationException& e) {
    EXPECT_EQ(e.code(), DISP_E_EXCEPTION);
    EXPECT_EQ(e.description(), "engine went away");
  }
}

TEST(DispatchDriver, ObjectStaysAliveForTheWholeCall) {
  int deletions = 0;
  auto* object = new Echo(&deletions);
  DispatchDriver driver(object);
  // The holder lets go of the object while a call on it is still running.
  object->during = [&] { driver.ReleaseDispatch(); };
  std::int32_t deletionsDuringCall = -1;
  driver.InvokeHelper(5, DISPATCH_METHOD, VT_I4, &deletionsDuringCall, {});
  EXPECT_EQ(deletionsDuringCall, 0);
  EXPECT_TRUE(driver.IsEmpty());
  EXPECT_EQ(deletions, 1);
}

TEST(AutomationRegistry, CreateDispatchByProgId) {
  RecordingAutomationServer server;
  server.Register("Word.Application");

  DispatchDriver driver;
  ASSERT_TRUE(driver.CreateDispatch("word.application"));  // ProgIDs ignore case
  EXPECT_EQ(server.LiveObjects(), 1);

  // Creating again releases the instance held before.
  ASSERT_TRUE(driver.CreateDispatch("Word.Application"));
  EXPECT_EQ(server.LiveObjects(), 1);
  EXPECT_EQ(server.Log(), (std::vector<std::string>{"create Word.Application", "create Word.Application"}));
  driver.ReleaseDispatch();
  EXPECT_EQ(server.LiveObjects(), 0);
}

TEST(AutomationRegistry, UnknownOrFailingServersLeaveTheDriverEmpty) {
  DispatchDriver driver;
  AutomationException error(S_OK, "");
  EXPECT_FALSE(driver.CreateDispatch("Nothing.Application", &error));
  EXPECT_EQ(error.code(), CO_E_CLASSSTRING);
  EXPECT_TRUE(driver.IsEmpty());

  RecordingAutomationServer server;
  server.Register("Excel.Application");
  server.SetUnavailable("Excel.Application");
  EXPECT_FALSE(driver.CreateDispatch("Excel.Application", &error));
  EXPECT_EQ(error.code(), CO_E_SERVER_EXEC_FAILURE);
  EXPECT_TRUE(driver.IsEmpty());

  RegisterAutomationServer("Broken.Application", []() -> DispatchObject* {
    throw AutomationException(RPC_E_TIMEOUT, "engine did not start");
  });
  EXPECT_FALSE(driver.CreateDispatch("Broken.Application", &error));
  EXPECT_EQ(error.code(), RPC_E_TIMEOUT);
  EXPECT_EQ(error.description(), "engine did not start");
  UnregisterAutomationServer("Broken.Application");
  EXPECT_FALSE(IsAutomationServerRegistered("Broken.Application"));
  EXPECT_FALSE(driver.CreateDispatch("Broken.Application"));
}

TEST(RecordingAutomationServer, LogsCallsWithTypesAndValuesInOrder) {
  RecordingAutomationServer server;
  server.Register("Word.Application");
  server.SetResult("Word.Application", 24, Variant::Bstr(u"16.0"));

  DispatchDriver app;
  ASSERT_TRUE(app.CreateDispatch("Word.Application"));
  std::u16string version;
  app.InvokeHelper(24, DISPATCH_PROPERTYGET, VT_BSTR, &version, {});
  EXPECT_EQ(version, u"16.0");
  DispatchObject* docs = nullptr;
  app.InvokeHelper(6, DISPATCH_PROPERTYGET, VT_DISPATCH, &docs, {});
  DispatchDriver documents(docs);
  Variant name = Variant::Bstr(u"a.docx");
  Variant missing = Variant::Missing();
  documents.InvokeHelper(20, DISPATCH_METHOD, VT_EMPTY, nullptr, {VT_VARIANT | VT_BYREF, VT_VARIANT | VT_BYREF},
                         &name, &missing);
  app.InvokeHelper(23, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {VT_BOOL}, false);

  EXPECT_EQ(server.Log(), (std::vector<std::string>{
                              "create Word.Application",
                              "Word.Application 24 get -> 8 ()",
                              "Word.Application 6 get -> 9 ()",
                              "Word.Application>6 20 method -> 0 (76: VT_BSTR \"a.docx\", 76: VT_ERROR 0x80020004)",
                              "Word.Application 23 put -> 0 (11: VT_BOOL 0)",
                          }));
  const auto calls = server.Calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[2].args[0], name);  // recorded by value, not by pointer

  server.SetFailure("Word.Application", 1105, RPC_E_DISCONNECTED, "engine died");
  try {
    app.InvokeHelper(1105, DISPATCH_METHOD, VT_EMPTY, nullptr, {});
    FAIL() << "no exception";
  } catch (const AutomationException& e) {
    EXPECT_EQ(e.code(), RPC_E_DISCONNECTED);
  }
  EXPECT_EQ(server.Log().back(), "Word.Application 1105 method -> 0 ()");
  documents.ReleaseDispatch();
  app.ReleaseDispatch();
  EXPECT_EQ(server.LiveObjects(), 0);
}

}  // namespace
