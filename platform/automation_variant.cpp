// VARIANT values and the arguments of InvokeHelper before they become
// VARIANTs.
#include <string>
#include <utility>

#include "base/utf.hpp"
#include "platform/automation.hpp"

namespace Automation {
namespace {

// Malformed UTF-8 from callers becomes U+FFFD, a lead byte and the
// continuation bytes it announces giving one U+FFFD together.
constexpr Utf8Errors kCallerText = Utf8Errors::kReplaceEachSequence;

[[noreturn]] void TypeMismatch(const std::string& what) {
  throw AutomationException(DISP_E_TYPEMISMATCH, what);
}

}  // namespace

// ---- Variant ----------------------------------------------------------------

Variant::Variant(const Variant& other)
    : vt_(other.vt_),
      int_(other.int_),
      float_(other.float_),
      text_(other.text_),
      dispatch_(other.dispatch_),
      ref_(other.ref_) {
  if (dispatch_) dispatch_->AddRef();
}

Variant::Variant(Variant&& other) noexcept
    : vt_(other.vt_),
      int_(other.int_),
      float_(other.float_),
      text_(std::move(other.text_)),
      dispatch_(other.dispatch_),
      ref_(other.ref_) {
  other.dispatch_ = nullptr;
  other.Clear();
}

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) {
    Variant copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    Clear();
    vt_ = other.vt_;
    int_ = other.int_;
    float_ = other.float_;
    text_ = std::move(other.text_);
    dispatch_ = other.dispatch_;
    ref_ = other.ref_;
    other.dispatch_ = nullptr;
    other.Clear();
  }
  return *this;
}

Variant::~Variant() { Clear(); }

void Variant::Clear() noexcept {
  if (dispatch_) dispatch_->Release();
  vt_ = VT_EMPTY;
  int_ = 0;
  float_ = 0.0f;
  text_.clear();
  dispatch_ = nullptr;
  ref_ = nullptr;
}

Variant Variant::I2(std::int16_t value) {
  Variant v;
  v.vt_ = VT_I2;
  v.int_ = value;
  return v;
}

Variant Variant::I4(std::int32_t value) {
  Variant v;
  v.vt_ = VT_I4;
  v.int_ = value;
  return v;
}

Variant Variant::R4(float value) {
  Variant v;
  v.vt_ = VT_R4;
  v.float_ = value;
  return v;
}

Variant Variant::Bool(bool value) {
  Variant v;
  v.vt_ = VT_BOOL;
  v.int_ = value ? 1 : 0;
  return v;
}

Variant Variant::Bstr(std::u16string text) {
  Variant v;
  v.vt_ = VT_BSTR;
  v.text_ = std::move(text);
  return v;
}

Variant Variant::BstrFromUtf8(const std::string& text) { return Bstr(Utf8ToWideLenient(text, kCallerText)); }

Variant Variant::Dispatch(DispatchObject* object) {
  Variant v;
  v.vt_ = VT_DISPATCH;
  v.dispatch_ = object;
  if (object) object->AddRef();
  return v;
}

Variant Variant::Error(HRESULT code) {
  Variant v;
  v.vt_ = VT_ERROR;
  v.int_ = code;
  return v;
}

Variant Variant::Missing() { return Error(DISP_E_PARAMNOTFOUND); }

Variant Variant::ByRef(Variant* target) {
  Variant v;
  v.vt_ = VT_VARIANT | VT_BYREF;
  v.ref_ = target;
  return v;
}

bool Variant::IsMissing() const noexcept {
  const Variant& v = Deref();
  return v.vt_ == VT_ERROR && v.int_ == DISP_E_PARAMNOTFOUND;
}

Variant& Variant::Deref() noexcept {
  Variant* v = this;
  // A chain of references is followed, but never endlessly.
  for (int hops = 0; hops < 8 && v->IsByRef() && v->ref_; ++hops) v = v->ref_;
  return *v;
}

const Variant& Variant::Deref() const noexcept { return const_cast<Variant*>(this)->Deref(); }

std::int16_t Variant::iVal() const {
  const Variant& v = Deref();
  if (v.vt_ != VT_I2) TypeMismatch("expected VT_I2, got " + v.Describe());
  return static_cast<std::int16_t>(v.int_);
}

std::int32_t Variant::lVal() const {
  const Variant& v = Deref();
  if (v.vt_ != VT_I4) TypeMismatch("expected VT_I4, got " + v.Describe());
  return v.int_;
}

float Variant::fltVal() const {
  const Variant& v = Deref();
  if (v.vt_ != VT_R4) TypeMismatch("expected VT_R4, got " + v.Describe());
  return v.float_;
}

bool Variant::boolVal() const {
  const Variant& v = Deref();
  if (v.vt_ != VT_BOOL) TypeMismatch("expected VT_BOOL, got " + v.Describe());
  return v.int_ != 0;
}

const std::u16string& Variant::bstrVal() const {
  const Variant& v = Deref();
  if (v.vt_ != VT_BSTR) TypeMismatch("expected VT_BSTR, got " + v.Describe());
  return v.text_;
}

DispatchObject* Variant::pdispVal() const {
  const Variant& v = Deref();
  if (v.vt_ != VT_DISPATCH) TypeMismatch("expected VT_DISPATCH, got " + v.Describe());
  return v.dispatch_;
}

HRESULT Variant::scode() const {
  const Variant& v = Deref();
  if (v.vt_ != VT_ERROR) TypeMismatch("expected VT_ERROR, got " + v.Describe());
  return v.int_;
}

std::int32_t Variant::ToInt() const {
  const Variant& v = Deref();
  switch (v.vt_) {
    case VT_I2:
    case VT_I4:
      return v.int_;
    case VT_BOOL:
      return v.int_ ? -1 : 0;
    default:
      TypeMismatch("expected an integer, got " + v.Describe());
  }
}

std::string Variant::ToUtf8() const { return WideToUtf8(bstrVal()); }

std::string Variant::Describe() const {
  if (IsByRef()) return "BYREF " + (ref_ && ref_ != this ? Deref().Describe() : std::string("null"));
  switch (vt_) {
    case VT_EMPTY:
      return "VT_EMPTY";
    case VT_I2:
      return "VT_I2 " + std::to_string(int_);
    case VT_I4:
      return "VT_I4 " + std::to_string(int_);
    case VT_R4: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "VT_R4 %g", static_cast<double>(float_));
      return buf;
    }
    case VT_BOOL:
      return std::string("VT_BOOL ") + (int_ ? "1" : "0");
    case VT_BSTR:
      return "VT_BSTR \"" + WideToUtf8(text_) + "\"";
    case VT_DISPATCH:
      return dispatch_ ? "VT_DISPATCH" : "VT_DISPATCH null";
    case VT_ERROR:
      return "VT_ERROR " + FormatHresult(int_);
    default:
      return "VT " + std::to_string(vt_);
  }
}

bool Variant::operator==(const Variant& other) const {
  if (IsByRef() || other.IsByRef()) {
    if (IsByRef() != other.IsByRef()) return false;
    return Deref() == other.Deref();
  }
  if (vt_ != other.vt_) return false;
  switch (vt_) {
    case VT_EMPTY:
      return true;
    case VT_R4:
      return float_ == other.float_;
    case VT_BSTR:
      return text_ == other.text_;
    case VT_DISPATCH:
      return dispatch_ == other.dispatch_;
    default:
      return int_ == other.int_;
  }
}

// ---- Argument ---------------------------------------------------------------

Argument::Argument(const char16_t* text) : kind_(Kind::Text), text_(text ? text : u"") {}

Argument::Argument(const char* utf8) : kind_(Kind::Text), text_(Utf8ToWideLenient(utf8 ? utf8 : "", kCallerText)) {}

Argument::Argument(const std::string& utf8) : kind_(Kind::Text), text_(Utf8ToWideLenient(utf8, kCallerText)) {}

Argument::Argument(const Variant* value) : kind_(Kind::Value) {
  if (value) value_ = *value;
  else kind_ = Kind::Reference;  // a null pointer: rejected by ToVariant
}

Variant Argument::ToVariant(VARTYPE declared) const {
  const bool scalar = kind_ == Kind::Integer || kind_ == Kind::Boolean;
  switch (declared) {
    case VT_BOOL:
      if (scalar) return Variant::Bool(int_ != 0);
      break;
    case VT_I2:
      // Values above 32767 (code page 65001) keep their low 16 bits.
      if (scalar) return Variant::I2(static_cast<std::int16_t>(static_cast<std::uint16_t>(int_ & 0xFFFF)));
      break;
    case VT_I4:
      if (scalar)
        return Variant::I4(static_cast<std::int32_t>(static_cast<std::uint32_t>(int_ & 0xFFFFFFFF)));
      break;
    case VT_R4:
      if (kind_ == Kind::Real) return Variant::R4(static_cast<float>(real_));
      if (kind_ == Kind::Integer) return Variant::R4(static_cast<float>(int_));
      break;
    case VT_BSTR:
      if (kind_ == Kind::Text) return Variant::Bstr(text_);
      break;
    case VT_DISPATCH:
      if (kind_ == Kind::Object) return value_;
      break;
    case VT_VARIANT:
      if (kind_ == Kind::Value) return value_;
      if (kind_ == Kind::Reference && ref_) return *ref_;
      break;
    case VT_VARIANT | VT_BYREF:
      if (kind_ == Kind::Reference && ref_) return Variant::ByRef(ref_);
      break;
    default:
      TypeMismatch("unsupported parameter type " + std::to_string(declared));
  }
  TypeMismatch("argument does not fit parameter type " + std::to_string(declared));
}

}  // namespace Automation
