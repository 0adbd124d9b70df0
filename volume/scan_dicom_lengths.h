// A DICOM file's element lengths checked against the file's own size before
// the DICOM library reads it. The library trusts a stated length: one
// element forged to claim 2 GB makes it allocate and read that much (tens of
// seconds and gigabytes for a 100 KB series), and a slice cut short gives
// half a picture of garbage.
#pragma once

#include <string>

// Walks the file's elements (the preamble's "DICM", then the meta group and
// the data set in its transfer syntax, into sequences and items). Empty when
// every stated length fits in what is left of the file, or the file is no
// DICOM file with a preamble; otherwise one line naming the element.
std::string CheckDicomLengths(const std::string& path);
