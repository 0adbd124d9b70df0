#include "volume/scan_header_text.h"

#include <array>
#include <cctype>
#include <fstream>

namespace {

// MetaIO's buffers hold this many characters and the closing zero.
constexpr size_t kLongestMetaText = 254;
// It reads a name or a value of at most this many characters, and stops
// reading the header at a longer name.
constexpr size_t kLongestMetaRead = 499;

// An NRRD header line that may be quoted in a message: under half the
// message buffer, so that the message's own words and any line fit.
constexpr size_t kLongestNrrdLine = 512;
// No header line is this long; past it the file is not a header at all.
constexpr size_t kLongestNrrdText = 1 << 20;

constexpr std::array<const char*, 5> kFixedTextFields = {"Comment", "Name", "ObjectType", "ObjectSubType",
                                                         "AcquisitionDate"};

bool IsSeparator(int c) {
    return c == '=' || c == ':';
}

std::string TooLong(const std::string& what, size_t length, size_t limit) {
    return what + " is " + std::to_string(length) + " characters long (at most " + std::to_string(limit) +
           " can be read)";
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
        while (c != EOF && !IsSeparator(c) && c != '\r' && c != '\n' && name.size() <= kLongestMetaRead) {
            name += static_cast<char>(c);
            c = in.get();
        }
        if (c == EOF || name.size() > kLongestMetaRead)
            return {};  // where the library stops without copying the name
        while (name.size() > 1 && (name.back() == ' ' || name.back() == '\t'))
            name.pop_back();
        if (name.size() > kLongestMetaText)
            return TooLong("a field name in the MetaImage header", name.size(), kLongestMetaText);
        if (name == "ElementDataFile")
            return {};
        while (c != EOF && !IsSeparator(c))
            c = in.get();
        while (c != EOF && (IsSeparator(c) || c == ' ' || c == '\t'))
            c = in.get();
        std::string value;
        while (c != EOF && c != '\n' && value.size() < kLongestMetaRead) {
            value += static_cast<char>(c);
            c = in.get();
        }
        while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())))
            value.pop_back();
        for (const char* field : kFixedTextFields)
            if (name == field && value.size() > kLongestMetaText)
                return TooLong("the MetaImage header's " + name, value.size(), kLongestMetaText);
        while (c != EOF && c != '\n')
            c = in.get();
    }
    return {};
}

// Line by line to the blank line that ends an attached header (a detached
// one ends with its file). Lines end at "\n"; a "\r" before it is dropped.
std::string CheckNrrdHeader(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    for (int number = 1;; ++number) {
        line.clear();
        int c = in.get();
        while (c != EOF && c != '\n' && line.size() <= kLongestNrrdText) {
            line += static_cast<char>(c);
            c = in.get();
        }
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            return {};
        const std::string where = "line " + std::to_string(number) + " of the NRRD header";
        if (line.size() > kLongestNrrdText)
            return where + " is longer than " + std::to_string(kLongestNrrdText) + " characters";
        // The library takes a line for a key/value pair when ":=" comes
        // before any ": ".
        const size_t field = line.find(": "), pair = line.find(":=");
        const bool quotedNever =
            line[0] == '#' || (pair != std::string::npos && pair < field) || line.rfind("content: ", 0) == 0;
        if (line.size() > kLongestNrrdLine && !quotedNever)
            return TooLong(where, line.size(), kLongestNrrdLine);
        if (c == EOF)
            return {};
    }
}
