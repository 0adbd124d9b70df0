// The data files a detached header names (an NRRD .nhdr's "data file", a
// MetaImage .mhd's "ElementDataFile", a NIfTI .hdr's .img), checked before
// any reader opens them. A reader that opens a FIFO waits for a writer for
// ever, and one that skips lines of /dev/zero never ends; a name that leads
// nowhere is the user's mistake and deserves to be said as such.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The data files `headerPath` names, each with its folder, in the order a
// reader takes them; empty for a file that holds its own data or is no
// detached header. Reads the header only (its first 64 KiB).
std::vector<std::string> DetachedDataFiles(const std::string& headerPath);

// Empty when every data file the header names is a regular file that
// exists and any "line skip" / "byte skip" fits in it; otherwise one line
// naming the data file and what is wrong with it. Before any reader runs:
// some open the data files to read the header's information.
std::string CheckDetachedDataFiles(const std::string& headerPath);

// Empty when the data files hold what the header's sizes need: a file per
// slice for a list or pattern, every raw sample, and compressed data where
// the header says so. Otherwise one line saying what is missing.
std::string CheckDetachedDataSizes(const std::string& headerPath);

// Compressed samples (NRRD's gzip, MetaImage's CompressedData) cannot
// inflate past 1032 times their bytes: a header whose sizes need more than
// that is refused before room for them is taken. Empty when they may fit.
std::string CheckCompressedCapacity(const std::string& headerPath, long double sampleBytes);

// MetaImage's library fills what a compressed stream does not give (cut,
// damaged, too short, or without CompressedDataSize) with whatever memory
// held, and says nothing. Its stream is inflated here instead, into
// `samples`, as the file stores them: empty when it ends whole and gives
// exactly `bytes`, otherwise why not.
std::string InflateMetaImageData(const std::string& headerPath, void* samples, uint64_t bytes);

// The NRRD library writes an ascii number past its type's range (99999 in a
// short) as whatever it wraps to. Empty when every value of an integer type
// fits; otherwise the first that does not.
std::string CheckNrrdTextValues(const std::string& headerPath);

// The most bytes a reader of `path` may have to go through: the file and
// the data files it names, a compressed stream counted as the most it can
// inflate to, a folder's files (or a file no header of ours describes) as
// ten times theirs, since a library decodes them. Opens regular files only.
long double MostBytesToRead(const std::string& path);
