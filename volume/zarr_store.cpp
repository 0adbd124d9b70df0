#include "volume/zarr_store.h"

#include <blosc.h>
#include <fcntl.h>
#include <lz4.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "volume/scan_library_output.h"
#include "volume/scan_samples.h"
#include "volume/zarr_http.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// No axis of a level is longer, and no chunk larger: a header that says
// more describes no store anyone wrote for viewing, and the arithmetic of
// larger ones could overflow.
constexpr uint64_t kLongestAxis = uint64_t{1} << 40;
constexpr uint64_t kLargestChunkBytes = uint64_t{1} << 31;
// What a stored chunk or shard may take: its values and what compression
// adds to values that do not compress.
constexpr uint64_t kLargestShardBytes = kLargestChunkBytes + (kLargestChunkBytes >> 4);
// The grid edge a level may have when the caller names no limit: what a
// device's 3D texture holds.
constexpr uint64_t kDefaultMostEdge = 2048;
constexpr unsigned kRequestsInFlight = 16;
constexpr uint64_t kChunkBytesInFlight = 64u << 20;
// Inner chunks of a shard this close together are fetched in one request.
constexpr uint64_t kShardGapBytes = 256u << 10;

[[noreturn]] void Refuse(const std::string& text) {
    throw ScanFailure{text};
}

// A store's folder or file: a path on disk, or a URL.
struct Location {
    std::string text;
    bool Http() const { return text.rfind("http://", 0) == 0 || text.rfind("https://", 0) == 0; }
    Location operator/(const std::string& name) const {
        return {text.empty() ? name : text.back() == '/' ? text + name : text + "/" + name};
    }
    const std::string& string() const { return text; }
};

bool IsFile(const Location& path) {
    struct stat info {};
    return ::stat(path.text.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// A metadata file, whole; nullopt when it is not there. Larger than any
// metadata file is refused rather than read.
std::optional<std::string> ReadSmallFile(const Location& path) {
    if (path.Http())
        return FetchOverHttp(path.text, 64u << 20, false);
    if (!IsFile(path))
        return std::nullopt;
    std::ifstream in(path.text, std::ios::binary);
    std::string bytes;
    char buffer[65536];
    while (in.read(buffer, sizeof(buffer)) || in.gcount() > 0) {
        bytes.append(buffer, static_cast<size_t>(in.gcount()));
        if (bytes.size() > (64u << 20))
            Refuse(path.string() + " is larger than any metadata file (over 64 MB)");
    }
    return bytes;
}

json ParseJson(const Location& path, const std::string& text) {
    json parsed = json::parse(text, nullptr, false);
    if (parsed.is_discarded())
        Refuse(path.string() + " is not JSON");
    return parsed;
}

std::optional<json> ReadJson(const Location& path) {
    const std::optional<std::string> text = ReadSmallFile(path);
    if (!text)
        return std::nullopt;
    return ParseJson(path, *text);
}

// The store's folder for a path that names it or one of its metadata files.
Location StoreFolder(const std::string& path) {
    std::string folder = path;
    for (const char* name : {"/zarr.json", "/.zattrs", "/.zgroup"}) {
        const size_t n = std::strlen(name);
        if (folder.size() >= n && folder.compare(folder.size() - n, n, name) == 0) {
            folder.resize(folder.size() - n);
            break;
        }
    }
    if (folder == "zarr.json" || folder == ".zattrs" || folder == ".zgroup" || folder.empty())
        folder = ".";
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return {folder};
}

// The OME attributes of a group: v3 keeps them under "ome", 0.4 at the top.
const json* OmeAttributes(const json& attributes) {
    if (attributes.is_object() && attributes.contains("ome") && attributes["ome"].is_object() &&
        attributes["ome"].contains("multiscales"))
        return &attributes["ome"];
    if (attributes.is_object() && attributes.contains("multiscales"))
        return &attributes;
    return nullptr;
}

// The group's attributes, from zarr.json (v3) or .zattrs (v2).
std::optional<json> GroupAttributes(const Location& folder, int* format) {
    if (std::optional<json> v3 = ReadJson(folder / "zarr.json")) {
        *format = 3;
        if (v3->is_object() && v3->contains("attributes"))
            return (*v3)["attributes"];
        return json::object();
    }
    *format = 2;
    return ReadJson(folder / ".zattrs");
}

// ---------------------------------------------------------------------------
// An array's header

enum class Codec { Blosc, Zstd, Zlib, Gzip, Lz4, Crc32c };

struct ShardLayout;

struct ArrayHeader {
    Location folder;
    int format = 2;
    std::vector<uint64_t> shape, chunks;
    SampleType type = SampleType::UInt8;
    uint32_t itemBytes = 1;
    bool bigEndian = false;
    // For each chunk axis, its stride (in items) in a decoded chunk: C order,
    // F order or a transpose.
    std::vector<uint64_t> chunkStrides;
    double fill = 0;
    std::string separator = ".";
    bool v3DefaultKeys = false;      // "c/0/0/0" rather than "0.0.0"
    std::vector<Codec> bytesCodecs;  // applied after the array's bytes, in the order written
    std::shared_ptr<ShardLayout> shard;
};

// A v3 shard: inner chunks of `inner` shape, each with its own codecs, and
// an index of (offset, length) pairs.
struct ShardLayout {
    std::vector<uint64_t> inner;
    ArrayHeader innerHeader;  // the inner chunks' codecs and strides
    bool indexAtEnd = true;
    std::vector<Codec> indexCodecs;
};

uint64_t Product(const std::vector<uint64_t>& values) {
    uint64_t product = 1;
    for (uint64_t v : values)
        product *= v;
    return product;
}

std::string Join(const std::vector<uint64_t>& values, const char* between) {
    std::string text;
    for (size_t i = 0; i < values.size(); ++i)
        text += (i ? between : "") + std::to_string(values[i]);
    return text;
}

std::vector<uint64_t> CStrides(const std::vector<uint64_t>& shape) {
    std::vector<uint64_t> strides(shape.size(), 1);
    for (size_t i = shape.size(); i-- > 1;)
        strides[i - 1] = strides[i] * shape[i];
    return strides;
}

// "<u2", "|u1", ">f4" (v2).
void ParseV2Type(const json& dtype, const std::string& key, ArrayHeader* header) {
    if (!dtype.is_string())
        Refuse(key + ": its dtype is not a plain type (structured types are not supported)");
    const std::string text = dtype.get<std::string>();
    if (text.size() < 3 || (text[0] != '<' && text[0] != '>' && text[0] != '|'))
        Refuse(key + ": dtype \"" + text + "\" is not supported");
    header->bigEndian = text[0] == '>';
    const std::string kind = text.substr(1);
    static const std::pair<const char*, SampleType> kTypes[] = {
        {"u1", SampleType::UInt8},  {"i1", SampleType::Int8},   {"u2", SampleType::UInt16},
        {"i2", SampleType::Int16},  {"u4", SampleType::UInt32}, {"i4", SampleType::Int32},
        {"u8", SampleType::UInt64}, {"i8", SampleType::Int64},  {"f4", SampleType::Float32},
        {"f8", SampleType::Float64}};
    for (const auto& [name, type] : kTypes) {
        if (kind == name) {
            header->type = type;
            header->itemBytes = static_cast<uint32_t>(SampleBytes(type));
            return;
        }
    }
    Refuse(key + ": dtype \"" + text + "\" is not supported");
}

void ParseV3Type(const json& dataType, const std::string& key, ArrayHeader* header) {
    static const std::pair<const char*, SampleType> kTypes[] = {
        {"uint8", SampleType::UInt8},    {"int8", SampleType::Int8},     {"uint16", SampleType::UInt16},
        {"int16", SampleType::Int16},    {"uint32", SampleType::UInt32}, {"int32", SampleType::Int32},
        {"uint64", SampleType::UInt64},  {"int64", SampleType::Int64},   {"float32", SampleType::Float32},
        {"float64", SampleType::Float64}};
    const std::string text = dataType.is_string() ? dataType.get<std::string>() : dataType.dump();
    for (const auto& [name, type] : kTypes) {
        if (text == name) {
            header->type = type;
            header->itemBytes = static_cast<uint32_t>(SampleBytes(type));
            return;
        }
    }
    Refuse(key + ": data type " + text + " is not supported");
}

std::vector<uint64_t> ParseSizes(const json& sizes, const std::string& key, const char* what) {
    if (!sizes.is_array() || sizes.empty() || sizes.size() > 5)
        Refuse(key + ": its " + what + " is not a list of 1 to 5 sizes");
    std::vector<uint64_t> out;
    for (const json& size : sizes) {
        if (!size.is_number_unsigned() && !(size.is_number_integer() && size.get<int64_t>() >= 0))
            Refuse(key + ": its " + what + " holds " + size.dump() + ", not a size");
        const uint64_t value = size.get<uint64_t>();
        if (value > kLongestAxis)
            Refuse(key + ": its " + what + " holds " + std::to_string(value) + ", more than any axis can be");
        out.push_back(value);
    }
    return out;
}

double ParseFill(const json& fill) {
    if (fill.is_number())
        return fill.get<double>();
    if (fill.is_string()) {
        const std::string text = fill.get<std::string>();
        if (text == "NaN")
            return std::numeric_limits<double>::quiet_NaN();
        if (text == "Infinity")
            return std::numeric_limits<double>::infinity();
        if (text == "-Infinity")
            return -std::numeric_limits<double>::infinity();
    }
    if (fill.is_boolean())
        return fill.get<bool>() ? 1 : 0;
    return 0;  // null: no fill given; absent chunks read as 0
}

Codec V2Compressor(const json& compressor, const std::string& key) {
    const std::string id = compressor.is_object() && compressor.contains("id") && compressor["id"].is_string()
                               ? compressor["id"].get<std::string>()
                               : compressor.dump();
    if (id == "blosc")
        return Codec::Blosc;
    if (id == "zstd")
        return Codec::Zstd;
    if (id == "zlib")
        return Codec::Zlib;
    if (id == "gzip")
        return Codec::Gzip;
    if (id == "lz4")
        return Codec::Lz4;
    Refuse(key + ": compressor " + id + " is not supported");
}

void CheckChunkBytes(const std::vector<uint64_t>& chunks, uint32_t itemBytes, const std::string& key) {
    long double bytes = itemBytes;
    for (uint64_t c : chunks)
        bytes *= static_cast<long double>(c);
    if (bytes > static_cast<long double>(kLargestChunkBytes))
        Refuse(key + ": a chunk of " + Join(chunks, " x ") + " samples would take " + BytesText(bytes) +
               ", more than a chunk may (" + BytesText(kLargestChunkBytes) + ")");
}

ArrayHeader ReadV2Header(const Location& folder) {
    const Location path = folder / ".zarray";
    const std::string key = path.string();
    const std::optional<json> found = ReadJson(path);
    if (!found)
        Refuse("the level's array header " + key + " is missing");
    const json& meta = *found;
    if (!meta.is_object())
        Refuse(key + " is not a JSON object");
    ArrayHeader header;
    header.folder = folder;
    header.format = 2;
    header.shape = ParseSizes(meta.value("shape", json()), key, "shape");
    header.chunks = ParseSizes(meta.value("chunks", json()), key, "chunks");
    if (header.chunks.size() != header.shape.size())
        Refuse(key + ": its chunks have " + std::to_string(header.chunks.size()) + " axes, its shape " +
               std::to_string(header.shape.size()));
    for (uint64_t c : header.chunks)
        if (c == 0)
            Refuse(key + ": a chunk axis of 0");
    ParseV2Type(meta.value("dtype", json()), key, &header);
    CheckChunkBytes(header.chunks, header.itemBytes, key);
    const std::string order = meta.value("order", std::string("C"));
    if (order != "C" && order != "F")
        Refuse(key + ": order \"" + order + "\" is neither C nor F");
    header.chunkStrides = CStrides(header.chunks);
    if (order == "F") {
        std::vector<uint64_t> reversed(header.chunks.rbegin(), header.chunks.rend());
        std::vector<uint64_t> strides = CStrides(reversed);
        header.chunkStrides.assign(strides.rbegin(), strides.rend());
    }
    header.fill = ParseFill(meta.value("fill_value", json()));
    header.separator = meta.value("dimension_separator", std::string("."));
    if (header.separator != "." && header.separator != "/")
        Refuse(key + ": dimension_separator \"" + header.separator + "\" is neither . nor /");
    const json compressor = meta.value("compressor", json());
    if (!compressor.is_null())
        header.bytesCodecs.push_back(V2Compressor(compressor, key));
    const json filters = meta.value("filters", json());
    if (!filters.is_null() && !(filters.is_array() && filters.empty()))
        Refuse(key + ": filters " + filters.dump() + " are not supported");
    return header;
}

// A v3 codec list: array->array (transpose), array->bytes (bytes or
// sharding_indexed), bytes->bytes (blosc, zstd, gzip, crc32c).
void ParseV3Codecs(const json& codecs, const std::vector<uint64_t>& chunkShape, const std::string& key,
                   ArrayHeader* header, int depth) {
    if (!codecs.is_array() || codecs.empty())
        Refuse(key + ": its codecs are not a list");
    header->chunkStrides = CStrides(chunkShape);
    bool sawArrayToBytes = false;
    for (const json& codec : codecs) {
        const std::string name = codec.is_object() ? codec.value("name", std::string()) : std::string();
        const json config = codec.is_object() ? codec.value("configuration", json::object()) : json::object();
        if (name == "transpose") {
            const json order = config.value("order", json());
            if (!order.is_array() || order.size() != chunkShape.size())
                Refuse(key + ": transpose order " + order.dump() + " does not fit the chunk's axes");
            std::vector<uint64_t> perm;
            std::vector<bool> seen(chunkShape.size(), false);
            for (const json& axis : order) {
                if (!axis.is_number_unsigned() || axis.get<uint64_t>() >= chunkShape.size() ||
                    seen[axis.get<uint64_t>()])
                    Refuse(key + ": transpose order " + order.dump() + " is not a permutation");
                perm.push_back(axis.get<uint64_t>());
                seen[perm.back()] = true;
            }
            // Stored axis i is chunk axis perm[i].
            std::vector<uint64_t> stored;
            for (uint64_t p : perm)
                stored.push_back(chunkShape[p]);
            const std::vector<uint64_t> strides = CStrides(stored);
            for (size_t i = 0; i < perm.size(); ++i)
                header->chunkStrides[perm[i]] = strides[i];
        } else if (name == "bytes") {
            header->bigEndian = config.value("endian", std::string("little")) == "big";
            sawArrayToBytes = true;
        } else if (name == "sharding_indexed") {
            if (depth > 0)
                Refuse(key + ": shards within shards are not supported");
            auto shard = std::make_shared<ShardLayout>();
            shard->inner = ParseSizes(config.value("chunk_shape", json()), key, "inner chunk shape");
            if (shard->inner.size() != chunkShape.size())
                Refuse(key + ": its inner chunks have another number of axes than its chunks");
            for (size_t i = 0; i < chunkShape.size(); ++i)
                if (shard->inner[i] == 0 || chunkShape[i] % shard->inner[i] != 0)
                    Refuse(key + ": inner chunks " + Join(shard->inner, " x ") + " do not divide the shard " +
                           Join(chunkShape, " x "));
            shard->innerHeader.type = header->type;
            shard->innerHeader.itemBytes = header->itemBytes;
            ParseV3Codecs(config.value("codecs", json()), shard->inner, key, &shard->innerHeader, depth + 1);
            shard->indexAtEnd = config.value("index_location", std::string("end")) != "start";
            ArrayHeader index;
            ParseV3Codecs(config.value("index_codecs", json::array({{{"name", "bytes"}}})), {1, 2}, key,
                          &index, depth + 1);
            if (index.bigEndian || index.shard)
                Refuse(key + ": only little-endian shard indexes are supported");
            shard->indexCodecs = index.bytesCodecs;
            header->shard = shard;
            sawArrayToBytes = true;
        } else if (name == "blosc") {
            header->bytesCodecs.push_back(Codec::Blosc);
        } else if (name == "zstd") {
            header->bytesCodecs.push_back(Codec::Zstd);
        } else if (name == "gzip") {
            header->bytesCodecs.push_back(Codec::Gzip);
        } else if (name == "crc32c") {
            header->bytesCodecs.push_back(Codec::Crc32c);
        } else {
            Refuse(key + ": codec " + (name.empty() ? codec.dump() : name) + " is not supported");
        }
    }
    if (!sawArrayToBytes)
        Refuse(key + ": its codecs give no bytes codec");
}

ArrayHeader ReadV3Header(const Location& folder) {
    const Location path = folder / "zarr.json";
    const std::string key = path.string();
    const std::optional<json> found = ReadJson(path);
    if (!found)
        Refuse("the level's array header " + key + " is missing");
    const json& meta = *found;
    if (!meta.is_object() || meta.value("node_type", std::string()) != "array")
        Refuse(key + " is not an array's header");
    ArrayHeader header;
    header.folder = folder;
    header.format = 3;
    header.shape = ParseSizes(meta.value("shape", json()), key, "shape");
    const json grid = meta.value("chunk_grid", json());
    if (!grid.is_object() || grid.value("name", std::string()) != "regular")
        Refuse(key + ": only a regular chunk grid is supported");
    header.chunks = ParseSizes(grid.value("configuration", json::object()).value("chunk_shape", json()), key,
                               "chunk shape");
    if (header.chunks.size() != header.shape.size())
        Refuse(key + ": its chunks have another number of axes than its shape");
    for (uint64_t c : header.chunks)
        if (c == 0)
            Refuse(key + ": a chunk axis of 0");
    ParseV3Type(meta.value("data_type", json()), key, &header);
    CheckChunkBytes(header.chunks, header.itemBytes, key);
    header.fill = ParseFill(meta.value("fill_value", json()));
    const json keys = meta.value("chunk_key_encoding", json::object());
    const std::string encoding = keys.is_object() ? keys.value("name", std::string("default")) : "default";
    header.v3DefaultKeys = encoding != "v2";
    header.separator = header.v3DefaultKeys ? "/" : ".";
    if (keys.is_object())
        header.separator = keys.value("configuration", json::object()).value("separator", header.separator);
    ParseV3Codecs(meta.value("codecs", json()), header.chunks, key, &header, 0);
    return header;
}

// ---------------------------------------------------------------------------
// Codecs

uint32_t Crc32c(const unsigned char* bytes, size_t length) {
    static const std::array<uint32_t, 256> kTable = [] {
        std::array<uint32_t, 256> table{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0x82F63B78u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        return table;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i)
        crc = kTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::string Inflate(const std::string& in, uint64_t expected, const std::string& key) {
    std::string out(expected, '\0');
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 32) != Z_OK)  // zlib or gzip, told by the header
        Refuse(key + ": cannot start inflating");
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    stream.avail_in = static_cast<uInt>(std::min<size_t>(in.size(), std::numeric_limits<uInt>::max()));
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&stream, Z_FINISH);
    const uint64_t produced = stream.total_out;
    inflateEnd(&stream);
    if (status != Z_STREAM_END)
        Refuse(key + ": the chunk does not inflate to " + std::to_string(expected) + " bytes (" +
               (status == Z_BUF_ERROR ? "it holds more or stops early" : "damaged data") + ")");
    out.resize(produced);
    return out;
}

// Undoes one bytes codec. `expected`: the decoded size where the codec is
// the first one written (the array's bytes), else 0 (unknown).
std::string DecodeOne(Codec codec, std::string in, uint64_t expected, const std::string& key) {
    switch (codec) {
        case Codec::Blosc: {
            size_t nbytes = 0, cbytes = 0, blocksize = 0;
            if (in.size() < BLOSC_MIN_HEADER_LENGTH)
                Refuse(key + ": the blosc chunk is shorter than its header");
            blosc_cbuffer_sizes(in.data(), &nbytes, &cbytes, &blocksize);
            if (cbytes != in.size())
                Refuse(key + ": the blosc chunk says it is " + std::to_string(cbytes) + " bytes, it is " +
                       std::to_string(in.size()));
            if (nbytes > kLargestChunkBytes || (expected && nbytes != expected))
                Refuse(key + ": the blosc chunk decodes to " + std::to_string(nbytes) + " bytes, " +
                       std::to_string(expected) + " expected");
            std::string out(nbytes, '\0');
            if (nbytes > 0 &&
                blosc_decompress_ctx(in.data(), out.data(), out.size(), 1) != static_cast<int>(nbytes))
                Refuse(key + ": the blosc chunk fails to decompress");
            return out;
        }
        case Codec::Zstd: {
            const unsigned long long size = ZSTD_getFrameContentSize(in.data(), in.size());
            if (size == ZSTD_CONTENTSIZE_ERROR)
                Refuse(key + ": the chunk is not zstd data");
            uint64_t capacity = size == ZSTD_CONTENTSIZE_UNKNOWN ? expected : size;
            if (capacity > kLargestChunkBytes || (expected && capacity != expected))
                Refuse(key + ": the zstd chunk decodes to " + std::to_string(capacity) + " bytes, " +
                       std::to_string(expected) + " expected");
            std::string out(capacity, '\0');
            const size_t got = ZSTD_decompress(out.data(), out.size(), in.data(), in.size());
            if (ZSTD_isError(got))
                Refuse(key + ": the zstd chunk fails to decompress (" + ZSTD_getErrorName(got) + ")");
            out.resize(got);
            return out;
        }
        case Codec::Zlib:
        case Codec::Gzip:
            return Inflate(in, expected ? expected : kLargestChunkBytes, key);
        case Codec::Lz4: {
            // numcodecs' LZ4: the decoded size, 4 bytes little-endian, then one block.
            if (in.size() < 4)
                Refuse(key + ": the lz4 chunk is shorter than its size");
            const uint32_t size = static_cast<uint32_t>(static_cast<unsigned char>(in[0])) |
                                  static_cast<uint32_t>(static_cast<unsigned char>(in[1])) << 8 |
                                  static_cast<uint32_t>(static_cast<unsigned char>(in[2])) << 16 |
                                  static_cast<uint32_t>(static_cast<unsigned char>(in[3])) << 24;
            if (size > kLargestChunkBytes || (expected && size != expected) || size > INT32_MAX ||
                in.size() - 4 > INT32_MAX)
                Refuse(key + ": the lz4 chunk decodes to " + std::to_string(size) + " bytes, " +
                       std::to_string(expected) + " expected");
            std::string out(size, '\0');
            const int got = LZ4_decompress_safe(in.data() + 4, out.data(), static_cast<int>(in.size() - 4),
                                                static_cast<int>(size));
            if (got != static_cast<int>(size))
                Refuse(key + ": the lz4 chunk fails to decompress");
            return out;
        }
        case Codec::Crc32c: {
            if (in.size() < 4)
                Refuse(key + ": the chunk is shorter than its checksum");
            const size_t length = in.size() - 4;
            uint32_t stored = 0;
            for (int i = 3; i >= 0; --i)
                stored = stored << 8 | static_cast<unsigned char>(in[length + static_cast<size_t>(i)]);
            if (Crc32c(reinterpret_cast<const unsigned char*>(in.data()), length) != stored)
                Refuse(key + ": its crc32c checksum does not match");
            in.resize(length);
            return in;
        }
    }
    return in;
}

// The chunk's array bytes from what is stored, every bytes codec undone;
// `expected` bytes of them (0: as many as there are, a shard's).
std::string DecodeBytes(const std::vector<Codec>& codecs, std::string stored, uint64_t expected,
                        const std::string& key) {
    for (size_t i = codecs.size(); i-- > 0;)
        stored = DecodeOne(codecs[i], std::move(stored), i == 0 ? expected : 0, key);
    if (expected != 0 && stored.size() != expected)
        Refuse(key + ": the chunk holds " + std::to_string(stored.size()) + " bytes, " +
               std::to_string(expected) + " expected");
    return stored;
}

void SwapBytes(std::string* bytes, uint32_t itemBytes) {
    if (itemBytes == 1)
        return;
    for (size_t at = 0; at + itemBytes <= bytes->size(); at += itemBytes)
        std::reverse(bytes->data() + at, bytes->data() + at + itemBytes);
}

std::optional<std::string> ReadChunkFile(const Location& path) {
    if (path.Http())
        return FetchOverHttp(path.text, kLargestShardBytes, true);
    if (!IsFile(path))
        return std::nullopt;
    std::error_code ec;
    const uint64_t size = fs::file_size(path.text, ec);
    if (ec)
        return std::nullopt;
    if (size > kLargestShardBytes)
        Refuse(path.string() + " is larger than any chunk may be");
    std::string bytes(size, '\0');
    std::ifstream in(path.text, std::ios::binary);
    if (!in.read(bytes.data(), static_cast<std::streamsize>(size)))
        Refuse("cannot read " + path.string());
    return bytes;
}

// ---------------------------------------------------------------------------
// A level's values

// Where an array's axes go in the output: for each axis the items
// [first, end) read (all of them for a whole level, a part's range for its
// space axes) and its stride in the output (channel-major: c, t, z, y, x,
// x fastest).
struct Placement {
    std::vector<uint64_t> first, end, outStride;
};

std::string ChunkKey(const ArrayHeader& header, const std::vector<uint64_t>& index) {
    std::string key = header.v3DefaultKeys ? "c" + header.separator : "";
    key += Join(index, header.separator.c_str());
    if (index.empty())
        key = header.v3DefaultKeys ? "c" : "0";
    return key;
}

// Whether the block of `shape` items at `origin` of the array holds any
// item the placement reads.
bool Overlaps(const std::vector<uint64_t>& origin, const std::vector<uint64_t>& shape,
              const Placement& placement) {
    for (size_t i = 0; i < origin.size(); ++i)
        if (origin[i] >= placement.end[i] || origin[i] + shape[i] <= placement.first[i])
            return false;
    return true;
}

// Copies the items of a decoded block (a chunk or a shard's inner chunk)
// at `origin` of the array into `out`, clipped to what the placement reads.
void PlaceBlock(const char* block, const std::vector<uint64_t>& blockShape,
                const std::vector<uint64_t>& blockStrides, const std::vector<uint64_t>& origin, uint32_t item,
                const Placement& placement, char* out) {
    const size_t n = blockShape.size();
    std::vector<uint64_t> extent(n);
    uint64_t inBase = 0, outBase = 0;
    for (size_t i = 0; i < n; ++i) {
        const uint64_t from = std::max(origin[i], placement.first[i]);
        const uint64_t to = std::min(origin[i] + blockShape[i], placement.end[i]);
        if (from >= to)
            return;
        extent[i] = to - from;
        inBase += (from - origin[i]) * blockStrides[i];
        outBase += (from - placement.first[i]) * placement.outStride[i];
    }
    std::vector<uint64_t> at(n, 0);
    // The last axis innermost: a run of it is one memcpy when both sides
    // hold it contiguously.
    const size_t last = n - 1;
    const bool runs = blockStrides[last] == 1 && placement.outStride[last] == 1;
    while (true) {
        uint64_t in = inBase, to = outBase;
        for (size_t i = 0; i < last; ++i) {
            in += at[i] * blockStrides[i];
            to += at[i] * placement.outStride[i];
        }
        if (runs) {
            std::memcpy(out + to * item, block + in * item, extent[last] * item);
        } else {
            for (uint64_t k = 0; k < extent[last]; ++k)
                std::memcpy(out + (to + k * placement.outStride[last]) * item,
                            block + (in + k * blockStrides[last]) * item, item);
        }
        size_t axis = last;
        while (axis-- > 0) {
            if (++at[axis] < extent[axis])
                break;
            at[axis] = 0;
        }
        if (axis == static_cast<size_t>(-1))
            return;
    }
}

// The fill value as one stored item.
std::string FillItem(const ArrayHeader& header) {
    std::string item(header.itemBytes, '\0');
    const double fill = header.fill;
    const auto put = [&](auto value) { std::memcpy(item.data(), &value, sizeof(value)); };
    // Out of the type's range (or NaN for an integer type): 0.
    const auto integral = [&](auto zero) {
        using T = decltype(zero);
        const bool fits = std::isfinite(fill) &&
                          fill >= static_cast<double>(std::numeric_limits<T>::lowest()) &&
                          fill <= static_cast<double>(std::numeric_limits<T>::max());
        put(fits ? static_cast<T>(fill) : T{0});
    };
    switch (header.type) {
        case SampleType::UInt8:
            integral(uint8_t{});
            break;
        case SampleType::Int8:
            integral(int8_t{});
            break;
        case SampleType::UInt16:
            integral(uint16_t{});
            break;
        case SampleType::Int16:
            integral(int16_t{});
            break;
        case SampleType::UInt32:
            integral(uint32_t{});
            break;
        case SampleType::Int32:
            integral(int32_t{});
            break;
        case SampleType::UInt64:
            integral(uint64_t{});
            break;
        case SampleType::Int64:
            integral(int64_t{});
            break;
        case SampleType::Float32:
            put(static_cast<float>(fill));
            break;
        case SampleType::Float64:
            put(fill);
            break;
    }
    return item;
}

// A shard's stored bytes: read whole at once (its bytes codecs undone),
// or for a part a range at a time, its index first and then only the inner
// chunks the part needs: with pread from a file, with Range requests over
// HTTP (a server that ignores them sends the whole shard, kept then).
class ShardBytes {
  public:
    ShardBytes() = default;
    ShardBytes(const ShardBytes&) = delete;
    ShardBytes& operator=(const ShardBytes&) = delete;
    ~ShardBytes() {
        if (file_ >= 0)
            ::close(file_);
    }

    // False when the store leaves the shard out. `indexBytes`: the index's
    // length, at the end or the start, that a ranged read asks for first.
    bool Open(const ArrayHeader& header, const Location& path, bool ranged, uint64_t indexBytes) {
        path_ = path;
        if (!ranged) {
            std::optional<std::string> stored = ReadChunkFile(path);
            if (!stored)
                return false;
            held_ = DecodeBytes(header.bytesCodecs, std::move(*stored), 0, path.string());
            size_ = held_.size();
            return true;
        }
        if (!path.Http()) {
            if (!IsFile(path))
                return false;
            file_ = ::open(path.text.c_str(), O_RDONLY | O_CLOEXEC);
            struct stat info {};
            if (file_ < 0 || ::fstat(file_, &info) != 0)
                Refuse("cannot read " + path.string());
            size_ = static_cast<uint64_t>(info.st_size);
            if (size_ > kLargestShardBytes)
                Refuse(path.string() + " is larger than any chunk may be");
            return true;
        }
        const bool atEnd = header.shard->indexAtEnd;
        std::optional<HttpRange> got =
            FetchRangeOverHttp(path.text, 0, indexBytes, atEnd, kLargestShardBytes);
        if (!got)
            return false;
        if (!got->total)
            Refuse(path.string() + ": the server answers a range without the shard's length");
        size_ = *got->total;
        if (size_ > kLargestShardBytes)
            Refuse(path.string() + " is larger than any chunk may be");
        Hold(std::move(*got));
        return true;
    }
    uint64_t Size() const { return size_; }

    // [offset, offset + length), within Size().
    std::string Read(uint64_t offset, uint64_t length) {
        if (offset >= heldAt_ && offset - heldAt_ <= held_.size() &&
            length <= held_.size() - (offset - heldAt_))
            return held_.substr(offset - heldAt_, length);
        if (file_ >= 0) {
            std::string bytes(length, '\0');
            for (uint64_t done = 0; done < length;) {
                const ssize_t n =
                    ::pread(file_, bytes.data() + done, length - done, static_cast<off_t>(offset + done));
                if (n <= 0)
                    Refuse("cannot read " + path_.string() + " (bytes " + std::to_string(offset) + " to " +
                           std::to_string(offset + length) + ")");
                done += static_cast<uint64_t>(n);
            }
            return bytes;
        }
        std::optional<HttpRange> got =
            FetchRangeOverHttp(path_.text, offset, length, false, kLargestShardBytes);
        if (!got)
            Refuse(path_.string() + ": the shard is gone while it is read");
        if ((got->total && *got->total != size_) || (got->whole && got->bytes.size() != size_))
            Refuse(path_.string() + ": the shard changes length while it is read");
        Hold(std::move(*got));
        if (!(offset >= heldAt_ && offset - heldAt_ <= held_.size() &&
              length <= held_.size() - (offset - heldAt_)))
            Refuse(path_.string() + ": the server answers another range than bytes " +
                   std::to_string(offset) + " to " + std::to_string(offset + length));
        return held_.substr(offset - heldAt_, length);
    }

  private:
    void Hold(HttpRange got) {
        held_ = std::move(got.bytes);
        heldAt_ = got.offset;
    }

    Location path_;
    std::string held_;  // bytes [heldAt_, heldAt_ + held_.size()) of the shard
    uint64_t heldAt_ = 0;
    uint64_t size_ = 0;
    int file_ = -1;
};

// Reads the chunk at `index` of the chunk grid and places the items of it
// that the placement reads into `out`, decoded, in this machine's byte
// order; a chunk the store leaves out leaves the fill value there. A shard
// decodes only its inner chunks that hold such items.
void ReadChunkInto(const ArrayHeader& header, const std::vector<uint64_t>& index, const Placement& placement,
                   char* out) {
    const std::string name = ChunkKey(header, index);
    const Location path = header.folder / name;
    const std::string key = path.string();
    std::vector<uint64_t> origin(index.size());
    for (size_t a = 0; a < index.size(); ++a)
        origin[a] = index[a] * header.chunks[a];
    const uint64_t items = Product(header.chunks);
    if (!header.shard) {
        std::optional<std::string> stored = ReadChunkFile(path);
        if (!stored)
            return;
        std::string bytes =
            DecodeBytes(header.bytesCodecs, std::move(*stored), items * header.itemBytes, key);
        if (header.bigEndian)
            SwapBytes(&bytes, header.itemBytes);
        PlaceBlock(bytes.data(), header.chunks, header.chunkStrides, origin, header.itemBytes, placement,
                   out);
        return;
    }
    // A shard: its bytes codecs wrap the whole shard, its index lists the
    // inner chunks, each decoded with its own codecs into place.
    const ShardLayout& shard = *header.shard;
    std::vector<uint64_t> innerGrid;
    for (size_t i = 0; i < header.chunks.size(); ++i)
        innerGrid.push_back(header.chunks[i] / shard.inner[i]);
    const uint64_t innerCount = Product(innerGrid);
    uint64_t indexBytes = innerCount * 16;
    for (Codec codec : shard.indexCodecs)
        if (codec == Codec::Crc32c)
            indexBytes += 4;
        else
            Refuse(key + ": only a checksum may wrap a shard's index");
    // A shard the read takes whole is fetched whole, in one request; of one
    // it takes in part, only the index and the inner chunks wanted (unless
    // codecs wrap the whole shard, which then must be undone whole).
    bool within = true;
    for (size_t a = 0; a < origin.size(); ++a)
        within &= placement.first[a] <= origin[a] &&
                  std::min(origin[a] + header.chunks[a], header.shape[a]) <= placement.end[a];
    ShardBytes bytes;
    if (!bytes.Open(header, path, !within && header.bytesCodecs.empty(), indexBytes))
        return;
    if (bytes.Size() < indexBytes)
        Refuse(key + ": the shard is shorter than its index");
    const uint64_t indexAt = shard.indexAtEnd ? bytes.Size() - indexBytes : 0;
    const std::string indexText = DecodeBytes(shard.indexCodecs, bytes.Read(indexAt, indexBytes),
                                              innerCount * 16, key + " (its index)");
    // The inner chunks wanted, where they lie in the shard.
    struct Wanted {
        uint64_t offset, length;
        std::vector<uint64_t> index, origin;
    };
    std::vector<Wanted> wanted;
    std::vector<uint64_t> innerIndex(innerGrid.size(), 0), innerOrigin(innerGrid.size(), 0);
    for (uint64_t i = 0; i < innerCount; ++i) {
        // C order over the inner chunks.
        uint64_t rest = i;
        for (size_t a = innerGrid.size(); a-- > 0;) {
            innerIndex[a] = rest % innerGrid[a];
            innerOrigin[a] = origin[a] + innerIndex[a] * shard.inner[a];
            rest /= innerGrid[a];
        }
        if (!Overlaps(innerOrigin, shard.inner, placement))
            continue;
        uint64_t offset = 0, length = 0;
        for (int b = 7; b >= 0; --b) {
            offset = offset << 8 | static_cast<unsigned char>(indexText[i * 16 + static_cast<size_t>(b)]);
            length = length << 8 | static_cast<unsigned char>(indexText[i * 16 + 8 + static_cast<size_t>(b)]);
        }
        if (offset == UINT64_MAX && length == UINT64_MAX)
            continue;  // left out: the fill value
        if (offset > bytes.Size() || length > bytes.Size() - offset)
            Refuse(key + ": its index points past the shard (inner chunk " + Join(innerIndex, ",") + ")");
        wanted.push_back({offset, length, innerIndex, innerOrigin});
    }
    // In the shard's order, those close together read at once: over HTTP a
    // request costs more than a few bytes between.
    std::sort(wanted.begin(), wanted.end(),
              [](const Wanted& a, const Wanted& b) { return a.offset < b.offset; });
    const uint64_t mostGap = path.Http() ? kShardGapBytes : 0;
    const uint64_t innerItems = Product(shard.inner);
    const ArrayHeader& inner = shard.innerHeader;
    for (size_t first = 0; first < wanted.size();) {
        uint64_t end = wanted[first].offset + wanted[first].length;
        size_t last = first + 1;
        while (last < wanted.size() && wanted[last].offset <= end + mostGap &&
               wanted[last].offset + wanted[last].length - wanted[first].offset <= kLargestShardBytes) {
            end = std::max(end, wanted[last].offset + wanted[last].length);
            ++last;
        }
        const uint64_t runAt = wanted[first].offset;
        const std::string run = bytes.Read(runAt, end - runAt);
        for (size_t w = first; w < last; ++w) {
            const std::string innerKey = key + " (inner chunk " + Join(wanted[w].index, ",") + ")";
            std::string decoded =
                DecodeBytes(inner.bytesCodecs, run.substr(wanted[w].offset - runAt, wanted[w].length),
                            innerItems * header.itemBytes, innerKey);
            if (inner.bigEndian)
                SwapBytes(&decoded, header.itemBytes);
            PlaceBlock(decoded.data(), shard.inner, inner.chunkStrides, wanted[w].origin, header.itemBytes,
                       placement, out);
        }
        first = last;
    }
}

// ---------------------------------------------------------------------------
// OME metadata

struct Axis {
    std::string name, type, unit;
};

// Millimetres per unit of a space axis; 1 when the unit is unknown.
double MillimetresPer(const std::string& unit) {
    static const std::pair<const char*, double> kUnits[] = {
        {"millimeter", 1}, {"micrometer", 1e-3}, {"nanometer", 1e-6}, {"centimeter", 10},
        {"meter", 1e3},    {"picometer", 1e-9},  {"angstrom", 1e-7},  {"mm", 1},
        {"um", 1e-3},      {"\u00b5m", 1e-3},    {"nm", 1e-6}};
    for (const auto& [name, factor] : kUnits)
        if (unit == name)
            return factor;
    return 1;
}

struct Multiscale {
    std::vector<Axis> axes;
    struct Dataset {
        std::string path;
        std::vector<double> scale;
    };
    std::vector<Dataset> datasets;
};

Multiscale ParseMultiscale(const json& ome, const std::string& key) {
    const json& list = ome["multiscales"];
    if (!list.is_array() || list.empty() || !list[0].is_object())
        Refuse(key + ": its multiscales list is empty");
    const json& first = list[0];
    Multiscale out;
    const json axes = first.value("axes", json());
    if (axes.is_array()) {
        for (const json& axis : axes) {
            Axis a;
            if (axis.is_string()) {
                a.name = axis.get<std::string>();  // 0.3: names alone
            } else if (axis.is_object()) {
                a.name = axis.value("name", std::string());
                a.type = axis.value("type", std::string());
                a.unit = axis.value("unit", std::string());
            }
            out.axes.push_back(a);
        }
    }
    const json datasets = first.value("datasets", json());
    if (!datasets.is_array() || datasets.empty())
        Refuse(key + ": its multiscale has no datasets");
    for (const json& dataset : datasets) {
        if (!dataset.is_object() || !dataset.contains("path") || !dataset["path"].is_string())
            Refuse(key + ": a dataset has no path");
        Multiscale::Dataset d;
        d.path = dataset["path"].get<std::string>();
        if (d.path.empty() || d.path.find("..") != std::string::npos || d.path[0] == '/')
            Refuse(key + ": dataset path \"" + d.path + "\" leaves the store");
        const json transforms = dataset.value("coordinateTransformations", json());
        if (transforms.is_array())
            for (const json& t : transforms)
                if (t.is_object() && t.value("type", std::string()) == "scale" && t.contains("scale") &&
                    t["scale"].is_array())
                    for (const json& v : t["scale"])
                        d.scale.push_back(v.is_number() ? v.get<double>() : 1.0);
        out.datasets.push_back(d);
    }
    return out;
}

// Which array axis is x, y, z, channel and time (-1: none).
struct AxisRoles {
    int x = -1, y = -1, z = -1, c = -1, t = -1;
};

AxisRoles RolesOf(const std::vector<Axis>& axes, size_t rank, const std::string& key) {
    AxisRoles roles;
    std::vector<Axis> named = axes;
    if (named.empty()) {
        // Before axes were named: t, c, z, y, x, the last ones kept.
        static const char* const kDefault[] = {"t", "c", "z", "y", "x"};
        for (size_t i = 5 - std::min<size_t>(rank, 5); i < 5; ++i)
            named.push_back({kDefault[i], "", ""});
    }
    if (named.size() != rank)
        Refuse(key + ": its axes name " + std::to_string(named.size()) + " axes, the array has " +
               std::to_string(rank));
    std::vector<int> space;
    for (size_t i = 0; i < named.size(); ++i) {
        const Axis& a = named[i];
        const int at = static_cast<int>(i);
        if (a.type == "time" || (a.type.empty() && a.name == "t"))
            roles.t = roles.t < 0 ? at : -2;
        else if (a.type == "channel" || (a.type.empty() && a.name == "c"))
            roles.c = roles.c < 0 ? at : -2;
        else
            space.push_back(at);
    }
    if (roles.t == -2 || roles.c == -2)
        Refuse(key + ": two time or two channel axes");
    if (space.empty() || space.size() > 3)
        Refuse(key + ": " + std::to_string(space.size()) + " space axes; 1 to 3 can be shown");
    for (int s : space) {
        const std::string& name = named[static_cast<size_t>(s)].name;
        int* role = name == "x" ? &roles.x : name == "y" ? &roles.y : name == "z" ? &roles.z : nullptr;
        if (role != nullptr && *role < 0)
            *role = s;
    }
    // Space axes not named x, y, z: in order z, y, x, the last fastest.
    if (roles.x < 0 || (space.size() > 1 && roles.y < 0) || (space.size() > 2 && roles.z < 0)) {
        roles.x = space.back();
        roles.y = space.size() > 1 ? space[space.size() - 2] : -1;
        roles.z = space.size() > 2 ? space[space.size() - 3] : -1;
    }
    return roles;
}

uint64_t AxisSize(const ArrayHeader& header, int axis) {
    return axis < 0 ? 1 : header.shape[static_cast<size_t>(axis)];
}

// A part of the box must be one: on each axis low < high, both numbers,
// and some of it within the box.
void CheckPart(const ValueChoice& choice) {
    for (int axis = 0; axis < 3; ++axis) {
        const double low = choice.partLow[axis], high = choice.partHigh[axis];
        char range[96];
        std::snprintf(range, sizeof(range), "%c %g..%g", "xyz"[axis], low, high);
        if (!(low < high) || std::isnan(low) || std::isnan(high))
            Refuse("the part " + std::string(range) + " of the box is empty (each axis needs low < high)");
        if (low >= 1 || high <= 0)
            Refuse("the part " + std::string(range) + " lies outside the box (0..1)");
    }
}

// The voxels [first, end) along an axis of `size` that the part [low, high]
// of the box covers: whole voxels, and one more on each side within the
// grid, so that filtering at the part's faces meets the neighbours it meets
// in the whole level.
// The voxels a part keeps beyond its range on each side: one that filtering
// at the range's faces reads, and one more that the shading gradient's
// kernel reads for it, so that a part is drawn and lit as the whole level is.
constexpr uint64_t kPartMargin = 2;

void PartRange(double low, double high, uint64_t size, uint64_t* first, uint64_t* end) {
    *first = *end = 0;
    if (size == 0)
        return;  // an empty level: nothing to read, as for the whole
    // In doubles, as the fractions are: 0.2 of 5 voxels is the voxel edge 1,
    // not a hair past it.
    const double n = static_cast<double>(size);
    const double from = std::floor(std::clamp(low, 0.0, 1.0) * n);
    const double to = std::ceil(std::clamp(high, 0.0, 1.0) * n);
    *first = from < kPartMargin ? 0 : std::min(static_cast<uint64_t>(from) - kPartMargin, size - 1);
    *end = std::min(static_cast<uint64_t>(to) + kPartMargin, size);
    if (*end <= *first)
        *end = *first + 1;
}

// The grid of the part `choice` names on a level of `dims` (the whole grid
// for a whole read), and where it begins.
void PartGrid(const ValueChoice& choice, const uint64_t dims[3], uint64_t origin[3], uint64_t part[3]) {
    for (int axis = 0; axis < 3; ++axis) {
        uint64_t first = 0, end = dims[axis];
        if (!choice.Whole())
            PartRange(choice.partLow[axis], choice.partHigh[axis], dims[axis], &first, &end);
        origin[axis] = first;
        part[axis] = end - first;
    }
}

// The memory a read of `items` stored values takes: them and their 12-bit
// result.
long double ReadBytes(long double items, uint32_t itemBytes) {
    return items * itemBytes + 2.0L * items;
}

}  // namespace

// Everything a level needs to be read: its array's header and which of its
// axes is which.
struct ZarrArray {
    ArrayHeader header;
    AxisRoles roles;
};

bool IsOmeZarrStore(const std::string& path) {
    try {
        const Location folder = StoreFolder(path);
        std::error_code ec;
        if (!folder.Http() && !fs::is_directory(folder.text, ec))
            return false;
        int format = 2;
        const std::optional<json> attributes = GroupAttributes(folder, &format);
        return attributes && OmeAttributes(*attributes) != nullptr;
    } catch (const ScanFailure&) {
        return true;  // a store whose metadata is broken: reading it says so
    }
}

ZarrStore OpenOmeZarrStore(const std::string& path) {
    const Location folder = StoreFolder(path);
    int format = 2;
    const std::optional<json> attributes = GroupAttributes(folder, &format);
    const std::string key = (folder / (format == 3 ? "zarr.json" : ".zattrs")).string();
    if (!attributes)
        Refuse("the store's group metadata " + key + " is missing");
    const json* ome = OmeAttributes(*attributes);
    if (ome == nullptr)
        Refuse(key + " holds no OME multiscales metadata");
    const Multiscale multiscale = ParseMultiscale(*ome, key);
    ZarrStore store;
    store.root = folder.string();
    store.version = ome->value("version", std::string());
    if (store.version.empty() && ome->contains("multiscales") && (*ome)["multiscales"][0].is_object())
        store.version = (*ome)["multiscales"][0].value("version", std::string(format == 3 ? "0.5" : "0.4"));
    for (const Multiscale::Dataset& dataset : multiscale.datasets) {
        ZarrArray array;
        array.header =
            format == 3 ? ReadV3Header(folder / dataset.path) : ReadV2Header(folder / dataset.path);
        const std::string arrayKey = (folder / dataset.path).string();
        array.roles = RolesOf(multiscale.axes, array.header.shape.size(), arrayKey);
        ZarrLevel level;
        level.path = dataset.path;
        const int space[3] = {array.roles.x, array.roles.y, array.roles.z};
        for (int i = 0; i < 3; ++i) {
            level.dims[i] = AxisSize(array.header, space[i]);
            if (space[i] >= 0) {
                const size_t a = static_cast<size_t>(space[i]);
                const double scale = a < dataset.scale.size() ? dataset.scale[a] : 1.0;
                const std::string unit = a < multiscale.axes.size() ? multiscale.axes[a].unit : "";
                level.spacing[i] = std::isfinite(scale) && scale > 0 ? scale * MillimetresPer(unit) : 1.0;
            }
        }
        level.channels =
            static_cast<uint32_t>(std::min<uint64_t>(AxisSize(array.header, array.roles.c), UINT32_MAX));
        level.timePoints =
            static_cast<uint32_t>(std::min<uint64_t>(AxisSize(array.header, array.roles.t), UINT32_MAX));
        level.sampleType = SampleTypeName(array.header.type);
        long double bytes = array.header.itemBytes;
        for (uint64_t s : array.header.shape)
            bytes *= static_cast<long double>(s);
        level.bytes = bytes > 1e19L ? UINT64_MAX : static_cast<uint64_t>(bytes);
        store.levels.push_back(level);
        store.arrays.push_back(std::make_shared<const ZarrArray>(std::move(array)));
    }
    return store;
}

size_t ChooseZarrLevel(const ZarrStore& store, const ValueChoice& choice, uint64_t budget) {
    if (!choice.Whole())
        CheckPart(choice);
    if (choice.level >= 0) {
        if (static_cast<size_t>(choice.level) >= store.levels.size())
            Refuse("--level " + std::to_string(choice.level) + ": the store has " +
                   std::to_string(store.levels.size()) + " levels (0 to " +
                   std::to_string(store.levels.size() - 1) + ")");
        return static_cast<size_t>(choice.level);
    }
    const uint64_t mostEdge = choice.maxEdge ? choice.maxEdge : kDefaultMostEdge;
    for (size_t i = 0; i < store.levels.size(); ++i) {
        const ZarrLevel& level = store.levels[i];
        // A part is measured as what is read: its own grid.
        uint64_t origin[3], part[3];
        PartGrid(choice, level.dims, origin, part);
        const bool fitsEdge = std::max({part[0], part[1], part[2]}) <= mostEdge;
        const long double items =
            static_cast<long double>(part[0]) * part[1] * part[2] * level.channels * level.timePoints;
        if (fitsEdge &&
            ReadBytes(items, store.arrays[i]->header.itemBytes) <= static_cast<long double>(budget))
            return i;
    }
    return store.levels.size() - 1;
}

void ReadOmeZarrLevel(const ZarrStore& store, size_t level, uint64_t budget, const ValueChoice& choice,
                      ScanProgress progress, void* context, ScanVolume* volume) {
    const ZarrArray& array = *store.arrays[level];
    const ArrayHeader& header = array.header;
    const ZarrLevel& info = store.levels[level];
    if (!choice.Whole())
        CheckPart(choice);
    uint64_t origin[3], part[3];
    PartGrid(choice, info.dims, origin, part);
    const uint64_t nx = part[0], ny = part[1], nz = part[2];
    const long double items =
        header.itemBytes ? static_cast<long double>(nx) * ny * nz * info.channels * info.timePoints : 0;
    if (items == 0)
        Refuse("level " + std::to_string(level) + " (" + (Location{store.root} / info.path).string() +
               ") has no samples");
    const long double need = ReadBytes(items, header.itemBytes);
    if (need > static_cast<long double>(budget))
        Refuse("too large: " + std::string(choice.Whole() ? "" : "the part of ") + "level " +
               std::to_string(level) + " (" + std::to_string(nx) + " x " + std::to_string(ny) + " x " +
               std::to_string(nz) + ") needs " + BytesText(need) + " of memory, " + BytesText(budget) +
               " is free");
    if (info.channels > kMostScanChannels || info.timePoints > kMostScanTimePoints)
        Refuse("level " + std::to_string(level) + " has " + std::to_string(info.channels) + " channels and " +
               std::to_string(info.timePoints) + " time points, more than can be read");
    const uint64_t bytes = static_cast<uint64_t>(items) * header.itemBytes;
    // The output: channel-major, then time, z, y, x; of the space axes only
    // the part's range.
    Placement placement;
    placement.first.assign(header.shape.size(), 0);
    placement.end = header.shape;
    placement.outStride.assign(header.shape.size(), 0);
    const uint64_t grid = nx * ny * nz;
    const auto place = [&](int axis, uint64_t stride, int spaceAxis = -1) {
        if (axis < 0)
            return;
        const size_t a = static_cast<size_t>(axis);
        placement.outStride[a] = stride;
        if (spaceAxis >= 0) {
            placement.first[a] = origin[spaceAxis];
            placement.end[a] = origin[spaceAxis] + part[spaceAxis];
        }
    };
    place(array.roles.x, 1, 0);
    place(array.roles.y, nx, 1);
    place(array.roles.z, nx * ny, 2);
    place(array.roles.t, grid);
    place(array.roles.c, grid * info.timePoints);
    std::unique_ptr<char[]> values = AllocateScanBuffer(bytes);
    const std::string fill = FillItem(header);
    for (uint64_t at = 0; at < bytes; at += header.itemBytes)
        std::memcpy(values.get() + at, fill.data(), header.itemBytes);
    // The chunks that hold what is read, decoded on every core: each chunk
    // writes its own part.
    std::vector<uint64_t> firstChunk, chunkSpan;
    for (size_t i = 0; i < header.shape.size(); ++i) {
        firstChunk.push_back(placement.first[i] / header.chunks[i]);
        chunkSpan.push_back((placement.end[i] - 1) / header.chunks[i] + 1 - firstChunk.back());
    }
    const uint64_t chunkCount = Product(chunkSpan);
    std::atomic<uint64_t> next{0}, done{0};
    std::mutex failureLock;
    std::optional<ScanFailure> failure;
    const auto work = [&](bool reports) {
        for (uint64_t i = next++; i < chunkCount; i = next++) {
            if (reports && progress != nullptr)
                progress(static_cast<double>(done) / static_cast<double>(chunkCount), context);
            std::vector<uint64_t> index(chunkSpan.size());
            uint64_t rest = i;
            for (size_t a = chunkSpan.size(); a-- > 0;) {
                index[a] = firstChunk[a] + rest % chunkSpan[a];
                rest /= chunkSpan[a];
            }
            try {
                ReadChunkInto(header, index, placement, values.get());
            } catch (const ScanFailure& f) {
                std::lock_guard<std::mutex> hold(failureLock);
                if (!failure)
                    failure = f;
                next = chunkCount;
                return;
            } catch (const std::bad_alloc&) {
                std::lock_guard<std::mutex> hold(failureLock);
                if (!failure)
                    failure = ScanFailure{"not enough memory to decode a chunk"};
                next = chunkCount;
                return;
            }
            ++done;
        }
    };
    // Over HTTP most of a chunk's time is waiting: many requests in flight,
    // as many as keep the chunks held at once (each stored and decoded)
    // within kChunkBytesInFlight.
    const uint64_t chunkBytes = Product(header.chunks) * header.itemBytes;
    const unsigned byMemory = static_cast<unsigned>(
        std::clamp<uint64_t>(kChunkBytesInFlight / std::max<uint64_t>(2 * chunkBytes, 1), 1, 64));
    const unsigned threads = static_cast<unsigned>(std::min<uint64_t>(
        chunkCount,
        std::min(byMemory, header.folder.Http() ? kRequestsInFlight
                                                : std::clamp(std::thread::hardware_concurrency(), 1u, 8u))));
    std::vector<std::thread> workers;
    for (unsigned t = 1; t < threads; ++t)
        workers.emplace_back(work, false);
    // This thread decodes too, and says how far the read has come.
    work(true);
    for (std::thread& w : workers)
        w.join();
    if (failure)
        throw *failure;
    if (progress != nullptr)
        progress(1.0, context);
    scan_mapping::Grid placed;
    placed.dims = {nx, ny, nz};
    placed.spacing = {info.spacing[0], info.spacing[1], info.spacing[2]};
    // The store's x, y, z are the program's x, y, z: directions that the
    // turn to the program's axes (x left, y superior, z posterior) keeps.
    placed.directions = {{{1, 0, 0}, {0, 0, 1}, {0, 1, 0}}};
    FinishScan(header.type, std::move(values), placed, choice, false, volume, info.channels, info.timePoints);
    volume->patientAxes = false;
    volume->format = "OME-Zarr " + store.version + ", level " + std::to_string(level) + " of " +
                     std::to_string(store.levels.size());
    volume->storeLevels = ZarrLevelsText(store);
    if (!choice.Whole()) {
        for (int axis = 0; axis < 3; ++axis) {
            volume->wholeDims[axis] = info.dims[axis];
            volume->partOrigin[axis] = origin[axis];
        }
    }
}

std::string ZarrLevelsText(const ZarrStore& store) {
    std::string text;
    for (size_t i = 0; i < store.levels.size(); ++i) {
        const ZarrLevel& level = store.levels[i];
        char line[256];
        std::snprintf(
            line, sizeof(line), "level %zu: %llu x %llu x %llu, %g x %g x %g mm%s%s\n", i,
            static_cast<unsigned long long>(level.dims[0]), static_cast<unsigned long long>(level.dims[1]),
            static_cast<unsigned long long>(level.dims[2]), level.spacing[0], level.spacing[1],
            level.spacing[2],
            level.channels > 1 ? (", " + std::to_string(level.channels) + " channels").c_str() : "",
            level.timePoints > 1 ? (", " + std::to_string(level.timePoints) + " time points").c_str() : "");
        text += line;
    }
    return text;
}
