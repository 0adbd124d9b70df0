#include "volume/zarr_http.h"

#include <curl/curl.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "volume/chunk_cache.h"
#include "volume/scan_library_output.h"
#include "volume/scan_samples.h"

namespace {

constexpr int kAttempts = 4;  // the first and three retries, 0.25, 0.5 and 1 s apart

struct Body {
    CURL* curl = nullptr;
    std::string bytes;
    uint64_t mostBytes = 0;
    bool tooLarge = false;
    std::string contentRange;  // the last answer's Content-Range, if any
};

size_t Append(char* data, size_t size, size_t count, void* context) {
    auto* body = static_cast<Body*>(context);
    const size_t n = size * count;
    // Room for the whole body at once where the server says its length:
    // growing by doubling would hold up to twice a chunk in flight.
    curl_off_t length = -1;
    if (body->bytes.empty() &&
        curl_easy_getinfo(body->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
        length > 0 && static_cast<uint64_t>(length) <= body->mostBytes)
        body->bytes.reserve(static_cast<size_t>(length));
    if (body->bytes.size() + n > body->mostBytes) {
        body->tooLarge = true;
        return 0;  // ends the transfer
    }
    body->bytes.append(data, n);
    return n;
}

// Keeps the Content-Range of the answer that ends the transfer (a
// redirect's headers come first and are forgotten).
size_t Header(char* data, size_t size, size_t count, void* context) {
    auto* body = static_cast<Body*>(context);
    const size_t n = size * count;
    const std::string line(data, n);
    if (line.rfind("HTTP/", 0) == 0)
        body->contentRange.clear();
    static const char kName[] = "content-range:";
    if (line.size() > sizeof(kName) - 1) {
        bool named = true;
        for (size_t i = 0; i + 1 < sizeof(kName) && named; ++i)
            named = std::tolower(static_cast<unsigned char>(line[i])) == kName[i];
        if (named)
            body->contentRange = line.substr(sizeof(kName) - 1);
    }
    return n;
}

// One handle for each thread: its connection stays open between requests.
CURL* ThreadHandle() {
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    thread_local std::unique_ptr<CURL, void (*)(CURL*)> handle(curl_easy_init(), curl_easy_cleanup);
    return handle.get();
}

struct Answer {
    std::string bytes;
    long status = 0;
    std::string contentRange;
};

// GET `url`, with `range` ("bytes=..." without the name) when not empty;
// nullopt for 404 and 410.
std::optional<Answer> Get(const std::string& url, uint64_t mostBytes, bool chunk, const std::string& range) {
    CURL* curl = ThreadHandle();
    if (curl == nullptr)
        throw ScanFailure{"cannot start an HTTP transfer for " + url};
    std::string why;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(250 << (attempt - 1)));
        Body body;
        body.curl = curl;
        body.mostBytes = mostBytes;
        char error[CURL_ERROR_SIZE] = "";
        curl_easy_reset(curl);
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Append);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Header);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, &body);
        curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 8L);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 10L);
        // A transfer that gives nothing for this long has stalled.
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kStalledSeconds);
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        if (range.empty())
            curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");  // what the server may compress
        else
            // A range counts the stored bytes: no encoding that would
            // count others.
            curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
        const CURLcode result = curl_easy_perform(curl);
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        if (body.tooLarge)
            throw ScanFailure{url + ": the server sends more than " + BytesText(mostBytes) +
                              ", more than it may be"};
        if (result == CURLE_TOO_MANY_REDIRECTS)
            throw ScanFailure{url + ": the server redirects in a loop"};
        if (result != CURLE_OK) {
            // The network, a stall, a body cut short: worth another try.
            why = error[0] ? error : curl_easy_strerror(result);
            continue;
        }
        if (status == 404 || status == 410)
            return std::nullopt;
        if (status == 401 || status == 403)
            throw ScanFailure{url + ": the server refuses access (HTTP " + std::to_string(status) + ")"};
        if (status >= 500 || status == 429) {
            why = "HTTP " + std::to_string(status);
            continue;
        }
        if (status == 416)
            throw ScanFailure{url + ": the server has no bytes " + range + " (HTTP 416)"};
        if (status < 200 || status >= 300)
            throw ScanFailure{url + ": the server answers HTTP " + std::to_string(status)};
        char* type = nullptr;
        curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type);
        if (chunk && type != nullptr && std::string(type).rfind("text/html", 0) == 0)
            throw ScanFailure{url + ": the server answers with a web page, not a chunk"};
        return Answer{std::move(body.bytes), status, std::move(body.contentRange)};
    }
    throw ScanFailure{url + ": " + why + " (after " + std::to_string(kAttempts) + " attempts)"};
}

}  // namespace

std::optional<std::string> FetchOverHttp(const std::string& url, uint64_t mostBytes, bool chunk) {
    // Chunks come from the cache where they were fetched before (the
    // metadata is asked for afresh: it is small, and may change).
    if (chunk) {
        if (std::optional<CachedChunk> kept = FindCachedChunk(url); kept && kept->bytes.size() <= mostBytes) {
            if (kept->absent)
                return std::nullopt;
            return std::move(kept->bytes);
        }
    }
    std::optional<Answer> answer = Get(url, mostBytes, chunk, "");
    if (chunk)
        ChunkFetched(url, !answer, answer ? std::string_view(answer->bytes) : std::string_view());
    if (!answer)
        return std::nullopt;
    return std::move(answer->bytes);
}

std::optional<HttpRange> FetchRangeOverHttp(const std::string& url, uint64_t offset, uint64_t length,
                                            bool fromEnd, uint64_t mostBytes) {
    if (length == 0)
        throw ScanFailure{url + ": asked for no bytes"};
    const std::string range = fromEnd ? "-" + std::to_string(length)
                                      : std::to_string(offset) + "-" + std::to_string(offset + length - 1);
    // A range kept in the cache holds where its bytes lie before them.
    const std::string key = url + "#bytes=" + range;
    if (std::optional<CachedChunk> kept = FindCachedChunk(key)) {
        if (kept->absent)
            return std::nullopt;
        HttpRange out;
        uint64_t place[3];
        if (kept->bytes.size() >= sizeof(place)) {
            std::memcpy(place, kept->bytes.data(), sizeof(place));
            out.offset = place[0];
            if (place[1] != UINT64_MAX)
                out.total = place[1];
            out.whole = place[2] != 0;
            out.bytes = kept->bytes.substr(sizeof(place));
            return out;
        }
    }
    const auto keep = [&key](const HttpRange& got) {
        const uint64_t place[3] = {got.offset, got.total ? *got.total : UINT64_MAX, got.whole ? 1u : 0u};
        std::string kept(reinterpret_cast<const char*>(place), sizeof(place));
        kept += got.bytes;
        ChunkFetched(key, false, kept);
    };
    std::optional<Answer> answer = Get(url, mostBytes, true, range);
    if (!answer) {
        ChunkFetched(key, true, {});
        return std::nullopt;
    }
    HttpRange out;
    if (answer->status != 206) {
        // A server that takes no ranges sends the whole body.
        out.total = answer->bytes.size();
        out.whole = true;
        out.bytes = std::move(answer->bytes);
        return out;  // not kept: each range would keep the whole body again
    }
    unsigned long long first = 0, last = 0, total = 0;
    char unit[8] = "";
    const int got =
        std::sscanf(answer->contentRange.c_str(), " %7[a-zA-Z] %llu-%llu/%llu", unit, &first, &last, &total);
    if (got < 3 || std::string(unit) != "bytes" || last < first || last - first + 1 != answer->bytes.size())
        throw ScanFailure{
            url + ": the server answers the range " + range + " with bytes it does not place (" +
            std::to_string(answer->bytes.size()) + " bytes, Content-Range \"" +
            answer->contentRange.substr(0, answer->contentRange.find_last_not_of(" \r\n") + 1) + "\")"};
    out.offset = first;
    if (got == 4)
        out.total = total;
    out.bytes = std::move(answer->bytes);
    keep(out);
    return out;
}
