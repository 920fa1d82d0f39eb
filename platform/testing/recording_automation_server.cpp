#include "platform/testing/recording_automation_server.hpp"

#include <cstdio>

namespace Automation {
namespace Testing {

namespace {

const char* KindName(WORD flags) {
  switch (flags) {
    case DISPATCH_METHOD:
      return "method";
    case DISPATCH_PROPERTYGET:
      return "get";
    case DISPATCH_PROPERTYPUT:
      return "put";
    default:
      return "kind?";
  }
}

using Key = std::pair<std::string, DISPID>;

}  // namespace

std::string RecordedCall::ToString() const {
  std::string line = object + " " + std::to_string(dispid) + " " + KindName(flags) + " -> " +
                     std::to_string(resultType) + " (";
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i) line += ", ";
    line += std::to_string(i < paramTypes.size() ? paramTypes[i] : 0) + ": " + args[i].Describe();
  }
  return line + ")";
}

struct RecordingAutomationServer::State {
  mutable std::mutex mutex;
  std::set<std::string> unavailable;
  std::map<Key, Variant> results;
  std::map<Key, std::pair<HRESULT, std::string>> failures;
  std::map<Key, std::function<void(const Invocation&)>> actions;
  std::vector<std::string> log;
  std::vector<RecordedCall> calls;
  int live = 0;
};

class RecordingAutomationServer::Object : public DispatchObject {
 public:
  Object(std::shared_ptr<State> state, std::string name) : state_(std::move(state)), name_(std::move(name)) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    ++state_->live;
  }

  Variant Invoke(Invocation& call) override {
    RecordedCall record;
    record.object = name_;
    record.dispid = call.dispid;
    record.flags = call.flags;
    record.resultType = call.resultType;
    record.paramTypes = call.paramTypes;
    for (const Variant& arg : call.args) record.args.push_back(arg.Deref());

    const Key key(name_, call.dispid);
    std::function<void(const Invocation&)> action;
    Variant result;
    bool haveResult = false;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      state_->log.push_back(record.ToString());
      state_->calls.push_back(std::move(record));
      auto failure = state_->failures.find(key);
      if (failure != state_->failures.end())
        throw AutomationException(failure->second.first, failure->second.second, name_);
      auto a = state_->actions.find(key);
      if (a != state_->actions.end()) action = a->second;
      auto r = state_->results.find(key);
      if (r != state_->results.end()) {
        result = r->second;
        haveResult = true;
      }
    }
    if (action) action(call);
    if (haveResult) return result;
    if (call.resultType == VT_DISPATCH) {
      auto* child = new Object(state_, name_ + ">" + std::to_string(call.dispid));
      Variant v = Variant::Dispatch(child);
      child->Release();  // the Variant holds the one reference now
      return v;
    }
    return Variant();
  }

 protected:
  ~Object() override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    --state_->live;
  }

 private:
  std::shared_ptr<State> state_;
  std::string name_;
};

RecordingAutomationServer::RecordingAutomationServer() : state_(std::make_shared<State>()) {}

RecordingAutomationServer::~RecordingAutomationServer() {
  for (const std::string& progid : registered_) UnregisterAutomationServer(progid);
}

void RecordingAutomationServer::Register(const std::string& progid) {
  std::weak_ptr<State> weak = state_;
  RegisterAutomationServer(progid, [weak, progid]() -> DispatchObject* {
    std::shared_ptr<State> state = weak.lock();
    if (!state) return nullptr;
    {
      std::lock_guard<std::mutex> lock(state->mutex);
      if (state->unavailable.count(progid)) return nullptr;
      state->log.push_back("create " + progid);
    }
    return new Object(state, progid);
  });
  registered_.insert(progid);
}

void RecordingAutomationServer::SetUnavailable(const std::string& progid, bool unavailable) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (unavailable) state_->unavailable.insert(progid);
  else state_->unavailable.erase(progid);
}

void RecordingAutomationServer::SetResult(const std::string& object, DISPID dispid, Variant result) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->results[Key(object, dispid)] = std::move(result);
}

void RecordingAutomationServer::SetFailure(const std::string& object, DISPID dispid, HRESULT code,
                                           const std::string& description) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->failures[Key(object, dispid)] = {code, description};
}

void RecordingAutomationServer::SetAction(const std::string& object, DISPID dispid,
                                          std::function<void(const Invocation&)> action) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->actions[Key(object, dispid)] = std::move(action);
}

std::vector<std::string> RecordingAutomationServer::Log() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->log;
}

std::vector<RecordedCall> RecordingAutomationServer::Calls() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->calls;
}

void RecordingAutomationServer::ClearLog() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->log.clear();
  state_->calls.clear();
}

int RecordingAutomationServer::LiveObjects() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->live;
}

}  // namespace Testing
}  // namespace Automation
