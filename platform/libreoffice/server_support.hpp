// Pieces shared by the Word, Excel and PowerPoint servers: member checks,
// argument access, the application state their objects share, and the
// translation of engine failures into automation exceptions.
#pragma once

#include <cstddef>
#include <memory>
#include <set>
#include <string>

#include "platform/automation.hpp"
#include "platform/libreoffice/engine.hpp"

namespace platform::libreoffice {

// One emulated application instance, shared by its objects.
struct ApplicationState {
  ApplicationState(std::shared_ptr<Engine> e, std::string id) : engine(std::move(e)), progid(std::move(id)) {}
  std::shared_ptr<Engine> engine;
  std::string progid;
  bool quit = false;
  std::set<Engine::DocId> documents;

  // Closes every document it opened and refuses further calls.
  void Quit();
  // Raises RPC_E_DISCONNECTED once the application has quit.
  void CheckRunning() const;
};

// An object of an emulated application.
class ServerObject : public Automation::DispatchObject {
 protected:
  explicit ServerObject(std::shared_ptr<ApplicationState> state) : state_(std::move(state)) {}
  // Checks the kind of call and the number of arguments; raises
  // DISP_E_MEMBERNOTFOUND for a kind the member does not have and
  // DISP_E_BADPARAMCOUNT for a wrong count.
  void Expect(const Automation::Invocation& call, Automation::WORD kind, std::size_t minArgs,
              std::size_t maxArgs) const;
  [[noreturn]] void NoSuchMember(const Automation::Invocation& call) const;
  // Argument `index`, looked through a reference; null when absent or omitted.
  static const Automation::Variant* Arg(const Automation::Invocation& call, std::size_t index);
  // A required file name argument.
  std::string PathArg(const Automation::Invocation& call, std::size_t index) const;
  // An optional integer argument.
  static int IntArg(const Automation::Invocation& call, std::size_t index, int fallback);
  // Opens the file that argument 0 names in `app`: read-only when argument
  // `readOnlyArg` is true, with the password of argument `passwordArg` when
  // one is given (-1: the member takes none).
  Engine::DocId OpenFromArgs(const Automation::Invocation& call, DocumentApp app, std::size_t readOnlyArg,
                             int passwordArg) const;
  // An object result: the new object's only reference goes to the Variant.
  static Automation::Variant Object(Automation::DispatchObject* object);
  // Runs an engine operation, raising automation exceptions for its failures.
  template <typename Fn>
  auto Call(Fn fn) const -> decltype(fn()) {
    try {
      return fn();
    } catch (const EngineError& e) {
      Raise(e);
    }
  }
  [[noreturn]] void Raise(const EngineError& e) const;
  [[noreturn]] void Fail(Automation::HRESULT code, const std::string& what) const;

  std::shared_ptr<ApplicationState> state_;
};

// A document of an emulated application; closed when its last reference
// goes, so that a conversion that failed half-way leaves nothing open.
class ServerDocument : public ServerObject {
 protected:
  ServerDocument(std::shared_ptr<ApplicationState> state, Engine::DocId id);
  ~ServerDocument() override;
  void CloseDocument();
  Engine::DocId Id() const;
  // Stores a copy of the document under `target` with the given export filter.
  void SaveCopy(const std::string& target, const char* filter);

 private:
  Engine::DocId id_;
};

// The Open member of a document collection: its DISPID, the application it
// opens in, its most arguments, and which say read-only and the password
// (-1: none).
struct OpenMember {
  Automation::DISPID dispid;
  DocumentApp app;
  std::size_t maxArgs;
  std::size_t readOnlyArg;
  int passwordArg;
};

// A collection of documents (Workbooks, Presentations) whose one member,
// Open, answers a new `Doc`.
template <typename Doc>
class DocumentCollection : public ServerObject {
 public:
  DocumentCollection(std::shared_ptr<ApplicationState> state, const OpenMember& open)
      : ServerObject(std::move(state)), open_(open) {}

  Automation::Variant Invoke(Automation::Invocation& call) override {
    if (call.dispid != open_.dispid) NoSuchMember(call);
    Expect(call, Automation::DISPATCH_METHOD, 1, open_.maxArgs);
    return Object(new Doc(state_, OpenFromArgs(call, open_.app, open_.readOnlyArg, open_.passwordArg)));
  }

 private:
  const OpenMember open_;
};

}  // namespace platform::libreoffice
