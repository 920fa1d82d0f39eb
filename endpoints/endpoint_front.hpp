// The HTTP server's default GET, POST and OPTIONS handlers: every request
// the endpoint front answers enters here.
#pragma once

#include <memory>

#include "http/request.hpp"
#include "http/response.hpp"

using HttpResponsePtr = std::shared_ptr<HttpCore::ServerBase::Response>;
using HttpRequestPtr = std::shared_ptr<HttpCore::ServerBase::Request>;

// Parameters from the query string, then the endpoint table's reply.
void OnGetRequest(HttpResponsePtr response, HttpRequestPtr request);

// Parameters from the JSON body, then the endpoint table's reply.
void OnPostRequest(HttpResponsePtr response, HttpRequestPtr request);

// A CORS preflight, on any path: "204 No Content" with the CORS fields the
// GET and POST replies carry, so that a page may send what needs one (a JSON
// body with Content-Type: application/json, say). No body; no endpoint runs.
void OnOptionsRequest(HttpResponsePtr response, HttpRequestPtr request);
