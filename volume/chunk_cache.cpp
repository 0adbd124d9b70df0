#include "volume/chunk_cache.h"

#include <pthread.h>

#include <algorithm>
#include <cstring>
#include <list>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "volume/scan_import.h"

namespace {

constexpr uint64_t kMostBudget = uint64_t{1} << 30;
constexpr uint64_t kEntryOverhead = 64;  // a key's list and map entries, roughly

struct Cache {
    std::mutex lock;
    bool budgetSet = false;
    uint64_t budget = 0, bytes = 0;
    // Newest first; the map points into the list.
    std::list<std::pair<std::string, CachedChunk>> entries;
    std::unordered_map<std::string, std::list<std::pair<std::string, CachedChunk>>::iterator> byKey;
    ChunkHandOver handOver;
};

Cache& TheCache() {
    static Cache* cache = [] {
        auto* made = new Cache;
        // A child forked while another thread holds the lock would wait for
        // it forever: the lock is held across the fork and let go on both
        // sides.
        pthread_atfork([] { TheCache().lock.lock(); }, [] { TheCache().lock.unlock(); },
                       [] { TheCache().lock.unlock(); });
        return made;
    }();
    return *cache;
}

uint64_t EntryBytes(const std::string& key, const CachedChunk& chunk) {
    return key.size() + chunk.bytes.size() + kEntryOverhead;
}

void Evict(Cache& cache, uint64_t room) {
    while (!cache.entries.empty() && cache.bytes + room > cache.budget) {
        const auto& oldest = cache.entries.back();
        cache.bytes -= EntryBytes(oldest.first, oldest.second);
        cache.byKey.erase(oldest.first);
        cache.entries.pop_back();
    }
}

void Append(std::string* out, uint64_t value) {
    out->append(reinterpret_cast<const char*>(&value), sizeof(value));
}

void SetDefaultBudget(Cache& cache) {
    if (!cache.budgetSet) {
        cache.budget = std::min(AvailableMemoryBytes() / 8, kMostBudget);
        cache.budgetSet = true;
    }
}

}  // namespace

std::optional<CachedChunk> FindCachedChunk(const std::string& key) {
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> hold(cache.lock);
    const auto found = cache.byKey.find(key);
    if (found == cache.byKey.end())
        return std::nullopt;
    cache.entries.splice(cache.entries.begin(), cache.entries, found->second);
    return found->second->second;
}

uint64_t ChunkCacheBudget() {
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> hold(cache.lock);
    SetDefaultBudget(cache);
    return cache.budget;
}

void KeepChunk(const std::string& key, CachedChunk chunk) {
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> hold(cache.lock);
    SetDefaultBudget(cache);
    const uint64_t size = EntryBytes(key, chunk);
    if (size > cache.budget / 16)
        return;
    if (const auto found = cache.byKey.find(key); found != cache.byKey.end()) {
        cache.bytes -= EntryBytes(key, found->second->second);
        cache.entries.erase(found->second);
        cache.byKey.erase(found);
    }
    Evict(cache, size);
    cache.entries.emplace_front(key, std::move(chunk));
    cache.byKey[key] = cache.entries.begin();
    cache.bytes += size;
}

void SetChunkCacheBudget(uint64_t bytes) {
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> hold(cache.lock);
    cache.budget = bytes;
    cache.budgetSet = true;
    Evict(cache, 0);
}

uint64_t ChunkCacheBytes() {
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> hold(cache.lock);
    return cache.bytes;
}

void ClearChunkCache() {
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> hold(cache.lock);
    cache.entries.clear();
    cache.byKey.clear();
    cache.bytes = 0;
}

void ChunkFetched(const std::string& key, bool absent, std::string_view bytes) {
    ChunkHandOver handOver;
    {
        Cache& cache = TheCache();
        std::lock_guard<std::mutex> hold(cache.lock);
        handOver = cache.handOver;
    }
    if (handOver)
        handOver(key, absent, bytes);
    else
        KeepChunk(key, CachedChunk{absent, std::string(bytes)});
}

void SetChunkHandOver(ChunkHandOver handOver) {
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> hold(cache.lock);
    cache.handOver = std::move(handOver);
}

std::string FetchedChunkTrailer(const std::string& key, bool absent, uint64_t bytes) {
    std::string trailer = key;
    trailer.push_back(absent ? '\1' : '\0');
    Append(&trailer, key.size());
    Append(&trailer, bytes);
    return trailer;
}

bool TakeFetchedChunk(std::string message, std::string* key, CachedChunk* chunk) {
    uint64_t keyBytes = 0, chunkBytes = 0;
    if (message.size() < 2 * sizeof(uint64_t) + 1)
        return false;
    const size_t lengths = message.size() - 2 * sizeof(uint64_t);
    std::memcpy(&keyBytes, message.data() + lengths, sizeof(keyBytes));
    std::memcpy(&chunkBytes, message.data() + lengths + sizeof(keyBytes), sizeof(chunkBytes));
    if (chunkBytes > lengths || keyBytes != lengths - 1 - chunkBytes)
        return false;
    key->assign(message, chunkBytes, keyBytes);
    chunk->absent = message[chunkBytes + keyBytes] != '\0';
    message.resize(chunkBytes);
    chunk->bytes = std::move(message);
    return true;
}
