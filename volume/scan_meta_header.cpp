#include "volume/scan_meta_header.h"

#include <array>
#include <cctype>
#include <fstream>

namespace {

// The library's buffers hold this many characters and the closing zero.
constexpr size_t kLongestText = 254;
// It reads a name or a value of at most this many characters, and stops
// reading the header at a longer name.
constexpr size_t kLongestRead = 499;

constexpr std::array<const char*, 5> kFixedTextFields = {"Comment", "Name", "ObjectType", "ObjectSubType",
                                                         "AcquisitionDate"};

bool IsSeparator(int c) {
    return c == '=' || c == ':';
}

std::string TooLong(const std::string& what, size_t length) {
    return what + " is " + std::to_string(length) + " characters long (at most " +
           std::to_string(kLongestText) + " can be read)";
}

}  // namespace

// Reads the header as the library does: a name runs from the first character
// that is not white space to a separator or the line's end; its value from
// past the next separator (and blanks) to the line's end. The header ends at
// ElementDataFile, after which the samples may follow.
std::string CheckMetaImageHeader(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    int c = in.get();
    while (c != EOF) {
        while (c != EOF && std::isspace(c))
            c = in.get();
        std::string name;
        while (c != EOF && !IsSeparator(c) && c != '\r' && c != '\n' && name.size() <= kLongestRead) {
            name += static_cast<char>(c);
            c = in.get();
        }
        if (c == EOF || name.size() > kLongestRead)
            return {};  // where the library stops without copying the name
        while (name.size() > 1 && (name.back() == ' ' || name.back() == '\t'))
            name.pop_back();
        if (name.size() > kLongestText)
            return TooLong("a field name in the MetaImage header", name.size());
        if (name == "ElementDataFile")
            return {};
        while (c != EOF && !IsSeparator(c))
            c = in.get();
        while (c != EOF && (IsSeparator(c) || c == ' ' || c == '\t'))
            c = in.get();
        std::string value;
        while (c != EOF && c != '\n' && value.size() < kLongestRead) {
            value += static_cast<char>(c);
            c = in.get();
        }
        while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())))
            value.pop_back();
        for (const char* field : kFixedTextFields)
            if (name == field && value.size() > kLongestText)
                return TooLong("the MetaImage header's " + name, value.size());
        while (c != EOF && c != '\n')
            c = in.get();
    }
    return {};
}
