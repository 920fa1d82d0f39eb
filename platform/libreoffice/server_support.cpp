#include "platform/libreoffice/server_support.hpp"

#include <string>

namespace platform::libreoffice {

using namespace Automation;

void ApplicationState::Quit() {
  if (quit) return;
  quit = true;
  std::set<Engine::DocId> open;
  open.swap(documents);
  for (Engine::DocId id : open) {
    try {
      engine->Close(id);
    } catch (const EngineError&) {
      // A lost office has closed it already.
    }
  }
}

void ApplicationState::CheckRunning() const {
  if (quit) throw AutomationException(RPC_E_DISCONNECTED, "the application has quit", progid);
}

void ServerObject::Expect(const Invocation& call, WORD kind, std::size_t minArgs, std::size_t maxArgs) const {
  if ((call.flags & kind) == 0) NoSuchMember(call);
  state_->CheckRunning();
  if (call.args.size() < minArgs || call.args.size() > maxArgs)
    Fail(DISP_E_BADPARAMCOUNT, "member " + std::to_string(call.dispid) + " takes " + std::to_string(minArgs) +
                                   " to " + std::to_string(maxArgs) + " arguments, not " +
                                   std::to_string(call.args.size()));
}

void ServerObject::NoSuchMember(const Invocation& call) const {
  Fail(DISP_E_MEMBERNOTFOUND, "no member " + std::to_string(call.dispid) + " of kind " + std::to_string(call.flags));
}

const Variant* ServerObject::Arg(const Invocation& call, std::size_t index) {
  if (index >= call.args.size()) return nullptr;
  const Variant& v = call.args[index].Deref();
  if (v.IsEmpty() || v.IsMissing()) return nullptr;
  return &v;
}

std::string ServerObject::PathArg(const Invocation& call, std::size_t index) const {
  const Variant* v = Arg(call, index);
  if (v == nullptr) Fail(DISP_E_PARAMNOTFOUND, "a file name is required");
  std::string path = v->ToUtf8();
  if (path.empty() || path[0] != '/') Fail(DISP_E_EXCEPTION, "not an absolute file name: " + path);
  if (path.find('\0') != std::string::npos) Fail(DISP_E_EXCEPTION, "the file name holds a NUL character");
  return path;
}

int ServerObject::IntArg(const Invocation& call, std::size_t index, int fallback) {
  const Variant* v = Arg(call, index);
  return v == nullptr ? fallback : v->ToInt();
}

Engine::DocId ServerObject::OpenFromArgs(const Invocation& call, DocumentApp app, std::size_t readOnlyArg,
                                         int passwordArg) const {
  OpenRequest request;
  request.path = PathArg(call, 0);
  request.app = app;
  request.readOnly = IntArg(call, readOnlyArg, 0) != 0;
  if (passwordArg >= 0) {
    if (const Variant* password = Arg(call, static_cast<std::size_t>(passwordArg))) request.password = password->ToUtf8();
  }
  return Call([&] { return state_->engine->Open(request); });
}

Variant ServerObject::Object(DispatchObject* object) {
  Variant v = Variant::Dispatch(object);
  object->Release();
  return v;
}

void ServerObject::Raise(const EngineError& e) const {
  HRESULT code = DISP_E_EXCEPTION;
  switch (e.kind()) {
    case EngineError::Kind::kFailed: code = DISP_E_EXCEPTION; break;
    case EngineError::Kind::kTimedOut: code = RPC_E_TIMEOUT; break;
    case EngineError::Kind::kEngineLost: code = RPC_E_SERVERFAULT; break;
    case EngineError::Kind::kNotInstalled: code = CO_E_SERVER_EXEC_FAILURE; break;
  }
  throw AutomationException(code, e.what(), state_->progid);
}

void ServerObject::Fail(HRESULT code, const std::string& what) const {
  throw AutomationException(code, what, state_->progid);
}

ServerDocument::ServerDocument(std::shared_ptr<ApplicationState> state, Engine::DocId id)
    : ServerObject(std::move(state)), id_(id) {
  state_->documents.insert(id_);
}

ServerDocument::~ServerDocument() {
  try {
    CloseDocument();
  } catch (...) {
    // Nothing can be reported from a release; the engine has given up on it.
  }
}

void ServerDocument::CloseDocument() {
  if (state_->documents.erase(id_) == 0) return;
  Call([&] { state_->engine->Close(id_); });
}

Engine::DocId ServerDocument::Id() const {
  if (state_->documents.count(id_) == 0) Fail(DISP_E_EXCEPTION, "the document has been closed");
  return id_;
}

void ServerDocument::SaveCopy(const std::string& target, const char* filter) {
  Call([&] { state_->engine->SaveCopy(Id(), target, filter); });
}

}  // namespace platform::libreoffice
