// Reading a volume from a path, with no device and no dialog: a volume file
// (volume_file.h) or a scan (scan_import.h), into its plain value
// (volume_data.h), or the one message that says why not. The viewer shows
// the message in a box; the tools print it.
#pragma once

#include <string>

#include "volume/scan_import.h"
#include "volume/volume_data.h"

// A failed read: the box's caption and text. `quiet` when the user ended
// the read (cancelled it, or is closing the window): nothing is shown then.
struct VolumeProblem {
    std::string caption;
    std::string text;
    bool quiet = false;
};

inline constexpr const char* kVolumeErrorCaption = "error: Volume";

// How a long read reports and is ended: callbacks with one context, each
// of them may be null.
struct ReadingWatch {
    void* context = nullptr;
    // A scan's read begins (the viewer shows its progress from here on).
    void (*scanStarts)(void* context) = nullptr;
    ScanProgress progress = nullptr;
    // Asked a few times a second while a scan is read: true ends the reader.
    ScanStopCheck stopRequested = nullptr;
    // Asked once a scan's read is over: true when the user no longer wants
    // it (even read, it is dropped, and its failure is quiet).
    bool (*abandoned)(void* context) = nullptr;
};

// Reads `path` as the viewer's File > Open does. A file exactly as long as
// its header promises is a volume file, even if a scan reader would take it
// too; any other file (or a folder) a scan reader recognises is read as a
// scan through `values`; everything else gets the volume file's checks and
// messages. On success `volume` holds the samples and the notices for the
// user; on failure `problem` says why and `volume` is untouched.
bool ReadVolume(const std::string& path, const ValueChoice& values, VolumeData* volume,
                VolumeProblem* problem, const ReadingWatch& watch = {});
