// The files an input is read from, so that no output is written over one of
// them: the scan itself, every data file its header names (one file, a
// list's, a pattern's) and, for DICOM, the files of its series' folder. Found
// without any reader, before anything is read.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <utility>

class ScanInputFiles {
  public:
    static constexpr const char* kItself = "the input";
    explicit ScanInputFiles(const std::string& input);
    // Empty when `candidate` is none of the input's files (however named or
    // linked), else what it is to the input: "the input", "a data file the
    // input's header names", "a DICOM file of the input's series folder".
    std::string RoleOf(const std::string& candidate) const;

  private:
    void Add(const std::string& path, const char* role);
    std::map<std::pair<dev_t, ino_t>, const char*> roles_;
};
