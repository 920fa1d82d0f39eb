#pragma once
// Office automation layer: VARIANT values, dispatch objects invoked by DISPID,
// a driver that owns one object, and a registry of automation servers by
// ProgID. The office code calls members exactly as it would through
// COleDispatchDriver; the servers behind the ProgIDs are backends
// (LibreOffice on Linux, a recording server in tests).
//
// Nothing here is tied to an operating system. Names follow the OLE
// Automation ones so that call sites read like the Office object models.

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <vector>

namespace Automation {

using HRESULT = std::int32_t;
using DISPID = std::int32_t;
using VARTYPE = std::uint16_t;
using WORD = std::uint16_t;

// VARIANT kinds.
constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_I2 = 2;
constexpr VARTYPE VT_I4 = 3;
constexpr VARTYPE VT_R4 = 4;
constexpr VARTYPE VT_BSTR = 8;
constexpr VARTYPE VT_DISPATCH = 9;
constexpr VARTYPE VT_ERROR = 10;
constexpr VARTYPE VT_BOOL = 11;
constexpr VARTYPE VT_VARIANT = 12;
constexpr VARTYPE VT_BYREF = 0x40;

// Invocation kinds.
constexpr WORD DISPATCH_METHOD = 1;
constexpr WORD DISPATCH_PROPERTYGET = 2;
constexpr WORD DISPATCH_PROPERTYPUT = 4;

// Result codes (same values as on Windows).
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003u);
constexpr HRESULT DISP_E_PARAMNOTFOUND = static_cast<HRESULT>(0x80020004u);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT DISP_E_EXCEPTION = static_cast<HRESULT>(0x80020009u);
constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000Eu);
constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3u);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = static_cast<HRESULT>(0x80080005u);
constexpr HRESULT RPC_E_SERVERFAULT = static_cast<HRESULT>(0x80010105u);
constexpr HRESULT RPC_E_DISCONNECTED = static_cast<HRESULT>(0x80010108u);
constexpr HRESULT RPC_E_TIMEOUT = static_cast<HRESULT>(0x8001011Fu);

// "0x80020009": a result code as logs and replies show it.
std::string FormatHresult(HRESULT code);

// The exception every failing automation call raises. Deliberately not a
// std::exception: handlers that catch only standard exceptions must not
// mistake it for a bad request.
class AutomationException {
 public:
  AutomationException(HRESULT code, std::string description, std::string source = {});

  HRESULT code() const noexcept { return code_; }
  // UTF-8 text saying what failed, e.g. "cannot open /x/y.docx".
  const std::string& description() const noexcept { return description_; }
  // The ProgID or object that raised it, when known.
  const std::string& source() const noexcept { return source_; }
  // "0x80020009: <description>" for logs and replies.
  std::string what() const;

 private:
  HRESULT code_;
  std::string description_;
  std::string source_;
};

class DispatchObject;

// A VARIANT. Holds at most one value of its kind; a dispatch value holds one
// reference to its object (copying adds one, destruction releases it). A
// by-reference value (VT_VARIANT | VT_BYREF) points to a Variant owned by the
// caller, which must outlive the call it is passed to.
class Variant {
 public:
  Variant() noexcept = default;  // VT_EMPTY
  Variant(const Variant& other);
  Variant(Variant&& other) noexcept;
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept;
  ~Variant();

  static Variant I2(std::int16_t value);
  static Variant I4(std::int32_t value);
  static Variant R4(float value);
  static Variant Bool(bool value);
  static Variant Bstr(std::u16string text);
  static Variant BstrFromUtf8(const std::string& text);  // invalid UTF-8 -> U+FFFD
  // Takes a new reference to `object` (may be null).
  static Variant Dispatch(DispatchObject* object);
  static Variant Error(HRESULT code);
  // The omitted optional argument: VT_ERROR holding DISP_E_PARAMNOTFOUND.
  static Variant Missing();
  static Variant ByRef(Variant* target);

  VARTYPE vt() const noexcept { return vt_; }
  bool IsEmpty() const noexcept { return vt_ == VT_EMPTY; }
  bool IsMissing() const noexcept;
  bool IsByRef() const noexcept { return vt_ == (VT_VARIANT | VT_BYREF); }

  // The value behind a by-reference Variant (itself otherwise).
  Variant& Deref() noexcept;
  const Variant& Deref() const noexcept;

  // Typed access. Each looks through a reference and raises
  // AutomationException(DISP_E_TYPEMISMATCH) for another kind.
  std::int16_t iVal() const;
  std::int32_t lVal() const;
  float fltVal() const;
  bool boolVal() const;
  const std::u16string& bstrVal() const;
  DispatchObject* pdispVal() const;  // no reference added
  HRESULT scode() const;

  // Coercions used by servers: integer from I2/I4/BOOL (a BOOL gives -1 or 0);
  // text as UTF-8 from BSTR. Other kinds raise DISP_E_TYPEMISMATCH.
  std::int32_t ToInt() const;
  std::string ToUtf8() const;

  // "VT_I2 8", "VT_BSTR \"a\"", "VT_ERROR 0x80020004", "BYREF VT_I2 8", ...
  // (text shown as UTF-8); used by call logs and failure messages.
  std::string Describe() const;

  // Same kind and value (references compared by what they point to,
  // dispatch values by object identity).
  bool operator==(const Variant& other) const;
  bool operator!=(const Variant& other) const { return !(*this == other); }

 private:
  void Clear() noexcept;

  VARTYPE vt_ = VT_EMPTY;
  std::int32_t int_ = 0;  // I2, I4, BOOL (0 / 1), ERROR
  float float_ = 0.0f;
  std::u16string text_;
  DispatchObject* dispatch_ = nullptr;
  Variant* ref_ = nullptr;
};

// One call as a server sees it. `args` are in call order (first argument
// first); a by-reference argument lets the server write back through Deref().
struct Invocation {
  DISPID dispid = 0;
  WORD flags = 0;                    // DISPATCH_METHOD, _PROPERTYGET or _PROPERTYPUT
  VARTYPE resultType = VT_EMPTY;     // what the caller asked for
  std::vector<VARTYPE> paramTypes;   // as the caller declared them
  std::vector<Variant> args;
};

// An automation object. Reference counted: a new object starts with one
// reference, owned by whoever created it; the last Release deletes it.
// Invoke raises AutomationException for an unknown DISPID (DISP_E_MEMBERNOTFOUND)
// or any failure of the member.
class DispatchObject {
 public:
  DispatchObject(const DispatchObject&) = delete;
  DispatchObject& operator=(const DispatchObject&) = delete;

  std::uint32_t AddRef() noexcept;
  std::uint32_t Release() noexcept;
  std::uint32_t RefCount() const noexcept { return refs_.load(); }

  virtual Variant Invoke(Invocation& call) = 0;

 protected:
  DispatchObject() = default;
  virtual ~DispatchObject() = default;

 private:
  std::atomic<std::uint32_t> refs_{1};
};

// Creates a new object with one reference owned by the caller. Returns null,
// or raises AutomationException, when the application cannot be started.
using AutomationServerFactory = std::function<DispatchObject*()>;

// ProgIDs compare case-insensitively. Registering a ProgID again replaces it.
void RegisterAutomationServer(const std::string& progid, AutomationServerFactory factory);
void UnregisterAutomationServer(const std::string& progid);
bool IsAutomationServerRegistered(const std::string& progid);

// One argument of InvokeHelper before it is converted to the declared
// parameter type. Built implicitly from the call's arguments.
class Argument {
 public:
  enum class Kind { Integer, Real, Boolean, Text, Value, Reference, Object };

  template <typename T, typename std::enable_if<std::is_integral<T>::value &&
                                                    !std::is_same<T, bool>::value,
                                                int>::type = 0>
  Argument(T value) : kind_(Kind::Integer), int_(static_cast<std::int64_t>(value)) {}
  template <typename T,
            typename std::enable_if<std::is_floating_point<T>::value, int>::type = 0>
  Argument(T value) : kind_(Kind::Real), real_(static_cast<double>(value)) {}
  Argument(bool value) : kind_(Kind::Boolean), int_(value ? 1 : 0) {}
  Argument(const char16_t* text);
  Argument(std::u16string text) : kind_(Kind::Text), text_(std::move(text)) {}
  Argument(const char* utf8);
  Argument(const std::string& utf8);
  Argument(const Variant& value) : kind_(Kind::Value), value_(value) {}
  Argument(const Variant* value);            // passed by value (a copy)
  Argument(Variant* target) : kind_(Kind::Reference), ref_(target) {}
  Argument(DispatchObject* object) : kind_(Kind::Object), value_(Variant::Dispatch(object)) {}

  // The VARIANT passed for a declared parameter type; raises
  // AutomationException(DISP_E_TYPEMISMATCH) when the argument does not fit.
  Variant ToVariant(VARTYPE declared) const;

 private:
  Kind kind_;
  std::int64_t int_ = 0;
  double real_ = 0.0;
  std::u16string text_;
  Variant value_;
  Variant* ref_ = nullptr;
};

using ParamTypes = std::initializer_list<VARTYPE>;

// Holds one automation object, modelled on MFC's COleDispatchDriver: it owns
// its object (releases it when emptied or destroyed, unless attached without
// auto-release), and copying adds a reference.
class DispatchDriver {
 public:
  DispatchDriver() noexcept = default;
  explicit DispatchDriver(DispatchObject* object, bool autoRelease = true) noexcept;
  DispatchDriver(const DispatchDriver& other) noexcept;
  DispatchDriver& operator=(const DispatchDriver& other) noexcept;
  ~DispatchDriver();

  // Starts the server registered for `progid`; false when there is none or
  // it cannot start (then `error`, if given, says why). A held object is
  // released first so that nothing leaks.
  bool CreateDispatch(const std::string& progid, AutomationException* error = nullptr);
  // Takes over one reference to `object`, releasing the held one first.
  void AttachDispatch(DispatchObject* object, bool autoRelease = true) noexcept;
  // Gives up the held object without releasing it.
  DispatchObject* DetachDispatch() noexcept;
  void ReleaseDispatch() noexcept;

  DispatchObject* GetDispatch() const noexcept { return dispatch_; }
  bool IsEmpty() const noexcept { return dispatch_ == nullptr; }

  // Calls member `dispid`. `resultType` says what `result` points to:
  //   VT_EMPTY -> nothing (result may be null)   VT_BSTR -> std::u16string
  //   VT_I2 -> std::int16_t   VT_I4 -> std::int32_t   VT_R4 -> float
  //   VT_BOOL -> bool   VT_VARIANT -> Variant
  //   VT_DISPATCH -> DispatchObject*, receiving one reference the caller owns
  //                  (null when the member returned no object)
  // `paramTypes` declares each argument's type: VT_BOOL, VT_I2, VT_I4, VT_R4,
  // VT_BSTR, VT_DISPATCH, VT_VARIANT (a Variant or Variant* copied by value)
  // or VT_VARIANT | VT_BYREF (a Variant* the server may write through).
  // Raises AutomationException on an empty driver (E_POINTER), an argument
  // count or type that does not match the declaration, or a failing call.
  template <typename... Args>
  void InvokeHelper(DISPID dispid, WORD flags, VARTYPE resultType, void* result,
                    ParamTypes paramTypes, Args&&... args) {
    InvokeHelperV(dispid, flags, resultType, result, std::vector<VARTYPE>(paramTypes),
                  std::vector<Argument>{Argument(std::forward<Args>(args))...});
  }
  void InvokeHelperV(DISPID dispid, WORD flags, VARTYPE resultType, void* result,
                     const std::vector<VARTYPE>& paramTypes,
                     const std::vector<Argument>& args);

  void GetProperty(DISPID dispid, VARTYPE resultType, void* result);
  void SetProperty(DISPID dispid, VARTYPE type, const Argument& value);

 private:
  DispatchObject* dispatch_ = nullptr;
  bool autoRelease_ = true;
};

}  // namespace Automation
