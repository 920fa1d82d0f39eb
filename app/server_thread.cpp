#include "app/server_thread.hpp"

#include <boost/asio/post.hpp>

#include <condition_variable>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>

#include "app/process_exit.hpp"
#include "base/debug_trace.hpp"
#include "endpoints/endpoint_front.hpp"

namespace {

// Never destroyed: the server thread runs it until the process ends.
HttpCore::Server* g_server = nullptr;

struct ServerThreadState {
  std::mutex mutex;
  std::condition_variable changed;
  bool started = false;
  bool finished = false;
  bool stop_requested = false;
  std::shared_ptr<boost::asio::io_context> loop;  // once bound
};

ServerThreadState& State() {
  static ServerThreadState* state = new ServerThreadState;
  return *state;
}

void Finish() {
  ServerThreadState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.finished = true;
  state.changed.notify_all();
}

}  // namespace

void ConfigureHttpServer() {
  g_server = new HttpCore::Server(80);
  g_server->settings.port = kHttpPort;
  g_server->default_handlers["GET"] = OnGetRequest;
  g_server->default_handlers["POST"] = OnPostRequest;
  g_server->default_handlers["OPTIONS"] = OnOptionsRequest;
  // Transport errors change nothing in the replies; a debug build says them.
  g_server->error_hook = [](std::shared_ptr<HttpCore::ServerBase::Request> request,
                            const boost::system::error_code& error) {
    (void)request;
    (void)error;
    DL_TRACE("http", (request && !request->method.empty() ? request->method + " " + request->path + ": "
                                                           : std::string()) +
                         error.message());
  };
}

HttpCore::Server& HttpServer() { return *g_server; }

int ServerThread() {
  ServerThreadState& state = State();
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.started = true;
    if (state.stop_requested) {
      state.finished = true;
      state.changed.notify_all();
      return 0;
    }
  }
  try {
    g_server->bind_listener();
    {
      std::lock_guard<std::mutex> lock(state.mutex);
      state.loop = g_server->event_loop;
      if (state.stop_requested) {
        state.finished = true;
        state.changed.notify_all();
        return 0;
      }
    }
    g_server->listen_and_run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "docklane: the HTTP server cannot start on port %u: %s\n",
                 static_cast<unsigned>(kHttpPort), e.what());
    EndProcess(1);
  }
  bool asked_to_stop;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    asked_to_stop = state.stop_requested;
  }
  if (!asked_to_stop) {
    // The loop ran out of work on its own: nothing serves any more.
    std::fprintf(stderr, "docklane: the HTTP server stopped unexpectedly\n");
    EndProcess(1);
  }
  Finish();
  return 0;
}

bool StopHttpServer(std::chrono::milliseconds limit) {
  ServerThreadState& state = State();
  std::unique_lock<std::mutex> lock(state.mutex);
  if (!state.started) {
    state.stop_requested = true;
    return true;
  }
  state.stop_requested = true;
  if (state.loop) {
    // stop() belongs on the loop's own thread.
    boost::asio::post(*state.loop, [] { g_server->stop(); });
  }
  return state.changed.wait_for(lock, limit, [&] { return state.finished; });
}
