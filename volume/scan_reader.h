// The scan readers running in this process. The libraries behind them trust
// their input: a damaged DICOM file can stop the process on one of their
// assertions. Only the child process that scan_isolation.cpp starts for each
// read (and the readers' fuzz target) calls these; the rest of the program
// uses scan_import.h.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "volume/scan_import.h"

bool RecogniseScanHere(const std::string& path);
// When the 12-bit samples are made: before the read returns (`samples`), or
// on request, piece by piece (`makeRows`, which then holds the stored values).
enum class SampleMaking { Whole, OnRequest };
ScanOutcome ReadScanHere(const std::string& path, ScanVolume* volume, std::string* error,
                         uint64_t memoryBudget, ScanProgress progress, void* progressContext,
                         const ValueChoice& values = {}, SampleMaking making = SampleMaking::Whole);
std::vector<std::string> TakeScanWarningsHere();
// Leaves DICOM out of the recognition (for fuzzing the other readers in
// process: the DICOM library stops its process on purpose at a damaged element).
void SkipDicomHere(bool skip);

// Asks for huge pages over the whole 2 MiB pages inside `buffer`.
void PreferHugePages(void* buffer, size_t bytes);
