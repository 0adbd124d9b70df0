// A store's files over HTTP(S), through libcurl: one connection kept alive
// for each thread that asks, retries with back-off where the server or the
// network may recover, and a one-line reason where it will not.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The body at `url`, at most `mostBytes` long; nullopt when the server says
// there is none (404: a chunk the store leaves out). `chunk`: the body must
// be data, not a web page. ScanFailure otherwise, naming the URL: 401 or 403
// (no access), another refusal, a server that stops mid-body or stalls (no
// byte for kStalledSeconds), a loop of redirects, a larger body.
inline constexpr long kStalledSeconds = 20;
std::optional<std::string> FetchOverHttp(const std::string& url, uint64_t mostBytes, bool chunk);
