// The endpoint table: every GET and POST is served by comparing its path,
// completed from `action`, with a fixed list of endpoint paths.
#pragma once

#include <string>

#include "endpoints/request_trees.hpp"
#include "export/reply_body.hpp"

// Serves one request. `params` and `fields` are the request's own copies.
// On return `header` holds the filled header template (header lines, without
// the status line and the empty line) and `body` the reply body, laid out:
// files it carries are read while it is sent. A reply whose texts would go
// over the reply text budget is a JSON failure saying so. Other standard
// exceptions of the endpoints propagate to the caller.
void HandleEndpointRequest(RequestTree params, RequestTree fields, std::string& header,
                           ReplyBody& body);
