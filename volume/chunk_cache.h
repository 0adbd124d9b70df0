// A store's chunks fetched over HTTP, kept in memory so that a level read
// again (the whole volume after a crop, another value window, the finer
// level after the coarsest) fetches none of them twice. The viewer's
// process keeps them, within a share of the memory; each reader runs in a
// child forked from it (scan_isolation.h), so the child sees what was kept
// when it began and hands back what it fetched.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// What is kept for a key: its bytes, or that the server has none (404).
struct CachedChunk {
    bool absent = false;
    std::string bytes;
};

// The kept chunk for `key` (its URL), if any.
std::optional<CachedChunk> FindCachedChunk(const std::string& key);
// Keeps a fetched chunk, the oldest let go beyond the budget; a chunk larger
// than a sixteenth of the budget is not kept.
void KeepChunk(const std::string& key, CachedChunk chunk);
// The bytes the cache may hold: by default an eighth of the memory free when
// it is first used, at most 1 GiB; 0 keeps nothing.
void SetChunkCacheBudget(uint64_t bytes);
uint64_t ChunkCacheBudget();
uint64_t ChunkCacheBytes();
void ClearChunkCache();

// A fetch's result, for the cache: kept here, or in a reader's child handed
// to `handOver` instead (set by the child; empty in the parent).
using ChunkHandOver = std::function<void(const std::string& key, bool absent, std::string_view bytes)>;
void ChunkFetched(const std::string& key, bool absent, std::string_view bytes);
void SetChunkHandOver(ChunkHandOver handOver);

// The message a child sends for a fetched chunk: its bytes, then this
// trailer (so that the parent keeps the bytes where it read them).
std::string FetchedChunkTrailer(const std::string& key, bool absent, uint64_t bytes);
// The chunk of such a message, its bytes moved out of it; false for a
// message that is not one.
bool TakeFetchedChunk(std::string message, std::string* key, CachedChunk* chunk);
