// Text headers checked for what their libraries would copy past the end of a
// buffer. Each check runs before the library opens the file.
#pragma once

#include <string>

// MetaIO copies each field's name, and the values of its own text fields
// (Comment, Name, ObjectType, ObjectSubType, AcquisitionDate), into buffers
// of 255 bytes without measuring them: a longer one overwrites the reader's
// memory (Debian's build stops the process there). Such a header is refused
// first, with this reason. It also reads as many numbers as NDims says for
// DimSize, ElementSpacing, Offset and the like (its square for
// TransformMatrix), across lines and without end for a negative NDims: an
// NDims that is not 1 to 4, such a field whose line holds fewer numbers or a
// word, a size that is not a whole number, or a spacing or position that is
// not finite or beyond 1e15 mm is refused too. Empty when all is usable.
std::string CheckMetaImageHeader(const std::string& path);

// The NRRD library formats its error messages, which quote the field they
// could not parse, into a buffer of 1025 bytes on the stack: a field line of
// about 970 characters that fails to parse overwrites the reader's stack. A
// header line longer than 512 characters is refused first, except comments,
// key/value pairs and "content", which are never quoted. Empty when every
// line fits.
std::string CheckNrrdHeader(const std::string& path);
