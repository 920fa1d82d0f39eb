// What Docklane and Docwarden say on the control pipe. The two programs share
// this protocol, not code: each side keeps its own buffers of these sizes.
#pragma once

#include <cstddef>

// A request message is 1 to 255 bytes; its buffer keeps room for the zero
// byte put after it.
constexpr std::size_t kPipeRequestBufferSize = 256;
// A reply is at most kPipeReplyReadLimit bytes; its buffer keeps room for the
// zero byte put after it.
constexpr std::size_t kPipeReplyBufferSize = 1165535;
constexpr std::size_t kPipeReplyReadLimit = kPipeReplyBufferSize - 1;

// The watchdog's two requests and Docklane's answer to the first.
constexpr char kPipePing[] = "ping";
constexpr char kPipePong[] = "pong";
constexpr char kPipeQuit[] = "quit";
