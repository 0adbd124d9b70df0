#include "volume/scan_header_text.h"

#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

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

// Fields whose count of numbers the library takes from NDims (a matrix: its
// square) and then reads from the stream, across lines, without looking.
struct CountedField {
    const char* name;
    bool matrix;
    bool geometry;  // a size or position in millimetres
};
constexpr std::array<CountedField, 10> kCountedFields = {{{"DimSize", false, false},
                                                          {"ElementSize", false, true},
                                                          {"ElementSpacing", false, true},
                                                          {"Offset", false, true},
                                                          {"Position", false, true},
                                                          {"Origin", false, true},
                                                          {"CenterOfRotation", false, true},
                                                          {"TransformMatrix", true, true},
                                                          {"Rotation", true, true},
                                                          {"Orientation", true, true}}};
// A scan has at most 4 dimensions (the fourth of size 1); the library's own
// arrays hold 10.
constexpr int kMostMetaDimensions = 4;
// The same bound as NIfTI's: a size or position whose square still fits.
constexpr double kLargestMillimetres = 1e15;

bool IsSeparator(int c) {
    return c == '=' || c == ':';
}

std::string TooLong(const std::string& what, size_t length, size_t limit) {
    return what + " is " + std::to_string(length) + " characters long (at most " + std::to_string(limit) +
           " can be read)";
}

std::string OneNumber(double n) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.9g", n);
    return text;
}

// The numbers of a value as the library's stream reads them: digits, sign,
// point and exponent only (it takes no "nan", "inf" or hex). False at a word
// that is not one, which is left in `*word`.
bool ReadNumbers(const std::string& value, std::vector<double>* numbers, std::string* word) {
    std::istringstream words(value);
    for (std::string token; words >> token;) {
        char* end = nullptr;
        const double number = std::strtod(token.c_str(), &end);
        if (token.find_first_not_of("0123456789+-.eE") != std::string::npos ||
            end != token.c_str() + token.size()) {
            *word = token;
            return false;
        }
        numbers->push_back(number);
    }
    return true;
}

// Empty when the field's value is what its count needs; `dimensions` is
// NDims as read so far (0: not yet given, which the library refuses itself).
std::string CheckCounted(const CountedField& field, const std::string& value, int dimensions) {
    const std::string what = std::string("the MetaImage header's ") + field.name;
    std::vector<double> numbers;
    std::string word;
    if (!ReadNumbers(value, &numbers, &word))
        return what + " holds \"" + word.substr(0, 40) + "\", which is not a number";
    if (dimensions == 0)
        return {};
    const size_t needed = static_cast<size_t>(field.matrix ? dimensions * dimensions : dimensions);
    if (numbers.size() < needed)
        return what + " gives " + std::to_string(numbers.size()) +
               " numbers on its line, NDims = " + std::to_string(dimensions) + " needs " +
               std::to_string(needed);
    for (size_t i = 0; i < needed; ++i) {
        const double n = numbers[i];
        if (!field.geometry && !(n >= 0 && n <= 2147483647 && n == std::floor(n)))
            return what + " holds " + OneNumber(n) + ", not a whole number from 0 to 2147483647";
        if (field.geometry && !(std::isfinite(n) && std::abs(n) <= kLargestMillimetres))
            return what + " holds a number that is not finite, or beyond 1e15 mm";
    }
    return {};
}

}  // namespace

// Reads the header as the library does: a name runs from the first character
// that is not white space to a separator or the line's end; its value from
// past the next separator (and blanks) to the line's end. The header ends at
// ElementDataFile, after which the samples may follow.
std::string CheckMetaImageHeader(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    int dimensions = 0;
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
        // The library compares names as C strings: "ElementDataFile\0xyz" is
        // its data file's field. No header's text holds a NUL.
        if (name.find('\0') != std::string::npos)
            return "a field name in the MetaImage header holds a NUL byte (" +
                   name.substr(0, name.find('\0')) + ", not text)";
        const bool dataFile = name == "ElementDataFile";
        // The library looks for the separator past the line's end; the
        // checks of the data file read it on its own line.
        bool crossedLine = false;
        while (c != EOF && !IsSeparator(c)) {
            crossedLine = crossedLine || c == '\n';
            c = in.get();
        }
        if (dataFile && (c == EOF || crossedLine))
            return "the MetaImage header's ElementDataFile has no value on its line";
        if (dataFile)
            return {};
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
        if (name == "NDims") {
            std::vector<double> numbers;
            std::string word;
            const bool plain = ReadNumbers(value, &numbers, &word) && numbers.size() == 1;
            const double n = plain ? numbers[0] : 0;
            if (!plain || !(n >= 1 && n <= kMostMetaDimensions && n == std::floor(n)))
                return "the MetaImage header's NDims is " + (value.empty() ? "empty" : value.substr(0, 40)) +
                       " (a scan has 1 to " + std::to_string(kMostMetaDimensions) + " dimensions)";
            dimensions = static_cast<int>(n);
        }
        for (const CountedField& field : kCountedFields)
            if (name == field.name)
                if (std::string problem = CheckCounted(field, value, dimensions); !problem.empty())
                    return problem;
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
