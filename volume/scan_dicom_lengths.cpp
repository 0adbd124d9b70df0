#include "volume/scan_dicom_lengths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint64_t kPreambleBytes = 132;  // 128 free bytes, then "DICM"
constexpr uint32_t kUndefinedLength = 0xFFFFFFFF;
constexpr uint16_t kItemGroup = 0xFFFE, kItem = 0xE000, kSequenceEnd = 0xE0DD;
constexpr uint16_t kPixelGroup = 0x7FE0, kPixelData = 0x0010;
constexpr const char* kImplicitLittle = "1.2.840.10008.1.2";
constexpr const char* kExplicitBig = "1.2.840.10008.1.2.2";
constexpr const char* kDeflated = "1.2.840.10008.1.2.1.99";

// Value representations whose length takes 4 bytes after 2 reserved ones.
bool LongLengthVr(const char vr[2]) {
    static const char* const kLong[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ",
                                        "SV", "UC", "UN", "UR", "UT", "UV"};
    for (const char* name : kLong)
        if (vr[0] == name[0] && vr[1] == name[1])
            return true;
    return false;
}

class Reader {
  public:
    explicit Reader(int fd) : fd_(fd) {}
    bool At(uint64_t offset, void* out, size_t bytes) const {
        return ::pread(fd_, out, bytes, static_cast<off_t>(offset)) == static_cast<ssize_t>(bytes);
    }

  private:
    int fd_;
};

std::string TagText(uint16_t group, uint16_t element) {
    char text[16];
    std::snprintf(text, sizeof(text), "(%04X,%04X)", group, element);
    return text;
}

}  // namespace

std::string CheckDicomLengths(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};  // the reader says why it cannot open it
    struct stat info {};
    char magic[4] = {};
    const Reader in(fd);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !in.At(128, magic, 4) ||
        std::memcmp(magic, "DICM", 4) != 0) {
        ::close(fd);
        return {};
    }
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    std::string syntax;
    bool metaGroup = true, implicit = false, bigEndian = false, encapsulated = false;
    std::string problem;
    for (uint64_t pos = kPreambleBytes; pos + 8 <= size;) {
        uint8_t h[12] = {};
        if (!in.At(pos, h, 8))
            break;
        const auto u16 = [&](const uint8_t* p) {
            return static_cast<uint16_t>(bigEndian ? p[0] << 8 | p[1] : p[1] << 8 | p[0]);
        };
        const auto u32 = [&](const uint8_t* p) {
            return bigEndian ? uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]
                             : uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
        };
        // The meta group is explicit little-endian; the transfer syntax it
        // names holds from the first element after it.
        if (metaGroup && (h[0] | h[1] << 8) != 0x0002) {
            metaGroup = false;
            if (syntax == kDeflated)
                break;  // compressed data set: its lengths are the library's to check
            implicit = syntax == kImplicitLittle;
            bigEndian = syntax == kExplicitBig;
        }
        const uint16_t group = u16(h), element = u16(h + 2);
        uint32_t length;
        uint64_t headerBytes = 8;
        // Sequences and their items are stepped into: their elements follow.
        bool container = false;
        if (group == kItemGroup) {
            if (element != kItem) {  // the end of an item or of a sequence
                encapsulated = encapsulated && element != kSequenceEnd;
                pos += 8;
                continue;
            }
            length = u32(h + 4);
            // Inside encapsulated pixel data an item is a fragment of the
            // compressed picture, not elements.
            container = !encapsulated;
        } else if (implicit) {
            length = u32(h + 4);
        } else if (LongLengthVr(reinterpret_cast<const char*>(h + 4))) {
            if (!in.At(pos + 8, h + 8, 4))
                break;
            length = u32(h + 8);
            headerBytes = 12;
            container = h[4] == 'S' && h[5] == 'Q';
        } else {
            length = u16(h + 6);
        }
        if (length == kUndefinedLength) {
            // An unknown element of undefined length (explicit VR "UN") holds
            // an implicit-VR sequence: its lengths are the library's to check,
            // and so is what follows it.
            if (!implicit && group != kItemGroup && !container &&
                !(group == kPixelGroup && element == kPixelData))
                break;
            if (group == kPixelGroup && element == kPixelData)
                encapsulated = true;
            pos += headerBytes;  // its contents follow as elements or items
            continue;
        }
        const uint64_t left = pos + headerBytes > size ? 0 : size - pos - headerBytes;
        if (length > left) {
            problem = "the file is damaged: its element " + TagText(group, element) + " at byte " +
                      std::to_string(pos) + " states " + std::to_string(length) + " bytes, the file has " +
                      std::to_string(left) + " left";
            break;
        }
        if (metaGroup && group == 0x0002 && element == 0x0010) {
            syntax.resize(length);
            in.At(pos + headerBytes, syntax.data(), length);
            while (!syntax.empty() && (syntax.back() == '\0' || syntax.back() == ' '))
                syntax.pop_back();
        }
        pos += headerBytes + (container ? 0 : length);
    }
    ::close(fd);
    return problem;
}
