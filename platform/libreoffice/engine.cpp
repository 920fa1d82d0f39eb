// The engine: the office's start and end, and the worker thread that runs
// every call against it within a time limit.
#include "platform/libreoffice/engine.hpp"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <random>
#include <sstream>

#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/connection/XConnection.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/uno/Exception.hpp>
#include <com/sun/star/uno/RuntimeException.hpp>
#include <com/sun/star/util/XCloseable.hpp>

#include "base/debug_trace.hpp"
#include "platform/libreoffice/engine_impl.hpp"
#include "platform/libreoffice/uno_support.hpp"

namespace fs = std::filesystem;

namespace platform::libreoffice {
namespace {

#ifndef DL_LO_PROGRAM_DIR
#define DL_LO_PROGRAM_DIR "/usr/lib/libreoffice/program"
#endif

// After a time-out the office is killed, which makes the pending UNO call
// return; this is how long that may take before the engine gives up on it.
constexpr std::chrono::seconds kAbandonLimit{10};
constexpr std::chrono::milliseconds kTerminateGrace{2000};
// Exit status by which soffice asks to be started again (after it has
// prepared a new profile).
constexpr int kRestartRequested = 81;

}  // namespace

Engine::Impl::Impl(EngineOptions opts, fs::path workDir)
    : options(std::move(opts)), process(options.programDir, std::move(workDir), options.visible) {}

void Engine::Impl::WorkerLoop() {
  // Writing to the pipe of an office that has just died raises SIGPIPE in
  // the writing thread, which would end the whole program. Every UNO thread
  // is started from this one and inherits its mask, so blocking the signal
  // here turns it into a failed write (and a failed call) instead.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  std::unique_lock<std::mutex> lock(mutex);
  while (!quit) {
    const bool woke =
        wake.wait_for(lock, options.idleLimit, [&] { return jobPending || quit || !closedByUser.empty(); });
    if (quit) break;
    if (woke && !jobPending) {
      lock.unlock();
      ReapClosedWindows();
      lock.lock();
      continue;
    }
    if (!woke) {
      // Idle: give the memory back, unless a document is still open.
      if (documents.empty() && process.Pid() > 0) {
        lock.unlock();
        Shutdown(false);
        lock.lock();
      }
      continue;
    }
    std::function<void()> fn = std::move(job);
    jobPending = false;
    jobRunning = true;
    lock.unlock();
    std::exception_ptr error;
    try {
      fn();
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    jobRunning = false;
    jobError = error;
    done.notify_all();
  }
}

void Engine::Impl::DropConnection() {
  for (auto& [id, doc] : documents) doc.component.clear();
  documents.clear();
  {
    std::lock_guard<std::mutex> lock(mutex);
    closedByUser.clear();
  }
  openDocuments = 0;
  desktop.clear();
  remoteContext.clear();
  if (bridge.is()) {
    Reference<css::lang::XComponent> c(bridge, UNO_QUERY);
    try {
      if (c.is()) c->dispose();
    } catch (...) {
    }
    bridge.clear();
  }
}

void Engine::Impl::Shutdown(bool polite, bool keepProfile) {
  if (polite && desktop.is() && process.Running()) {
    for (auto& [id, doc] : documents) {
      try {
        Reference<css::util::XCloseable> c(doc.component, UNO_QUERY);
        if (c.is()) c->close(true);
      } catch (...) {
      }
    }
    try {
      desktop->terminate();
    } catch (...) {
      // The connection ends with the office; that is expected here.
    }
  }
  process.Stop(kTerminateGrace);
  DropConnection();
  if (!keepProfile) process.RemoveWorkDir();
  documentsThisRun = 0;
}

void Engine::Impl::EnsureRunning() {
  if (desktop.is() && process.Running()) return;
  if (desktop.is() || process.Pid() > 0) {
    // Crashed or killed since the last call.
    DropConnection();
    process.Stop(std::chrono::milliseconds(0));
  }
  Start();
}

void Engine::Impl::Start() {
  if (!OfficeProcess::Installed(options.programDir))
    throw EngineError(EngineError::Kind::kNotInstalled,
                      "LibreOffice is not installed in " + options.programDir.string());
  const auto local = LocalContext(options.programDir);
  std::random_device rd;
  std::ostringstream name;
  name << "docklane_" << ::getpid() << "_" << std::hex << rd() << rd();
  const std::string pipe = name.str();
  const auto deadline = std::chrono::steady_clock::now() + options.startLimit;
  process.Spawn(pipe);
  ++starts;
  int respawns = 0;
  auto connector = css::connection::Connector::create(local);
  Reference<css::connection::XConnection> connection;
  std::string lastError = "no answer";
  while (!desktop.is()) {
    if (std::chrono::steady_clock::now() > deadline) {
      process.Stop(std::chrono::milliseconds(0));
      throw EngineError(EngineError::Kind::kTimedOut,
                        "LibreOffice did not start within " +
                            std::to_string(options.startLimit.count() / 1000) + " s (" + lastError + ")");
    }
    if (!process.Running()) {
      const int status = process.ExitStatus();
      // A fresh profile makes the first start end with a restart request.
      if (status == kRestartRequested && respawns++ < 2) {
        process.Spawn(pipe);
        ++starts;
        continue;
      }
      throw EngineError(EngineError::Kind::kEngineLost,
                        "LibreOffice ended during its start (status " + std::to_string(status) + ")");
    }
    try {
      connection = connector->connect(U("pipe,name=" + pipe));
      auto factory = css::bridge::BridgeFactory::create(local);
      bridge = factory->createBridge(OUString(), "urp", connection, nullptr);
      remoteContext.set(bridge->getInstance("StarOffice.ComponentContext"), UNO_QUERY_THROW);
      desktop = css::frame::Desktop::create(remoteContext);
    } catch (const css::uno::Exception& e) {
      lastError = S(e.Message);
      DropConnection();
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  }
  process.RecordSockets();
  documentsThisRun = 0;
}

void Engine::Impl::Guarded(const std::string& what, const std::function<void()>& fn) {
  try {
    try {
      EnsureRunning();
      fn();
    } catch (const EngineError&) {
      throw;
    } catch (const css::lang::DisposedException& e) {
      LoseOffice();
      throw EngineError(EngineError::Kind::kEngineLost,
                        what + ": LibreOffice stopped answering (" + S(e.Message) + ")");
    } catch (const css::uno::RuntimeException& e) {
      if (desktop.is() && (!process.Running() || killedByCaller)) {
        LoseOffice();
        throw EngineError(EngineError::Kind::kEngineLost, what + ": LibreOffice stopped answering");
      }
      throw EngineError(EngineError::Kind::kFailed, what + ": " + S(e.Message));
    } catch (const css::uno::Exception& e) {
      throw EngineError(EngineError::Kind::kFailed,
                        what + (e.Message.isEmpty() ? std::string() : ": " + S(e.Message)));
    } catch (const std::exception& e) {
      throw EngineError(EngineError::Kind::kFailed, what + ": " + e.what());
    }
  } catch (const EngineError& e) {
    DL_TRACE("office", e.what());
    throw;
  }
}

void Engine::Impl::LoseOffice() {
  DropConnection();
  process.Stop(std::chrono::milliseconds(0));
}

Engine::Impl::Document& Engine::Impl::Find(DocId id) {
  auto it = documents.find(id);
  if (it == documents.end())
    throw EngineError(EngineError::Kind::kFailed, "the document is no longer open");
  return it->second;
}

void Engine::Impl::Run(std::chrono::milliseconds limit, std::function<void()> fn) {
  std::lock_guard<std::mutex> callLock(callMutex);
  std::unique_lock<std::mutex> lock(mutex);
  if (jobRunning || jobPending)
    throw EngineError(EngineError::Kind::kEngineLost, "LibreOffice is not answering");
  job = std::move(fn);
  jobPending = true;
  killedByCaller = false;
  jobError = nullptr;
  wake.notify_all();
  const bool finished = done.wait_for(lock, limit, [&] { return !jobPending && !jobRunning; });
  if (!finished) {
    killedByCaller = true;
    lock.unlock();
    process.Stop(std::chrono::milliseconds(0));
    lock.lock();
    done.wait_for(lock, kAbandonLimit, [&] { return !jobPending && !jobRunning; });
    DL_TRACE("office", "a call did not finish within its limit; the office was stopped");
    throw EngineError(EngineError::Kind::kTimedOut,
                      "LibreOffice did not finish within " + std::to_string(limit.count() / 1000.0).substr(0, 4) +
                          " s and was stopped");
  }
  if (jobError) std::rethrow_exception(jobError);
}

std::chrono::milliseconds Engine::Impl::Limit() {
  return options.callLimit + (process.Pid() > 0 ? std::chrono::milliseconds(0) : options.startLimit);
}
Engine::Engine(EngineOptions options) {
  if (options.programDir.empty()) options.programDir = DefaultProgramDir();
  if (options.baseDir.empty()) options.baseDir = DefaultEngineBaseDir();
  static std::atomic<unsigned> instances{0};
  OfficeProcess::RemoveStaleWorkDirs(options.baseDir);
  fs::path workDir = options.baseDir / OfficeProcess::WorkDirName(++instances);
  impl_ = std::make_shared<Impl>(std::move(options), std::move(workDir));
  impl_->worker = std::thread([impl = impl_] { impl->WorkerLoop(); });
}

Engine::~Engine() {
  try {
    Stop();
  } catch (...) {
  }
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->quit = true;
    impl_->wake.notify_all();
  }
  std::unique_lock<std::mutex> lock(impl_->mutex);
  const bool idle = impl_->done.wait_for(lock, kAbandonLimit, [&] { return !impl_->jobRunning; });
  lock.unlock();
  if (idle) {
    impl_->worker.join();
  } else {
    // A call that never came back: leave its thread (it owns a share of the
    // state) rather than hang the exit.
    impl_->worker.detach();
  }
}

namespace {

std::atomic<bool> sharedEngineCreated{false};
std::atomic<bool> sharedEditingEngineCreated{false};

// Objects still holding an engine at exit would keep it alive; the office
// goes with the program all the same.
struct SharedHolder {
  std::shared_ptr<Engine> engine;
  ~SharedHolder() { engine->Kill(); }
};

}  // namespace

std::shared_ptr<Engine> Engine::Shared() {
  static SharedHolder holder{[] {
    sharedEngineCreated = true;
    return std::make_shared<Engine>();
  }()};
  return holder.engine;
}

std::shared_ptr<Engine> Engine::SharedEditing() {
  static SharedHolder holder{[] {
    sharedEditingEngineCreated = true;
    EngineOptions options;
    options.visible = true;
    return std::make_shared<Engine>(options);
  }()};
  return holder.engine;
}

fs::path Engine::DefaultProgramDir() { return DL_LO_PROGRAM_DIR; }

bool Engine::Installed() const { return OfficeProcess::Installed(impl_->options.programDir); }

Engine::DocId Engine::Open(const OpenRequest& request) {
  auto result = std::make_shared<DocId>(0);
  auto impl = impl_;
  impl_->Run(impl_->Limit(), [impl, request, result] { *result = impl->DoOpen(request); });
  return *result;
}

void Engine::SaveWebPage(DocId doc, const fs::path& target) {
  auto impl = impl_;
  impl_->Run(impl_->Limit(), [impl, doc, target] { impl->DoSaveWebPage(doc, target); });
}

void Engine::SaveSlidePictures(DocId doc, const fs::path& folder, const std::string& extension) {
  auto impl = impl_;
  impl_->Run(impl_->Limit(), [impl, doc, folder, extension] { impl->DoSaveSlides(doc, folder, extension); });
}

void Engine::SaveCopy(DocId doc, const fs::path& target, const std::string& filterName,
                      const std::string& password) {
  auto impl = impl_;
  impl_->Run(impl_->Limit(), [impl, doc, target, filterName, password] {
    impl->DoSaveCopy(doc, target, filterName, password);
  });
}

void Engine::Save(DocId doc) {
  auto impl = impl_;
  impl_->Run(impl_->Limit(), [impl, doc] { impl->DoSave(doc); });
}

void Engine::Close(DocId doc) {
  auto impl = impl_;
  impl_->Run(impl_->options.callLimit, [impl, doc] { impl->DoClose(doc); });
}

Engine::DocId Engine::OpenForEditing(const EditRequest& request) {
  auto result = std::make_shared<DocId>(0);
  auto impl = impl_;
  impl_->Run(impl_->Limit(), [impl, request, result] { *result = impl->DoOpenForEditing(request); });
  return *result;
}

void Engine::SetWindowTitle(DocId doc, const std::string& title) {
  auto impl = impl_;
  impl_->Run(impl_->options.callLimit, [impl, doc, title] { impl->DoSetWindowTitle(doc, title); });
}

void Engine::MoveCursorToEnd(DocId doc) {
  auto impl = impl_;
  impl_->Run(impl_->options.callLimit, [impl, doc] { impl->DoMoveCursorToEnd(doc); });
}

void Engine::ActivateWindow(DocId doc) {
  auto impl = impl_;
  impl_->Run(impl_->options.callLimit, [impl, doc] { impl->DoActivateWindow(doc); });
}

int Engine::PageCount(DocId doc) {
  auto result = std::make_shared<int>(0);
  auto impl = impl_;
  impl_->Run(impl_->Limit(), [impl, doc, result] { *result = impl->DoPageCount(doc); });
  return *result;
}

void Engine::Stop() {
  auto impl = impl_;
  try {
    impl_->Run(std::chrono::milliseconds(5000), [impl] { impl->Shutdown(true); });
  } catch (const EngineError&) {
    // Killed by the time-out; finish the clean-up here.
  }
  impl_->process.Stop(std::chrono::milliseconds(0));
  impl_->process.RemoveWorkDir();
}

pid_t Engine::OfficePid() const { return impl_->process.Pid(); }
unsigned Engine::Starts() const { return impl_->starts; }
std::size_t Engine::OpenDocuments() const { return impl_->openDocuments; }
const EngineOptions& Engine::Options() const { return impl_->options; }

void Engine::Kill() noexcept {
  impl_->killedByCaller = true;
  impl_->process.Stop(std::chrono::milliseconds(0));
  impl_->process.RemoveWorkDir();
}

void StopSharedEngine() noexcept {
  if (sharedEngineCreated) Engine::Shared()->Kill();
  if (sharedEditingEngineCreated) Engine::SharedEditing()->Kill();
}

}  // namespace platform::libreoffice
