// The HTTP core with a trivial handler, for load tests:
//   bench_http_core <port> [request_timeout_s]
// Answers every GET with 200 and a fixed 200-byte body; ends on SIGINT/SIGTERM.

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>

#include <boost/asio/signal_set.hpp>

#include "http/server.hpp"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: bench_http_core <port> [request_timeout_s]\n";
    return 2;
  }
  HttpCore::Server server(static_cast<std::uint16_t>(std::atoi(argv[1])));
  server.settings.bind_address = "127.0.0.1";
  if (argc > 2) server.settings.request_timeout_s = std::atol(argv[2]);

  std::string body;
  while (body.size() < 200) body += "abcdefghij";
  const HttpCore::HeaderMap fields{{"Content-Type", "text/plain"}};
  server.default_handlers["GET"] = [&](std::shared_ptr<HttpCore::ServerBase::Response> response,
                                       std::shared_ptr<HttpCore::ServerBase::Request>) {
    response->write_status(200, body, fields);
  };

  try {
    const auto port = server.bind_listener();
    boost::asio::signal_set signals(*server.event_loop, SIGINT, SIGTERM);
    signals.async_wait([&](const boost::system::error_code&, int) { server.stop(); });
    std::cout << "listening on 127.0.0.1:" << port << std::endl;
    server.listen_and_run();
  } catch (const std::exception& e) {
    std::cerr << "bench_http_core: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
