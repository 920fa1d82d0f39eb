// Docklane's HTTP server: configured at start-up, run by its own thread
// once the control pipe has a client.
#pragma once

#include <chrono>
#include <cstdint>

#include "http/server.hpp"

constexpr std::uint16_t kHttpPort = 3465;

// Creates the server with the endpoint front's GET, POST and OPTIONS entries
// as its default handlers and an error hook that does nothing. Not started.
// Requests of any other method get no reply.
void ConfigureHttpServer();

// The configured server (ConfigureHttpServer first).
HttpCore::Server& HttpServer();

// Thread procedure: binds, listens and runs the server until it is stopped.
// A set-up failure (the port taken, say) ends the process with code 1 and a
// message on standard error: a Docklane that serves nothing must not look
// alive. Returns 0.
int ServerThread();

// From another thread: stops the server and waits up to `limit` for
// ServerThread to return. True when it did (or never started).
bool StopHttpServer(std::chrono::milliseconds limit);
