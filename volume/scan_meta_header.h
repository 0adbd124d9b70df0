// A MetaImage header checked for text its library would copy past the end of
// a buffer.
#pragma once

#include <string>

// MetaIO copies each field's name, and the values of its own text fields
// (Comment, Name, ObjectType, ObjectSubType, AcquisitionDate), into buffers
// of 255 bytes without measuring them: a longer one overwrites the reader's
// memory (Debian's build stops the process there). Such a header is refused
// first, with this reason. Empty when every name and such value fits.
std::string CheckMetaImageHeader(const std::string& path);
