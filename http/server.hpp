#pragma once
// The plain-TCP HTTP/1.1 server. Include this one header to use the core.

#include <cstdint>

#include "http/connection.hpp"
#include "http/handler_gate.hpp"
#include "http/header_map.hpp"
#include "http/parse.hpp"
#include "http/request.hpp"
#include "http/response.hpp"
#include "http/server_base.hpp"
#include "http/session.hpp"
#include "http/settings.hpp"
#include "http/status_phrase.hpp"

namespace HttpCore {

class Server : public ServerBase {
 public:
  explicit Server(std::uint16_t port = 80) : ServerBase(port) {}
  ~Server() override;

 protected:
  void accept_next() override;
};

}  // namespace HttpCore
