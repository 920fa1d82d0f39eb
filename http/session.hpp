#pragma once

#include <cstddef>
#include <memory>

#include "http/server_base.hpp"

namespace HttpCore {

// One request cycle on a connection: the connection and the request read on it.
class ServerBase::Session {
 public:
  Session(std::size_t max_request_buffer, std::shared_ptr<Connection> connection);

  std::shared_ptr<Connection> connection;
  std::shared_ptr<Request> request;
};

}  // namespace HttpCore
