// Docwarden's side of the control pipe: keep a connection to Docklane, ping
// it about once a second, and send "quit" once the service is stopping.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

#include "protocol/control_pipe_protocol.hpp"

// Set to 1 by the stop request; the next exchange then carries "quit".
extern std::atomic<int> g_quitFlag;

// Failed opens since the last success (0 or 1: reset after each wait).
extern std::atomic<int> g_openFailureCount;


// Waits of the client loop, in milliseconds.
constexpr int kOpenRetryMs = 10000;
constexpr int kExchangeIntervalMs = 1000;

// Thread procedure: connects, exchanges, reconnects after failures; leaves
// only after an exchange carrying "quit" succeeded. Returns 0.
int PipeClientLoop();

// One request ("quit" when the quit flag is set, else "ping") and its reply
// over the connection held. 1 on success, -1 on failure.
int ExchangeOnce();

// The connection of the client loop.
bool PipeClientIsOpen();
bool OpenPipeClient();
void ClosePipeClient();

// The text of the last reply read by ExchangeOnce.
std::string LastPipeReply();
