// The endpoint table: every GET and POST is served by comparing its path,
// completed from `action`, with a fixed list of endpoint paths.
#pragma once

#include <string>

#include "endpoints/request_trees.hpp"

// Serves one request. `params` and `fields` are the request's own copies.
// On return `header` holds the filled header template (header lines, without
// the status line and the empty line) and `body` the reply body. Standard
// exceptions of the endpoints propagate to the caller.
void HandleEndpointRequest(RequestTree params, RequestTree fields, std::string& header,
                           std::string& body);
