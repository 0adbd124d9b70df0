// What ITK and GDCM would print on the terminal by themselves, kept as the
// scan readers' warnings instead; and their reasons in one line. For the
// scan readers (scan_import.cpp) alone.
#pragma once

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace itk {
class ExceptionObject;
}

// Sends ITK's output window and GDCM's streams to the warnings (once).
void RouteLibraryOutput();
// Moves what GDCM wrote since the last call into the warnings.
void CollectGdcmOutput();
// Takes the warnings kept so far (at most a few hundred lines).
std::vector<std::string> TakeLibraryWarnings();

// The first line of a library's reason, without ITK's file:line preamble.
std::string OneLine(const std::string& text);
std::string Reason(const itk::ExceptionObject& e);
// "12.5 MiB" and the like.
std::string BytesText(long double bytes);

// Some readers inside ITK write straight to the process's streams (MetaIO to
// std::cerr, the NIfTI and NRRD libraries to stderr). While a capture lives,
// both the C++ streams and file descriptors 1 and 2 go to a temporary file;
// what arrived becomes warnings, and the caller can look at it.
class StreamCapture {
  public:
    StreamCapture();
    ~StreamCapture() { Finish(); }
    StreamCapture(const StreamCapture&) = delete;
    StreamCapture& operator=(const StreamCapture&) = delete;

    // Restores the streams; returns everything that was written meanwhile.
    std::string Finish();

  private:
    std::ostringstream text_;
    std::streambuf* oldCout_ = nullptr;
    std::streambuf* oldCerr_ = nullptr;
    std::FILE* file_ = nullptr;
    int savedOut_ = -1, savedErr_ = -1;
    bool finished_ = false;
    std::string captured_;
};
