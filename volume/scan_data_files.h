// The data files a detached header names (an NRRD .nhdr's "data file", a
// MetaImage .mhd's "ElementDataFile", a NIfTI .hdr's .img), checked before
// any reader opens them. A reader that opens a FIFO waits for a writer for
// ever, and one that skips lines of /dev/zero never ends; a name that leads
// nowhere is the user's mistake and deserves to be said as such.
#pragma once

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
