#pragma once
// Test double for the automation layer: automation servers that log every
// call they receive, in order, across all ProgIDs they stand for, and answer
// with configured results.
//
// Objects are named by the path of members that produced them: the
// application of "Word.Application" is "Word.Application", the object its
// member 6 returned is "Word.Application>6", the object member 20 of that
// returned is "Word.Application>6>20", and so on. A call that asks for an
// object and has no configured result gets a new such child object.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/automation.hpp"

namespace Automation {
namespace Testing {

struct RecordedCall {
  std::string object;  // path name of the called object, see above
  DISPID dispid = 0;
  WORD flags = 0;
  VARTYPE resultType = VT_EMPTY;
  std::vector<VARTYPE> paramTypes;
  // Argument values as they were when the call arrived; by-reference
  // arguments are recorded by the value they pointed to.
  std::vector<Variant> args;

  // One line: `<object> <dispid> <method|get|put> -> <result type> (<type>: <value>, ...)`,
  // e.g. `Word.Application 23 put -> 0 (11: VT_BOOL 0)`.
  std::string ToString() const;
};

class RecordingAutomationServer {
 public:
  RecordingAutomationServer();
  // Unregisters every ProgID this server registered.
  ~RecordingAutomationServer();
  RecordingAutomationServer(const RecordingAutomationServer&) = delete;
  RecordingAutomationServer& operator=(const RecordingAutomationServer&) = delete;

  // Registers `progid` with the automation layer, answered by this server.
  void Register(const std::string& progid);
  // Creating `progid` fails (as if the application were not installed).
  void SetUnavailable(const std::string& progid, bool unavailable = true);

  // Every call to member `dispid` of `object` answers `result`.
  void SetResult(const std::string& object, DISPID dispid, Variant result);
  // Every call to member `dispid` of `object` is recorded and then fails.
  void SetFailure(const std::string& object, DISPID dispid, HRESULT code,
                  const std::string& description = "recorded failure");
  // Runs `action` for every call to member `dispid` of `object` (after it
  // is recorded and before it answers), e.g. to write the files an
  // application would write.
  void SetAction(const std::string& object, DISPID dispid,
                 std::function<void(const Invocation&)> action);

  // Events in order: "create <progid>" for each successful creation, and
  // RecordedCall::ToString() for each call.
  std::vector<std::string> Log() const;
  std::vector<RecordedCall> Calls() const;
  void ClearLog();

  // Objects of this server still alive (not yet fully released).
  int LiveObjects() const;

 private:
  class Object;
  struct State;
  std::shared_ptr<State> state_;
  std::set<std::string> registered_;
};

}  // namespace Testing

// Lets test frameworks print Variants by kind and value.
inline void PrintTo(const Variant& value, std::ostream* os) { *os << value.Describe(); }

}  // namespace Automation
