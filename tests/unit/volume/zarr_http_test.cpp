// The same stores served by nginx on a loopback port (started and ended
// here): over HTTP they give the samples they give from disk, the first
// read of a large store asks only for the level it shows, a part of a shard
// is read in ranges (or whole from a server that takes none), and a
// server's refusals, loops and web pages are refused naming the URL.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "volume/chunk_cache.h"
#include "volume/scan_import.h"

namespace {

namespace fs = std::filesystem;

int FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(s);
    return ntohs(address.sin_port);
}

bool Accepts(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(s);
    return ok;
}

class ZarrHttpTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("tamlo-zarr-http-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "www");
        fs::create_directories(dir_ / "temp");
        const std::string script = std::string(TAMLO_SOURCE_DIR) + "/tests/unit/volume/make_zarr_stores.py";
        if (::access("/usr/sbin/nginx", X_OK) != 0 ||
            std::system(("/usr/bin/python3 " + script + " " + (dir_ / "www").string() + " 2>/dev/null && " +
                         "/usr/bin/python3 " + script + " " + (dir_ / "www" / "start").string() +
                         " start 2>/dev/null && /usr/bin/python3 " + script + " " + (dir_ / "www").string() +
                         " sparse 2>/dev/null")
                            .c_str()) != 0)
            return;
        fs::copy(dir_ / "www" / "raw.zarr", dir_ / "www" / "page.zarr", fs::copy_options::recursive);
        port_ = FreePort();
        const std::string d = dir_.string();
        std::ofstream(dir_ / "nginx.conf")
            << "daemon off; master_process off; worker_processes 1; pid " << d << "/nginx.pid;\n"
            << "error_log " << d << "/error.log;\nevents {}\nhttp {\n"
            << "  access_log " << d << "/access.log;\n  default_type application/octet-stream;\n"
            << "  client_body_temp_path " << d << "/temp; proxy_temp_path " << d << "/temp;\n"
            << "  fastcgi_temp_path " << d << "/temp; uwsgi_temp_path " << d << "/temp;\n"
            << "  scgi_temp_path " << d << "/temp;\n"
            << "  server {\n    listen 127.0.0.1:" << port_ << ";\n    root " << d << "/www;\n"
            << "    location /secret/ { return 403; }\n    location /loop/ { return 302 /loop/; }\n"
            << "    location /broken.zarr/ { return 503; }\n"
            << "    location /whole/ { alias " << d << "/www/; max_ranges 0; }\n"
            << "    location ~ ^/page\\.zarr/0/[0-9] { default_type text/html; types {} }\n  }\n}\n";
        server_ = ::fork();
        if (server_ == 0) {
            ::execl("/usr/sbin/nginx", "nginx", "-c", (d + "/nginx.conf").c_str(), "-p", d.c_str(), nullptr);
            ::_exit(127);
        }
        for (int i = 0; i < 100 && !Accepts(port_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    static void TearDownTestSuite() {
        if (server_ > 0) {
            ::kill(server_, SIGTERM);
            ::waitpid(server_, nullptr, 0);
        }
        fs::remove_all(dir_);
    }
    void SetUp() override {
        if (server_ <= 0 || !Accepts(port_))
            GTEST_SKIP() << "nginx and /usr/bin/python3 with zarr are needed to serve the stores";
    }
    static std::string Url(const std::string& name) {
        return "http://127.0.0.1:" + std::to_string(port_) + "/" + name;
    }
    // nginx writes a request's line once it has sent the response, so the
    // client can be on to its next request before the last line is there:
    // the log is read until it stays the same a while.
    static std::string AccessLog() {
        const auto read = [] {
            std::ifstream in(dir_ / "access.log");
            std::stringstream text;
            text << in.rdbuf();
            return text.str();
        };
        std::string text = read();
        for (int tries = 0; tries < 100; ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::string again = read();
            if (again == text)
                break;
            text = std::move(again);
        }
        return text;
    }

    static inline fs::path dir_;
    static inline pid_t server_ = -1;
    static inline int port_ = 0;
};

TEST_F(ZarrHttpTest, StoresReadOverHttpAsFromDisk) {
    ClearChunkCache();  // the server is asked for what it serves here
    for (const char* name : {"blosc-lz4.zarr", "zstd.zarr", "sharded.zarr", "tczyx.zarr"}) {
        SCOPED_TRACE(name);
        ScanVolume local, remote;
        std::string error;
        ASSERT_TRUE(ReadScan((dir_ / "www" / name).string(), &local, &error)) << error;
        ASSERT_TRUE(ReadScan(Url(name), &remote, &error)) << error;
        ASSERT_EQ(remote.SampleCount(), local.SampleCount());
        EXPECT_TRUE(
            std::equal(local.samples.get(), local.samples.get() + local.SampleCount(), remote.samples.get()));
    }
    // Limited to small edges, only the coarsest level's chunks are fetched.
    const size_t before = AccessLog().size();
    ValueChoice small;
    small.maxEdge = 5;
    ScanVolume coarse;
    std::string error;
    ASSERT_TRUE(ReadScan(Url("blosc-lz4.zarr/"), &coarse, &error, 0, nullptr, nullptr, small)) << error;
    EXPECT_EQ(coarse.dimX, 5u);
    const std::string requests = AccessLog().substr(before);
    EXPECT_NE(requests.find("/blosc-lz4.zarr/1/0.0.0 "), std::string::npos) << requests;
    EXPECT_EQ(requests.find("/blosc-lz4.zarr/0/0."), std::string::npos) << requests;
}

// A store read again (the whole after a crop, another window) takes its
// chunks from the cache the reader's child hands them to: the server is
// asked for its metadata only. With no room for them they are fetched again.
TEST_F(ZarrHttpTest, AStoreReadAgainFetchesNoChunkTwice) {
    ClearChunkCache();
    ScanVolume first, again, uncached;
    std::string error;
    ASSERT_TRUE(ReadScan(Url("blosc-lz4.zarr"), &first, &error)) << error;
    EXPECT_GT(ChunkCacheBytes(), 0u);
    size_t before = AccessLog().size();
    ASSERT_TRUE(ReadScan(Url("blosc-lz4.zarr"), &again, &error)) << error;
    std::string requests = AccessLog().substr(before);
    EXPECT_NE(requests.find("/blosc-lz4.zarr/0/.zarray "), std::string::npos) << requests;
    EXPECT_EQ(requests.find("/blosc-lz4.zarr/0/0."), std::string::npos) << requests;
    ASSERT_EQ(again.SampleCount(), first.SampleCount());
    EXPECT_TRUE(
        std::equal(first.samples.get(), first.samples.get() + first.SampleCount(), again.samples.get()));

    SetChunkCacheBudget(0);
    before = AccessLog().size();
    ASSERT_TRUE(ReadScan(Url("blosc-lz4.zarr"), &uncached, &error)) << error;
    requests = AccessLog().substr(before);
    EXPECT_NE(requests.find("/blosc-lz4.zarr/0/0."), std::string::npos) << requests;
    SetChunkCacheBudget(uint64_t{256} << 20);
}

// The access log's lines since `from` that ask for `key` (any, for an
// empty one).
std::vector<std::string> Requests(const std::string& log, size_t from, const std::string& key) {
    std::vector<std::string> lines;
    std::istringstream in(log.substr(from));
    for (std::string line; std::getline(in, line);)
        if (line.find(key.empty() ? " /" : " " + key + " HTTP/") != std::string::npos)
            lines.push_back(line);
    return lines;
}

TEST_F(ZarrHttpTest, APartOfAShardIsReadInRanges) {
    ClearChunkCache();  // the server is asked for what it serves here
    ValueChoice part;
    part.level = 0;
    for (int a = 0; a < 3; ++a) {
        part.partLow[a] = 0.05;
        part.partHigh[a] = 0.2;
    }
    part.window = ValueWindow::FullRange;
    // A server that takes ranges, and one that sends the whole shard.
    for (const char* prefix : {"", "whole/"}) {
        for (const char* name : {"shards.zarr", "start/shards.zarr"}) {
            SCOPED_TRACE(std::string(prefix) + name);
            ScanVolume local, remote;
            std::string error;
            ASSERT_TRUE(ReadScan((dir_ / "www" / name).string(), &local, &error, 0, nullptr, nullptr, part))
                << error;
            const size_t before = AccessLog().size();
            ASSERT_TRUE(ReadScan(Url(std::string(prefix) + name), &remote, &error, 0, nullptr, nullptr, part))
                << error;
            ASSERT_TRUE(remote.IsPart());
            for (int a = 0; a < 3; ++a)
                EXPECT_EQ(remote.partOrigin[a], local.partOrigin[a]);
            ASSERT_EQ(remote.SampleCount(), local.SampleCount());
            EXPECT_TRUE(std::equal(local.samples.get(), local.samples.get() + local.SampleCount(),
                                   remote.samples.get()));
            // The shard the part lies in: its index, then the inner chunks
            // wanted, each a range; or once, whole.
            const std::vector<std::string> asked =
                Requests(AccessLog(), before, "/" + std::string(prefix) + name + "/0/c/0/0/0");
            ASSERT_FALSE(asked.empty());
            for (const std::string& line : asked)
                EXPECT_NE(line.find(*prefix ? "\" 200 " : "\" 206 "), std::string::npos) << line;
            EXPECT_EQ(asked.size(), *prefix ? 1u : 2u);
        }
    }
    // A shard cut short, its index pointing past its end, or an index
    // whose checksum fails: refused alike from disk and over HTTP.
    const fs::path www = dir_ / "www";
    fs::copy(www / "shards.zarr", www / "cut-shard.zarr", fs::copy_options::recursive);
    fs::copy(www / "shards.zarr", www / "flipped-index.zarr", fs::copy_options::recursive);
    const auto rewrite = [](const fs::path& path, const std::function<void(std::string*)>& change) {
        std::string bytes;
        {
            std::ifstream in(path, std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(in), {});
        }
        change(&bytes);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    };
    rewrite(www / "cut-shard.zarr/0/c/0/0/0", [](std::string* bytes) { bytes->erase(0, 200); });
    rewrite(www / "flipped-index.zarr/0/c/0/0/0",
            [](std::string* bytes) { (*bytes)[bytes->size() - 20] ^= 1; });
    part.partHigh[0] = 0.5;  // x 0..8: inner chunks 0 and 1 of the shard's x
    for (const auto& [name, says] :
         {std::pair<std::string, std::string>{"cut-shard.zarr",
                                              "cut-shard.zarr/0/c/0/0/0: its index "
                                              "points past the shard (inner chunk "},
          {"flipped-index.zarr",
           "flipped-index.zarr/0/c/0/0/0 (its index): its "
           "crc32c checksum does not match"}}) {
        for (const std::string& path : {(www / name).string(), Url(name), Url("whole/" + name)}) {
            ScanVolume volume;
            std::string error;
            EXPECT_FALSE(ReadScan(path, &volume, &error, 0, nullptr, nullptr, part)) << path;
            EXPECT_NE(error.find(says), std::string::npos) << error;
        }
    }
    TakeScanWarnings();
}

TEST_F(ZarrHttpTest, AHugeStoreFirstShownAtItsCoarsestAsksForNothingFiner) {
    ClearChunkCache();  // the server is asked for what it serves here
    // 16384^3 uint16 at the finest, halving to 128^3, chunks only at the
    // coarsest: the first picture reads the metadata and those chunks.
    const uint64_t budget = uint64_t{64} << 30;
    ValueChoice first;
    first.coarsestFirst = true;
    const size_t before = AccessLog().size();
    ScanVolume coarse, local;
    std::string error;
    ASSERT_TRUE(ReadScan(Url("huge.zarr"), &coarse, &error, budget, nullptr, nullptr, first)) << error;
    EXPECT_EQ(coarse.dimX, 128u);
    EXPECT_EQ(coarse.dimZ, 128u);
    // The usual choice: the finest level with edges of at most 2048 whose
    // values and their 12-bit samples (4 bytes a voxel) fit the memory.
    int32_t usual = -1;
    for (int32_t level = 0; level < 8 && usual < 0; ++level) {
        const uint64_t edge = uint64_t{16384} >> level;
        if (edge <= 2048 && edge * edge * edge * 4 <= budget)
            usual = level;
    }
    EXPECT_EQ(coarse.finerLevel, usual);
    size_t coarsestChunks = 0;
    for (const std::string& line : Requests(AccessLog(), before, "")) {
        const size_t at = line.find("/huge.zarr/");
        if (at == std::string::npos)
            continue;
        // "/huge.zarr/LEVEL/NAME HTTP/1.1"
        const std::string path = line.substr(at + 11, line.find(' ', at) - at - 11);
        const size_t slash = path.find('/');
        if (slash == std::string::npos)
            continue;  // the group's metadata
        const std::string level = path.substr(0, slash), name = path.substr(slash + 1);
        if (level == "7")
            coarsestChunks += name != ".zarray";
        else
            EXPECT_EQ(name, ".zarray") << "a finer level's key asked for: " << line;
    }
    EXPECT_EQ(coarsestChunks, 8u);
    ValueChoice coarsest;
    coarsest.level = 7;
    ASSERT_TRUE(
        ReadScan((dir_ / "www" / "huge.zarr").string(), &local, &error, budget, nullptr, nullptr, coarsest))
        << error;
    ASSERT_EQ(local.SampleCount(), coarse.SampleCount());
    EXPECT_TRUE(
        std::equal(local.samples.get(), local.samples.get() + local.SampleCount(), coarse.samples.get()));
}

TEST_F(ZarrHttpTest, ServerRefusalsAreNamed) {
    const auto refusal = [](const std::string& url) {
        ScanVolume volume;
        std::string error;
        EXPECT_FALSE(ReadScan(url, &volume, &error)) << url;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        return error;
    };
    EXPECT_NE(refusal(Url("secret/store.zarr")).find("refuses access (HTTP 403)"), std::string::npos);
    EXPECT_NE(refusal(Url("loop/store.zarr")).find("redirects in a loop"), std::string::npos);
    // Whichever chunk came first is named.
    const std::string page = refusal(Url("page.zarr"));
    EXPECT_NE(page.find("page.zarr/0/"), std::string::npos) << page;
    EXPECT_NE(page.find(": the server answers with a web page, not a chunk"), std::string::npos) << page;
    EXPECT_NE(refusal(Url("broken.zarr")).find("HTTP 503 (after 4 attempts)"), std::string::npos);
    EXPECT_NE(refusal(Url("missing.zarr")), "");
    TakeScanWarnings();
}

}  // namespace
