#include "platform/automation.hpp"

#include <cstdio>
#include <exception>
#include <map>
#include <mutex>
#include <utility>

namespace Automation {

std::string FormatHresult(HRESULT code) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(code));
  return buf;
}

// ---- AutomationException ----------------------------------------------------

AutomationException::AutomationException(HRESULT code, std::string description, std::string source)
    : code_(code), description_(std::move(description)), source_(std::move(source)) {}

std::string AutomationException::what() const {
  std::string text = FormatHresult(code_);
  if (!description_.empty()) text += ": " + description_;
  return text;
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
      throw AutomationException(DISP_E_TYPEMISMATCH, "unsupported result type " + std::to_string(resultType));
  }
}

void DispatchDriver::GetProperty(DISPID dispid, VARTYPE resultType, void* result) {
  InvokeHelperV(dispid, DISPATCH_PROPERTYGET, resultType, result, {}, {});
}

void DispatchDriver::SetProperty(DISPID dispid, VARTYPE type, const Argument& value) {
  InvokeHelperV(dispid, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {type}, {value});
}

}  // namespace Automation
