#include "platform/automation.hpp"

#include <cstdio>
#include <exception>
#include <map>
#include <mutex>
#include <utility>

#include "platform/utf.hpp"

namespace Automation {
namespace {

// Malformed UTF-8 from callers becomes U+FFFD, a lead byte and the
// continuation bytes it announces giving one U+FFFD together.
std::u16string Utf8ToUtf16(std::string_view in) {
  std::u16string out;
  platform::DecodeUtf8(in, out, platform::Utf8Errors::kReplaceEachSequence);
  return out;
}

std::string Hex(HRESULT code) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(code));
  return buf;
}

[[noreturn]] void TypeMismatch(const std::string& what) {
  throw AutomationException(DISP_E_TYPEMISMATCH, what);
}

}  // namespace

// ---- AutomationException ----------------------------------------------------

AutomationException::AutomationException(HRESULT code, std::string description, std::string source)
    : code_(code), description_(std::move(description)), source_(std::move(source)) {}

std::string AutomationException::what() const {
  std::string text = Hex(code_);
  if (!description_.empty()) text += ": " + description_;
  return text;
}

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

Variant Variant::BstrFromUtf8(const std::string& text) { return Bstr(Utf8ToUtf16(text)); }

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

std::string Variant::ToUtf8() const { return platform::Utf16ToUtf8(bstrVal()); }

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
      return "VT_BSTR \"" + platform::Utf16ToUtf8(text_) + "\"";
    case VT_DISPATCH:
      return dispatch_ ? "VT_DISPATCH" : "VT_DISPATCH null";
    case VT_ERROR:
      return "VT_ERROR " + Hex(int_);
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

// ---- DispatchObject ---------------------------------------------------------

std::uint32_t DispatchObject::AddRef() noexcept { return ++refs_; }

std::uint32_t DispatchObject::Release() noexcept {
  std::uint32_t left = --refs_;
  if (left == 0) delete this;
  return left;
}

// ---- Server registry --------------------------------------------------------

namespace {

std::string FoldCase(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

struct Registry {
  std::mutex mutex;
  std::map<std::string, AutomationServerFactory> servers;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;  // never destroyed: safe at exit
  return *registry;
}

}  // namespace

void RegisterAutomationServer(const std::string& progid, AutomationServerFactory factory) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.servers[FoldCase(progid)] = std::move(factory);
}

void UnregisterAutomationServer(const std::string& progid) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.servers.erase(FoldCase(progid));
}

bool IsAutomationServerRegistered(const std::string& progid) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.servers.count(FoldCase(progid)) != 0;
}

// ---- Argument ---------------------------------------------------------------

Argument::Argument(const char16_t* text) : kind_(Kind::Text), text_(text ? text : u"") {}

Argument::Argument(const char* utf8) : kind_(Kind::Text), text_(Utf8ToUtf16(utf8 ? utf8 : "")) {}

Argument::Argument(const std::string& utf8) : kind_(Kind::Text), text_(Utf8ToUtf16(utf8)) {}

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

// ---- DispatchDriver ---------------------------------------------------------

DispatchDriver::DispatchDriver(DispatchObject* object, bool autoRelease) noexcept
    : dispatch_(object), autoRelease_(autoRelease) {}

DispatchDriver::DispatchDriver(const DispatchDriver& other) noexcept : dispatch_(other.dispatch_) {
  if (dispatch_) dispatch_->AddRef();
}

DispatchDriver& DispatchDriver::operator=(const DispatchDriver& other) noexcept {
  if (this != &other) {
    DispatchObject* object = other.dispatch_;
    if (object) object->AddRef();
    ReleaseDispatch();
    dispatch_ = object;
    autoRelease_ = true;
  }
  return *this;
}

DispatchDriver::~DispatchDriver() { ReleaseDispatch(); }

bool DispatchDriver::CreateDispatch(const std::string& progid, AutomationException* error) {
  ReleaseDispatch();
  AutomationServerFactory factory;
  {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.servers.find(FoldCase(progid));
    if (it != r.servers.end()) factory = it->second;
  }
  if (!factory) {
    if (error) *error = AutomationException(CO_E_CLASSSTRING, "no automation server named " + progid, progid);
    return false;
  }
  DispatchObject* object = nullptr;
  try {
    object = factory();
  } catch (const AutomationException& e) {
    if (error) *error = e;
    return false;
  } catch (const std::exception& e) {
    if (error) *error = AutomationException(CO_E_SERVER_EXEC_FAILURE, e.what(), progid);
    return false;
  }
  if (!object) {
    if (error) *error = AutomationException(CO_E_SERVER_EXEC_FAILURE, "cannot start " + progid, progid);
    return false;
  }
  AttachDispatch(object, true);
  return true;
}

void DispatchDriver::AttachDispatch(DispatchObject* object, bool autoRelease) noexcept {
  if (object == dispatch_) {
    // Attaching the held object again hands over a second reference; keep one.
    if (object && autoRelease_) object->Release();
    autoRelease_ = autoRelease;
    return;
  }
  ReleaseDispatch();
  dispatch_ = object;
  autoRelease_ = autoRelease;
}

DispatchObject* DispatchDriver::DetachDispatch() noexcept {
  DispatchObject* object = dispatch_;
  dispatch_ = nullptr;
  autoRelease_ = true;
  return object;
}

void DispatchDriver::ReleaseDispatch() noexcept {
  DispatchObject* object = dispatch_;
  dispatch_ = nullptr;
  if (object && autoRelease_) object->Release();
  autoRelease_ = true;
}

void DispatchDriver::InvokeHelperV(DISPID dispid, WORD flags, VARTYPE resultType, void* result,
                                   const std::vector<VARTYPE>& paramTypes,
                                   const std::vector<Argument>& args) {
  if (!dispatch_) throw AutomationException(E_POINTER, "no automation object to call member " + std::to_string(dispid));
  if (args.size() != paramTypes.size())
    throw AutomationException(DISP_E_BADPARAMCOUNT, "member " + std::to_string(dispid) + " declared " +
                                                        std::to_string(paramTypes.size()) + " parameters, got " +
                                                        std::to_string(args.size()));
  Invocation call;
  call.dispid = dispid;
  call.flags = flags;
  call.resultType = resultType;
  call.paramTypes = paramTypes;
  call.args.reserve(args.size());
  for (std::size_t i = 0; i < args.size(); ++i) call.args.push_back(args[i].ToVariant(paramTypes[i]));

  // The object stays alive for the call even if the server drops the
  // driver's reference meanwhile.
  DispatchDriver hold(*this);
  Variant answer;
  try {
    answer = hold.GetDispatch()->Invoke(call);
  } catch (const AutomationException&) {
    throw;
  } catch (const std::exception& e) {
    throw AutomationException(DISP_E_EXCEPTION, e.what());
  }

  const Variant& r = answer.Deref();
  switch (resultType) {
    case VT_EMPTY:
      return;
    case VT_BSTR:
      if (result) *static_cast<std::u16string*>(result) = r.IsEmpty() ? std::u16string() : r.bstrVal();
      return;
    case VT_DISPATCH: {
      DispatchObject* object = r.IsEmpty() ? nullptr : r.pdispVal();
      if (object) object->AddRef();
      if (result) *static_cast<DispatchObject**>(result) = object;
      else if (object) object->Release();
      return;
    }
    case VT_I2:
      if (result) *static_cast<std::int16_t*>(result) = static_cast<std::int16_t>(r.ToInt());
      return;
    case VT_I4:
      if (result) *static_cast<std::int32_t*>(result) = r.ToInt();
      return;
    case VT_R4:
      if (result) *static_cast<float*>(result) = r.vt() == VT_R4 ? r.fltVal() : static_cast<float>(r.ToInt());
      return;
    case VT_BOOL:
      if (result) *static_cast<bool*>(result) = r.ToInt() != 0;
      return;
    case VT_VARIANT:
      if (result) *static_cast<Variant*>(result) = r;
      return;
    default:
      TypeMismatch("unsupported result type " + std::to_string(resultType));
  }
}

void DispatchDriver::GetProperty(DISPID dispid, VARTYPE resultType, void* result) {
  InvokeHelperV(dispid, DISPATCH_PROPERTYGET, resultType, result, {}, {});
}

void DispatchDriver::SetProperty(DISPID dispid, VARTYPE type, const Argument& value) {
  InvokeHelperV(dispid, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {type}, {value});
}

}  // namespace Automation
