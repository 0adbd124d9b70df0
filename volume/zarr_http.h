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

// Part of the body at `url`: `length` bytes from `offset`, or with
// `fromEnd` its last `length` bytes (all of it when it is shorter), for
// reading a shard's index and then only the inner chunks wanted. A server
// that takes no ranges answers with the whole body, at most `mostBytes`:
// `whole` then, and the caller takes what it needs from it. nullopt and
// ScanFailure as FetchOverHttp says; ScanFailure too for an answer that
// does not say where its bytes lie.
struct HttpRange {
    std::string bytes;
    uint64_t offset = 0;            // where `bytes` begin in the body
    std::optional<uint64_t> total;  // the body's length, where the server says it
    bool whole = false;
};
std::optional<HttpRange> FetchRangeOverHttp(const std::string& url, uint64_t offset, uint64_t length,
                                            bool fromEnd, uint64_t mostBytes);
